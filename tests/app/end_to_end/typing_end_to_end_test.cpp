// Keys on the real program under a window manager, as an operator types them: the play-control
// keys reach the show past the desktop's own bindings, digits typed into a value field are the
// field's, never the slot keys', and once Return or a click on the grid ends the typing the slot
// keys play their cues again.

#include <gtest/gtest.h>

#include <QColor>
#include <filesystem>
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

}  // namespace
}  // namespace kestio::test
