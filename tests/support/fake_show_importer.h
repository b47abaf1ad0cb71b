#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/runloop/run_loop.h"
#include "show/show_importer.h"

namespace kestio::test {

// An importer whose answers are scripted per file and come on the run loop after a scripted
// delay of virtual time (0: on the next turn). A file with no scripted answer probes as a
// video named after the file, with a thumbnail of a few bytes. Records every request.
class FakeShowImporter final : public ShowImporter {
  public:
    explicit FakeShowImporter(platform::RunLoop& loop) : loop_(loop) {}

    struct Script {
        std::optional<ImportOutcome> outcome;  // none: the default answer
        double delay = 0.0;
        bool never = false;  // the answer never comes
    };
    std::map<std::filesystem::path, Script> probes;
    std::map<std::filesystem::path, std::optional<Waveform>> waveforms;
    std::map<std::filesystem::path, std::optional<Bytes>> thumbnails;
    double waveformDelay = 0.0;
    double thumbnailDelay = 0.0;
    std::vector<std::string> requests;

    // A successful probe of a file of that kind.
    static ImportResult result(const std::filesystem::path& url, MediaType type);

    void importMeta(const std::filesystem::path& url, double time, ImportCompletion done) override;
    void generateWaveform(const std::filesystem::path& url, int pointCount,
                          std::function<void(std::optional<Waveform>)> done) override;
    void videoThumbnail(const std::filesystem::path& url, double seconds,
                        std::function<void(std::optional<Bytes>)> done) override;
    void regeneratePreview(const std::filesystem::path& url, double time,
                           std::function<void(Preview)> done) override;

    std::size_t requestCount(const std::string& prefix) const;

  private:
    void answer(double delay, std::function<void()> fn);

    platform::RunLoop& loop_;
    std::vector<platform::TimerHandle> timers_;
};

}  // namespace kestio::test
