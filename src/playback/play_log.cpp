#include "playback/play_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/runloop/console.h"

namespace kestio {

PlayLog::PlayLog() = default;

PlayLog::~PlayLog() {
    worker_.submit([this] { close(); });
}

void PlayLog::write(std::string line) {
    worker_.submit([this, line = std::move(line)] {
        platform::Console::log("\U0001F4DD " + line);
        append(line);
    });
}

void PlayLog::reopen(std::optional<std::filesystem::path> file) {
    worker_.submit([this, file = std::move(file)] { open(file); });
}

void PlayLog::flush() {
    worker_.flush();
}

void PlayLog::open(const std::optional<std::filesystem::path>& file) {
    close();
    if (!file) {
        return;
    }
    // Never written through a link, nor held up by a pipe in its place.
    const int fd = ::open(
        file->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        platform::Console::log("play log: cannot open " + file->string() + ": " +
                               std::strerror(errno));
        return;
    }
    fd_ = fd;
}

void PlayLog::append(const std::string& line) {
    if (fd_ < 0) {
        return;
    }
    std::string text = line + "\n";
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            platform::Console::log(std::string("play log: write failed: ") + std::strerror(errno));
            return;
        }
        data += written;
        left -= std::size_t(written);
    }
}

void PlayLog::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace kestio
