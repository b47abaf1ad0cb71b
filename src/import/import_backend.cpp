#include "import/import_backend.h"

#include <sys/stat.h>

#include <string_view>

#include "import/frame_grabber.h"
#include "import/waveform_reader.h"

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
    return ProbedMedia{std::move(*info), fileModificationDate(file)};
}

}  // namespace

std::optional<ReferenceDate> fileModificationDate(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return std::nullopt;
    }
    const double unixSeconds =
        static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
    return referenceDateFromUnixSeconds(unixSeconds);
}

ImportBackend ImportBackend::standard() {
    ImportBackend backend;
    backend.probe = probeFile;
    backend.decodeStill = [](const std::filesystem::path& file) {
        return platform::decodeStill(file);
    };
    backend.grabFrame = kestio::grabFrame;
    backend.readWaveform = kestio::readWaveform;
    return backend;
}

}  // namespace kestio
