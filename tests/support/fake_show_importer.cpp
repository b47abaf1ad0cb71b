#include "support/fake_show_importer.h"

#include <sstream>

namespace kestio::test {

ImportResult FakeShowImporter::result(const std::filesystem::path& url, MediaType type) {
    ImportResult r;
    r.url = url;
    r.bookmark = std::vector<std::uint8_t>{1, 2, 3};
    r.mediaType = type;
    r.clipInfo.duration = 2.0;
    r.clipInfo.fps = type == MediaType::video ? 25.0 : 0.0;
    r.thumbnail = std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'};
    r.name = url.stem().string();
    return r;
}

void FakeShowImporter::answer(double delay, std::function<void()> fn) {
    if (delay <= 0.0) {
        loop_.post(std::move(fn));
    } else {
        timers_.push_back(loop_.after(delay, std::move(fn)));
    }
}

void FakeShowImporter::importMeta(const std::filesystem::path& url, double time,
                                  ImportCompletion done) {
    std::ostringstream out;
    out << "importMeta " << url.string() << " " << time;
    requests.push_back(out.str());
    Script script;
    if (auto found = probes.find(url); found != probes.end()) {
        script = found->second;
    }
    if (script.never) {
        return;
    }
    ImportOutcome outcome =
        script.outcome ? *script.outcome : ImportOutcome(result(url, MediaType::video));
    answer(script.delay, [done = std::move(done), outcome = std::move(outcome)] { done(outcome); });
}

void FakeShowImporter::generateWaveform(const std::filesystem::path& url, int pointCount,
                                        std::function<void(std::optional<Waveform>)> done) {
    requests.push_back("generateWaveform " + url.string() + " " + std::to_string(pointCount));
    std::optional<Waveform> waveform = Waveform(static_cast<std::size_t>(pointCount), 0.5f);
    if (auto found = waveforms.find(url); found != waveforms.end()) {
        waveform = found->second;
    }
    answer(waveformDelay, [done = std::move(done), waveform] { done(waveform); });
}

void FakeShowImporter::videoThumbnail(const std::filesystem::path& url, double seconds,
                                      std::function<void(std::optional<Bytes>)> done) {
    std::ostringstream out;
    out << "videoThumbnail " << url.string() << " " << seconds;
    requests.push_back(out.str());
    std::optional<Bytes> bytes = Bytes{0x89, 'P', 'N', 'G', 'v'};
    if (auto found = thumbnails.find(url); found != thumbnails.end()) {
        bytes = found->second;
    }
    answer(thumbnailDelay, [done = std::move(done), bytes] { done(bytes); });
}

void FakeShowImporter::regeneratePreview(const std::filesystem::path& url, double time,
                                         std::function<void(Preview)> done) {
    std::ostringstream out;
    out << "regeneratePreview " << url.string() << " " << time;
    requests.push_back(out.str());
    Preview preview;
    preview.thumbnail = Bytes{0x89, 'P', 'N', 'G', 'r'};
    if (auto found = thumbnails.find(url); found != thumbnails.end()) {
        preview.thumbnail = found->second;
    }
    answer(thumbnailDelay, [done = std::move(done), preview] { done(preview); });
}

std::size_t FakeShowImporter::requestCount(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& r : requests) {
        n += r.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

}  // namespace kestio::test
