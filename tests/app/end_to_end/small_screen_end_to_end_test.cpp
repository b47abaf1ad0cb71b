// The real program on a 1600×900 screen with a window manager, as the X server shows it: the main
// window with its title bar is seen whole from the start (the grid's bottom row included), the
// help panel opens centred on the main window's screen and whole on it, and a bank button's MIDI
// label sits below the bank's name instead of over it.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "model/project_manager.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

constexpr QSize kSmallScreen{1600, 900};

// Where a framed window is, once framed and put: its client area (xdotool's answer is off by the
// frame for a window a window manager has reparented) and its frame, from _NET_FRAME_EXTENTS,
// the same on two looks in a row.
std::optional<QRect> settledFrame(const VirtualDesktop& desktop, const std::string& window,
                                  QRect& client) {
    using namespace std::chrono_literals;
    std::optional<std::pair<QRect, QRect>> last;  // the client and the frame's outer edge
    const bool settled = pollUntil([&] {
        const std::string display = "DISPLAY=" + desktop.display();
        const std::string info = runProcess({"env", display, "xwininfo", "-id", window}, 5s).output;
        const std::string extents =
            runProcess({"env", display, "xprop", "-id", window, "_NET_FRAME_EXTENTS"}, 5s).output;
        const auto number = [&](const char* label) {
            const auto at = info.find(label);
            return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + strlen(label));
        };
        const QRect inner(number("Absolute upper-left X:"), number("Absolute upper-left Y:"),
                          number("Width:"), number("Height:"));
        int left = 0, right = 0, top = 0, bottom = 0;
        const auto equals = extents.find('=');
        if (equals == std::string::npos ||
            std::sscanf(extents.c_str() + equals + 1, " %d, %d, %d, %d", &left, &right, &top,
                        &bottom) != 4 ||
            top <= 0) {
            return false;
        }
        const auto now = std::pair{inner, inner.marginsAdded(QMargins(left, top, right, bottom))};
        const bool same = last == now;
        last = now;
        return same;
    });
    if (!settled) {
        return std::nullopt;
    }
    client = last->first;
    return last->second;
}

// The first and last rows of `area` of `image` with a pixel that is `wanted`; none when none.
std::optional<std::pair<int, int>> rowsWith(const QImage& image, const QRect& area,
                                            const std::function<bool(QColor)>& wanted) {
    std::optional<std::pair<int, int>> rows;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right() && !(rows && rows->second == y); ++x) {
            if (wanted(image.pixelColor(x, y))) {
                rows = std::pair{rows ? rows->first : y, y};
            }
        }
    }
    return rows;
}

TEST_F(EndToEnd, OnASmallScreenTheWindowAndTheHelpPanelAreSeenWholeAndLabelsSitBelowNames) {
    VirtualDesktop small({kSmallScreen, VirtualDesktop::kSecondScreen});
    ASSERT_EQ(small.failure(), "");
    WindowManager manager(small);
    ASSERT_EQ(manager.failure(), "");
    const fs::path package = writeShow();
    {
        // A note assigned to the first bank's button, its label shown.
        ProjectManager store(bookmarks_);
        ProjectData project = store.load(package);
        project.midiControlAssignments = {{"bank:0", 3, 41}};
        project.showMIDIAssignLabels = true;
        store.save(project, package);
    }
    KestioProcess kestio(small, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // The window with its frame within the screen, unmoved by hand.
    const QRect whole(QPoint(0, 0), kSmallScreen);
    QRect client;
    const auto outer = settledFrame(small, window, client);
    ASSERT_TRUE(outer) << "the main window was not framed";
    EXPECT_TRUE(whole.contains(*outer)) << outer->y() << " " << outer->height();
    std::optional<QRectF> canvas;
    ASSERT_TRUE(pollUntil([&] { return (canvas = findCanvas(small.grab(client))).has_value(); }))
        << "no canvas in the window";
    const QImage screen = small.grab(whole);
    const fs::path shots = fs::path(KESTIO_TEST_OUTPUT_DIR) / "small_screen";
    fs::create_directories(shots);
    screen.save(QString::fromStdString((shots / "main_window.png").string()));
    // The whole canvas shows in the window, its grid's bottom row included.
    const double scale = canvas->width() / app::kDesignWidth;
    EXPECT_NEAR(canvas->height(), app::kDesignHeight * scale, 2.0);
    EXPECT_LE(client.top() + canvas->bottom(), kSmallScreen.height());

    // The first bank's button: its white name wholly above the dark plate of its label, with
    // the button's red between them (a plate laid over the name would hide the name's lower
    // rows, and the name would end where the plate starts).
    const QRectF bank = app::placement(app::CanvasPanel::bankList).rect();
    const QRect button =
        QRectF(client.topLeft() + canvas->topLeft() + (bank.topLeft() + QPointF(12, 12)) * scale,
               QSizeF(bank.width() / 2 - 24, 36) * scale)
            .toAlignedRect();
    const auto name = rowsWith(screen, button, [](QColor c) {
        return c.red() > 200 && c.green() > 200 && c.blue() > 200;
    });
    // The plate is centred: the button's middle column meets it before anything else dark.
    const auto plate = rowsWith(
        screen, QRect(button.center().x(), button.top(), 1, button.height()), [](QColor c) {
            return std::max({c.red(), c.green(), c.blue()}) < 80;
        });
    ASSERT_TRUE(name && plate) << "no name or no label on the bank button";
    EXPECT_LT(name->second + 1, plate->first) << "the label covers the name";

    // The floating panels, the help panel ("?", the toolbar's last button) and the key
    // bindings (Ctrl+Shift+,): each centred on the screen and whole on it, then closed again.
    const QRectF toolbar = app::placement(app::CanvasPanel::projectToolbar).rect();
    const QPoint help = (QPointF(client.topLeft()) + canvas->topLeft() +
                         QPointF(toolbar.right() - 23, toolbar.bottom() - 18) * scale)
                            .toPoint();
    const std::vector<std::string> clickHelp = {
        "mousemove", "--sync", std::to_string(help.x()), std::to_string(help.y()), "click", "1"};
    const auto pressKeys = [&] { return kestio.press(window, {"ctrl+shift+comma"}); };
    const std::pair<const char*, std::function<bool()>> panels[] = {
        {"help_panel", [&] { return small.xdotool(clickHelp).has_value(); }},
        {"key_bindings", pressKeys}};
    for (const auto& [shot, toggle] : panels) {
        SCOPED_TRACE(shot);
        ASSERT_TRUE(toggle());
        std::optional<std::string> panel;
        ASSERT_TRUE(pollUntil([&] { return (panel = kestio.dialogWindow()).has_value(); }));
        QRect panelClient;
        const auto panelOuter = settledFrame(small, *panel, panelClient);
        ASSERT_TRUE(panelOuter) << "the panel was not framed";
        small.grab(whole).save(
            QString::fromStdString((shots / (shot + std::string(".png"))).string()));
        EXPECT_TRUE(whole.contains(*panelOuter));
        EXPECT_NEAR(panelOuter->center().x(), whole.center().x(), 4);
        EXPECT_NEAR(panelOuter->center().y(), whole.center().y(), 4);
        ASSERT_TRUE(toggle());
        ASSERT_TRUE(pollUntil([&] { return !kestio.dialogWindow().has_value(); }));
    }
}

}  // namespace
}  // namespace kestio::test
