#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "import/import_result.h"

namespace kestio {

// What the show controller asks of the clip importer. Every answer comes later on the main
// thread, never inside the call. The application's implementation is the clip importer; tests
// script the answers and when they come.
class ShowImporter {
  public:
    using Bytes = std::vector<std::uint8_t>;
    using Waveform = std::vector<float>;
    struct Preview {
        std::optional<Bytes> thumbnail;
        std::optional<Waveform> waveform;
    };

    virtual ~ShowImporter() = default;

    // Probes a media file for a slot, its picture taken at `time` seconds.
    virtual void importMeta(const std::filesystem::path& url, double time,
                            ImportCompletion done) = 0;
    // `pointCount` peaks of the file's sound; none when it has no readable sound.
    virtual void generateWaveform(const std::filesystem::path& url, int pointCount,
                                  std::function<void(std::optional<Waveform>)> done) = 0;
    // The PNG picture of a video at `seconds`; none when none can be taken.
    virtual void videoThumbnail(const std::filesystem::path& url, double seconds,
                                std::function<void(std::optional<Bytes>)> done) = 0;
    // A fresh thumbnail at `time` and a waveform.
    virtual void regeneratePreview(const std::filesystem::path& url, double time,
                                   std::function<void(Preview)> done) = 0;
};

}  // namespace kestio
