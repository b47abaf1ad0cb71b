#include "model/project_coding.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "model/base64.h"
#include "model/color_values.h"
#include "model/json_text.h"
#include "model/slot_value_ranges.h"
#include "model/value_range.h"

namespace kestio {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Grid sizes a document may give: larger ones would make every consumer build huge grids.
constexpr std::int64_t kMaxGridSide = 10000;
constexpr std::int64_t kMaxSlotsPerBank = 10000;

// Banks and slots a document may hold. Every slot, even an empty "{}", becomes a full record with
// its defaults (hundreds of bytes in memory, over a kilobyte when written back), so a few
// megabytes of empty slots would decode to gigabytes. A project holds 20 banks of rows × columns
// slots, and the grid never exceeds kMaxSlotsPerBank slots, so the largest project ever written
// holds 20 × kMaxSlotsPerBank slots: the limits admit that, and any bank of up to that many
// slots, and refuse more. The bank count is far above the 20 a project has.
constexpr std::size_t kMaxBanks = 1000;
constexpr std::size_t kMaxSlotsInBank = kMaxSlotsPerBank;
constexpr std::size_t kMaxSlotsInDocument = ProjectData::kBankCount * kMaxSlotsPerBank;

// Doubles at or past this magnitude round to infinity as a Float (2^128 - 2^103, the midpoint
// between the largest Float and 2^128).
constexpr double kFloatOverflow = 0x1.ffffffp127;

std::string member(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string element(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

[[noreturn]] void fail(const std::string& path, std::string reason) {
    throw ModelCodingError(path, std::move(reason));
}

// ---- reading values -------------------------------------------------------------------------

const char* typeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::object:
            return "an object";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "a number";
        default:
            return "an unsupported value";
    }
}

[[noreturn]] void failType(const std::string& path, const char* expected, const Json& value) {
    fail(path, std::string("expected ") + expected + ", found " + typeName(value));
}

void requireObject(const Json& value, const std::string& path) {
    if (!value.is_object()) {
        failType(path, "an object", value);
    }
}

void requireArray(const Json& value, const std::string& path) {
    if (!value.is_array()) {
        failType(path, "an array", value);
    }
}

// A member that must be present and not null (inside the settings records, and the bank members).
const Json& requiredMember(const Json& object, std::string_view key, const std::string& path) {
    const auto found = object.find(key);
    if (found == object.end()) {
        fail(member(path, key), "required member is missing");
    }
    if (found->is_null()) {
        fail(member(path, key), "required member is null");
    }
    return *found;
}

// A member that may be missing or null (root and slot level, and the clip's source date).
const Json* optionalMember(const Json& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

std::string readString(const Json& value, const std::string& path) {
    if (!value.is_string()) {
        failType(path, "a string", value);
    }
    return value.get<std::string>();
}

bool readBool(const Json& value, const std::string& path) {
    if (!value.is_boolean()) {
        failType(path, "a boolean", value);
    }
    return value.get<bool>();
}

std::int64_t readInt(const Json& value, const std::string& path) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return value.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                fail(path, "integer out of range");
            }
            return static_cast<std::int64_t>(number);
        }
        case Json::value_t::number_float: {
            const double number = value.get<double>();
            if (std::trunc(number) != number) {
                fail(path, "expected an integer, found a fractional number");
            }
            if (!(number >= -0x1p63 && number < 0x1p63)) {
                fail(path, "integer out of range");
            }
            return static_cast<std::int64_t>(number);
        }
        default:
            failType(path, "an integer", value);
    }
}

double readDouble(const Json& value, const std::string& path) {
    if (!value.is_number()) {
        failType(path, "a number", value);
    }
    const double number = value.get<double>();
    if (!std::isfinite(number)) {
        fail(path, "number out of range");
    }
    return number;
}

float readFloat(const Json& value, const std::string& path) {
    const double number = readDouble(value, path);
    if (std::fabs(number) >= kFloatOverflow) {
        fail(path, "number out of range for single precision");
    }
    return static_cast<float>(number);
}

std::vector<std::uint8_t> readBytes(const Json& value, const std::string& path) {
    auto bytes = base64Decode(readString(value, path));
    if (!bytes) {
        fail(path, "not valid Base64");
    }
    return std::move(*bytes);
}

template <ModelEnum E>
E readEnum(const Json& value, const std::string& path) {
    const std::string raw = readString(value, path);
    const auto parsed = fromRawValue<E>(raw);
    if (!parsed) {
        fail(path, "unknown value \"" + raw + "\"");
    }
    return *parsed;
}

// ---- writing values -------------------------------------------------------------------------

OrderedJson writeDouble(double value, const std::string& path) {
    if (!std::isfinite(value)) {
        fail(path, "cannot write a number that is not finite");
    }
    return OrderedJson(value);
}

// The shortest decimal that reads back as the same Float, carried as the double it denotes, so the
// text shows 0.1 rather than 0.10000000149011612.
OrderedJson writeFloat(float value, const std::string& path) {
    if (!std::isfinite(value)) {
        fail(path, "cannot write a number that is not finite");
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double shortest = 0;
    const auto read = std::from_chars(text, written.ptr, shortest);
    if (written.ec != std::errc{} || read.ec != std::errc{} ||
        static_cast<float>(shortest) != value) {
        shortest = static_cast<double>(value);
    }
    return OrderedJson(shortest);
}

// The reader refuses a string whose written form is longer than kMaxJsonStringBytes, so the
// writer does too.
void checkWrittenLength(std::string_view text, const std::string& path) {
    if (writtenJsonStringBytes(text) > kMaxJsonStringBytes) {
        fail(path, "cannot write text longer than " + std::to_string(kMaxJsonStringBytes) +
                       " bytes as written");
    }
}

OrderedJson writeString(const std::string& value, const std::string& path) {
    if (!isValidUtf8(value)) {
        fail(path, "cannot write text that is not valid UTF-8");
    }
    checkWrittenLength(value, path);
    return OrderedJson(value);
}

OrderedJson writeBytes(const std::vector<std::uint8_t>& bytes, const std::string& path) {
    std::string text = base64Encode(bytes);
    checkWrittenLength(text, path);
    return OrderedJson(std::move(text));
}

template <ModelEnum E>
OrderedJson writeEnum(E value) {
    return OrderedJson(std::string(rawValue(value)));
}

// ---- settings records -----------------------------------------------------------------------

OrderedJson encodeClipInfo(const ClipInfo& info, const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["codec"] = writeString(info.codec, member(path, "codec"));
    out["resolution"] = writeString(info.resolution, member(path, "resolution"));
    out["fps"] = writeDouble(info.fps, member(path, "fps"));
    out["bitRate"] = info.bitRate;
    out["duration"] = writeDouble(info.duration, member(path, "duration"));
    out["channels"] = info.channels;
    out["sampleRate"] = writeDouble(info.sampleRate, member(path, "sampleRate"));
    out["audioBitDepth"] = info.audioBitDepth;
    out["audioCodec"] = writeString(info.audioCodec, member(path, "audioCodec"));
    if (info.sourceModifiedAt) {
        out["sourceModifiedAt"] =
            writeDouble(*info.sourceModifiedAt, member(path, "sourceModifiedAt"));
    }
    return out;
}

// The members of the two all-Float records, in field order.
template <typename Record>
struct FloatMember {
    std::string_view key;
    float Record::*field;
};

// The colour values are stored under the names of their table, in its order.
constexpr const auto& kColorMembers = kColorValues;

constexpr FloatMember<EqualizerSettings> kEqualizerMembers[] = {
    {"hz80", &EqualizerSettings::hz80},     {"hz315", &EqualizerSettings::hz315},
    {"hz800", &EqualizerSettings::hz800},   {"khz1_25", &EqualizerSettings::khz1_25},
    {"khz2_5", &EqualizerSettings::khz2_5}, {"khz3_2", &EqualizerSettings::khz3_2},
};

template <typename Record, typename Members>
OrderedJson encodeFloatRecord(const Record& record, const std::string& path,
                              const Members& members) {
    OrderedJson out = OrderedJson::object();
    for (const auto& m : members) {
        out[std::string(m.key)] = writeFloat(record.*m.field, member(path, m.key));
    }
    return out;
}

OrderedJson encodeAudioSettings(const AudioSettings& audio, const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["masterLevel"] = writeFloat(audio.masterLevel, member(path, "masterLevel"));
    out["isMuted"] = audio.isMuted;
    const std::string levelsPath = member(path, "channelLevels");
    OrderedJson levels = OrderedJson::array();
    for (std::size_t i = 0; i < audio.channelLevels.size(); ++i) {
        levels.push_back(writeFloat(audio.channelLevels[i], element(levelsPath, i)));
    }
    out["channelLevels"] = std::move(levels);
    out["activeChannels"] = audio.activeChannels;
    return out;
}

OrderedJson encodeGeometry(const GeometrySettings& geometry, const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["mode"] = writeEnum(geometry.mode);
    out["posX"] = writeDouble(geometry.posX, member(path, "posX"));
    out["posY"] = writeDouble(geometry.posY, member(path, "posY"));
    out["scaleX"] = writeDouble(geometry.scaleX, member(path, "scaleX"));
    out["scaleY"] = writeDouble(geometry.scaleY, member(path, "scaleY"));
    return out;
}

OutputSettings decodeOutputSettings(const Json& value, const std::string& path) {
    requireObject(value, path);
    OutputSettings output;
    output.resolution = readEnum<OutputResolution>(requiredMember(value, "resolution", path),
                                                   member(path, "resolution"));
    output.frameRate = readEnum<OutputFrameRate>(requiredMember(value, "frameRate", path),
                                                 member(path, "frameRate"));
    return output;
}

OrderedJson encodeOutputSettings(const OutputSettings& output) {
    OrderedJson out = OrderedJson::object();
    out["resolution"] = writeEnum(output.resolution);
    out["frameRate"] = writeEnum(output.frameRate);
    return out;
}

ExternalMonitorSettings decodeExternalMonitor(const Json& value, const std::string& path) {
    requireObject(value, path);
    ExternalMonitorSettings monitor;
    monitor.isEnabled =
        readBool(requiredMember(value, "isEnabled", path), member(path, "isEnabled"));
    monitor.screenIndex =
        readInt(requiredMember(value, "screenIndex", path), member(path, "screenIndex"));
    monitor.screenName =
        readString(requiredMember(value, "screenName", path), member(path, "screenName"));
    monitor.width = readDouble(requiredMember(value, "width", path), member(path, "width"));
    monitor.height = readDouble(requiredMember(value, "height", path), member(path, "height"));
    return monitor;
}

OrderedJson encodeExternalMonitor(const ExternalMonitorSettings& monitor, const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["isEnabled"] = monitor.isEnabled;
    out["screenIndex"] = monitor.screenIndex;
    out["screenName"] = writeString(monitor.screenName, member(path, "screenName"));
    out["width"] = writeDouble(monitor.width, member(path, "width"));
    out["height"] = writeDouble(monitor.height, member(path, "height"));
    return out;
}

JumpTarget decodeJumpTarget(const Json& value, const std::string& path) {
    requireObject(value, path);
    JumpTarget target;
    target.bank = readInt(requiredMember(value, "bank", path), member(path, "bank"));
    target.slot = readInt(requiredMember(value, "slot", path), member(path, "slot"));
    return target;
}

OrderedJson encodeJumpTarget(const JumpTarget& target) {
    OrderedJson out = OrderedJson::object();
    out["bank"] = target.bank;
    out["slot"] = target.slot;
    return out;
}

MIDINoteBinding decodeNoteBinding(const Json& value, const std::string& path) {
    requireObject(value, path);
    MIDINoteBinding binding;
    binding.channel = readInt(requiredMember(value, "channel", path), member(path, "channel"));
    binding.note = readInt(requiredMember(value, "note", path), member(path, "note"));
    return binding;
}

OrderedJson encodeNoteBinding(const MIDINoteBinding& binding) {
    OrderedJson out = OrderedJson::object();
    out["channel"] = binding.channel;
    out["note"] = binding.note;
    return out;
}

MIDIControlAssignment decodeControlAssignment(const Json& value, const std::string& path) {
    requireObject(value, path);
    MIDIControlAssignment assignment;
    assignment.target = readString(requiredMember(value, "target", path), member(path, "target"));
    assignment.channel = readInt(requiredMember(value, "channel", path), member(path, "channel"));
    assignment.note = readInt(requiredMember(value, "note", path), member(path, "note"));
    return assignment;
}

OrderedJson encodeControlAssignment(const MIDIControlAssignment& assignment,
                                    const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["target"] = writeString(assignment.target, member(path, "target"));
    out["channel"] = assignment.channel;
    out["note"] = assignment.note;
    return out;
}

// ---- slots: read leniently, kept within what the program can play ----------------------------

// The text of a value as the document holds it, cut short for a warning.
template <typename AnyJson>
std::string foundText(const AnyJson& value) {
    constexpr std::size_t kLongest = 40;
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > kLongest) {
        std::size_t cut = kLongest;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        text = text.substr(0, cut) + "…";
    }
    return text;
}

template <typename Number>
std::string numberText(Number value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

// The mends made while reading one slot, each with the member's key inside the slot.
class SlotMends {
  public:
    explicit SlotMends(std::vector<DefaultedSlotValue>* list) : list_(list) {}

    // `found` is null for a missing member; an empty `readAs` means the value is absent now.
    void note(std::string key, const Json* found, std::string readAs) const {
        if (list_ != nullptr) {
            list_->push_back({0, 0, std::move(key), found ? foundText(*found) : std::string(),
                              std::move(readAs)});
        }
    }

  private:
    std::vector<DefaultedSlotValue>* list_;
};

// Reads the members of one object of a slot (the slot itself or one of its settings records).
// A member of the wrong type, and a number beyond the range given for it, is mended and noted:
// the first takes the value given in its place, the second the nearer bound. A missing or null
// member takes its value silently in the slot itself, where any member may be left out, and
// is noted in a settings record, where every member is written.
class MemberReader {
  public:
    MemberReader(const Json& object, std::string prefix, const SlotMends& mends, bool required)
        : object_(object), prefix_(std::move(prefix)), mends_(mends), required_(required) {}

    std::string key(std::string_view name) const {
        return prefix_.empty() ? std::string(name) : prefix_ + "." + std::string(name);
    }
    const SlotMends& mends() const { return mends_; }

    // The member's value; nothing when it is missing or null.
    const Json* find(std::string_view name, const std::string& readAs) const {
        const auto found = object_.find(name);
        if (found != object_.end() && !found->is_null()) {
            return &*found;
        }
        if (required_) {
            mends_.note(key(name), found == object_.end() ? nullptr : &*found, readAs);
        }
        return nullptr;
    }

    // `read` of the member's value, or `fallback` when it is missing or `read` refuses it.
    template <typename T, typename Read>
    T value(std::string_view name, T fallback, const std::string& fallbackText,
            const Read& read) const {
        const Json* found = find(name, fallbackText);
        if (found == nullptr) {
            return fallback;
        }
        try {
            return read(*found);
        } catch (const ModelCodingError&) {
            mends_.note(key(name), found, fallbackText);
            return fallback;
        }
    }

    // `read` of the member's value; nothing when it is missing or `read` refuses it.
    template <typename Read>
    auto maybe(std::string_view name, const Read& read) const
        -> std::optional<decltype(read(std::declval<const Json&>()))> {
        const auto found = object_.find(name);
        if (found == object_.end() || found->is_null()) {
            return std::nullopt;
        }
        try {
            return read(*found);
        } catch (const ModelCodingError&) {
            mends_.note(key(name), &*found, {});
            return std::nullopt;
        }
    }

    std::string text(std::string_view name, const std::string& fallback) const {
        return value(name, fallback, Json(fallback).dump(),
                     [](const Json& v) { return readString(v, {}); });
    }
    std::optional<std::string> optionalText(std::string_view name) const {
        return maybe(name, [](const Json& v) { return readString(v, {}); });
    }
    bool flag(std::string_view name, bool fallback) const {
        return value(name, fallback, fallback ? "true" : "false",
                     [](const Json& v) { return readBool(v, {}); });
    }
    std::int64_t integer(std::string_view name, std::int64_t fallback) const {
        return value(name, fallback, std::to_string(fallback),
                     [](const Json& v) { return readInt(v, {}); });
    }
    double number(std::string_view name, double fallback,
                  std::optional<ValueRange> range = std::nullopt) const {
        const Json* found = nullptr;
        const double read = value(name, fallback, numberText(fallback), [&](const Json& v) {
            found = &v;
            return readDouble(v, {});
        });
        return found && range ? kept(name, *found, read, *range) : read;
    }
    // A Float: without a range it must fit in single precision.
    float single(std::string_view name, float fallback,
                 std::optional<ValueRange> range = std::nullopt) const {
        if (!range) {
            return value(name, fallback, numberText(fallback),
                         [](const Json& v) { return readFloat(v, {}); });
        }
        const Json* found = nullptr;
        const double read = value(name, double(fallback), numberText(fallback), [&](const Json& v) {
            found = &v;
            return readDouble(v, {});
        });
        if (found == nullptr) {
            return static_cast<float>(read);
        }
        // Compared as the Float it is read into: a bound written in its shortest form reads back
        // as itself.
        const auto lower = static_cast<float>(range->lower);
        const auto upper = static_cast<float>(range->upper);
        if (std::fabs(read) < kFloatOverflow) {
            const auto single = static_cast<float>(read);
            if (single >= lower && single <= upper) {
                return single;
            }
        }
        const float inside = read < lower ? lower : upper;
        mends_.note(key(name), found, numberText(inside));
        return inside;
    }
    template <ModelEnum E>
    E choice(std::string_view name, E fallback) const {
        return value(name, fallback, std::string(rawValue(fallback)),
                     [](const Json& v) { return readEnum<E>(v, {}); });
    }

    // `number` within `range`; beyond it, the nearer bound, noted.
    double kept(std::string_view name, const Json& found, double number,
                const ValueRange& range) const {
        const double inside = range.clamp(number);
        if (inside != number) {
            mends_.note(key(name), &found, numberText(inside));
        }
        return inside;
    }

  private:
    const Json& object_;
    std::string prefix_;
    const SlotMends& mends_;
    bool required_;
};

// A settings record of the slot, read by `readMembers` from a reader of its members. A missing
// record takes `fresh` silently; a value that is no object takes it too, noted with `freshText`.
template <typename Record, typename ReadMembers>
std::optional<Record> readRecord(const MemberReader& slot, std::string_view name,
                                 std::optional<Record> fresh, const std::string& freshText,
                                 const ReadMembers& readMembers) {
    const Json* found = slot.find(name, {});
    if (found == nullptr) {
        return fresh;
    }
    if (!found->is_object()) {
        slot.mends().note(slot.key(name), found, freshText);
        return fresh;
    }
    return readMembers(MemberReader(*found, slot.key(name), slot.mends(), true));
}

EqualizerSettings readEqualizer(const MemberReader& record) {
    EqualizerSettings read;
    for (const auto& m : kEqualizerMembers) {
        read.*m.field = record.single(m.key, EqualizerSettings{}.*m.field, kEqualizerBandRange);
    }
    return read;
}

ColorSettings readColor(const MemberReader& record) {
    ColorSettings read;
    for (const ColorValue& value : kColorValues) {
        read.*value.field =
            record.single(value.key, value.neutral, ValueRange{value.lower, value.upper});
    }
    return read;
}

AudioSettings readAudio(const MemberReader& record) {
    const AudioSettings fresh;
    const std::string freshLevels = "[0, 0, 0, 0, 0, 0, 0, 0]";
    AudioSettings audio;
    audio.masterLevel = record.single("masterLevel", fresh.masterLevel, kMasterLevelRange);
    audio.isMuted = record.flag("isMuted", fresh.isMuted);
    const std::string levelsKey = record.key("channelLevels");
    const Json* levels = record.find("channelLevels", freshLevels);
    if (levels != nullptr && !levels->is_array()) {
        record.mends().note(levelsKey, levels, freshLevels);
    } else if (levels != nullptr) {
        audio.channelLevels.clear();
        for (std::size_t i = 0; i < levels->size(); ++i) {
            try {
                audio.channelLevels.push_back(readFloat((*levels)[i], {}));
            } catch (const ModelCodingError&) {
                record.mends().note(element(levelsKey, i), &(*levels)[i], "0");
                audio.channelLevels.push_back(0.0f);
            }
        }
    }
    audio.activeChannels = record.integer("activeChannels", fresh.activeChannels);
    return audio;
}

GeometrySettings readGeometry(const MemberReader& record) {
    const GeometrySettings fresh;
    GeometrySettings geometry;
    geometry.mode = record.choice("mode", fresh.mode);
    geometry.posX = record.number("posX", fresh.posX, kPositionXRange);
    geometry.posY = record.number("posY", fresh.posY, kPositionYRange);
    geometry.scaleX = record.number("scaleX", fresh.scaleX, kScaleRange);
    geometry.scaleY = record.number("scaleY", fresh.scaleY, kScaleRange);
    return geometry;
}

ClipInfo readClipInfo(const MemberReader& record) {
    ClipInfo info;
    info.codec = record.text("codec", {});
    info.resolution = record.text("resolution", {});
    info.fps = record.number("fps", 0);
    info.bitRate = record.integer("bitRate", 0);
    info.duration = record.number("duration", 0);
    info.channels = record.integer("channels", 0);
    info.sampleRate = record.number("sampleRate", 0);
    info.audioBitDepth = record.integer("audioBitDepth", 0);
    info.audioCodec = record.text("audioCodec", {});
    info.sourceModifiedAt =
        record.maybe("sourceModifiedAt", [](const Json& v) { return readDouble(v, {}); });
    return info;
}

// The written text of a fresh record, for the warning of a record replaced as a whole.
template <typename Record, typename Encode>
std::string freshText(const Encode& encode) {
    return foundText(encode(Record{}, std::string()));
}

// A jump target must name a slot of the project: one outside it is dropped, noted.
void keepJumpTargetsInside(ProjectData& project, std::vector<DefaultedSlotValue>* mended) {
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        auto& slots = project.banks[b].slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            auto& target = slots[s].jumpTarget;
            if (!target) {
                continue;
            }
            const bool inside =
                target->bank >= 0 && std::size_t(target->bank) < project.banks.size() &&
                target->slot >= 0 &&
                std::size_t(target->slot) < project.banks[std::size_t(target->bank)].slots.size();
            if (!inside) {
                if (mended != nullptr) {
                    mended->push_back(
                        {b, s, "jumpTarget", foundText(encodeJumpTarget(*target)), {}});
                }
                target.reset();
            }
        }
    }
}

// ---- banks and root -------------------------------------------------------------------------

// The grid and the counts above are checked alike when reading and when writing, so that a
// project the reader would refuse is never written.
void checkGridSide(std::int64_t side, const std::string& path) {
    if (side < 0 || side > kMaxGridSide) {
        fail(path, "must be between 0 and " + std::to_string(kMaxGridSide));
    }
}

void checkGrid(std::int64_t rows, std::int64_t columns) {
    checkGridSide(rows, "rows");
    checkGridSide(columns, "columns");
    if (rows * columns > kMaxSlotsPerBank) {
        fail("columns", "rows × columns must not exceed " + std::to_string(kMaxSlotsPerBank));
    }
}

void checkBankCount(std::size_t banks) {
    if (banks > kMaxBanks) {
        fail("banks", "must not hold more than " + std::to_string(kMaxBanks) + " banks");
    }
}

void checkSlotTotal(std::size_t slots) {
    if (slots > kMaxSlotsInDocument) {
        fail("banks", "the banks must not hold more than " + std::to_string(kMaxSlotsInDocument) +
                          " slots together");
    }
}

void checkBankSlots(std::size_t slots, const std::string& slotsPath) {
    if (slots > kMaxSlotsInBank) {
        fail(slotsPath,
             "a bank must not hold more than " + std::to_string(kMaxSlotsInBank) + " slots");
    }
}

// The slots of one bank's "slots" array, decoded one by one as the parser hands them over, so
// that only their records are kept and never the tree of the whole array.
struct ReadSlots {
    std::size_t count = 0;        // the elements of the array
    std::vector<SlotData> slots;  // decoded in order; all of them unless the bank is refused
    std::optional<ModelCodingError> error;      // of the first slot that failed to decode
    std::vector<DefaultedSlotValue> defaulted;  // of the decoded slots
};

// A document as the streaming reader hands it over: its tree with every bank's "slots" array
// left empty, and the slots of each bank beside it.
struct ReadDocument {
    Json root;
    std::vector<ReadSlots> banks;  // by the bank's index in "banks"; banks past its end hold none
    std::size_t slotCount = 0;     // the slots of every bank's "slots" array the text holds
};

// Refuses what the tree decoder used to: the bank's own members, then its slot count, then its
// first slot that failed.
BankData decodeBank(const Json& value, const std::string& path, ReadSlots read) {
    requireObject(value, path);
    BankData bank;
    bank.name = readString(requiredMember(value, "name", path), member(path, "name"));
    const std::string slotsPath = member(path, "slots");
    requireArray(requiredMember(value, "slots", path), slotsPath);
    checkBankSlots(read.count, slotsPath);
    if (read.error) {
        throw std::move(*read.error);
    }
    bank.slots = std::move(read.slots);
    return bank;
}

// The bank's members in their order, with null in place of the slots: writeBank writes them
// one by one.
OrderedJson encodeBankOutline(const BankData& bank, const std::string& path) {
    OrderedJson out = OrderedJson::object();
    out["name"] = writeString(bank.name, member(path, "name"));
    checkBankSlots(bank.slots.size(), member(path, "slots"));
    out["slots"] = nullptr;
    return out;
}

// Writes the members of `outline` in their order, and for the one named `streamed` (null in
// the outline) calls `writeStreamed` instead, which writes its value piece by piece.
template <typename WriteStreamed>
void writeObject(JsonTextWriter& writer, const OrderedJson& outline, std::string_view streamed,
                 WriteStreamed writeStreamed) {
    writer.beginObject();
    for (const auto& [key, value] : outline.items()) {
        writer.key(key);
        if (key == streamed) {
            writeStreamed();
        } else {
            writer.value(value);
        }
    }
    writer.endObject();
}

void writeBank(JsonTextWriter& writer, const BankData& bank, const std::string& path) {
    writeObject(writer, encodeBankOutline(bank, path), "slots", [&] {
        const std::string slotsPath = member(path, "slots");
        writer.beginArray();
        for (std::size_t i = 0; i < bank.slots.size(); ++i) {
            writer.value(encodeSlot(bank.slots[i], element(slotsPath, i)));
        }
        writer.endArray();
    });
}

std::int64_t readGridSide(const Json& value, const std::string& path) {
    const std::int64_t side = readInt(value, path);
    checkGridSide(side, path);
    return side;
}

// Decodes the members of the root in a fixed order, so that of several faults the same one is
// always reported, whatever order the text gives them in.
ProjectData decodeRoot(ReadDocument document, std::vector<DefaultedSlotValue>* defaulted) {
    const Json& root = document.root;
    requireObject(root, {});
    ProjectData project;
    if (const Json* value = optionalMember(root, "version")) {
        project.version = readInt(*value, "version");
    }
    if (const Json* value = optionalMember(root, "rows")) {
        project.rows = readGridSide(*value, "rows");
    }
    if (const Json* value = optionalMember(root, "columns")) {
        project.columns = readGridSide(*value, "columns");
    }
    checkGrid(project.rows, project.columns);
    if (const Json* value = optionalMember(root, "outputSettings")) {
        project.outputSettings = decodeOutputSettings(*value, "outputSettings");
    }
    if (const Json* value = optionalMember(root, "externalMonitorSettings")) {
        project.externalMonitorSettings = decodeExternalMonitor(*value, "externalMonitorSettings");
    }
    const Json& banks = requiredMember(root, "banks", {});
    requireArray(banks, "banks");
    checkBankCount(banks.size());
    // Counted while reading, before any bank's members are checked.
    checkSlotTotal(document.slotCount);
    const std::size_t firstOfThisDocument = defaulted != nullptr ? defaulted->size() : 0;
    project.banks.reserve(banks.size());
    for (std::size_t i = 0; i < banks.size(); ++i) {
        ReadSlots read = i < document.banks.size() ? std::move(document.banks[i]) : ReadSlots{};
        std::vector<DefaultedSlotValue> bankDefaulted = std::move(read.defaulted);
        project.banks.push_back(decodeBank(banks[i], element("banks", i), std::move(read)));
        if (defaulted != nullptr) {
            for (DefaultedSlotValue& value : bankDefaulted) {
                value.bank = i;
                defaulted->push_back(std::move(value));
            }
        }
    }
    // In document order, with the jump targets' mends among those of their slots.
    keepJumpTargetsInside(project, defaulted);
    if (defaulted != nullptr) {
        std::stable_sort(defaulted->begin() + std::ptrdiff_t(firstOfThisDocument), defaulted->end(),
                         [](const DefaultedSlotValue& a, const DefaultedSlotValue& b) {
                             return std::pair(a.bank, a.slot) < std::pair(b.bank, b.slot);
                         });
    }
    if (const Json* value = optionalMember(root, "thumbnailsFolderBookmark")) {
        project.thumbnailsFolderBookmark = readBytes(*value, "thumbnailsFolderBookmark");
    }
    if (const Json* value = optionalMember(root, "midiControlAssignments")) {
        requireArray(*value, "midiControlAssignments");
        for (std::size_t i = 0; i < value->size(); ++i) {
            project.midiControlAssignments.push_back(
                decodeControlAssignment((*value)[i], element("midiControlAssignments", i)));
        }
    }
    if (const Json* value = optionalMember(root, "midiInputEnabled")) {
        project.midiInputEnabled = readBool(*value, "midiInputEnabled");
    }
    if (const Json* value = optionalMember(root, "showMIDIAssignLabels")) {
        project.showMIDIAssignLabels = readBool(*value, "showMIDIAssignLabels");
    }
    if (const Json* value = optionalMember(root, "followJumpEnabled")) {
        project.followJumpEnabled = readBool(*value, "followJumpEnabled");
    }
    return project;
}

// The document's members in their order, with null in place of the banks.
OrderedJson encodeRootOutline(const ProjectData& project) {
    OrderedJson out = OrderedJson::object();
    out["version"] = project.version;
    checkGrid(project.rows, project.columns);
    out["rows"] = project.rows;
    out["columns"] = project.columns;
    out["outputSettings"] = encodeOutputSettings(project.outputSettings);
    out["externalMonitorSettings"] =
        encodeExternalMonitor(project.externalMonitorSettings, "externalMonitorSettings");
    checkBankCount(project.banks.size());
    std::size_t slotCount = 0;
    for (const BankData& bank : project.banks) {
        slotCount += bank.slots.size();
    }
    checkSlotTotal(slotCount);
    out["banks"] = nullptr;  // written bank by bank by writeProject
    if (project.thumbnailsFolderBookmark) {
        out["thumbnailsFolderBookmark"] =
            writeBytes(*project.thumbnailsFolderBookmark, "thumbnailsFolderBookmark");
    }
    OrderedJson assignments = OrderedJson::array();
    for (std::size_t i = 0; i < project.midiControlAssignments.size(); ++i) {
        assignments.push_back(encodeControlAssignment(project.midiControlAssignments[i],
                                                      element("midiControlAssignments", i)));
    }
    out["midiControlAssignments"] = std::move(assignments);
    out["midiInputEnabled"] = project.midiInputEnabled;
    out["showMIDIAssignLabels"] = project.showMIDIAssignLabels;
    out["followJumpEnabled"] = project.followJumpEnabled;
    return out;
}

// Counts banks and slots from the parser's events, refusing as soon as a limit is passed.
class CountingHandler : public nlohmann::json_sax<Json> {
  public:
    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override {
        value();
        const Role role = stack_.empty()                      ? Role::root
                          : stack_.back().role == Role::banks ? Role::bank
                                                              : Role::other;
        stack_.push_back({role, {}});
        return true;
    }
    bool key(string_t& name) override {
        stack_.back().key = name;
        return true;
    }
    bool end_object() override {
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        value();
        Role role = Role::other;
        if (!stack_.empty() && stack_.back().role == Role::root && stack_.back().key == "banks") {
            role = Role::banks;
        } else if (!stack_.empty() && stack_.back().role == Role::bank &&
                   stack_.back().key == "slots") {
            role = Role::slots;
            slotsInBank_ = 0;
        }
        stack_.push_back({role, {}});
        return true;
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    enum class Role { root, banks, bank, slots, other };
    struct Level {
        Role role;
        std::string key;
    };

    // Every value that starts is counted as an element of the array it is in.
    bool value() {
        if (stack_.empty()) {
            return true;
        }
        if (stack_.back().role == Role::banks) {
            checkBankCount(++banks_);
        } else if (stack_.back().role == Role::slots) {
            checkBankSlots(++slotsInBank_, element("banks", banks_ - 1) + ".slots");
            checkSlotTotal(++slots_);
        }
        return true;
    }

    std::vector<Level> stack_;
    std::size_t banks_ = 0;
    std::size_t slots_ = 0;
    std::size_t slotsInBank_ = 0;
};

// Builds a document's tree from the parser's events as nlohmann's own parser does (of duplicate
// keys the last one wins), except for the elements of each bank's "slots" array: each is built
// apart, decoded into its record as soon as it is complete and dropped, so that memory holds the
// records and never the tree of every slot. A slot past the limits is only counted, and so is
// every slot after one that failed in its bank, and every slot of the banks after a bank that is
// refused: the document is refused before any of them would be used.
class DocumentReader final : public nlohmann::json_sax<Json> {
  public:
    ReadDocument take() { return std::move(document_); }

    bool null() override { return put(Json(nullptr)); }
    bool boolean(bool value) override { return put(Json(value)); }
    bool number_integer(number_integer_t value) override { return put(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return put(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return put(Json(value)); }
    bool string(string_t& value) override { return put(Json(std::move(value))); }
    bool binary(binary_t& value) override { return put(Json::binary(std::move(value))); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        Level& level = levels_.back();
        if (level.role == Role::root && name == "banks") {
            // A later "banks" member replaces an earlier one, and its banks start afresh.
            document_.banks.clear();
            banksOnlyCounted_ = false;
        } else if (level.role == Role::bank && name == "slots" && level.bank < kMaxBanks) {
            if (document_.banks.size() <= level.bank) {
                document_.banks.resize(level.bank + 1);
            }
            document_.banks[level.bank] = ReadSlots{};
        }
        level.key = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    enum class Role { root, banks, bank, slots, slot, other };
    struct Level {
        Json* value;
        Role role;
        std::string key;       // in an object, the member whose value comes next
        std::size_t bank = 0;  // for a bank and its slots, the bank's index
    };

    // The part a container that starts now plays in the document.
    Role roleOf(const Json& container) const {
        if (levels_.empty()) {
            return container.is_object() ? Role::root : Role::other;
        }
        const Level& parent = levels_.back();
        switch (parent.role) {
            case Role::root:
                return parent.key == "banks" && container.is_array() ? Role::banks : Role::other;
            case Role::banks:
                return container.is_object() ? Role::bank : Role::other;
            case Role::bank:
                return parent.key == "slots" && container.is_array() ? Role::slots : Role::other;
            case Role::slots:
                return Role::slot;
            default:
                return Role::other;
        }
    }

    // Puts a value where it belongs: the member just named, the next element of the open array,
    // or the document itself. A slot is held apart.
    Json& place(Json value) {
        if (levels_.empty()) {
            document_.root = std::move(value);
            return document_.root;
        }
        Level& parent = levels_.back();
        if (parent.role == Role::slots) {
            slot_ = std::move(value);
            return slot_;
        }
        if (parent.value->is_object()) {
            Json& placed = (*parent.value)[parent.key];
            placed = std::move(value);
            return placed;
        }
        parent.value->push_back(std::move(value));
        return parent.value->back();
    }

    bool put(Json value) {
        place(std::move(value));
        if (!levels_.empty() && levels_.back().role == Role::slots) {
            finishSlot();
        }
        return true;
    }

    bool open(Json container) {
        const Role role = roleOf(container);
        std::size_t bank = 0;
        if (role == Role::bank) {
            bank = levels_.back().value->size();
        } else if (role == Role::slots) {
            bank = levels_.back().bank;
        }
        Json& placed = place(std::move(container));
        levels_.push_back({&placed, role, {}, bank});
        return true;
    }

    bool close() {
        const Level level = std::move(levels_.back());
        levels_.pop_back();
        if (level.role == Role::slot) {
            finishSlot();
        } else if (level.role == Role::bank && level.bank < document_.banks.size()) {
            const ReadSlots& read = document_.banks[level.bank];
            banksOnlyCounted_ = banksOnlyCounted_ || read.error || read.count > kMaxSlotsInBank;
        }
        return true;
    }

    // Counts the slot just completed in the open "slots" array and decodes it when it can matter.
    void finishSlot() {
        const std::size_t bank = levels_.back().bank;
        ++document_.slotCount;
        if (bank < document_.banks.size()) {
            ReadSlots& read = document_.banks[bank];
            const std::size_t index = read.count++;
            if (!read.error && !banksOnlyCounted_ && read.count <= kMaxSlotsInBank &&
                document_.slotCount <= kMaxSlotsInDocument) {
                try {
                    std::vector<DefaultedSlotValue> defaulted;
                    read.slots.push_back(
                        decodeSlot(slot_, element(member(element("banks", bank), "slots"), index),
                                   &defaulted));
                    for (DefaultedSlotValue& value : defaulted) {
                        value.slot = index;
                        read.defaulted.push_back(std::move(value));
                    }
                } catch (ModelCodingError& error) {
                    read.error = std::move(error);
                }
            }
        }
        slot_ = Json();
    }

    ReadDocument document_;
    std::vector<Level> levels_;
    Json slot_;
    bool banksOnlyCounted_ = false;
};

}  // namespace

void checkDocumentFile(const std::filesystem::path& file) {
    const std::uintmax_t bytes = std::filesystem::file_size(file);
    if (bytes > kMaxDocumentBytes) {
        fail({}, "the document is " + std::to_string(bytes) + " bytes, more than the " +
                     std::to_string(kMaxDocumentBytes) + " bytes the largest project takes");
    }
    CountingHandler counting;
    scanJsonFile(file, counting);
}

// ---- slots (lenient: every member mended on its own, never the whole document) ----------------

SlotData decodeSlot(const Json& value, const std::string& path,
                    std::vector<DefaultedSlotValue>* defaulted) {
    requireObject(value, path);
    static const std::string freshAudio = freshText<AudioSettings>(encodeAudioSettings);
    static const std::string freshEqualizer =
        freshText<EqualizerSettings>([](const EqualizerSettings& r, const std::string& p) {
            return encodeFloatRecord(r, p, kEqualizerMembers);
        });
    static const std::string freshColor =
        freshText<ColorSettings>([](const ColorSettings& r, const std::string& p) {
            return encodeFloatRecord(r, p, kColorMembers);
        });
    static const std::string freshGeometry = freshText<GeometrySettings>(encodeGeometry);

    const SlotMends mends(defaulted);
    const MemberReader read(value, {}, mends, false);
    const SlotData fresh;
    SlotData slot;
    slot.name = read.text("name", fresh.name);
    slot.bookmarkData = read.maybe("bookmarkData", [](const Json& v) { return readBytes(v, {}); });
    slot.mediaType = read.choice("mediaType", fresh.mediaType);
    // No control sets it: a still shown for no time at all is shown for the fresh time.
    slot.stillDuration = read.number("stillDuration", fresh.stillDuration);
    if (!(slot.stillDuration > 0)) {
        mends.note("stillDuration", &*value.find("stillDuration"), numberText(fresh.stillDuration));
        slot.stillDuration = fresh.stillDuration;
    }
    slot.postRollMode = read.choice("postRollMode", fresh.postRollMode);
    slot.jumpTarget =
        read.maybe("jumpTarget", [](const Json& v) { return decodeJumpTarget(v, {}); });
    const auto point = [&](std::string_view name) -> std::optional<double> {
        const auto found = read.maybe(name, [](const Json& v) { return readDouble(v, {}); });
        return found ? std::optional(read.kept(name, *value.find(name), *found, kClipPointRange))
                     : std::nullopt;
    };
    slot.inPoint = point("inPoint");
    slot.outPoint = point("outPoint");
    if (slot.inPoint && slot.outPoint && *slot.inPoint > *slot.outPoint) {
        // The clip would end before it starts: it plays from its in point to its end.
        mends.note("outPoint", &*value.find("outPoint"), {});
        slot.outPoint.reset();
    }
    slot.transitionMode = read.choice("transitionMode", fresh.transitionMode);
    slot.dissolveDuration =
        read.number("dissolveDuration", fresh.dissolveDuration, kDissolveDurationRange);
    slot.playRate = read.number("playRate", fresh.playRate, kPlayRateRange);
    slot.audioSettings = *readRecord<AudioSettings>(read, "audioSettings", fresh.audioSettings,
                                                    freshAudio, readAudio);
    slot.equalizer = *readRecord<EqualizerSettings>(read, "equalizer", fresh.equalizer,
                                                    freshEqualizer, readEqualizer);
    slot.colorSettings = *readRecord<ColorSettings>(read, "colorSettings", fresh.colorSettings,
                                                    freshColor, readColor);
    slot.geometry = *readRecord<GeometrySettings>(read, "geometry", fresh.geometry, freshGeometry,
                                                  readGeometry);
    slot.clipInfo = readRecord<ClipInfo>(read, "clipInfo", std::nullopt, {}, readClipInfo);
    slot.thumbnailFileName = read.optionalText("thumbnailFileName");
    slot.shortcutKey = read.optionalText("shortcutKey");
    slot.standbyAtFirstFrame = read.flag("standbyAtFirstFrame", fresh.standbyAtFirstFrame);
    if (const Json* bindings = read.find("midiBindings", {})) {
        if (!bindings->is_array()) {
            mends.note("midiBindings", bindings, {});
        } else {
            // A binding that names no channel and note fires nothing: it is dropped.
            slot.midiBindings.emplace();
            slot.midiBindings->reserve(bindings->size());
            for (std::size_t i = 0; i < bindings->size(); ++i) {
                try {
                    slot.midiBindings->push_back(decodeNoteBinding((*bindings)[i], {}));
                } catch (const ModelCodingError&) {
                    mends.note(element("midiBindings", i), &(*bindings)[i], {});
                }
            }
        }
    }
    slot.midiOutputBinding =
        read.maybe("midiOutputBinding", [](const Json& v) { return decodeNoteBinding(v, {}); });
    return slot;
}

OrderedJson encodeSlot(const SlotData& slot, const std::string& path) {
    const auto key = [&](std::string_view name) { return member(path, name); };
    OrderedJson out = OrderedJson::object();
    out["name"] = writeString(slot.name, key("name"));
    if (slot.bookmarkData) {
        out["bookmarkData"] = writeBytes(*slot.bookmarkData, key("bookmarkData"));
    }
    out["mediaType"] = writeEnum(slot.mediaType);
    out["stillDuration"] = writeDouble(slot.stillDuration, key("stillDuration"));
    out["postRollMode"] = writeEnum(slot.postRollMode);
    if (slot.jumpTarget) {
        out["jumpTarget"] = encodeJumpTarget(*slot.jumpTarget);
    }
    if (slot.inPoint) {
        out["inPoint"] = writeDouble(*slot.inPoint, key("inPoint"));
    }
    if (slot.outPoint) {
        out["outPoint"] = writeDouble(*slot.outPoint, key("outPoint"));
    }
    out["transitionMode"] = writeEnum(slot.transitionMode);
    out["dissolveDuration"] = writeDouble(slot.dissolveDuration, key("dissolveDuration"));
    out["playRate"] = writeDouble(slot.playRate, key("playRate"));
    out["audioSettings"] = encodeAudioSettings(slot.audioSettings, key("audioSettings"));
    out["equalizer"] = encodeFloatRecord(slot.equalizer, key("equalizer"), kEqualizerMembers);
    out["colorSettings"] =
        encodeFloatRecord(slot.colorSettings, key("colorSettings"), kColorMembers);
    out["geometry"] = encodeGeometry(slot.geometry, key("geometry"));
    if (slot.clipInfo) {
        out["clipInfo"] = encodeClipInfo(*slot.clipInfo, key("clipInfo"));
    }
    if (slot.thumbnailFileName) {
        out["thumbnailFileName"] = writeString(*slot.thumbnailFileName, key("thumbnailFileName"));
    }
    if (slot.shortcutKey) {
        out["shortcutKey"] = writeString(*slot.shortcutKey, key("shortcutKey"));
    }
    out["standbyAtFirstFrame"] = slot.standbyAtFirstFrame;
    if (slot.midiBindings) {
        OrderedJson bindings = OrderedJson::array();
        for (const MIDINoteBinding& binding : *slot.midiBindings) {
            bindings.push_back(encodeNoteBinding(binding));
        }
        out["midiBindings"] = std::move(bindings);
    }
    if (slot.midiOutputBinding) {
        out["midiOutputBinding"] = encodeNoteBinding(*slot.midiOutputBinding);
    }
    return out;
}

void writeProject(const ProjectData& project, std::ostream& out) {
    JsonTextWriter writer(out);
    writeObject(writer, encodeRootOutline(project), "banks", [&] {
        writer.beginArray();
        for (std::size_t i = 0; i < project.banks.size(); ++i) {
            writeBank(writer, project.banks[i], element("banks", i));
        }
        writer.endArray();
    });
}

std::string encodeProject(const ProjectData& project) {
    std::ostringstream out;
    writeProject(project, out);
    return std::move(out).str();
}

ProjectData decodeProject(std::string_view json, std::vector<DefaultedSlotValue>* defaulted) {
    checkJsonNesting(json);
    DocumentReader reader;
    parseJsonEvents(json, reader);
    return decodeRoot(reader.take(), defaulted);
}

ProjectData readProjectFile(const std::filesystem::path& file,
                            std::vector<DefaultedSlotValue>* defaulted) {
    checkDocumentFile(file);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::filesystem::filesystem_error(
            "cannot open the file", file,
            std::make_error_code(std::errc::no_such_file_or_directory));
    }
    DocumentReader reader;
    parseJsonEvents(in, reader);
    return decodeRoot(reader.take(), defaulted);
}

}  // namespace kestio
