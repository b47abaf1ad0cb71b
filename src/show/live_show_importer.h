#pragma once

#include "import/clip_importer.h"
#include "show/show_importer.h"

namespace kestio {

// The show's importer: the application's clip importer. The importer must outlive this object.
class LiveShowImporter final : public ShowImporter {
  public:
    explicit LiveShowImporter(ClipImporter& importer) : importer_(importer) {}

    void importMeta(const std::filesystem::path& url, double time, ImportCompletion done) override {
        importer_.importMeta(url, time, std::move(done));
    }
    void generateWaveform(const std::filesystem::path& url, int pointCount,
                          std::function<void(std::optional<Waveform>)> done) override {
        importer_.generateWaveform(url, pointCount, std::move(done));
    }
    void videoThumbnail(const std::filesystem::path& url, double seconds,
                        std::function<void(std::optional<Bytes>)> done) override {
        importer_.videoThumbnail(url, seconds, std::move(done));
    }
    void regeneratePreview(const std::filesystem::path& url, double time,
                           std::function<void(Preview)> done) override {
        importer_.regeneratePreview(url, time, [done = std::move(done)](ClipImporter::Preview p) {
            done(Preview{std::move(p.thumbnail), std::move(p.waveform)});
        });
    }

  private:
    ClipImporter& importer_;
};

}  // namespace kestio
