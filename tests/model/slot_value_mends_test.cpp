// A slot value this program cannot play is mended as the document is read, never refusing the
// show: a value of the wrong type or missing from its settings record takes its fresh value, a
// number beyond what the inspector sets takes the nearer bound, and a jump target outside the
// show or an out point before the in point is dropped. Each mend is reported with its slot.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "coding_test_support.h"
#include "model/color_values.h"
#include "model/project_coding.h"
#include "model/slot_value_ranges.h"

namespace kestio {
namespace {

using test::documentWithSlots;
using V = DefaultedSlotValue;

std::string withAudio(const std::string& masterLevel) {
    return R"({"audioSettings": {"masterLevel": )" + masterLevel +
           R"(, "isMuted": false, "channelLevels": [0, 0], "activeChannels": 2}})";
}

std::string withColor(const std::string& members) {
    return R"({"colorSettings": {)" + members + "}}";
}

constexpr const char* kColorWithoutGamma =
    R"("brightness": 0, "contrast": 1, "saturation": 1, "hue": 0, "redGain": 1, "greenGain": 1, "blueGain": 1)";

std::string withEqualizer(const std::string& lastBand) {
    return R"({"equalizer": {"hz80": 0, "hz315": 0, "hz800": 0, "khz1_25": 0, "khz2_5": 0, "khz3_2": )" +
           lastBand + "}}";
}

std::string withClip(const std::string& members) {
    return R"({"clipInfo": {"codec": "", "resolution": "", "fps": 0, "duration": 0, "channels": 0, "sampleRate": 0, "audioBitDepth": 0, )" +
           members + "}}";
}

// Whether the member, as the slot is written again, holds what the report says it was read as:
// the mended value is the one that plays.
bool writtenAs(const SlotData& slot, const std::string& key, const std::string& readAs) {
    nlohmann::ordered_json value = encodeSlot(slot);
    for (std::size_t start = 0; start <= key.size();) {
        const std::size_t dot = std::min(key.find('.', start), key.size());
        const std::string name = key.substr(start, dot - start);
        const std::size_t bracket = name.find('[');
        value = value.value(name.substr(0, bracket), nlohmann::ordered_json());
        if (bracket != std::string::npos) {
            value = value.at(std::stoul(name.substr(bracket + 1)));
        }
        start = dot + 1;
    }
    if (value.is_null()) {
        return readAs.empty();
    }
    if (value.is_string()) {
        return value.get<std::string>() == readAs || value.dump() == readAs;
    }
    return nlohmann::ordered_json::parse(readAs) == value;
}

struct Mend {
    const char* what;
    std::string slots;  // the first bank's slots
    std::vector<V> mends;
};

TEST(SlotValueMends, EachFieldIsMendedAloneAndNamedWithItsSlot) {
    const std::string freshAudio = R"({"masterLevel":0.0,"isMuted":false,"chan…)";
    const Mend rows[] = {
        // Numbers beyond what the inspector sets.
        {"gain far above full scale",
         withAudio("60"),
         {{0, 0, "audioSettings.masterLevel", "60", "12"}}},
        {"gain beyond single precision",
         withAudio("1e39"),
         {{0, 0, "audioSettings.masterLevel", "1e+39", "12"}}},
        {"play rate far too fast", R"({"playRate": 1000})", {{0, 0, "playRate", "1000", "8"}}},
        {"play rate backwards", R"({"playRate": -1})", {{0, 0, "playRate", "-1", "0.1"}}},
        {"dissolve never ending",
         R"({"dissolveDuration": 1e9})",
         {{0, 0, "dissolveDuration", "1000000000.0", "5"}}},
        {"colour far beyond white",
         withColor(
             R"("brightness": 9.2e18, "contrast": 1, "saturation": 1, "hue": 0, "gamma": 1, "redGain": 1, "greenGain": 1, "blueGain": 1)"),
         {{0, 0, "colorSettings.brightness", "9.2e+18", "1"}}},
        {"equaliser band beyond double the range",
         withEqualizer("1e308"),
         {{0, 0, "equalizer.khz3_2", "1e+308", "12"}}},
        {"equaliser band beyond single precision",
         withEqualizer("-3.40282357e38"),
         {{0, 0, "equalizer.khz3_2", "-3.40282357e+38", "-12"}}},
        {"still shown for less than no time",
         R"({"stillDuration": -5})",
         {{0, 0, "stillDuration", "-5", "5"}}},
        {"in point before the clip", R"({"inPoint": -5})", {{0, 0, "inPoint", "-5", "0"}}},
        {"out point before the in point",
         R"({"inPoint": 4, "outPoint": 2})",
         {{0, 0, "outPoint", "2", ""}}},
        {"jump target outside the show",
         R"({"jumpTarget": {"bank": 99, "slot": 99}}, {})",
         {{0, 0, "jumpTarget", R"({"bank":99,"slot":99})", ""}}},
        {"jump target past the bank's slots",
         R"({}, {"jumpTarget": {"bank": 0, "slot": 2}})",
         {{0, 1, "jumpTarget", R"({"bank":0,"slot":2})", ""}}},
        // Texts that name no value.
        {"unknown geometry mode",
         R"({"geometry": {"mode": "FILL", "posX": 1, "posY": 2, "scaleX": 30, "scaleY": 40}})",
         {{0, 0, "geometry.mode", R"("FILL")", "fitToWindow"}}},
        // Values of the wrong type.
        {"name a number", R"({"name": 5})", {{0, 0, "name", "5", "\"\""}}},
        {"post-roll a number", R"({"postRollMode": 1})", {{0, 0, "postRollMode", "1", "freeze"}}},
        {"media type an object", R"({"mediaType": {}})", {{0, 0, "mediaType", "{}", "video"}}},
        {"transition a boolean",
         R"({"transitionMode": true})",
         {{0, 0, "transitionMode", "true", "cut"}}},
        {"play rate a string", R"({"playRate": "1.0"})", {{0, 0, "playRate", R"("1.0")", "1"}}},
        {"still duration a boolean",
         R"({"stillDuration": true})",
         {{0, 0, "stillDuration", "true", "5"}}},
        {"in point an array", R"({"inPoint": [1]})", {{0, 0, "inPoint", "[1]", ""}}},
        {"standby as number",
         R"({"standbyAtFirstFrame": 1})",
         {{0, 0, "standbyAtFirstFrame", "1", "false"}}},
        {"shortcut key a number", R"({"shortcutKey": 1})", {{0, 0, "shortcutKey", "1", ""}}},
        {"thumbnail name an object",
         R"({"thumbnailFileName": {}})",
         {{0, 0, "thumbnailFileName", "{}", ""}}},
        {"bookmark length not a multiple of four",
         R"({"bookmarkData": "abc"})",
         {{0, 0, "bookmarkData", R"("abc")", ""}}},
        {"bookmark without padding",
         R"({"bookmarkData": "YQ"})",
         {{0, 0, "bookmarkData", R"("YQ")", ""}}},
        {"bookmark padding inside",
         R"({"bookmarkData": "ab=c"})",
         {{0, 0, "bookmarkData", R"("ab=c")", ""}}},
        {"bookmark three pads",
         R"({"bookmarkData": "a==="})",
         {{0, 0, "bookmarkData", R"("a===")", ""}}},
        {"bookmark with white space",
         R"({"bookmarkData": "ab c"})",
         {{0, 0, "bookmarkData", R"("ab c")", ""}}},
        {"bookmark with line break",
         R"({"bookmarkData": "YWJj\nZGVm"})",
         {{0, 0, "bookmarkData", R"("YWJj\nZGVm")", ""}}},
        {"bookmark in URL alphabet",
         R"({"bookmarkData": "-_-_"})",
         {{0, 0, "bookmarkData", R"("-_-_")", ""}}},
        {"jump target missing slot",
         R"({"jumpTarget": {"bank": 1}})",
         {{0, 0, "jumpTarget", R"({"bank":1})", ""}}},
        {"jump target beyond 64 bits",
         R"({"jumpTarget": {"bank": 1, "slot": 9223372036854775808}})",
         {{0, 0, "jumpTarget", R"({"bank":1,"slot":9223372036854775808})", ""}}},
        {"jump target fractional",
         R"({"jumpTarget": {"bank": 0.5, "slot": 0}})",
         {{0, 0, "jumpTarget", R"({"bank":0.5,"slot":0})", ""}}},
        {"audio settings without active channels",
         R"({"audioSettings": {"masterLevel": 0, "isMuted": false, "channelLevels": []}})",
         {{0, 0, "audioSettings.activeChannels", "", "2"}}},
        {"channel level null",
         R"({"audioSettings": {"masterLevel": 0, "isMuted": false, "channelLevels": [0, null], "activeChannels": 2}})",
         {{0, 0, "audioSettings.channelLevels[1]", "null", "0"}}},
        {"audio settings an array",
         R"({"audioSettings": []})",
         {{0, 0, "audioSettings", "[]", freshAudio}}},
        {"colour without gamma",
         withColor(kColorWithoutGamma),
         {{0, 0, "colorSettings.gamma", "", "1"}}},
        {"colour without hue",
         withColor(
             R"("brightness": 0, "contrast": 1, "saturation": 1, "gamma": 1, "redGain": 1, "greenGain": 1, "blueGain": 1)"),
         {{0, 0, "colorSettings.hue", "", "0"}}},
        {"colour hue null",
         withColor(std::string(kColorWithoutGamma) + R"(, "gamma": 1, "hue": null)"),
         {{0, 0, "colorSettings.hue", "null", "0"}}},
        {"geometry without mode",
         R"({"geometry": {"posX": 0, "posY": 0, "scaleX": 100, "scaleY": 100}})",
         {{0, 0, "geometry.mode", "", "fitToWindow"}}},
        {"geometry mode a number",
         R"({"geometry": {"mode": 5, "posX": 0, "posY": 0, "scaleX": 100, "scaleY": 100}})",
         {{0, 0, "geometry.mode", "5", "fitToWindow"}}},
        {"clip bit rate fractional",
         withClip(R"("bitRate": 1.5, "audioCodec": "")"),
         {{0, 0, "clipInfo.bitRate", "1.5", "0"}}},
        {"clip date a string",
         withClip(R"("bitRate": 1, "audioCodec": "", "sourceModifiedAt": "today")"),
         {{0, 0, "clipInfo.sourceModifiedAt", R"("today")", ""}}},
        {"clip without audio codec",
         withClip(R"("bitRate": 1)"),
         {{0, 0, "clipInfo.audioCodec", "", "\"\""}}},
        {"binding without note",
         R"({"midiBindings": [{"channel": 1, "note": 2}, {"channel": 1}]})",
         {{0, 0, "midiBindings[1]", R"({"channel":1})", ""}}},
        {"bindings an object",
         R"({"midiBindings": {"channel": 1}})",
         {{0, 0, "midiBindings", R"({"channel":1})", ""}}},
        {"output binding an array",
         R"({"midiOutputBinding": []})",
         {{0, 0, "midiOutputBinding", "[]", ""}}},
        // Several in one slot and in several slots, in writing order.
        {"fourth slot post-roll",
         R"({}, {}, {}, {"name": "x", "postRollMode": 2})",
         {{0, 3, "postRollMode", "2", "freeze"}}},
        {"three members of one slot",
         R"({"playRate": "x", "postRollMode": 0, "mediaType": 0})",
         {{0, 0, "mediaType", "0", "video"},
          {0, 0, "postRollMode", "0", "freeze"},
          {0, 0, "playRate", R"("x")", "1"}}},
        {"a record's faulty and missing members",
         withColor(R"("blueGain": null, "brightness": "0", "contrast": 1)"),
         {{0, 0, "colorSettings.brightness", R"("0")", "0"},
          {0, 0, "colorSettings.saturation", "", "1"},
          {0, 0, "colorSettings.hue", "", "0"},
          {0, 0, "colorSettings.gamma", "", "1"},
          {0, 0, "colorSettings.redGain", "", "1"},
          {0, 0, "colorSettings.greenGain", "", "1"},
          {0, 0, "colorSettings.blueGain", "null", "1"}}},
        {"a jump target among its slot's mends",
         R"({"jumpTarget": {"bank": 5, "slot": 0}, "playRate": 9}, {"playRate": 0})",
         {{0, 0, "playRate", "9", "8"},
          {0, 0, "jumpTarget", R"({"bank":5,"slot":0})", ""},
          {0, 1, "playRate", "0", "0.1"}}},
    };
    for (const Mend& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<V> mends;
        ProjectData project;
        ASSERT_NO_THROW(project = decodeProject(documentWithSlots(row.slots), &mends));
        EXPECT_EQ(mends, row.mends);
        for (const V& mend : mends) {
            const SlotData& slot = project.banks.at(mend.bank).slots.at(mend.slot);
            // A dropped list element leaves no place to look at; a record's text is cut short.
            const bool cut = mend.readAs.ends_with("…");
            if (!cut && (mend.key.find('[') == std::string::npos || !mend.readAs.empty())) {
                EXPECT_TRUE(writtenAs(slot, mend.key, mend.readAs)) << mend.key;
            }
        }
    }
}

// Every number of a slot that the inspector sets within a range, read from below its lower
// bound and from above its upper bound: it takes the nearer bound, named with its key.
TEST(SlotValueMends, EveryBoundedNumberOfASlotIsKeptWithinItsRangeOnBothSides) {
    using Json = nlohmann::ordered_json;
    struct Field {
        std::string record;  // empty: a member of the slot itself
        std::string member;
        ValueRange range;
        std::vector<double> below;
        std::vector<double> above;
    };
    Json color = Json::object();
    std::vector<Field> fields;
    for (const ColorValue& value : kColorValues) {
        color[std::string(value.key)] = value.neutral;
        fields.push_back({"colorSettings",
                          std::string(value.key),
                          {value.lower, value.upper},
                          {value.lower - 1.0},
                          {value.upper + 1.0, 9.2e18}});
    }
    Json equalizer = Json::object();
    for (const char* band : {"hz80", "hz315", "hz800", "khz1_25", "khz2_5", "khz3_2"}) {
        equalizer[band] = 0;
        fields.push_back({"equalizer", band, kEqualizerBandRange, {-13}, {12.5, 1e308}});
    }
    fields.push_back({"audioSettings", "masterLevel", kMasterLevelRange, {-41, -1e39}, {60}});
    fields.push_back({"", "playRate", kPlayRateRange, {0, -1}, {8.5}});
    fields.push_back({"", "dissolveDuration", kDissolveDurationRange, {0, -3}, {5.5, 1e9}});
    fields.push_back({"", "inPoint", kClipPointRange, {-0.5}, {}});
    fields.push_back({"", "outPoint", kClipPointRange, {-0.5}, {}});
    fields.push_back({"geometry", "posX", kPositionXRange, {-5761, -1e9}, {5761, 1e9}});
    fields.push_back({"geometry", "posY", kPositionYRange, {-3241, -1e9}, {3241, 1e9}});
    fields.push_back({"geometry", "scaleX", kScaleRange, {9.5, 0, -50}, {401, 1e9, 1e308}});
    fields.push_back({"geometry", "scaleY", kScaleRange, {9.5, 0, -50}, {401, 1e9, 1e308}});
    const Json records = {
        {"audioSettings",
         {{"masterLevel", 0},
          {"isMuted", false},
          {"channelLevels", {0, 0}},
          {"activeChannels", 2}}},
        {"equalizer", equalizer},
        {"colorSettings", color},
        {"geometry",
         {{"mode", "custom"}, {"posX", 960}, {"posY", 540}, {"scaleX", 100}, {"scaleY", 100}}}};
    for (const Field& field : fields) {
        const std::string key =
            field.record.empty() ? field.member : field.record + "." + field.member;
        for (const bool low : {true, false}) {
            for (const double value : low ? field.below : field.above) {
                SCOPED_TRACE(key + " " + Json(value).dump());
                Json slot = Json::object();
                if (field.record.empty()) {
                    slot[field.member] = value;
                } else {
                    slot[field.record] = records.at(field.record);
                    slot[field.record][field.member] = value;
                }
                std::vector<V> mends;
                const ProjectData project = decodeProject(documentWithSlots(slot.dump()), &mends);
                ASSERT_EQ(mends.size(), 1u);
                EXPECT_EQ(mends[0].key, key);
                EXPECT_EQ(mends[0].found, Json(value).dump());
                const double bound = low ? field.range.lower : field.range.upper;
                // Float members hold the bound as a Float.
                EXPECT_NEAR(std::stod(mends[0].readAs), bound,
                            1e-6 * std::max(1.0, std::abs(bound)));
                EXPECT_TRUE(writtenAs(project.banks[0].slots[0], key, mends[0].readAs));
            }
        }
    }
}

TEST(SlotValueMends, ASlotOfTwoBanksAndTheReplacedSlotsMemberAreMendedWhereTheyStand) {
    std::vector<V> mends;
    decodeProject(R"({"banks": [{"name": "B", "slots": [{}, {"mediaType": 0}]},
                                {"name": "C", "slots": [{"postRollMode": 0}]},
                                {"name": "D", "slots": [{"mediaType": 1}], "slots": [{}, {"mediaType": 2}]}]})",
                  &mends);
    EXPECT_EQ(mends, (std::vector<V>{{0, 1, "mediaType", "0", "video"},
                                     {1, 0, "postRollMode", "0", "freeze"},
                                     {2, 1, "mediaType", "2", "video"}}));
}

TEST(SlotValueMends, ValuesWithinTheirRangesAreReadAsWritten) {
    SlotData edge;
    edge.audioSettings.masterLevel = -40;
    edge.playRate = 0.1;
    edge.dissolveDuration = 0.033;
    edge.equalizer.hz80 = -12;
    edge.colorSettings.gamma = 0.1f;
    edge.colorSettings.hue = 180;
    edge.inPoint = 0;
    edge.outPoint = 0;
    edge.stillDuration = 1e-3;
    ProjectData project(1, 2);
    project.banks[0].slots[1] = edge;
    project.banks[19].slots[0].jumpTarget = JumpTarget{19, 1};
    std::vector<V> mends;
    EXPECT_EQ(decodeProject(encodeProject(project), &mends), project);
    EXPECT_EQ(mends, std::vector<V>{});
}

}  // namespace
}  // namespace kestio
