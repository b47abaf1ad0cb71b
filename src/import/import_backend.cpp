#include "import/import_backend.h"

#include <sys/stat.h>

#include <string_view>

#include "platform/media/image_generator.h"

namespace kestio {

namespace media = platform::media;

namespace {

// FFmpeg's readers of single pictures ("png_pipe", "jpeg_pipe", "image2", ...).
bool isStillPictureFormat(std::string_view name) {
    return name == "image2" || name.ends_with("_pipe");
}

media::Loaded<ProbedMedia> probeFile(const std::filesystem::path& file, JobControl& control) {
    auto info = media::probeMediaInfo(file, control.io());
    if (!info) {
        return media::Loaded<ProbedMedia>::failure(info.error());
    }
    if (isStillPictureFormat(info->formatName)) {
        return media::Loaded<ProbedMedia>::failure("The file holds a still picture, not a clip");
    }
    ProbedMedia probed;
    probed.info = std::move(*info);
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        probed.modifiedAt =
            referenceDateFromUnixSeconds(static_cast<double>(st.st_mtim.tv_sec) +
                                         static_cast<double>(st.st_mtim.tv_nsec) * 1e-9);
    }
    return probed;
}

// The picture playback shows at `time` (or the first one after it, within `toleranceAfter`),
// turned upright and fitted into `maxSize`.
media::Loaded<QImage> grabPicture(const std::filesystem::path& file, double time,
                                  double toleranceAfter, QSize maxSize, JobControl& control) {
    media::ImageGenerator::Settings settings;
    settings.appliesPreferredTrackTransform = true;
    settings.maximumSize = maxSize;
    settings.toleranceBefore = 0.0;
    settings.toleranceAfter = toleranceAfter;
    auto picture = media::ImageGenerator::copyImage(file, time, settings, control.io());
    if (!picture) {
        return media::Loaded<QImage>::failure(picture.error());
    }
    return std::move(picture->image);
}

}  // namespace

ImportBackend ImportBackend::standard() {
    ImportBackend backend;
    backend.probe = probeFile;
    backend.decodeStill = [](const std::filesystem::path& file) {
        return platform::decodeStill(file);
    };
    backend.grabFrame = grabPicture;
    backend.readWaveform = kestio::readWaveform;
    return backend;
}

}  // namespace kestio
