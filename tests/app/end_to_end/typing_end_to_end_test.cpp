// Keys on the real program under a window manager, as an operator types them: the play-control
// keys reach the show past the desktop's own bindings, and digits typed into a value field are
// the field's, never the slot keys'.

#include <gtest/gtest.h>

#include <QColor>
#include <filesystem>
#include <string>

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

TEST_F(EndToEnd, UnderAWindowManagerPauseReachesTheShowAndDigitsTypedIntoAFieldStayThere) {
    WindowManager manager(*desktop_);
    ASSERT_EQ(manager.failure(), "");
    // The key cue shows its geometry fields (X, Y, W%, H%) in the inspector.
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
    // text is replaced by 21, and the focus leaves it with Tab. Neither 2 nor 1 plays a slot.
    const auto frame = kestio.geometry(window);
    ASSERT_TRUE(frame.has_value());
    const QRectF card = app::placement(app::CanvasPanel::geometry).rect();
    const auto topLeft = onScreen(kestio, window, card.topLeft());
    const auto bottomRight = onScreen(kestio, window, card.bottomRight());
    ASSERT_TRUE(topLeft && bottomRight);
    const QRect cardOnScreen(*topLeft - frame->topLeft(), *bottomRight - frame->topLeft());
    const auto field = firstField(desktop_->grab(*frame), cardOnScreen);
    ASSERT_TRUE(field.has_value()) << "no geometry field on screen";
    const QPoint at = frame->topLeft() + *field;
    ASSERT_TRUE(desktop_->xdotool(
        {"mousemove", "--sync", std::to_string(at.x()), std::to_string(at.y()), "click", "1"}));
    ASSERT_TRUE(desktop_->xdotool({"key", "--clearmodifiers", "ctrl+a", "2", "1", "Tab"}));

    // "Save and Quit" writes what was typed.
    ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
    ASSERT_TRUE(answerDefault(kestio)) << "no quit question";
    EXPECT_EQ(kestio.waitForExit(), 0) << kestio.output();
    const std::string log = readFile(package / "app.log");
    EXPECT_EQ(starts(log, "KeyCue"), 1) << log;
    EXPECT_EQ(starts(log, "MidiCue"), 0) << log;
    const ProjectData reread = ProjectManager(bookmarks_).load(package);
    EXPECT_EQ(reread.banks[0].slots[kKeySlot].geometry.posX, 21.0);
}

}  // namespace
}  // namespace kestio::test
