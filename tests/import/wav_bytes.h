#pragma once

// WAV files written in the test, for sound whose every sample the test knows.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestio::test {

// A 32-bit float WAV of interleaved `samples`. `statedFrames` (when not negative) is what the
// header claims, whatever the data holds.
inline std::string floatWav(const std::vector<float>& samples, int channels, int rate,
                            long statedFrames = -1) {
    const auto frames =
        static_cast<std::uint32_t>(samples.size() / static_cast<std::size_t>(channels));
    const std::uint32_t dataBytes =
        static_cast<std::uint32_t>(statedFrames >= 0 ? statedFrames : frames) * 4u *
        static_cast<std::uint32_t>(channels);
    std::string out;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    auto u16 = [&](std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    };
    out += "RIFF";
    u32(36 + dataBytes);
    out += "WAVEfmt ";
    u32(16);
    u16(3);  // IEEE float
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 4));
    u16(static_cast<std::uint16_t>(channels * 4));
    u16(32);
    out += "data";
    u32(dataBytes);
    const std::size_t start = out.size();
    out.resize(start + samples.size() * 4);
    if (!samples.empty()) {
        std::memcpy(out.data() + start, samples.data(), samples.size() * 4);
    }
    return out;
}

}  // namespace kestio::test
