#pragma once

// The fixed vocabularies of the show document. Each case maps one to one onto a raw string, and the
// raw strings (not the case names) are what "data.json" stores, so they are part of the file
// format.

#include <array>
#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace kestio {

// The kind of clip in a slot.
enum class MediaType { video, still, audio };

// What happens when a clip reaches its out point.
enum class PostRollMode { next, freeze, loop, black, jump };

// How a slot's picture replaces the one on air.
enum class TransitionMode { cut, dissolve };

// How a picture is placed on the output canvas.
enum class GeometryMode { fitToWindow, custom, originalSize };

// The output canvas format.
enum class OutputResolution { hd720p, hd1080i, hd1080p, uhd2160p };

// The output canvas frame rate.
enum class OutputFrameRate { fps23_976, fps24, fps29_97, fps30, fps59_94, fps60 };

// Raw-string table of each enumeration, in declaration order. `iterable` says whether the
// enumeration offers allCases.
template <typename E>
struct EnumTraits;

template <>
struct EnumTraits<MediaType> {
    static constexpr bool iterable = false;
    static constexpr std::array<std::pair<MediaType, std::string_view>, 3> entries{{
        {MediaType::video, "video"},
        {MediaType::still, "still"},
        {MediaType::audio, "audio"},
    }};
};

template <>
struct EnumTraits<PostRollMode> {
    static constexpr bool iterable = true;
    static constexpr std::array<std::pair<PostRollMode, std::string_view>, 5> entries{{
        {PostRollMode::next, "next"},
        {PostRollMode::freeze, "freeze"},
        {PostRollMode::loop, "loop"},
        {PostRollMode::black, "black"},
        {PostRollMode::jump, "jump"},
    }};
};

template <>
struct EnumTraits<TransitionMode> {
    static constexpr bool iterable = true;
    static constexpr std::array<std::pair<TransitionMode, std::string_view>, 2> entries{{
        {TransitionMode::cut, "cut"},
        {TransitionMode::dissolve, "dissolve"},
    }};
};

template <>
struct EnumTraits<GeometryMode> {
    static constexpr bool iterable = true;
    static constexpr std::array<std::pair<GeometryMode, std::string_view>, 3> entries{{
        {GeometryMode::fitToWindow, "fitToWindow"},
        {GeometryMode::custom, "custom"},
        {GeometryMode::originalSize, "originalSize"},
    }};
};

template <>
struct EnumTraits<OutputResolution> {
    static constexpr bool iterable = true;
    static constexpr std::array<std::pair<OutputResolution, std::string_view>, 4> entries{{
        {OutputResolution::hd720p, "1280x720p"},
        {OutputResolution::hd1080i, "1920x1080i"},
        {OutputResolution::hd1080p, "1920x1080p"},
        {OutputResolution::uhd2160p, "3840x2160p"},
    }};
};

template <>
struct EnumTraits<OutputFrameRate> {
    static constexpr bool iterable = true;
    static constexpr std::array<std::pair<OutputFrameRate, std::string_view>, 6> entries{{
        {OutputFrameRate::fps23_976, "23.976"},
        {OutputFrameRate::fps24, "24"},
        {OutputFrameRate::fps29_97, "29.97"},
        {OutputFrameRate::fps30, "30"},
        {OutputFrameRate::fps59_94, "59.94"},
        {OutputFrameRate::fps60, "60"},
    }};
};

template <typename E>
concept ModelEnum = requires {
    EnumTraits<E>::entries;
};

// The stored string of a case.
template <ModelEnum E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [item, raw] : EnumTraits<E>::entries) {
        if (item == value) {
            return raw;
        }
    }
    return {};
}

// The case whose raw value equals `raw` byte for byte (case-sensitive, no trimming), if any.
template <ModelEnum E>
constexpr std::optional<E> fromRawValue(std::string_view raw) {
    for (const auto& [item, stored] : EnumTraits<E>::entries) {
        if (stored == raw) {
            return item;
        }
    }
    return std::nullopt;
}

// Every case in declaration order; MediaType has none.
template <ModelEnum E>
requires(EnumTraits<E>::iterable) constexpr auto allCases() {
    constexpr auto& entries = EnumTraits<E>::entries;
    std::array<E, entries.size()> cases{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        cases[i] = entries[i].first;
    }
    return cases;
}

// The stored geometry mode is read leniently: "custom" and "originalSize" name their cases, every
// other string gives fitToWindow, so an unknown mode never makes a document unreadable.
constexpr GeometryMode geometryModeFromStoredString(std::string_view raw) {
    return fromRawValue<GeometryMode>(raw).value_or(GeometryMode::fitToWindow);
}

// A case hashes like its raw string.
template <ModelEnum E>
struct RawValueHash {
    std::size_t operator()(E value) const noexcept {
        return std::hash<std::string_view>{}(rawValue(value));
    }
};

}  // namespace kestio

template <>
struct std::hash<kestio::MediaType> : kestio::RawValueHash<kestio::MediaType> {};
template <>
struct std::hash<kestio::PostRollMode> : kestio::RawValueHash<kestio::PostRollMode> {};
template <>
struct std::hash<kestio::TransitionMode> : kestio::RawValueHash<kestio::TransitionMode> {};
template <>
struct std::hash<kestio::GeometryMode> : kestio::RawValueHash<kestio::GeometryMode> {};
template <>
struct std::hash<kestio::OutputResolution> : kestio::RawValueHash<kestio::OutputResolution> {};
template <>
struct std::hash<kestio::OutputFrameRate> : kestio::RawValueHash<kestio::OutputFrameRate> {};
