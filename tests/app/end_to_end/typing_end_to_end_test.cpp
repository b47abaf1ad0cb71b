// Keys on the real program under a window manager, as an operator types them: the play-control
// keys reach the show past the desktop's own bindings, digits typed into a value field are the
// field's, never the slot keys', and once Return or a click on the grid ends the typing the slot
// keys play their cues again. Every value the operator can type, ended by every key that ends
// typing or by a click elsewhere, is stored without touching the clip on air; a held cue key
// fires once.

#include <gtest/gtest.h>

#include <QColor>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "model/project_manager.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

// The middle of the first white box (a text field) met going down `area` of `shot`.
std::optional<QPoint> firstField(const QImage& shot, const QRect& area) {
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    const QRect within = area.intersected(image.rect());
    const auto white = [&](int x, int y) { return QColor(image.pixel(x, y)).lightness() >= 250; };
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            int end = x;
            while (end <= within.right() && white(end, y)) {
                ++end;
            }
            if (end - x >= 20) {
                const int middle = (x + end) / 2;
                int bottom = y;
                while (bottom < within.bottom() && white(middle, bottom + 1)) {
                    ++bottom;
                }
                return QPoint(middle, (y + bottom) / 2);
            }
            x = end;
        }
    }
    return std::nullopt;
}

// Counts the play log's start lines of `cue`.
int starts(const std::string& log, const std::string& cue) {
    int count = 0;
    for (auto at = log.find("再生開始: "); at != std::string::npos;
         at = log.find("再生開始: ", at + 1)) {
        count += log.substr(at, log.find('\n', at) - at).find(cue) != std::string::npos ? 1 : 0;
    }
    return count;
}

TEST_F(EndToEnd, UnderAWindowManagerPauseReachesTheShowAndAFieldKeepsTheKeysUntilReturnOrAClick) {
    WindowManager manager(*desktop_);
    ASSERT_EQ(manager.failure(), "");
    // The key cue and the click cue show their geometry fields (X, Y, W%, H%) in the inspector.
    const fs::path package = writeShow();
    double clickCueX = 0;
    {
        ProjectManager store(bookmarks_);
        ProjectData project = store.load(package);
        project.banks[0].slots[kKeySlot].geometry.mode = GeometryMode::custom;
        project.banks[0].slots[kClickSlot].geometry.mode = GeometryMode::custom;
        clickCueX = project.banks[0].slots[kClickSlot].geometry.posX;
        store.save(std::move(project), package);
    }
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    ASSERT_TRUE(programPlays(kestio, window));

    // The default Pause key gets past the window manager: the picture holds still.
    ASSERT_TRUE(kestio.press(window, {"shift+space"}));
    int last = -2;
    EXPECT_TRUE(pollUntil([&] {
        const int now = programFrame(kestio, window);
        const bool still = now >= 0 && now == last;
        last = now;
        return still;
    })) << "the clip did not pause";

    // The X field is the first field of the geometry card. A click puts the cursor in it; the
    // text is replaced by 21, and Return commits it. Neither 2 nor 1 plays a slot while typed;
    // after Return the slot keys are the show's again: 1 plays the key cue again.
    // (Looked for until the window shows it: a grab can come before the panel is drawn.)
    const QRectF card = app::placement(app::CanvasPanel::geometry).rect();
    QPoint at;
    ASSERT_TRUE(pollUntil([&] {
        const auto frame = kestio.geometry(window);
        const auto topLeft = onScreen(kestio, window, card.topLeft());
        const auto bottomRight = onScreen(kestio, window, card.bottomRight());
        if (!frame || !topLeft || !bottomRight) {
            return false;
        }
        const QRect cardOnScreen(*topLeft - frame->topLeft(), *bottomRight - frame->topLeft());
        const auto field = firstField(desktop_->grab(*frame), cardOnScreen);
        at = frame->topLeft() + field.value_or(QPoint());
        return field.has_value();
    })) << "no geometry field on screen";
    const auto typeIntoField = [&](const std::vector<std::string>& keys) {
        if (!desktop_->xdotool({"mousemove", "--sync", std::to_string(at.x()),
                                std::to_string(at.y()), "click", "1"})) {
            return false;
        }
        std::vector<std::string> arguments{"key", "--clearmodifiers", "ctrl+a"};
        arguments.insert(arguments.end(), keys.begin(), keys.end());
        return desktop_->xdotool(arguments).has_value();
    };
    ASSERT_TRUE(typeIntoField({"2", "1", "Return"}));
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 2)) << "the slot key after Return did not play";

    // Typing 34, then a click on a cell of the grid (which takes no focus) commits it to the key
    // cue and hands the keys back: the cell plays its cue, which shows its own fields, and 2
    // plays the second slot.
    ASSERT_TRUE(typeIntoField({"3", "4"}));
    ASSERT_TRUE(clickCell(kestio, window, kClickSlot));
    EXPECT_TRUE(played(package, "ClickCue"));
    ASSERT_TRUE(kestio.press(window, {"2"}));
    EXPECT_TRUE(played(package, "MidiCue"))
        << "the slot key after a click on the grid did not play";

    // "Save and Quit" writes what was typed.
    ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
    ASSERT_TRUE(answerDefault(kestio)) << "no quit question";
    EXPECT_EQ(kestio.waitForExit(), 0) << kestio.output();
    const std::string log = readFile(package / "app.log");
    EXPECT_EQ(starts(log, "KeyCue"), 2) << log;
    EXPECT_EQ(starts(log, "MidiCue"), 1) << log;
    const ProjectData reread = ProjectManager(bookmarks_).load(package);
    EXPECT_EQ(reread.banks[0].slots[kKeySlot].geometry.posX, 34.0);
    EXPECT_EQ(reread.banks[0].slots[kClickSlot].geometry.posX, clickCueX);
}

// The value fields of the inspector and the dialogs opened from it, at their places on the
// 1920×1080 design canvas, and where each stores what is typed into it.
struct ValueField {
    const char* name;
    QPointF at;
    enum class Opens { click, doubleClick, menuEntry } opens;
    bool inPopover;      // typed into a small dialog, which writes on Return or Enter only
    bool altersPicture;  // a geometry or colour field: the picture on air changes
    std::vector<std::string> typed;  // one per way of ending
    std::function<double(const SlotData&)> stored;
};

// How the typing ends: the keys pressed (or a click on a bare part of the inspector), and
// whether a field of the panel writes the value then.
struct Ending {
    const char* name;
    std::vector<std::string> keys;  // none: a click elsewhere
    bool panelFieldWrites;
    bool dialogWrites;
};

// The xdotool key names typing `text`.
std::vector<std::string> keyNames(const std::string& text) {
    std::vector<std::string> keys;
    for (const char c : text) {
        keys.push_back(c == '.' ? "period" : c == '-' ? "minus" : std::string(1, c));
    }
    return keys;
}

TEST_F(EndToEnd, EveryEndingOfEveryTypedValueStoresItAndLeavesTheClipOnAir) {
    WindowManager manager(*desktop_);
    ASSERT_EQ(manager.failure(), "");
    const fs::path package = writeShow();
    {
        ProjectManager store(bookmarks_);
        ProjectData project = store.load(package);
        project.banks[0].slots[kKeySlot].geometry.mode = GeometryMode::custom;
        store.save(std::move(project), package);
    }
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    ASSERT_TRUE(programPlays(kestio, window));

    // The canvas is found once; the window stays where it is.
    const auto frame = kestio.geometry(window);
    ASSERT_TRUE(frame.has_value());
    const auto canvas = findCanvas(desktop_->grab(*frame));
    ASSERT_TRUE(canvas.has_value());
    const auto click = [&](QPointF onCanvas, const std::string& button, int times,
                           QPoint beside = {}) {
        const QPointF point =
            frame->topLeft() + canvas->topLeft() + onCanvas * canvas->width() / 1920.0 + beside;
        return desktop_
            ->xdotool({"mousemove", std::to_string(std::lround(point.x())),
                       std::to_string(std::lround(point.y())), "click", "--repeat",
                       std::to_string(times), button})
            .has_value();
    };
    // Keys go where the focus is when they are typed. The window manager gives the main window
    // the focus back in its own time once a popover or a menu closed: the typing waits for it,
    // as an operator waits to see it.
    const auto activeWindow = [&]() -> std::string {
        std::string active = desktop_->xdotool({"getactivewindow"}).value_or("");
        active.erase(active.find_last_not_of(" \n") + 1);
        return active;
    };
    const auto mainTakesKeys = [&] {
        return pollUntil(
            [&] { return kestio.dialogWindows().empty() && activeWindow() == window; });
    };
    const auto keys = [&](const std::vector<std::string>& names) {
        std::vector<std::string> arguments{"key", "--clearmodifiers"};
        arguments.insert(arguments.end(), names.begin(), names.end());
        return desktop_->xdotool(arguments).has_value();
    };
    const auto slot = [](const ProjectData& project) -> const SlotData& {
        return project.banks[0].slots[kKeySlot];
    };
    // What the show file holds once the program has saved it; none while it is being written.
    const auto saved = [&](const ValueField& field) -> std::optional<double> {
        try {
            return field.stored(slot(ProjectManager(bookmarks_).load(package)));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };

    // The digits typed are slot keys of cues (1 the clip on air, 2 another), so a digit that
    // reaches the show starts one.
    const std::vector<std::string> decimals{"1.1", "1.2", "2.1", "2.2", "1.21", "2.11"};
    const std::vector<std::string> levels{"-11", "-12", "-21", "-22", "-1.2", "-2.1"};
    const std::vector<std::string> whole{"11", "12", "21", "22", "121", "212"};
    using Opens = ValueField::Opens;
    // clang-format off
    const ValueField fields[] = {
        {"dissolve time", {1460, 72}, Opens::click, false, false, decimals,
         [](const SlotData& s) { return s.dissolveDuration; }},
        {"play rate", {1423, 115}, Opens::click, false, false, decimals,
         [](const SlotData& s) { return s.playRate; }},
        {"gain", {1241, 497}, Opens::click, false, false, levels,
         [](const SlotData& s) { return double(s.audioSettings.masterLevel); }},
        {"fader's value dialog", {1146, 344}, Opens::doubleClick, true, false, levels,
         [](const SlotData& s) { return double(s.audioSettings.masterLevel); }},
        // The colour tab's hue slider; its menu's second entry opens the value dialog.
        {"hue's value dialog", {1677, 448}, Opens::menuEntry, true, true, whole,
         [](const SlotData& s) { return double(s.colorSettings.hue); }},
        {"X", {1838, 263}, Opens::click, false, true, whole,
         [](const SlotData& s) { return s.geometry.posX; }},
        {"Y", {1838, 290}, Opens::click, false, true, whole,
         [](const SlotData& s) { return s.geometry.posY; }},
        // The scale fields are clicked near their top left corner, far from their centre.
        {"W%", {1646, 311}, Opens::click, false, true, whole,
         [](const SlotData& s) { return s.geometry.scaleX; }},
        {"H%", {1858, 311}, Opens::click, false, true, whole,
         [](const SlotData& s) { return s.geometry.scaleY; }},
    };
    // clang-format on
    const Ending endings[] = {
        {"Return", {"Return"}, true, true},
        {"keypad Enter", {"KP_Enter"}, true, true},
        {"Escape", {"Escape"}, false, false},
        // The next field (of the section, or of the dialog) takes the 2 typed after the Tab.
        {"Tab", {"Tab", "2", "Escape"}, true, false},
        {"Shift+Tab", {"shift+Tab", "2", "Escape"}, true, false},
        {"a click elsewhere", {}, true, false},
    };
    // A bare part of the clip inspector, below the rate's tick labels.
    const QPointF elsewhere{1291, 180};
    const QPointF colourTab{1578, 361};
    const QPointF fitToWindow{1724, 239};
    const QPointF resetColours{1870, 361};

    ASSERT_TRUE(desktop_->xdotool({"windowfocus", "--sync", window}));
    for (const ValueField& field : fields) {
        if (field.opens == Opens::menuEntry) {
            ASSERT_TRUE(click(colourTab, "1", 1));
        }
        ASSERT_TRUE(pollUntil([&] { return saved(field).has_value(); }));
        double current = *saved(field);
        for (std::size_t i = 0; i < std::size(endings); ++i) {
            const Ending& ending = endings[i];
            SCOPED_TRACE(std::string(field.name) + " ended by " + ending.name);
            switch (field.opens) {
                case Opens::click:
                    ASSERT_TRUE(click(field.at, "1", 1));
                    break;
                case Opens::doubleClick:
                    // The press on the fader's 0 dB mark sets 0 dB before the dialog opens.
                    ASSERT_TRUE(click(field.at, "1", 2));
                    current = 0;
                    break;
                case Opens::menuEntry:
                    // The menu opens at the pointer, unscaled; its second entry opens the dialog.
                    ASSERT_TRUE(click(field.at, "3", 1));
                    ASSERT_TRUE(click(field.at, "1", 1, QPoint(50, 34)));
                    break;
            }
            // (A popover takes the keyboard as it opens, whatever the window manager does.)
            ASSERT_TRUE(field.inPopover || mainTakesKeys())
                << "the window to type into never took the keyboard";
            std::vector<std::string> typing{"ctrl+a"};
            for (const auto& name : keyNames(field.typed[i])) {
                typing.push_back(name);
            }
            typing.insert(typing.end(), ending.keys.begin(), ending.keys.end());
            ASSERT_TRUE(keys(typing));
            if (ending.keys.empty()) {
                ASSERT_TRUE(click(elsewhere, "1", 1));
            }
            // Saved, the show file says what was stored.
            ASSERT_TRUE(mainTakesKeys()) << "the main window never took the keyboard back";
            ASSERT_TRUE(keys({"ctrl+s"}));
            if (field.inPopover ? ending.dialogWrites : ending.panelFieldWrites) {
                current = std::stod(field.typed[i]);
            }
            double last = NAN;
            EXPECT_TRUE(pollUntil(
                [&] {
                    last = saved(field).value_or(NAN);
                    return std::abs(last - current) < 0.006;
                },
                std::chrono::seconds(3)))
                << "stored " << last << ", typed " << field.typed[i];
            const std::string log = readFile(package / "app.log");
            ASSERT_EQ(starts(log, "KeyCue"), 1) << "the clip on air started again";
            ASSERT_EQ(starts(log, "MidiCue"), 0) << "a typed digit played a cue";
        }
        // (The geometry and colour fields move, shrink and tint the picture; it is looked at
        // once they are done, with the colours reset and the picture fitted to the window.)
        if (!field.altersPicture) {
            EXPECT_TRUE(programPlays(kestio, window)) << field.name;
        }
    }
    ASSERT_TRUE(click(colourTab, "1", 1));
    ASSERT_TRUE(click(resetColours, "1", 1));
    ASSERT_TRUE(click(fitToWindow, "1", 1));
    EXPECT_TRUE(programPlays(kestio, window));

    // A slot key held down plays its cue once, however often the keyboard repeats it. The 1
    // pressed after it comes after every repeat.
    ASSERT_TRUE(desktop_->xdotool({"keydown", "2", "sleep", "1", "keyup", "2"}));
    ASSERT_TRUE(keys({"1"}));
    ASSERT_TRUE(played(package, "KeyCue", 2));
    EXPECT_EQ(starts(readFile(package / "app.log"), "MidiCue"), 1);
}

}  // namespace
}  // namespace kestio::test
