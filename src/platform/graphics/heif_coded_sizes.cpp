#include "platform/graphics/heif_coded_sizes.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestio::platform {

namespace {

struct Range {
    qsizetype begin = 0;
    qsizetype end = 0;
};

std::uint32_t be32(const QByteArray& b, qsizetype at) {
    return std::uint32_t(std::uint8_t(b[at])) << 24 | std::uint32_t(std::uint8_t(b[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 8 | std::uint32_t(std::uint8_t(b[at + 3]));
}

// Calls `each(type, body)` for every box in `range`; stops at a damaged one.
template <typename Each>
void forEachBox(const QByteArray& b, Range range, Each each) {
    qsizetype at = range.begin;
    while (at + 8 <= range.end) {
        qint64 size = be32(b, at);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > range.end) {
                return;
            }
            size = qint64(be32(b, at + 8)) << 32 | be32(b, at + 12);
            header = 16;
        } else if (size == 0) {
            size = range.end - at;
        }
        if (size < header || size > range.end - at) {
            return;
        }
        each(std::string_view(b.constData() + at + 4, 4), Range{at + header, at + qsizetype(size)});
        at += qsizetype(size);
    }
}

// Reads bits of a NAL unit's payload, emulation-prevention bytes removed.
class BitReader {
  public:
    explicit BitReader(QByteArray rbsp) : bytes_(std::move(rbsp)) {}
    std::optional<std::uint32_t> bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) {
                return std::nullopt;
            }
            const int bit = (std::uint8_t(bytes_[position_ / 8]) >> (7 - position_ % 8)) & 1;
            value = value << 1 | std::uint32_t(bit);
            ++position_;
        }
        return value;
    }
    bool skip(int count) {
        position_ += count;
        return position_ <= bytes_.size() * 8;
    }
    // Unsigned Exp-Golomb code.
    std::optional<std::uint32_t> ue() {
        int zeros = 0;
        for (;;) {
            const auto bit = bits(1);
            if (!bit) {
                return std::nullopt;
            }
            if (*bit) {
                break;
            }
            if (++zeros > 31) {
                return std::nullopt;
            }
        }
        const auto rest = bits(zeros);
        if (!rest) {
            return std::nullopt;
        }
        return (std::uint32_t(1) << zeros) - 1 + *rest;
    }

  private:
    QByteArray bytes_;
    qsizetype position_ = 0;
};

QByteArray withoutEmulationPrevention(const QByteArray& nal) {
    QByteArray out;
    out.reserve(nal.size());
    int zeros = 0;
    for (const char c : nal) {
        const auto byte = std::uint8_t(c);
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.append(c);
    }
    return out;
}

// The coded size of an HEVC sequence parameter set (with its two-byte NAL header).
std::optional<QSize> spsPictureSize(const QByteArray& nal) {
    BitReader r(withoutEmulationPrevention(nal));
    if (!r.skip(16 + 4)) {  // NAL header, video parameter set id
        return std::nullopt;
    }
    const auto maxSubLayersMinus1 = r.bits(3);
    if (!maxSubLayersMinus1 || !r.skip(1) || !r.skip(88 + 8)) {  // general profile and level
        return std::nullopt;
    }
    const int subLayers = int(*maxSubLayersMinus1);
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        const auto flags = r.bits(2);
        if (!flags) {
            return std::nullopt;
        }
        profilePresent[i] = (*flags & 2) != 0;
        levelPresent[i] = (*flags & 1) != 0;
    }
    if (subLayers > 0 && !r.skip(2 * (8 - subLayers))) {
        return std::nullopt;
    }
    for (int i = 0; i < subLayers; ++i) {
        if ((profilePresent[i] && !r.skip(88)) || (levelPresent[i] && !r.skip(8))) {
            return std::nullopt;
        }
    }
    const auto id = r.ue();
    const auto chroma = r.ue();
    if (!id || !chroma || (*chroma == 3 && !r.skip(1))) {
        return std::nullopt;
    }
    const auto width = r.ue();
    const auto height = r.ue();
    if (!width || !height || *width > 1u << 20 || *height > 1u << 20) {
        return std::nullopt;
    }
    return QSize(int(*width), int(*height));
}

// The sequence parameter sets' sizes of one hvcC box body.
void readHvcC(const QByteArray& b, Range box, std::vector<QSize>& sizes) {
    qsizetype at = box.begin + 22;
    if (at >= box.end) {
        return;
    }
    const int arrays = std::uint8_t(b[at++]);
    for (int a = 0; a < arrays && at + 3 <= box.end; ++a) {
        const int nalType = std::uint8_t(b[at]) & 0x3f;
        const int count = std::uint8_t(b[at + 1]) << 8 | std::uint8_t(b[at + 2]);
        at += 3;
        for (int n = 0; n < count && at + 2 <= box.end; ++n) {
            const qsizetype length = std::uint8_t(b[at]) << 8 | std::uint8_t(b[at + 1]);
            at += 2;
            if (at + length > box.end) {
                return;
            }
            if (nalType == 33) {
                if (auto size = spsPictureSize(b.mid(at, length))) {
                    sizes.push_back(*size);
                }
            }
            at += length;
        }
    }
}

}  // namespace

std::vector<QSize> heifCodedSizes(const QByteArray& bytes) {
    std::vector<QSize> sizes;
    forEachBox(bytes, {0, bytes.size()}, [&](std::string_view type, Range meta) {
        if (type != "meta" || meta.end - meta.begin < 4) {
            return;
        }
        // "meta" is a full box: version and flags come before its children.
        forEachBox(bytes, {meta.begin + 4, meta.end}, [&](std::string_view t, Range iprp) {
            if (t != "iprp") {
                return;
            }
            forEachBox(bytes, iprp, [&](std::string_view t2, Range ipco) {
                if (t2 != "ipco") {
                    return;
                }
                forEachBox(bytes, ipco, [&](std::string_view t3, Range property) {
                    if (t3 == "hvcC") {
                        readHvcC(bytes, property, sizes);
                    }
                });
            });
        });
    });
    return sizes;
}

}  // namespace kestio::platform
