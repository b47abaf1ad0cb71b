#pragma once

#include <QImage>
#include <QSize>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "import/import_workers.h"
#include "import/waveform_reader.h"
#include "model/reference_date.h"
#include "platform/graphics/still_decoder.h"
#include "platform/media/loaded.h"
#include "platform/media/media_info.h"

namespace kestio {

// What a probe of a media file found, with the file's modification date.
struct ProbedMedia {
    platform::media::MediaInfo info;
    std::optional<ReferenceDate> modifiedAt;
};

// The blocking media work of an import. Each runs on an import worker, never on the main
// thread; those given a JobControl stop early when it is cancelled. Tests replace single
// pieces to script answers (a picture that never comes, facts no real file has).
struct ImportBackend {
    using Probe = std::function<platform::media::Loaded<ProbedMedia>(const std::filesystem::path&,
                                                                     JobControl&)>;
    // The picture fitted into the size given (when valid), with its own size beside it.
    using StillDecode =
        std::function<platform::DecodedStill(const std::filesystem::path&, QSize fitInto)>;
    using FrameGrab = std::function<platform::media::Loaded<QImage>(
        const std::filesystem::path&, double time, double toleranceAfter, QSize maxSize,
        JobControl&)>;
    using WaveformRead =
        std::function<WaveformReading(const std::filesystem::path&, int pointCount, JobControl&)>;

    // Opens the file and describes its tracks. Fails when the file cannot be opened or read,
    // and with kHoldsStillPicture for a file that holds a still picture (whatever its
    // extension says).
    Probe probe;
    StillDecode decodeStill;
    // One picture of the clip's video as playback shows it (upright, fitted into the size when
    // that is valid): the first whose time is at or after the time asked for (a negative or
    // unknown time counts as 0) and no more than the tolerance after it; none past the end.
    FrameGrab grabFrame;
    WaveformRead readWaveform;

    // The probe's error for a still picture: a token, not a text to show. The importer puts
    // its own words, in the interface language, in its place.
    static constexpr const char* kHoldsStillPicture = "holds-still-picture";

    // The real thing: FFmpeg through the media platform, the still decoder for images.
    static ImportBackend standard();
};

}  // namespace kestio
