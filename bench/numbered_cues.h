#pragma once

// Media for the program benchmarks at the sizes a show uses: 16:9 clips at 59.94 of noisy test
// pictures carrying the frame-number strip, with a stereo tone, and a still of the same kind
// (its strip reads frame 0). Made with the ffmpeg command into the fixture folder the first
// time, described as the importer would for a slot.

#include <string>

#include "media_bench.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"

namespace kestio::bench {

// A numbered 59.94 clip `height` lines high (16:9), `frames` long, with sound.
inline test::MediaFile numberedClip(int height, int frames) {
    GrainClip shape;
    shape.height = height;
    shape.frameRate = "60000/1001";
    // The file name tells the length too: other benchmarks make shorter or longer ones.
    shape.rateName = "59.94x" + std::to_string(frames);
    shape.frames = frames;
    shape.keyFrameInterval = 60;
    shape.sound = true;
    shape.frameNumbers = true;
    test::MediaFile file;
    file.path = grainClip(shape);
    file.extension = "mp4";
    file.kind = test::MediaKind::video;
    file.container = "mp4";
    file.videoCodec = "h264";
    file.width = height * 16 / 9;
    file.height = height;
    file.frameRate = {60000, 1001};
    file.frameCount = frames;
    file.duration = frames * 1001.0 / 60000.0;
    file.audioCodec = "aac";
    file.channels = 2;
    file.sampleRate = 48000;
    return file;
}

// A 59.94 clip of the same kind without the numbers, `height` lines high, `frames` long.
inline test::MediaFile plainClip(int height, int frames) {
    test::MediaFile file = numberedClip(height, frames);
    GrainClip shape;
    shape.height = height;
    shape.frameRate = "60000/1001";
    shape.rateName = "59.94x" + std::to_string(frames);
    shape.frames = frames;
    shape.keyFrameInterval = 60;
    shape.sound = true;
    file.path = grainClip(shape);
    return file;
}

// A numbered JPEG still `height` lines high (16:9).
inline test::MediaFile numberedStill(int height) {
    const int width = height * 16 / 9;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    test::MediaFile file;
    file.path = benchClip("still_" + size + "_numbered.jpg", std::chrono::minutes(2),
                          "testsrc2=size=" + size, [](const std::filesystem::path& partial) {
                              return std::vector<std::string>{
                                  "-frames:v",
                                  "1",
                                  "-vf",
                                  "noise=alls=6:allf=t," + test::FrameNumberStrip::ffmpegFilter(),
                                  "-q:v",
                                  "2",
                                  "-f",
                                  "image2",
                                  partial.string()};
                          });
    file.extension = "jpg";
    file.kind = test::MediaKind::still;
    file.container = "image2";
    file.videoCodec = "mjpeg";
    file.width = width;
    file.height = height;
    file.frameCount = 1;
    return file;
}

}  // namespace kestio::bench
