#include "platform/runloop/console.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kestio::platform {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
Console::Sink& currentSink() {
    static Console::Sink sink;
    return sink;
}
}  // namespace

void Console::log(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (auto& sink = currentSink()) {
        sink(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

Console::Sink Console::exchangeSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

Console::Capture::Capture() : lines_(std::make_shared<std::vector<std::string>>()) {
    auto lines = lines_;
    previous_ = exchangeSink([lines](std::string_view line) { lines->emplace_back(line); });
}

Console::Capture::~Capture() {
    exchangeSink(std::move(previous_));
}

bool Console::Capture::contains(std::string_view fragment) const {
    // Lines may come from any thread while this looks.
    std::lock_guard lock(sinkMutex());
    for (const auto& line : *lines_) {
        if (line.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace kestio::platform
