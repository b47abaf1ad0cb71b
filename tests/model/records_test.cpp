// Equality, hashing and helpers of the records themselves (their coding is tested elsewhere).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "model/project_data.h"
#include "model/reference_date.h"
#include "model/settings_records.h"
#include "model/slot_data.h"
#include "model/thumbnail_naming.h"

namespace kestio {
namespace {

TEST(SettingsRecords, FloatFieldsCompareNumerically) {
    ColorSettings positive;
    ColorSettings negative;
    negative.brightness = -0.0f;
    EXPECT_EQ(positive, negative);

    ColorSettings withNaN;
    withNaN.hue = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(withNaN, withNaN);
}

TEST(SettingsRecords, ChannelLevelsCompareElementByElement) {
    AudioSettings eight;
    AudioSettings two;
    two.channelLevels = {0, 0};
    EXPECT_NE(eight, two);
    two.channelLevels.resize(8, 0);
    EXPECT_EQ(eight, two);
}

TEST(SettingsRecords, AbsentSourceDateEqualsOnlyAbsent) {
    ClipInfo a;
    ClipInfo b;
    EXPECT_EQ(a, b);
    b.sourceModifiedAt = 0;
    EXPECT_NE(a, b);
    a.sourceModifiedAt = -0.0;
    EXPECT_EQ(a, b);
}

TEST(SettingsRecords, NoteBindingsHashByChannelThenNote) {
    const MIDINoteBinding c1n60{1, 60};
    const MIDINoteBinding c60n1{60, 1};
    EXPECT_EQ(c1n60, (MIDINoteBinding{1, 60}));
    EXPECT_EQ(std::hash<MIDINoteBinding>{}(c1n60), std::hash<MIDINoteBinding>{}({1, 60}));
    EXPECT_NE(c1n60, c60n1);
    EXPECT_NE(std::hash<MIDINoteBinding>{}(c1n60), std::hash<MIDINoteBinding>{}(c60n1));

    std::unordered_set<MIDINoteBinding> set{c1n60, c60n1, {1, 60}};
    EXPECT_EQ(set.size(), 2u);
}

TEST(ReferenceDate, CountsFromTheStartOf2001Utc) {
    EXPECT_EQ(unixSecondsFromReferenceDate(0), 978307200.0);
    EXPECT_EQ(referenceDateFromUnixSeconds(978307200.5), 0.5);
    EXPECT_LT(referenceDateFromUnixSeconds(0), 0);
}

TEST(SlotEquality, IgnoresShortcutKeyAndStandbyFlag) {
    SlotData a;
    SlotData b;
    b.shortcutKey = "q";
    b.standbyAtFirstFrame = true;
    EXPECT_EQ(a, b);
}

TEST(SlotEquality, ComparesThumbnailsByLengthOnly) {
    SlotData a;
    SlotData b;
    a.thumbnail = std::vector<std::uint8_t>{1, 2, 3};
    EXPECT_NE(a, b);
    b.thumbnail = std::vector<std::uint8_t>{9, 9, 9};
    EXPECT_EQ(a, b);
    b.thumbnail->push_back(0);
    EXPECT_NE(a, b);
    a.thumbnail = std::vector<std::uint8_t>{};
    b.thumbnail = std::vector<std::uint8_t>{};
    EXPECT_EQ(a, b);
}

TEST(SlotEquality, ComparesWaveformsByPresenceOnly) {
    SlotData a;
    SlotData b;
    a.waveformData = std::vector<float>{0.5f};
    EXPECT_NE(a, b);
    b.waveformData = std::vector<float>{0.1f, 0.2f};
    EXPECT_EQ(a, b);
}

TEST(SlotEquality, DistinguishesAbsentFromEmptyOrZero) {
    SlotData base;
    SlotData other = base;
    other.midiBindings.emplace();
    EXPECT_NE(base, other);

    other = base;
    other.inPoint = 0.0;
    EXPECT_NE(base, other);
    base.inPoint = -0.0;
    EXPECT_EQ(base, other);

    other = base;
    other.bookmarkData = std::vector<std::uint8_t>{};
    EXPECT_NE(base, other);
}

TEST(SlotEquality, EveryComparedFieldMatters) {
    const SlotData base;
    const auto differs = [&](auto change) {
        SlotData other = base;
        change(other);
        return !(other == base) && !(base == other);
    };
    EXPECT_TRUE(differs([](SlotData& s) { s.name = "x"; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.videoURL = "/media/a.mov"; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.bookmarkData = std::vector<std::uint8_t>{1}; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.mediaType = MediaType::still; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.clipInfo = ClipInfo{}; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.outPoint = 3.0; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.postRollMode = PostRollMode::loop; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.jumpTarget = JumpTarget{0, 0}; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.stillDuration = 4.0; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.geometry.scaleY = 50; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.audioSettings.isMuted = true; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.equalizer.khz3_2 = 1; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.colorSettings.blueGain = 0.5f; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.transitionMode = TransitionMode::dissolve; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.dissolveDuration = 2.0; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.playRate = 0.5; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.thumbnailFileName = "thumb_0_0.png"; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.midiOutputBinding = MIDINoteBinding{1, 1}; }));
    EXPECT_TRUE(differs([](SlotData& s) { s.isFileMissing = true; }));
}

TEST(SlotMIDIBindings, AddsEachChannelAndNoteOnce) {
    SlotData slot;
    slot.addMIDIBinding(1, 60);
    ASSERT_TRUE(slot.midiBindings);
    EXPECT_EQ(*slot.midiBindings, (std::vector<MIDINoteBinding>{{1, 60}}));

    slot.addMIDIBinding(1, 60);
    EXPECT_EQ(slot.midiBindings->size(), 1u);

    slot.addMIDIBinding(2, 60);
    EXPECT_EQ(*slot.midiBindings, (std::vector<MIDINoteBinding>{{1, 60}, {2, 60}}));
}

TEST(SlotMIDIBindings, AppendsToAnEmptyList) {
    SlotData slot;
    slot.midiBindings.emplace();
    slot.addMIDIBinding(16, 0);
    EXPECT_EQ(*slot.midiBindings, (std::vector<MIDINoteBinding>{{16, 0}}));
}

TEST(FreshProject, HasTwentyNumberedBanksOfNumberedSlots) {
    const ProjectData project(4, 10);
    ASSERT_EQ(project.banks.size(), 20u);
    EXPECT_EQ(project.banks.front().name, "BANK 1");
    EXPECT_EQ(project.banks[9].name, "BANK 10");
    EXPECT_EQ(project.banks.back().name, "BANK 20");
    for (const BankData& bank : project.banks) {
        ASSERT_EQ(bank.slots.size(), 40u) << bank.name;
    }
    EXPECT_EQ(project.banks[0].slots[0].name, "001");
    EXPECT_EQ(project.banks[0].slots[39].name, "040");
    EXPECT_EQ(project.banks[1].slots[0].name, "041");
    EXPECT_EQ(project.banks[2].slots[0].name, "081");
    EXPECT_EQ(project.banks[19].slots[39].name, "800");
    EXPECT_EQ(project.rows, 4);
    EXPECT_EQ(project.columns, 10);
}

TEST(FreshProject, SlotsDifferFromFreshOnesOnlyInName) {
    const ProjectData project(4, 10);
    SlotData fresh;
    fresh.name = project.banks[7].slots[13].name;
    EXPECT_EQ(project.banks[7].slots[13], fresh);
}

TEST(FreshProject, HasTheFreshShowWideSettings) {
    const ProjectData project(4, 10);
    ProjectData expected;
    expected.banks = project.banks;
    EXPECT_EQ(project, expected);
    EXPECT_TRUE(project.followJumpEnabled);
    EXPECT_FALSE(project.midiInputEnabled);
    EXPECT_FALSE(project.thumbnailsFolderBookmark);
}

TEST(FreshProject, OtherGridSizes) {
    const ProjectData empty(0, 10);
    ASSERT_EQ(empty.banks.size(), 20u);
    EXPECT_TRUE(empty.banks[19].slots.empty());
    EXPECT_EQ(empty.banks[19].name, "BANK 20");

    const ProjectData large(10, 10);
    EXPECT_EQ(large.banks[9].slots[99].name, "1000");
    EXPECT_EQ(large.banks[19].slots[99].name, "2000");
    EXPECT_EQ(large.banks[0].slots[8].name, "009");
}

TEST(ProjectEquality, UsesSlotEquality) {
    ProjectData a(1, 2);
    ProjectData b = a;
    a.banks[3].slots[1].thumbnail = std::vector<std::uint8_t>{1, 2};
    b.banks[3].slots[1].thumbnail = std::vector<std::uint8_t>{3, 4};
    b.banks[3].slots[1].shortcutKey = "z";
    EXPECT_EQ(a, b);
    b.banks[3].name = "Intro";
    EXPECT_NE(a, b);
}

TEST(ThumbnailNaming, JoinsBankAndSlotIndicesFromZero) {
    EXPECT_EQ(thumbnailFileName(0, 0), "thumb_0_0.png");
    EXPECT_EQ(thumbnailFileName(19, 39), "thumb_19_39.png");
}

}  // namespace
}  // namespace kestio
