// Reading documents from other writers, and the exact form of what we write.

#include "model/project_coding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "coding_test_support.h"
#include "model/json_text.h"
#include "model/reference_date.h"

namespace kestio {
namespace {

using test::documentWithSlots;
using test::readTestDocument;

SlotData decodeSlotText(const std::string& text) {
    return decodeSlot(parseJsonText(text));
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

// A slot with every stored field set, for round trips.
SlotData fullSlot() {
    SlotData slot;
    slot.name = "Finale — 終幕";
    slot.bookmarkData = std::vector<std::uint8_t>{0, 1, 2, 253, 254, 255};
    slot.mediaType = MediaType::still;
    slot.stillDuration = 7.25;
    slot.postRollMode = PostRollMode::jump;
    slot.jumpTarget = JumpTarget{3, 5};
    slot.inPoint = 0.1;
    slot.outPoint = 12.0 / 7.0;
    slot.transitionMode = TransitionMode::dissolve;
    slot.dissolveDuration = 0.5;
    slot.playRate = 1.0 / 3.0;
    slot.audioSettings = AudioSettings{-12.3f, true, {0.1f, -0.2f, 3.0f}, 3};
    slot.equalizer = EqualizerSettings{1.5f, -2.25f, 0.3f, 4.0f, -6.1f, 12.0f};
    slot.colorSettings = ColorSettings{0.1f, 1.2f, 0.8f, -45.5f, 2.2f, 1.1f, 0.9f, 0.7f};
    slot.midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {16, 127}};
    slot.midiOutputBinding = MIDINoteBinding{10, 36};
    slot.geometry = GeometrySettings{GeometryMode::originalSize, -10.5, 2000.25, 33.3, 250};
    slot.clipInfo = ClipInfo{"apcn", "3840x2160", 59.94, 5'000'000'000, 3600.04,
                             16,     96000,       24,    "lpcm",        760'000'000.123};
    slot.thumbnailFileName = "thumb_3_4.png";
    slot.shortcutKey = "F5";
    slot.standbyAtFirstFrame = true;
    return slot;
}

ProjectData fullProject() {
    ProjectData project(2, 3);
    project.version = 3;
    project.outputSettings = OutputSettings{OutputResolution::hd720p, OutputFrameRate::fps23_976};
    project.externalMonitorSettings =
        ExternalMonitorSettings{true, 2, "HDMI-1 \"Stage\"", 1280, 720};
    project.banks[4].slots[2] = fullSlot();
    project.thumbnailsFolderBookmark = std::vector<std::uint8_t>{'K', 'B', 'M', 0};
    project.midiControlAssignments = {{"bank:0", 1, 36}, {"play", 2, 60}};
    project.midiInputEnabled = true;
    project.showMIDIAssignLabels = true;
    project.followJumpEnabled = false;
    return project;
}

TEST(DocumentFromAnotherWriter, ReadsWithDefaultsForWhatIsMissing) {
    const ProjectData project = decodeProject(readTestDocument("foreign_style.json"));

    EXPECT_EQ(project.version, 2);
    EXPECT_EQ(project.rows, 4);
    EXPECT_EQ(project.columns, 10);
    EXPECT_EQ(project.outputSettings,
              (OutputSettings{OutputResolution::uhd2160p, OutputFrameRate::fps59_94}));
    EXPECT_EQ(project.externalMonitorSettings, ExternalMonitorSettings{});
    EXPECT_EQ(project.thumbnailsFolderBookmark, (std::vector<std::uint8_t>{'b', 'o', 'o', 'k'}));
    EXPECT_EQ(project.midiControlAssignments,
              (std::vector<MIDIControlAssignment>{{"bank:0", 2, 1}}));
    EXPECT_TRUE(project.midiInputEnabled);
    EXPECT_FALSE(project.showMIDIAssignLabels);
    EXPECT_FALSE(project.followJumpEnabled);
    ASSERT_EQ(project.banks.size(), 1u);
    EXPECT_EQ(project.banks[0].name, "BANK 1");
    ASSERT_EQ(project.banks[0].slots.size(), 3u);
}

TEST(DocumentFromAnotherWriter, ReadsEscapedTextIntegralNumbersAndShuffledMembers) {
    const ProjectData project = decodeProject(readTestDocument("foreign_style.json"));
    const SlotData& slot = project.banks[0].slots[0];

    EXPECT_EQ(slot.name, "Op\xC3\xA9ning \xF0\x9F\x8E\xAC");
    EXPECT_EQ(slot.bookmarkData, (std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0xFF}));
    EXPECT_EQ(slot.mediaType, MediaType::video);
    EXPECT_EQ(slot.playRate, 2.0);
    EXPECT_EQ(slot.stillDuration, 5.0);
    EXPECT_EQ(slot.postRollMode, PostRollMode::jump);
    EXPECT_EQ(slot.jumpTarget, (JumpTarget{0, 2}));
    EXPECT_EQ(slot.inPoint, 1.5);
    EXPECT_FALSE(slot.outPoint);
    EXPECT_EQ(slot.geometry, (GeometrySettings{GeometryMode::custom, -120, 0, 75.5, 50}));
    EXPECT_EQ(slot.colorSettings,
              (ColorSettings{0.1f, 1.2f, 0.0f, 15.0f, 1.0f, 1.0f, 0.95f, 1.0f}));
    EXPECT_EQ(slot.equalizer, EqualizerSettings{});
    EXPECT_EQ(slot.audioSettings, (AudioSettings{-6.5f, false, {-3.0f, 0.0f}, 2}));
    EXPECT_EQ(slot.clipInfo, (ClipInfo{"avc1", "1920x1080", 29.97, 12'000'000, 62.0, 2, 48000.0, 16,
                                       "aac ", 760000000.25}));
    EXPECT_EQ(slot.midiBindings, (std::vector<MIDINoteBinding>{{1, 60}, {10, 36}}));
    EXPECT_EQ(slot.thumbnailFileName, "thumb_0_0.png");
    EXPECT_FALSE(slot.thumbnail);
    EXPECT_FALSE(slot.videoURL);
    EXPECT_FALSE(slot.isFileMissing);
}

TEST(DocumentFromAnotherWriter, ReadsNullsAndEmptyObjectsAsFreshValues) {
    const ProjectData project = decodeProject(readTestDocument("foreign_style.json"));
    const SlotData& music = project.banks[0].slots[1];
    EXPECT_EQ(music.name, "\xE9\x9F\xB3\xE6\xA5\xBD / BGM");
    EXPECT_EQ(music.mediaType, MediaType::audio);
    EXPECT_EQ(music.postRollMode, PostRollMode::freeze);
    EXPECT_EQ(music.transitionMode, TransitionMode::dissolve);
    EXPECT_EQ(music.dissolveDuration, 3.0);
    EXPECT_EQ(music.shortcutKey, "q");
    EXPECT_TRUE(music.standbyAtFirstFrame);
    EXPECT_EQ(music.midiOutputBinding, (MIDINoteBinding{16, 127}));
    ASSERT_TRUE(music.midiBindings);
    EXPECT_TRUE(music.midiBindings->empty());

    EXPECT_EQ(project.banks[0].slots[2], SlotData{});
}

TEST(DocumentFromAnotherWriter, IsRewrittenInOurFormStably) {
    const ProjectData project = decodeProject(readTestDocument("foreign_style.json"));
    const std::string first = encodeProject(project);
    EXPECT_EQ(first.find("\\/"), std::string::npos);
    EXPECT_NE(first.find("\"name\": \"Op\xC3\xA9ning \xF0\x9F\x8E\xAC\""), std::string::npos);
    EXPECT_NE(first.find("\"bookmarkData\": \"AAEC/w==\""), std::string::npos);
    EXPECT_NE(first.find("\"playRate\": 2.0"), std::string::npos);
    EXPECT_EQ(first.find("futureFeature"), std::string::npos);
    EXPECT_EQ(first.find("generator"), std::string::npos);

    const ProjectData reread = decodeProject(first);
    EXPECT_EQ(reread, project);
    EXPECT_EQ(encodeProject(reread), first);
}

TEST(DocumentRoundTrip, WriteReadWriteGivesTheSameBytes) {
    const ProjectData project = fullProject();
    const std::string first = encodeProject(project);
    const ProjectData reread = decodeProject(first);
    EXPECT_EQ(reread, project);
    EXPECT_EQ(reread.banks[4].slots[2].shortcutKey, "F5");
    EXPECT_TRUE(reread.banks[4].slots[2].standbyAtFirstFrame);
    EXPECT_EQ(encodeProject(reread), first);
}

// The document is written piece by piece; its text must be exactly the pretty print of the
// whole tree it holds, whatever is empty in it.
TEST(DocumentRoundTrip, TheTextIsThePrettyPrintOfItsWholeTree) {
    ProjectData withoutSlots(0, 0);
    withoutSlots.midiControlAssignments = {{"play", 1, 2}};
    for (const ProjectData& project :
         {fullProject(), ProjectData(), withoutSlots, ProjectData(1, 1)}) {
        const std::string text = encodeProject(project);
        EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(2), text);
    }
}

TEST(DocumentRoundTrip, FreshProjectComesBackEqualWithOnlyTheAlwaysWrittenKeys) {
    const ProjectData project(4, 10);
    const std::string text = encodeProject(project);
    EXPECT_EQ(decodeProject(text), project);

    const nlohmann::json document = parseJsonText(text);
    EXPECT_FALSE(document.contains("thumbnailsFolderBookmark"));
    EXPECT_EQ(document["banks"].size(), 20u);
    EXPECT_EQ(document["banks"][19]["slots"][39]["name"], "800");
    for (const auto& bank : document["banks"]) {
        for (const auto& slot : bank["slots"]) {
            ASSERT_EQ(slot.size(), 12u);
        }
    }
}

TEST(DocumentRoundTrip, RunTimeFieldsAreNeverWritten) {
    SlotData slot;
    slot.videoURL = "/media/clip.mov";
    slot.thumbnail = std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'};
    slot.waveformData = std::vector<float>{0.5f};
    slot.isFileMissing = true;
    const auto encoded = encodeSlot(slot);
    EXPECT_EQ(encoded.size(), 12u);

    const SlotData reread = decodeSlotText(encoded.dump());
    EXPECT_FALSE(reread.videoURL);
    EXPECT_FALSE(reread.thumbnail);
    EXPECT_FALSE(reread.waveformData);
    EXPECT_FALSE(reread.isFileMissing);
}

TEST(DocumentRoot, OnlyEmptyBanksReadsAsDefaults) {
    EXPECT_EQ(decodeProject(R"({"banks": []})"), ProjectData{});
    EXPECT_EQ(decodeProject(R"({"banks": [], "version": null, "rows": null,
        "outputSettings": null, "externalMonitorSettings": null, "midiControlAssignments": null,
        "thumbnailsFolderBookmark": null, "followJumpEnabled": null})"),
              ProjectData{});
}

TEST(DocumentRoot, CountsAndVersionAreCarriedAsRead) {
    const ProjectData project = decodeProject(R"({"version": 7, "rows": 3, "columns": 5,
        "banks": [{"name": "A", "slots": [{}, {}, {}, {}, {}, {}, {}]}]})");
    EXPECT_EQ(project.version, 7);
    EXPECT_EQ(project.rows, 3);
    EXPECT_EQ(project.columns, 5);
    EXPECT_EQ(project.banks[0].slots.size(), 7u);
    EXPECT_NE(encodeProject(project).find("\"version\": 7,"), std::string::npos);
}

TEST(DocumentRoot, MembersAreWrittenInFieldOrder) {
    const auto document = nlohmann::ordered_json::parse(encodeProject(fullProject()));
    EXPECT_EQ(keysOf(document),
              (std::vector<std::string>{
                  "version", "rows", "columns", "outputSettings", "externalMonitorSettings",
                  "banks", "thumbnailsFolderBookmark", "midiControlAssignments", "midiInputEnabled",
                  "showMIDIAssignLabels", "followJumpEnabled"}));
    EXPECT_EQ(keysOf(document["banks"][0]), (std::vector<std::string>{"name", "slots"}));
    EXPECT_EQ(
        keysOf(document["externalMonitorSettings"]),
        (std::vector<std::string>{"isEnabled", "screenIndex", "screenName", "width", "height"}));
}

TEST(SlotCoding, EmptyObjectReadsFreshAndWritesTheTwelveKeys) {
    const SlotData slot = decodeSlotText("{}");
    EXPECT_EQ(slot, SlotData{});
    EXPECT_EQ(slot.audioSettings.channelLevels, std::vector<float>(8, 0.0f));
    EXPECT_EQ(keysOf(encodeSlot(slot)),
              (std::vector<std::string>{"name", "mediaType", "stillDuration", "postRollMode",
                                        "transitionMode", "dissolveDuration", "playRate",
                                        "audioSettings", "equalizer", "colorSettings", "geometry",
                                        "standbyAtFirstFrame"}));
}

TEST(SlotCoding, FullSlotHasTheExactTextForm) {
    SlotData slot = fullSlot();
    slot.audioSettings.channelLevels = {0.1f};
    slot.midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    slot.name = "Fin/ale \"1\"";
    const std::string expected = R"({
  "name": "Fin/ale \"1\"",
  "bookmarkData": "AAEC/f7/",
  "mediaType": "still",
  "stillDuration": 7.25,
  "postRollMode": "jump",
  "jumpTarget": {
    "bank": 3,
    "slot": 5
  },
  "inPoint": 0.1,
  "outPoint": 1.7142857142857142,
  "transitionMode": "dissolve",
  "dissolveDuration": 0.5,
  "playRate": 0.3333333333333333,
  "audioSettings": {
    "masterLevel": -12.3,
    "isMuted": true,
    "channelLevels": [
      0.1
    ],
    "activeChannels": 3
  },
  "equalizer": {
    "hz80": 1.5,
    "hz315": -2.25,
    "hz800": 0.3,
    "khz1_25": 4.0,
    "khz2_5": -6.1,
    "khz3_2": 12.0
  },
  "colorSettings": {
    "brightness": 0.1,
    "contrast": 1.2,
    "saturation": 0.8,
    "hue": -45.5,
    "gamma": 2.2,
    "redGain": 1.1,
    "greenGain": 0.9,
    "blueGain": 0.7
  },
  "geometry": {
    "mode": "originalSize",
    "posX": -10.5,
    "posY": 2000.25,
    "scaleX": 33.3,
    "scaleY": 250.0
  },
  "clipInfo": {
    "codec": "apcn",
    "resolution": "3840x2160",
    "fps": 59.94,
    "bitRate": 5000000000,
    "duration": 3600.04,
    "channels": 16,
    "sampleRate": 96000.0,
    "audioBitDepth": 24,
    "audioCodec": "lpcm",
    "sourceModifiedAt": 760000000.123
  },
  "thumbnailFileName": "thumb_3_4.png",
  "shortcutKey": "F5",
  "standbyAtFirstFrame": true,
  "midiBindings": [
    {
      "channel": 1,
      "note": 60
    }
  ],
  "midiOutputBinding": {
    "channel": 10,
    "note": 36
  }
})";
    EXPECT_EQ(formatJsonText(encodeSlot(slot)), expected);
}

TEST(SlotCoding, SingleSlotRoundTripsOnItsOwn) {
    const SlotData slot = fullSlot();
    const SlotData reread = decodeSlotText(formatJsonText(encodeSlot(slot)));
    EXPECT_EQ(reread, slot);
    EXPECT_EQ(reread.shortcutKey, slot.shortcutKey);
    EXPECT_EQ(reread.standbyAtFirstFrame, slot.standbyAtFirstFrame);
    EXPECT_EQ(decodeSlot(encodeSlot(slot)), slot);
}

TEST(SlotCoding, EmptyBindingListStaysDistinctFromNone) {
    SlotData slot;
    slot.midiBindings.emplace();
    const auto encoded = encodeSlot(slot);
    ASSERT_TRUE(encoded.contains("midiBindings"));
    EXPECT_TRUE(encoded["midiBindings"].empty());
    EXPECT_EQ(decodeSlotText(encoded.dump()), slot);
    EXPECT_FALSE(decodeSlotText(R"({"midiBindings": null})").midiBindings);
}

TEST(NumberForms, FloatsAreWrittenInTheirShortestSinglePrecisionForm) {
    const float samples[] = {0.1f,
                             1.0f / 3.0f,
                             -0.0f,
                             16777216.0f,
                             1e-8f,
                             FLT_MAX,
                             -FLT_MAX,
                             FLT_MIN,
                             std::numeric_limits<float>::denorm_min(),
                             std::nextafter(1.0f, 2.0f)};
    for (const float sample : samples) {
        SlotData slot;
        slot.audioSettings.channelLevels = {sample};
        const std::string text = formatJsonText(encodeSlot(slot));
        const float reread = decodeSlotText(text).audioSettings.channelLevels.at(0);
        EXPECT_EQ(std::memcmp(&reread, &sample, sizeof sample), 0) << text;
    }
    SlotData slot;
    slot.audioSettings.channelLevels = {1.0f / 3.0f};
    EXPECT_EQ(encodeSlot(slot)["audioSettings"]["channelLevels"][0].dump(), "0.33333334");
    slot.audioSettings.channelLevels = {FLT_MAX};
    EXPECT_EQ(encodeSlot(slot)["audioSettings"]["channelLevels"][0].dump(), "3.4028235e+38");
}

TEST(NumberForms, FloatsFromWidenedDoublesReadBackNarrowed) {
    const SlotData slot =
        decodeSlotText(R"({"colorSettings": {"brightness": 0.10000000149011612, "contrast": 1,
        "saturation": 1, "hue": 0, "gamma": 1, "redGain": 1, "greenGain": 1, "blueGain": 1}})");
    EXPECT_EQ(slot.colorSettings.brightness, 0.1f);
    EXPECT_EQ(encodeSlot(slot)["colorSettings"]["brightness"].dump(), "0.1");
}

TEST(NumberForms, IntegersMayBeWrittenAsIntegralNumbers) {
    const SlotData slot = decodeSlotText(
        R"({"audioSettings": {"masterLevel": 0, "isMuted": false, "channelLevels": [],
        "activeChannels": 2.0}, "jumpTarget": {"bank": 1e1, "slot": -0.0},
        "midiOutputBinding": {"channel": 16, "note": -9223372036854775808}})");
    EXPECT_EQ(slot.audioSettings.activeChannels, 2);
    EXPECT_EQ(slot.jumpTarget, (JumpTarget{10, 0}));
    EXPECT_EQ(slot.midiOutputBinding->note, std::numeric_limits<std::int64_t>::min());
}

TEST(NumberForms, DoublesAreWrittenShortestAndExact) {
    SlotData slot;
    slot.playRate = 0.1;
    slot.inPoint = 5.0;
    slot.outPoint = 1e300;
    const auto encoded = encodeSlot(slot);
    EXPECT_EQ(encoded["playRate"].dump(), "0.1");
    EXPECT_EQ(encoded["inPoint"].dump(), "5.0");
    EXPECT_EQ(decodeSlotText(encoded.dump()).outPoint, 1e300);
}

TEST(DatesAndBytes, SourceDateIsSecondsSince2001) {
    ClipInfo info;
    info.sourceModifiedAt = referenceDateFromUnixSeconds(978307200.0 + 86400.5);
    SlotData slot;
    slot.clipInfo = info;
    const auto encoded = encodeSlot(slot);
    EXPECT_EQ(encoded["clipInfo"]["sourceModifiedAt"].get<double>(), 86400.5);

    info.sourceModifiedAt.reset();
    slot.clipInfo = info;
    const auto withoutDate = encodeSlot(slot);
    EXPECT_FALSE(withoutDate["clipInfo"].contains("sourceModifiedAt"));
    EXPECT_FALSE(decodeSlotText(withoutDate.dump()).clipInfo->sourceModifiedAt);
}

TEST(DatesAndBytes, EveryByteValueAndLengthSurvivesBase64) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - i);
    }
    for (std::size_t length = 0; length <= all.size(); length += (length < 8 ? 1 : 61)) {
        SlotData slot;
        slot.bookmarkData = std::vector<std::uint8_t>(all.begin(), all.begin() + length);
        const auto encoded = encodeSlot(slot);
        EXPECT_EQ(encoded["bookmarkData"].get<std::string>().size() % 4, 0u);
        EXPECT_EQ(decodeSlotText(encoded.dump()).bookmarkData, slot.bookmarkData) << length;
    }
    SlotData slot;
    slot.bookmarkData = std::vector<std::uint8_t>{'f', 'o', 'o', 'b'};
    EXPECT_EQ(encodeSlot(slot)["bookmarkData"], "Zm9vYg==");
}

TEST(LenientValues, UnknownGeometryModeKeepsTheStoredPlacement) {
    const SlotData slot = decodeSlotText(
        R"({"geometry": {"mode": "FILL", "posX": 1, "posY": 2, "scaleX": 30, "scaleY": 40}})");
    EXPECT_EQ(slot.geometry, (GeometrySettings{GeometryMode::fitToWindow, 1, 2, 30, 40}));
}

TEST(LenientValues, DuplicateKeysLastOneWins) {
    EXPECT_EQ(decodeProject(R"({"banks": [], "version": 3, "version": 4})").version, 4);
    const ProjectData project =
        decodeProject(documentWithSlots(R"({"postRollMode": "Bogus", "postRollMode": "loop"})"));
    EXPECT_EQ(project.banks[0].slots[0].postRollMode, PostRollMode::loop);
}

TEST(LenientValues, ByteOrderMarkAndSurroundingWhiteSpaceAreAccepted) {
    EXPECT_EQ(decodeProject("\xEF\xBB\xBF \r\n\t{\"banks\":[]}\n\n"), ProjectData{});
}

TEST(LenientValues, BracketsInsideStringsDoNotCountAsNesting) {
    const std::string name(5000, '[');
    const ProjectData project =
        decodeProject(documentWithSlots(R"({"name": ")" + name + R"(\"{{{"})"));
    EXPECT_EQ(project.banks[0].slots[0].name, name + "\"{{{");
}

TEST(LenientValues, ModeratelyDeepUnknownMembersAreIgnored) {
    const std::string deep = std::string(200, '[') + std::string(200, ']');
    EXPECT_EQ(decodeProject(R"({"extra": )" + deep + R"(, "banks": []})"), ProjectData{});
}

// A slot's enumeration member whose text names no value (a newer or hand-edited document)
// takes the member's default; the slot's other members and the rest of the show are read, and
// each defaulted member is reported with its slot.
TEST(LenientSlotValues, AnUnknownTextTakesItsDefaultAndIsReported) {
    using V = DefaultedSlotValue;
    struct Case {
        const char* what;
        std::string document;
        std::vector<V> defaulted;
    };
    const std::string good = R"({"name": "Good", "postRollMode": "loop", "mediaType": "still"})";
    const Case cases[] = {
        {"post-roll in the second bank",
         R"({"banks": [{"name": "A", "slots": [)" + good + R"(]},
                       {"name": "B", "slots": [{}, {"name": "Intro", "postRollMode": "sideways",
                                                    "playRate": 2}]}]})",
         {{1, 1, "postRollMode", R"("sideways")", "freeze"}}},
        {"all three in one slot",
         documentWithSlots(
             R"({"mediaType": "hologram", "postRollMode": "Loop", "transitionMode": "wipe"})"),
         {{0, 0, "mediaType", R"("hologram")", "video"},
          {0, 0, "postRollMode", R"("Loop")", "freeze"},
          {0, 0, "transitionMode", R"("wipe")", "cut"}}},
        {"only the last of two slots members counts",
         R"({"banks": [{"name": "A", "slots": [{"postRollMode": "x"}],
                        "slots": [)" +
             good + R"(, {"transitionMode": "y"}]}]})",
         {{0, 1, "transitionMode", R"("y")", "cut"}}},
        {"known texts", documentWithSlots(good), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<V> defaulted;
        const ProjectData project = decodeProject(c.document, &defaulted);
        EXPECT_EQ(defaulted, c.defaulted);
        for (const V& value : c.defaulted) {
            const SlotData& slot = project.banks.at(value.bank).slots.at(value.slot);
            EXPECT_EQ(slot.mediaType, SlotData().mediaType);
            EXPECT_EQ(slot.postRollMode, SlotData().postRollMode);
            EXPECT_EQ(slot.transitionMode, SlotData().transitionMode);
        }
        // A slot read whole stays as written.
        const SlotData& first = project.banks[0].slots[0];
        if (first.name == "Good") {
            EXPECT_EQ(first.postRollMode, PostRollMode::loop);
            EXPECT_EQ(first.mediaType, MediaType::still);
        }
    }
    // The rest of the defaulted slot is kept, and it is written back with its default.
    std::vector<V> defaulted;
    const ProjectData project = decodeProject(cases[0].document, &defaulted);
    EXPECT_EQ(project.banks[1].slots[1].name, "Intro");
    EXPECT_EQ(project.banks[1].slots[1].playRate, 2.0);
    EXPECT_EQ(encodeSlot(project.banks[1].slots[1])["postRollMode"], "freeze");
    // A slot coded on its own is read the same way.
    std::vector<V> single;
    EXPECT_EQ(
        decodeSlot(parseJsonText(R"({"postRollMode": "sideways"})"), {}, &single).postRollMode,
        PostRollMode::freeze);
    EXPECT_EQ(single, (std::vector<V>{{0, 0, "postRollMode", R"("sideways")", "freeze"}}));
}

}  // namespace
}  // namespace kestio
