#include "model/settings_records.h"

std::size_t std::hash<kestio::MIDINoteBinding>::operator()(
    const kestio::MIDINoteBinding& binding) const noexcept {
    std::size_t seed = std::hash<std::int64_t>{}(binding.channel);
    const std::size_t noteHash = std::hash<std::int64_t>{}(binding.note);
    seed ^= noteHash + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}
