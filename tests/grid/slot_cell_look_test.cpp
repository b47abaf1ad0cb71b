#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "grid/slot_cell_look.h"

namespace kestio::grid {
namespace {

SlotCellInputs loadedCell() {
    SlotCellInputs in;
    in.slot.name = "03_Intro";
    in.slot.videoURL = "/media/intro.mp4";
    return in;
}

QColor grey(double level) {
    const int v = static_cast<int>(std::lround(level * 255));
    return QColor(v, v, v);
}

TEST(SlotCellLook, BackgroundTakesTheFirstMatchingState) {
    struct Case {
        const char* name;
        void (*set)(SlotCellInputs&);
        QColor expected;
    };
    const Case cases[] = {
        {"empty", [](SlotCellInputs& in) { in.slot.videoURL.reset(); }, grey(0.18)},
        {"loaded", [](SlotCellInputs&) {}, grey(0.28)},
        {"missing", [](SlotCellInputs& in) { in.slot.isFileMissing = true; }, QColor(77, 41, 26)},
        {"on air over missing",
         [](SlotCellInputs& in) {
             in.slot.isFileMissing = true;
             in.isCurrent = true;
         },
         grey(0.45)},
        {"jump target over on air",
         [](SlotCellInputs& in) {
             in.isCurrent = true;
             in.isJumpTarget = true;
         },
         grey(0.3)},
        {"selected over everything",
         [](SlotCellInputs& in) {
             in.isCurrent = true;
             in.isJumpTarget = true;
             in.slot.isFileMissing = true;
             in.isSelected = true;
         },
         grey(0.2)},
    };
    for (const auto& c : cases) {
        SlotCellInputs in = loadedCell();
        c.set(in);
        const QColor bg = cellLook(in).background;
        EXPECT_NEAR(bg.red(), c.expected.red(), 1) << c.name;
        EXPECT_NEAR(bg.green(), c.expected.green(), 1) << c.name;
        EXPECT_NEAR(bg.blue(), c.expected.blue(), 1) << c.name;
    }
}

// The frames as (colour name, width, inset) for compact comparison.
std::vector<std::string> frameList(const SlotCellLook& look) {
    std::vector<std::string> out;
    for (const auto& f : look.frames) {
        std::string name = f.color.name(QColor::HexArgb).toStdString();
        out.push_back(name + "/" + std::to_string(f.width).substr(0, 3) +
                      (f.inset > 0 ? "/in" + std::to_string(static_cast<int>(f.inset)) : ""));
    }
    return out;
}

TEST(SlotCellLook, StateLayersStackInTheirOrder) {
    const std::string red = "#ffff453a", blue = "#ff0a84ff", blue70 = "#b30a84ff",
                      orange = "#ffff9f0a", cyan = "#ff64d2ff", green = "#ff32d74b";
    struct Case {
        const char* name;
        void (*set)(SlotCellInputs&);
        std::vector<std::string> frames;
        std::vector<CellBadge> badges;
        bool fill;
    };
    const Case cases[] = {
        {"nothing", [](SlotCellInputs&) {}, {}, {}, false},
        {"missing",
         [](SlotCellInputs& in) { in.slot.isFileMissing = true; },
         {orange + "/3.0"},
         {CellBadge::missing},
         false},
        {"on air", [](SlotCellInputs& in) { in.isCurrent = true; }, {red + "/4.0"}, {}, false},
        {"cursor", [](SlotCellInputs& in) { in.isCursor = true; }, {blue + "/4.0"}, {}, false},
        {"on air at the cursor",
         [](SlotCellInputs& in) {
             in.isCurrent = true;
             in.isCursor = true;
         },
         {red + "/4.0", red + "/4.0", blue70 + "/1.5/in4"},
         {},
         false},
        {"missing on air",
         [](SlotCellInputs& in) {
             in.slot.isFileMissing = true;
             in.isCurrent = true;
         },
         {orange + "/3.0", red + "/4.0"},
         {CellBadge::missing},
         false},
        {"jump pick",
         [](SlotCellInputs& in) { in.isJumpHighlight = true; },
         {orange + "/2.0"},
         {},
         false},
        {"replace",
         [](SlotCellInputs& in) {
             in.isJumpHighlight = true;
             in.isReplaceMode = true;
         },
         {cyan + "/2.0"},
         {},
         false},
        {"jump target",
         [](SlotCellInputs& in) { in.isJumpTarget = true; },
         {orange + "/3.0"},
         {CellBadge::jump},
         false},
        {"learn",
         [](SlotCellInputs& in) { in.midiLearnHighlight = true; },
         {green + "/2.0"},
         {},
         false},
        {"armed",
         [](SlotCellInputs& in) {
             in.midiLearnHighlight = true;
             in.isMIDIArmed = true;
         },
         {green + "/4.0"},
         {CellBadge::listening},
         false},
        {"selected hides all but the armed frame",
         [](SlotCellInputs& in) {
             in.isSelected = true;
             in.isCurrent = true;
             in.isCursor = true;
             in.slot.isFileMissing = true;
             in.isJumpTarget = true;
             in.isJumpHighlight = true;
             in.midiLearnHighlight = true;
             in.isMIDIArmed = true;
         },
         {blue + "/4.0", green + "/4.0"},
         {CellBadge::selected, CellBadge::listening},
         true},
        {"selected alone",
         [](SlotCellInputs& in) { in.isSelected = true; },
         {blue + "/4.0"},
         {CellBadge::selected},
         true},
    };
    for (const auto& c : cases) {
        SlotCellInputs in = loadedCell();
        c.set(in);
        const auto look = cellLook(in);
        EXPECT_EQ(frameList(look), c.frames) << c.name;
        EXPECT_EQ(look.badges, c.badges) << c.name;
        EXPECT_EQ(look.selectionFill, c.fill) << c.name;
    }
}

TEST(SlotCellLook, DurationBadgeText) {
    struct Case {
        double duration, fps;
        const char* text;
    };
    const Case cases[] = {
        {62.5, 25, "01:02;13"},       // 12.5 frames round away from zero
        {3723.2, 29.97, "02:03;06"},  // hours are not shown
        {0.99, 29.97, "00:00;30"},    // the frame count may reach the rate
        {10.4, 0, "00:10;00"},        // a rate of 0 counts as 1
        {10.6, 0, "00:10;01"},
        {59.999, 25, "00:59;25"},
        {3600, 30, "00:00;00"},
        {std::numeric_limits<double>::quiet_NaN(), 25, "00:00;00"},
        {5.5, std::numeric_limits<double>::infinity(), "00:05;01"},
        {-3, 25, "00:00;00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatTimecode(c.duration, c.fps), c.text) << c.duration << " @ " << c.fps;
    }
    // Beyond the counters' range the duration is clamped to 10^9 s (277777 h 46 min 40 s).
    EXPECT_EQ(formatTimecode(1e300, 1e300), "46:40;00");
}

TEST(SlotCellLook, DurationBadgeOnlyForAPositiveFiniteDuration) {
    const double values[] = {0, -1, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity()};
    for (double d : values) {
        SlotCellInputs in = loadedCell();
        in.slot.clipInfo = ClipInfo{};
        in.slot.clipInfo->duration = d;
        EXPECT_FALSE(cellLook(in).durationText.has_value()) << d;
    }
    SlotCellInputs in = loadedCell();
    EXPECT_FALSE(cellLook(in).durationText.has_value());  // no clip facts
    in.slot.clipInfo = ClipInfo{};
    in.slot.clipInfo->duration = 62.5;
    in.slot.clipInfo->fps = 25;
    EXPECT_EQ(cellLook(in).durationText, "01:02;13");
}

TEST(SlotCellLook, HeaderIconsAndNames) {
    SlotCellInputs empty;
    empty.index = 3;
    auto look = cellLook(empty);
    EXPECT_FALSE(look.loadedHeader);
    EXPECT_EQ(look.keyText, "4");
    EXPECT_EQ(look.name, "");
    EXPECT_FALSE(look.postRollIcon.has_value());

    SlotCellInputs video = loadedCell();
    video.slot.postRollMode = PostRollMode::loop;
    video.slot.transitionMode = TransitionMode::dissolve;
    look = cellLook(video);
    EXPECT_TRUE(look.loadedHeader);
    EXPECT_EQ(look.name, "Intro");
    EXPECT_EQ(look.postRollIcon, PostRollMode::loop);
    EXPECT_EQ(look.transitionIcon, TransitionMode::dissolve);

    SlotCellInputs audio = loadedCell();
    audio.slot.mediaType = MediaType::audio;
    look = cellLook(audio);
    EXPECT_FALSE(look.postRollIcon.has_value());
    EXPECT_TRUE(look.loadedHeader);

    const std::pair<const char*, const char*> names[] = {
        {"03_Intro", "Intro"},
        {"12 - Song", "Song"},
        {"007", "007"},
        {"Song 12", "Song 12"},
        {"<b>bold</b> 日本語 mix", "<b>bold</b> 日本語 mix"}};
    for (const auto& [name, shown] : names) {
        SlotCellInputs in = loadedCell();
        in.slot.name = name;
        EXPECT_EQ(cellLook(in).name, shown) << name;
    }
}

TEST(SlotCellLook, KeyTagsAndNoteNames) {
    const std::pair<int, const char*> keys[] = {{0, "1"},  {9, "0"},  {10, "Q"},
                                                {29, ";"}, {30, "Z"}, {37, ","},
                                                {39, "/"}, {40, ""},  {-1, ""}};
    for (const auto& [index, key] : keys) {
        EXPECT_EQ(slotKeyText(index), key) << index;
    }
    const std::pair<std::int64_t, const char*> notes[] = {
        {60, "C"}, {61, "C#"}, {71, "B"}, {0, "C"}, {127, "G"}, {128, "?"}, {200, "?"}, {-1, "?"}};
    for (const auto& [note, name] : notes) {
        EXPECT_EQ(midiNoteName(note), name) << note;
    }
}

TEST(SlotCellLook, MIDILabelsShowThreeAndTheRestAsACount) {
    SlotCellInputs in = loadedCell();
    in.showMIDILabel = true;
    in.slot.midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {10, 36}, {16, 200}};
    auto look = cellLook(in);
    EXPECT_EQ(look.midiLabels,
              (std::vector<std::string>{"Ch.01 C(60)", "Ch.10 C(36)", "Ch.16 ?(200)"}));
    EXPECT_FALSE(look.midiMore.has_value());

    in.slot.midiBindings->push_back({2, 61});
    in.slot.midiBindings->push_back({3, 62});
    look = cellLook(in);
    EXPECT_EQ(look.midiLabels.size(), 3u);
    EXPECT_EQ(look.midiMore, "+2");

    in.showMIDILabel = false;
    EXPECT_TRUE(cellLook(in).midiLabels.empty());
    in.showMIDILabel = true;
    in.slot.midiBindings = std::vector<MIDINoteBinding>{};
    EXPECT_TRUE(cellLook(in).midiLabels.empty());
}

// A cell repaints exactly when what it draws changes.
TEST(SlotCellLook, LooksDifferOnlyWhenSomethingDrawnChanges) {
    const SlotCellInputs base = loadedCell();
    const auto baseLook = cellLook(base);
    struct Case {
        const char* name;
        void (*set)(SlotCellInputs&);
        bool repaints;
    };
    const Case cases[] = {
        {"output binding",
         [](SlotCellInputs& in) {
             in.slot.midiOutputBinding = {{1, 2}};
         },
         false},
        {"in point", [](SlotCellInputs& in) { in.slot.inPoint = 2.0; }, false},
        {"play rate", [](SlotCellInputs& in) { in.slot.playRate = 2.0; }, false},
        {"global number", [](SlotCellInputs& in) { in.globalNumber = 99; }, false},
        {"clipboard", [](SlotCellInputs& in) { in.hasClipboard = true; }, false},
        {"clip duration",
         [](SlotCellInputs& in) {
             in.slot.clipInfo = ClipInfo{};
             in.slot.clipInfo->duration = 3;
         },
         true},
        {"name", [](SlotCellInputs& in) { in.slot.name = "04_Outro"; }, true},
        {"post-roll", [](SlotCellInputs& in) { in.slot.postRollMode = PostRollMode::black; }, true},
        {"on air", [](SlotCellInputs& in) { in.isCurrent = true; }, true},
        {"language", [](SlotCellInputs& in) { in.language = AppLanguage::en; }, true},
        {"thumbnail",
         [](SlotCellInputs& in) {
             in.thumbnail = std::make_shared<const QImage>(4, 4, QImage::Format_RGB32);
         },
         true},
    };
    for (const auto& c : cases) {
        SlotCellInputs in = base;
        c.set(in);
        EXPECT_EQ(!(cellLook(in) == baseLook), c.repaints) << c.name;
    }
}

}  // namespace
}  // namespace kestio::grid
