#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "import/import_backend.h"
#include "import/import_result.h"
#include "import/import_workers.h"
#include "model/project_data.h"
#include "platform/runloop/run_loop.h"
#include "platform/storage/bookmark_service.h"

namespace kestio {

// Turns media files chosen by the operator into the facts, pictures and waveforms a slot needs,
// or into a reasoned refusal.
//
// Threads: every operation is called on the main thread and answers through its completion,
// which always runs later on the main thread (posted to the run loop, never inside the call).
// Opening, probing and decoding run on the importer's own worker threads, so a slow or broken
// file never holds up the main thread; the render check's time-out is a run-loop timer that
// races the worker. Operations share nothing and may overlap. When the importer is destroyed,
// work under way is cancelled and completions not yet delivered are never called. The run
// loop and the bookmark service must outlive the importer.
class ClipImporter {
  public:
    using Bytes = std::vector<std::uint8_t>;
    using Waveform = std::vector<float>;

    // One supported file and the slot it goes to (indices from 0).
    struct SlotAssignment {
        std::filesystem::path url;
        int bank = 0;
        int slot = 0;
        bool operator==(const SlotAssignment&) const = default;
    };
    struct SlotAssignments {
        std::vector<SlotAssignment> assignments;      // in the order of the input
        std::vector<std::filesystem::path> rejected;  // in the order of the input
    };
    // A fresh thumbnail and waveform for a slot; each absent when it could not be made.
    struct Preview {
        std::optional<Bytes> thumbnail;
        std::optional<Waveform> waveform;
    };

    static constexpr double kRenderCheckTimeout = 5.0;  // seconds
    // Pictures are taken from the time asked for up to this much later, never earlier.
    static constexpr double kFrameToleranceAfter = 0.5;  // seconds
    static constexpr int kThumbnailMaxSide = 320;
    static constexpr int kPlaceholderWidth = 320;
    static constexpr int kPlaceholderHeight = 180;
    static constexpr int kAudioWaveformPoints = 500;
    static constexpr int kPreviewWaveformPoints = 200;

    ClipImporter(platform::RunLoop& runLoop, const platform::BookmarkService& bookmarks,
                 ImportBackend backend = ImportBackend::standard(),
                 int workerThreads = ImportWorkers::defaultThreadCount());
    // With the application's bookmark service.
    explicit ClipImporter(platform::RunLoop& runLoop);
    ~ClipImporter();
    ClipImporter(const ClipImporter&) = delete;
    ClipImporter& operator=(const ClipImporter&) = delete;

    // The one import the show controller calls, for a file brought into a slot or rescanned.
    // Decides the clip kind by extension; a video is probed here (tracks, playability, a render
    // check at `time` seconds, codec, size, rate, data rate, audio format, file date), every
    // other file goes to importFile().
    void importMeta(const std::filesystem::path& url, double time, ImportCompletion done);

    // Still and sound files: bookmark, slot name, then importStill() or importAudio(). An
    // extension that names no clip kind is refused as unsupported. (A video handed here is
    // probed as importMeta() does, at `time` or 0.)
    void importFile(const std::filesystem::path& url, std::optional<double> time,
                    ImportCompletion done);
    // Pixel size and a thumbnail fitted into 320 by 320.
    void importStill(const std::filesystem::path& url, std::optional<Bytes> bookmark,
                     std::string name, ImportCompletion done);
    // Duration and format of the first audio track, a 500-point waveform and the placeholder
    // thumbnail.
    void importAudio(const std::filesystem::path& url, std::optional<Bytes> bookmark,
                     std::string name, ImportCompletion done);

    // Splits dropped files into slot assignments and rejected files. Supported files (by
    // extension) take the empty slots (no videoURL) from (bank, slot) onward across banks, never
    // an occupied one and never one before the start; unsupported files and those left over
    // when the project runs out of empty slots are rejected. Slots missing from a short bank
    // count as occupied. Changes nothing.
    static SlotAssignments filterSupported(const std::vector<std::filesystem::path>& urls,
                                           const ProjectData& project, int bank, int slot);

    // Answers true when a picture of the clip at `atSeconds` (up to 0.5 s later) comes through
    // the playback picture path within `timeout` seconds; false when it does not, when the clip
    // has no video, or when time runs out (the work under way is then abandoned).
    void verifyRenderablePipeline(const std::filesystem::path& asset, double atSeconds,
                                  double timeout, std::function<void(bool)> done);

    // `pointCount` peaks of the first audio track, or none when the file has no readable
    // sound (see readWaveform()).
    void generateWaveform(const std::filesystem::path& url, int pointCount,
                          std::function<void(std::optional<Waveform>)> done);

    // The image scaled down to fit maxSide by maxSide (never enlarged; each side at least one
    // pixel), 8-bit RGBA with premultiplied alpha. A null image comes back unchanged. Any thread.
    static QImage scaledThumbnail(const QImage& image, int maxSide);
    // The picture of sound-only slots: a note sign on dark grey, 320 by 180, as PNG; the same
    // bytes every time. Main thread (it draws text); none without a GUI application.
    static std::optional<Bytes> audioPlaceholderThumbnail();
    // The picture of a video at `seconds` (below 0 counts as 0), upright, within 320 by 320,
    // as PNG; none when no picture can be taken there.
    void videoThumbnail(const std::filesystem::path& asset, double seconds,
                        std::function<void(std::optional<Bytes>)> done);

    // A fresh thumbnail at `time` and a 200-point waveform, made at once; answers when both
    // are done.
    void regeneratePreview(const std::filesystem::path& url, double time,
                           std::function<void(Preview)> done);

    // PNG bytes of an image; none when it cannot be encoded. Any thread.
    static std::optional<Bytes> pngData(const QImage& image);

  private:
    struct Access {
        bool scoped = false;
        std::optional<Bytes> bookmark;
    };

    // Runs `work` on a worker, then `onMain` with its result on the main thread (unless the
    // importer is gone by then).
    template <typename T>
    std::shared_ptr<JobControl> offMain(std::function<T(JobControl&)> work,
                                        std::function<void(T)> onMain);
    // Delivers an answer that needs no work, on a later turn of the run loop.
    void answerLater(ImportCompletion done, ImportOutcome outcome);
    // Opens the security scope and makes the bookmark (disk access: on a worker).
    static Access openAccess(const platform::BookmarkService& bookmarks,
                             const std::filesystem::path& url);
    void probeVideo(const std::filesystem::path& url, double time, ImportCompletion done);

    platform::RunLoop& runLoop_;
    const platform::BookmarkService& bookmarks_;
    const ImportBackend backend_;
    // Work handed back to the main thread checks this token and does nothing once it is gone.
    const std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<ImportWorkers> workers_;
};

}  // namespace kestio
