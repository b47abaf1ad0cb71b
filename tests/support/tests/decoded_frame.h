#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace kestio::test {

// Decodes picture `index` (counted from 0) of a clip with the ffmpeg command, turned upright by
// the clip's display matrix as ffmpeg does by default. A null image (and a test failure naming
// the command) when ffmpeg fails.
inline QImage decodeFrame(const MediaFile& clip, int index) {
    const std::vector<std::string> argv = {"ffmpeg",
                                           "-nostdin",
                                           "-hide_banner",
                                           "-loglevel",
                                           "error",
                                           "-i",
                                           clip.path.string(),
                                           "-vf",
                                           "select='eq(n," + std::to_string(index) + ")'",
                                           "-fps_mode",
                                           "passthrough",
                                           "-frames:v",
                                           "1",
                                           "-c:v",
                                           "png",
                                           "-f",
                                           "image2pipe",
                                           "-"};
    const ProcessResult result = runProcess(argv, std::chrono::seconds(60));
    if (!result.succeeded()) {
        ADD_FAILURE() << describeFailure(argv, result);
        return {};
    }
    return QImage::fromData(reinterpret_cast<const uchar*>(result.output.data()),
                            static_cast<int>(result.output.size()), "PNG");
}

}  // namespace kestio::test
