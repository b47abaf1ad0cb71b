#include "import/import_backend.h"

#include <sys/stat.h>

#include <string_view>

#include "import/frame_grabber.h"

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
        probed.fileBytes = static_cast<std::uintmax_t>(st.st_size);
    }
    return probed;
}

}  // namespace

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
