#pragma once

#include <QImage>
#include <string>

#include "platform/graphics/picture.h"

namespace kestio::test {

// Every generated clip carries its frame index as a row of 16 black or white blocks along the
// top tenth of the picture, each block 1/16 of the width:
//   block 0       always white (marker)
//   blocks 1..13  the frame index, most significant bit first (white = 1)
//   block 14      parity: white when blocks 1..13 hold an odd number of white blocks
//   block 15      always black (marker)
// The layout scales with the picture, so a frame can be read back at any size.
struct FrameNumberStrip {
    static constexpr int kBlocks = 16;
    static constexpr int kValueBits = 13;
    static constexpr int kMaxFrameNumber = (1 << kValueBits) - 1;
    // The strip covers the top 1/kHeightDivisor of the picture.
    static constexpr int kHeightDivisor = 10;

    // An ffmpeg filter chain (comma-separated) that draws the strip on each frame from the
    // frame's index in the stream. It expects nothing in particular under the strip.
    static std::string ffmpegFilter();
};

// A grey picture of `size` carrying `frameNumber` (0..kMaxFrameNumber) in the same strip, for
// picture sources made in tests rather than decoded from a generated clip.
QImage pictureWithFrameNumber(int frameNumber, QSize size);

// Reads the frame index back from an upright picture that shows a whole generated frame.
// Returns -1 when the strip cannot be read reliably: a block neither clearly black nor
// clearly white (a blend of two frames, say), a marker missing (a black or blank picture)
// or a parity mismatch.
int readFrameNumber(const QImage& image);
// The same, of a picture (converted first when it is kept as decoded).
int readFrameNumber(const platform::Picture& picture);

// Reads the frame index from one row of pixels taken across the middle of the strip of a whole
// picture (a grab of a single screen row, say); -1 as readFrameNumber() would give.
int readFrameNumberOfRow(const QImage& row);

}  // namespace kestio::test
