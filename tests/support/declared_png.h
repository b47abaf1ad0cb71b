#pragma once

// PNG files whose header declares a size the data never fills: what a hostile picture costs a
// decoder is decided by its header alone.

#include <cstdint>
#include <string>

namespace kestio::test {

// The bytes of a PNG whose header declares `width` x `height` pixels and whose data is one
// empty block.
inline std::string pngDeclaring(std::uint32_t width, std::uint32_t height) {
    auto crc32 = [](const std::string& bytes) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char byte : bytes) {
            crc ^= byte;
            for (int k = 0; k < 8; ++k) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
        }
        return ~crc;
    };
    auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        return be32(static_cast<std::uint32_t>(data.size())) + type + data +
               be32(crc32(type + data));
    };
    const std::string header = be32(width) + be32(height) + std::string{8, 2, 0, 0, 0};
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
           chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", "");
}

}  // namespace kestio::test
