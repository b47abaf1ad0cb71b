#include "support/frame_number_strip.h"

#include <QPainter>
#include <algorithm>

namespace kestio::test {

namespace {

// A block's mean grey level (0..255) must be at least this for white ...
constexpr int kWhiteAtLeast = 160;
// ... and at most this for black; anything between is unreadable.
constexpr int kBlackAtMost = 96;

std::string box(int block, const std::string& colour, const std::string& enable = {}) {
    std::string filter =
        "drawbox=x=iw*" + std::to_string(block) + "/" + std::to_string(FrameNumberStrip::kBlocks) +
        ":y=0:w=iw/" + std::to_string(FrameNumberStrip::kBlocks) + ":h=ih/" +
        std::to_string(FrameNumberStrip::kHeightDivisor) + ":color=" + colour + ":t=fill";
    if (!enable.empty()) {
        filter += ":enable='" + enable + "'";
    }
    return filter;
}

// The expression for bit `bit` (0 = least significant) of the frame index n.
std::string bitOfFrameIndex(int bit) {
    return "mod(floor(n/" + std::to_string(1 << bit) + "),2)";
}

// Mean grey level of the middle of one block.
int blockLevel(const QImage& grey, int block) {
    const int width = grey.width();
    const int height = grey.height();
    const int stripHeight = height / FrameNumberStrip::kHeightDivisor;
    const int left = width * block / FrameNumberStrip::kBlocks;
    const int right = width * (block + 1) / FrameNumberStrip::kBlocks;
    // Keep clear of the block's edges, where compression and scaling smear.
    const int marginX = (right - left) / 4;
    const int marginY = stripHeight / 4;
    const int x0 = left + marginX;
    const int x1 = std::max(x0 + 1, right - marginX);
    const int y0 = marginY;
    const int y1 = std::max(y0 + 1, stripHeight - marginY);
    long sum = 0;
    long count = 0;
    for (int y = y0; y < y1; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = x0; x < x1; ++x) {
            sum += line[x];
            ++count;
        }
    }
    return static_cast<int>(sum / count);
}

}  // namespace

std::string FrameNumberStrip::ffmpegFilter() {
    std::string filter =
        "drawbox=x=0:y=0:w=iw:h=ih/" + std::to_string(kHeightDivisor) + ":color=black:t=fill";
    filter += "," + box(0, "white");
    std::string paritySum;
    for (int bit = 0; bit < kValueBits; ++bit) {
        const int block = kValueBits - bit;  // most significant bit in block 1
        filter += "," + box(block, "white", bitOfFrameIndex(bit));
        paritySum += (bit == 0 ? "" : "+") + bitOfFrameIndex(bit);
    }
    filter += "," + box(kValueBits + 1, "white", "mod(" + paritySum + ",2)");
    return filter;
}

QImage pictureWithFrameNumber(int frameNumber, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(128, 128, 128));
    QPainter painter(&picture);
    const int stripHeight = size.height() / FrameNumberStrip::kHeightDivisor;
    const auto fillBlock = [&](int block, bool white) {
        const int left = size.width() * block / FrameNumberStrip::kBlocks;
        const int right = size.width() * (block + 1) / FrameNumberStrip::kBlocks;
        painter.fillRect(left, 0, right - left, stripHeight, white ? Qt::white : Qt::black);
    };
    fillBlock(0, true);
    int ones = 0;
    for (int bit = 0; bit < FrameNumberStrip::kValueBits; ++bit) {
        const bool set = ((frameNumber >> bit) & 1) != 0;
        fillBlock(FrameNumberStrip::kValueBits - bit, set);
        ones += set ? 1 : 0;
    }
    fillBlock(FrameNumberStrip::kValueBits + 1, ones % 2 == 1);
    fillBlock(FrameNumberStrip::kBlocks - 1, false);
    return picture;
}

int readFrameNumber(const platform::Picture& picture) {
    return readFrameNumber(picture.toImage());
}

int readFrameNumber(const QImage& image) {
    if (image.isNull() || image.width() < 2 * FrameNumberStrip::kBlocks ||
        image.height() < 2 * FrameNumberStrip::kHeightDivisor) {
        return -1;
    }
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    bool bits[FrameNumberStrip::kBlocks];
    for (int block = 0; block < FrameNumberStrip::kBlocks; ++block) {
        const int level = blockLevel(grey, block);
        if (level >= kWhiteAtLeast) {
            bits[block] = true;
        } else if (level <= kBlackAtMost) {
            bits[block] = false;
        } else {
            return -1;
        }
    }
    if (!bits[0] || bits[FrameNumberStrip::kBlocks - 1]) {
        return -1;
    }
    int value = 0;
    int ones = 0;
    for (int block = 1; block <= FrameNumberStrip::kValueBits; ++block) {
        value = (value << 1) | (bits[block] ? 1 : 0);
        ones += bits[block] ? 1 : 0;
    }
    const bool parity = bits[FrameNumberStrip::kValueBits + 1];
    if (parity != (ones % 2 == 1)) {
        return -1;
    }
    return value;
}

int readFrameNumberOfRow(const QImage& row) {
    if (row.isNull()) {
        return -1;
    }
    // The row stands for the strip of a picture of its width whose strip is two rows high: the
    // reader takes the middle of each block of both.
    const QImage line = row.convertToFormat(QImage::Format_RGB32);
    QImage picture(line.width(), 2 * FrameNumberStrip::kHeightDivisor, QImage::Format_RGB32);
    picture.fill(QColor(128, 128, 128));
    for (int y = 0; y < 2; ++y) {
        std::copy_n(reinterpret_cast<const QRgb*>(line.constScanLine(0)), line.width(),
                    reinterpret_cast<QRgb*>(picture.scanLine(y)));
    }
    return readFrameNumber(picture);
}

}  // namespace kestio::test
