#include "import/import_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "platform/media/image_generator.h"

namespace kestio {

namespace media = platform::media;

namespace {

// FFmpeg's readers of picture files ("png_pipe", "jpeg_pipe", "image2", ...), the animated
// picture formats (GIF, APNG) among them: a picture file is a still, whatever its name says.
bool isStillPictureFormat(std::string_view name) {
    return name == "image2" || name == "image2pipe" || name == "gif" || name == "apng" ||
           name == "ico" || name.ends_with("_pipe");
}

// Whether the file starts as a PNG (APNG included) or a GIF does: the picture formats that
// can move, which the media library may not name as pictures or may not open at all.
bool startsAsAnimatablePicture(const std::filesystem::path& file) {
    // Opened without waiting (a FIFO or a device must not hold the worker) and read only when
    // it is a regular file.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char head[8] = {};
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head);
    ::close(fd);
    if (!read) {
        return false;
    }
    const std::string_view bytes(head, sizeof head);
    return bytes == std::string_view("\x89PNG\r\n\x1a\n", 8) || bytes.starts_with("GIF87a") ||
           bytes.starts_with("GIF89a");
}

media::Loaded<ProbedMedia> probeFile(const std::filesystem::path& file, JobControl& control) {
    if (startsAsAnimatablePicture(file)) {
        return media::Loaded<ProbedMedia>::failure(ImportBackend::kHoldsStillPicture);
    }
    auto info = media::probeMediaInfo(file, control.io());
    if (!info) {
        return media::Loaded<ProbedMedia>::failure(info.error());
    }
    if (isStillPictureFormat(info->formatName)) {
        return media::Loaded<ProbedMedia>::failure(ImportBackend::kHoldsStillPicture);
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
    backend.decodeStill = [](const std::filesystem::path& file, QSize fitInto) {
        return platform::decodeStill(file, {}, fitInto);
    };
    backend.grabFrame = grabPicture;
    backend.readWaveform = kestio::readWaveform;
    return backend;
}

}  // namespace kestio
