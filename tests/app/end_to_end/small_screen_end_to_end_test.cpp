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

// Where a framed window is: its client area in root coordinates (xdotool's answer is off by the
// frame for a window a window manager has reparented) and the frame around it, from
// _NET_FRAME_EXTENTS; none until the window manager has framed it.
struct Placed {
    QRect client;
    QMargins frame;

    QRect outer() const { return client.marginsAdded(frame); }
    bool operator==(const Placed&) const = default;
};

std::optional<Placed> placeOf(const VirtualDesktop& desktop, const std::string& window) {
    using namespace std::chrono_literals;
    const std::string display = "DISPLAY=" + desktop.display();
    const ProcessResult info = runProcess({"env", display, "xwininfo", "-id", window}, 5s);
    const ProcessResult extents =
        runProcess({"env", display, "xprop", "-id", window, "_NET_FRAME_EXTENTS"}, 5s);
    const auto number = [&](const char* label) {
        const auto at = info.output.find(label);
        return at == std::string::npos ? -1 : std::atoi(info.output.c_str() + at + strlen(label));
    };
    const QRect client(number("Absolute upper-left X:"), number("Absolute upper-left Y:"),
                       number("Width:"), number("Height:"));
    int left = 0, right = 0, top = 0, bottom = 0;
    const auto equals = extents.output.find('=');
    if (!info.succeeded() || client.width() <= 0 || equals == std::string::npos ||
        std::sscanf(extents.output.c_str() + equals + 1, " %d, %d, %d, %d", &left, &right, &top,
                    &bottom) != 4 ||
        top <= 0) {
        return std::nullopt;
    }
    return Placed{client, QMargins(left, top, right, bottom)};
}

// Waits until `window` has been framed and stays put (the same place on two looks in a row).
std::optional<Placed> settledPlace(const VirtualDesktop& desktop, const std::string& window) {
    std::optional<Placed> place;
    pollUntil([&] {
        const auto before = place;
        place = placeOf(desktop, window);
        return place && place == before;
    });
    return place;
}

// Rows of `image` within `area` that hold a pixel near `colour`, first and last; none when none.
std::optional<std::pair<int, int>> rowsWith(const QImage& image, const QRect& area,
                                            const std::function<bool(QColor)>& wanted) {
    std::optional<std::pair<int, int>> rows;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (wanted(image.pixelColor(x, y))) {
                rows = rows ? std::pair{rows->first, y} : std::pair{y, y};
                break;
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
    const auto place = settledPlace(small, window);
    ASSERT_TRUE(place) << "the main window was not framed";
    const QRect outer = place->outer();
    EXPECT_TRUE(QRect(QPoint(0, 0), kSmallScreen).contains(outer))
        << outer.x() << "," << outer.y() << " " << outer.width() << "×" << outer.height();
    const QRect* client = &place->client;
    std::optional<QRectF> canvas;
    ASSERT_TRUE(pollUntil([&] { return (canvas = findCanvas(small.grab(*client))).has_value(); }))
        << "no canvas in the window";
    const QImage screen = small.grab(QRect(QPoint(0, 0), kSmallScreen));
    const fs::path shots = fs::path(KESTIO_TEST_OUTPUT_DIR) / "small_screen";
    fs::create_directories(shots);
    screen.save(QString::fromStdString((shots / "main_window.png").string()));
    // The whole canvas shows in the window, its grid's bottom row included.
    const double scale = canvas->width() / app::kDesignWidth;
    EXPECT_NEAR(canvas->height(), app::kDesignHeight * scale, 2.0);
    EXPECT_LE(client->top() + canvas->bottom(), kSmallScreen.height());

    // The first bank's button: its white name wholly above the dark plate of its label, with
    // the button's red between them (a plate laid over the name would hide the name's lower
    // rows, and the name would end where the plate starts).
    const QRectF bank = app::placement(app::CanvasPanel::bankList).rect();
    const QRect button =
        QRectF(client->topLeft() + canvas->topLeft() + (bank.topLeft() + QPointF(12, 12)) * scale,
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

    // The help panel ("?", the toolbar's last button): centred on the screen and whole on it.
    const QRectF toolbar = app::placement(app::CanvasPanel::projectToolbar).rect();
    const QPoint help = (QPointF(client->topLeft()) + canvas->topLeft() +
                         QPointF(toolbar.right() - 23, toolbar.bottom() - 18) * scale)
                            .toPoint();
    ASSERT_TRUE(small.xdotool(
        {"mousemove", "--sync", std::to_string(help.x()), std::to_string(help.y()), "click", "1"}));
    std::optional<std::string> panel;
    ASSERT_TRUE(pollUntil([&] {
        panel = kestio.dialogWindow();
        return panel.has_value();
    })) << "no help panel";
    const auto helpPlace = settledPlace(small, *panel);
    ASSERT_TRUE(helpPlace) << "the help panel was not framed";
    small.grab(QRect(QPoint(0, 0), kSmallScreen))
        .save(QString::fromStdString((shots / "help_panel.png").string()));
    const QRect helpOuter = helpPlace->outer();
    EXPECT_TRUE(QRect(QPoint(0, 0), kSmallScreen).contains(helpOuter))
        << helpOuter.x() << "," << helpOuter.y() << " " << helpOuter.width() << "×"
        << helpOuter.height();
    EXPECT_NEAR(helpOuter.center().x(), kSmallScreen.width() / 2, 4);
    EXPECT_NEAR(helpOuter.center().y(), kSmallScreen.height() / 2, 4);
}

}  // namespace
}  // namespace kestio::test
