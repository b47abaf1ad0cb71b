#include "model/thumbnail_naming.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace kestio {

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;

std::uint64_t word(const std::uint8_t* bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::uint64_t mixed(std::uint64_t lane, std::uint64_t value) {
    return std::rotl(lane + value * kPrime2, 31) * kPrime1;
}

std::uint64_t avalanche(std::uint64_t h) {
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

// A 64-bit hash of the bytes, four words at a time in independent lanes: fast enough to name
// hundreds of pictures on every save. It tells pictures apart; it is no defence against a
// picture made to collide, which a show never holds.
std::uint64_t contentHash(std::span<const std::uint8_t> bytes) {
    std::uint64_t lane0 = kPrime1 + kPrime2;
    std::uint64_t lane1 = kPrime2;
    std::uint64_t lane2 = 0;
    std::uint64_t lane3 = 0 - kPrime1;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 32; left -= 32, p += 32) {
        lane0 = mixed(lane0, word(p));
        lane1 = mixed(lane1, word(p + 8));
        lane2 = mixed(lane2, word(p + 16));
        lane3 = mixed(lane3, word(p + 24));
    }
    std::uint64_t h = static_cast<std::uint64_t>(bytes.size()) * kPrime3;
    h = mixed(h ^ avalanche(lane0), 1);
    h = mixed(h ^ avalanche(lane1), 2);
    h = mixed(h ^ avalanche(lane2), 3);
    h = mixed(h ^ avalanche(lane3), 4);
    for (; left >= 8; left -= 8, p += 8) {
        h = mixed(h, word(p));
    }
    for (; left > 0; --left, ++p) {
        h = std::rotl(h ^ (*p * kPrime3), 11) * kPrime1;
    }
    return avalanche(h);
}

}  // namespace

std::string thumbnailFileName(int bank, int slot) {
    return "thumb_" + std::to_string(bank) + "_" + std::to_string(slot) + ".png";
}

std::string thumbnailFileName(int bank, int slot, std::span<const std::uint8_t> png) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx",
                  static_cast<unsigned long long>(contentHash(png)));
    return "thumb_" + std::to_string(bank) + "_" + std::to_string(slot) + "_" + digits + ".png";
}

bool isNameOfContent(std::string_view name, std::span<const std::uint8_t> png) {
    int bank = -1;
    int slot = -1;
    int used = 0;
    const std::string text(name);
    if (std::sscanf(text.c_str(), "thumb_%d_%d_%n", &bank, &slot, &used) != 2 || used == 0 ||
        bank < 0 || slot < 0) {
        return false;
    }
    return name == thumbnailFileName(bank, slot, png);
}

bool isThumbnailFileName(std::string_view name) {
    if (name.ends_with(".partial")) {
        name.remove_suffix(std::string_view(".partial").size());
    }
    return name.size() > 10 && name.starts_with("thumb_") && name.ends_with(".png");
}

}  // namespace kestio
