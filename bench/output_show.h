#pragma once

// The real kestio program on a show, under the two-screen Xvfb: its main window on the first X
// screen and its output window, switched on from the Output Monitor panel, covering the second.
// The program measured is this build's, or another build's named by KESTIO_BENCH_PROGRAM (to
// set an earlier build's figures beside this one's, see take_turns.py).

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/canvas_layout.h"
#include "app_session.h"
#include "support/frame_number_strip.h"
#include "two_screen_desktop.h"
#include "x_screen_watch.h"

namespace kestio::bench {

// The X screen the output window opens on.
inline constexpr std::size_t kOutputScreen = 1;

// One frame period of the output at 59.94.
inline constexpr double kPeriodMs = 1001.0 / 60.0;

// The Output Monitor panel's on/off switch, in design canvas points.
inline constexpr QPointF kMonitorSwitch{1503.0 + 230.0 - 8.0 - 13.0, 8.0 + 10.5};

inline std::string program() {
    const char* other = std::getenv("KESTIO_BENCH_PROGRAM");
    return other && *other ? other : KESTIO_PROGRAM;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

inline double worst(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// The benchmark's count of presses (or windows): `fallback`, or KESTIO_BENCH_ITERATIONS.
inline int iterations(int fallback) {
    const char* given = std::getenv("KESTIO_BENCH_ITERATIONS");
    const int count = given ? std::atoi(given) : 0;
    return count > 0 ? count : fallback;
}

// The program on the show; the windows are found as the X server maps them.
struct OutputShow {
    TwoScreenDesktop& desktop;
    XScreenWatch& x;
    std::unique_ptr<test::BackgroundProcess> kestio = nullptr;
    std::uint32_t mainWindow = 0;
    QRect outputArea = {};  // the output window, in the output screen's coordinates
    QRect stripRow = {};    // a 16:9 picture's frame-number strip row there
    std::vector<std::uint32_t> mapped = {};

    // The first window mapped on `screen` at least `minimumWidth` wide.
    std::optional<std::pair<std::uint32_t, QRect>> mappedWindow(std::size_t screen,
                                                                int minimumWidth) {
        std::optional<std::pair<std::uint32_t, QRect>> found;
        test::pollUntil([&] {
            const auto events = x.take().mapped;
            mapped.insert(mapped.end(), events.begin(), events.end());
            for (const auto window : mapped) {
                const auto place = x.placement(window);
                if (place && place->screen == screen && place->area.width() >= minimumWidth) {
                    found = std::make_pair(window, place->area);
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    // Opens the show, switches the output window on, and presses `firstKey`, a cue of a 16:9
    // clip with the frame-number strip, until its strip reads in the output. Empty on success.
    std::string open(const std::filesystem::path& package, const std::string& firstKey = "1") {
        x.watchTopLevels();
        kestio = std::make_unique<test::BackgroundProcess>(
            std::vector<std::string>{program(), "--midi", midiApi(), package.string()},
            test::BackgroundProcess::ErrorOutput::withOutput);
        const auto main = mappedWindow(0, 1000);
        if (!main) {
            return "no main window";
        }
        mainWindow = main->first;
        if (!AppSession::waitForWarmUp(package)) {
            return "the show never warmed up";
        }
        // The loading overlay still fades out after the warm-up's log line, darkening the
        // canvas's grey meanwhile, so that other pixels pass for it. The canvas is taken once
        // two grabs in a row find it at the same place, placed as the program lays it out:
        // pinned to the window's left edge and filling its width or its height.
        const QSize windowSize = main->second.size();
        const auto laidOut = [&](const QRectF& found) {
            return found.left() == 0 &&
                   (found.right() == windowSize.width() || found.bottom() == windowSize.height());
        };
        std::optional<QRectF> canvas;
        const bool settled = test::pollUntil([&] {
            const auto found = test::findCanvas(x.grab(main->second).image);
            const bool same = found && canvas && *found == *canvas && laidOut(*found);
            canvas = found;
            return same;
        });
        if (!settled) {
            return "no canvas in the main window";
        }
        // The canvas's grey also shows in the menu bar's lettering above it: its top is found
        // from its bottom edge and its width.
        const double scale = canvas->width() / app::kDesignWidth;
        const QPointF canvasTopLeft(canvas->left(),
                                    canvas->bottom() + 1 - app::kDesignHeight * scale);
        const QPoint click =
            (main->second.topLeft() + canvasTopLeft + kMonitorSwitch * scale).toPoint();
        if (!desktop.xdotool({"mousemove", "--screen", "0", "--sync", std::to_string(click.x()),
                              std::to_string(click.y()), "click", "1"})) {
            return "cannot click the monitor switch";
        }
        const auto output = mappedWindow(kOutputScreen, 100);
        if (!output) {
            return "no output window on the second screen";
        }
        outputArea = output->second;
        // A 16:9 picture fitted into the window, and the middle row of its strip.
        const QSize fitted = QSize(16, 9).scaled(outputArea.size(), Qt::KeepAspectRatio);
        const QRect picture(
            outputArea.topLeft() + QPoint((outputArea.width() - fitted.width()) / 2,
                                          (outputArea.height() - fitted.height()) / 2),
            fitted);
        const int stripMiddle = picture.height() / test::FrameNumberStrip::kHeightDivisor / 2;
        stripRow = QRect(picture.x(), picture.y() + stripMiddle, picture.width(), 1);
        // Keys go to the main window's focus, with the pointer away from every window.
        const std::string id = std::to_string(mainWindow);
        if (!desktop.xdotool({"mousemove", "--screen", "0", "--sync", "1910", "1070"}) ||
            !desktop.xdotool({"windowfocus", "--sync", id}) ||
            !desktop.xdotool({"key", firstKey})) {
            return "cannot press keys";
        }
        if (!test::pollUntil([&] { return shownFrame() >= 0; })) {
            return "the clip never showed in the output window";
        }
        return {};
    }

    // Grabs of both screens and the program's output, left in a folder of their own when a
    // step fails; the message says where.
    std::string keepEvidence(const std::string& failure, const std::filesystem::path& package) {
        namespace fs = std::filesystem;
        const fs::path folder = fs::temp_directory_path() / "kestio-output-show";
        fs::create_directories(folder);
        for (std::size_t screen : {0u, 1u}) {
            const QRect whole = screen == 0 ? QRect(0, 0, 1920, 1080) : QRect(0, 0, 1280, 720);
            x.grab(whole, screen)
                .image.save(QString::fromStdString(
                    (folder / ("screen" + std::to_string(screen) + ".png")).string()));
        }
        std::string output;
        if (kestio) {
            for (const auto& chunk : kestio->take(std::chrono::milliseconds(0))) {
                output += chunk.bytes;
            }
        }
        std::ofstream(folder / "output.txt") << output;
        std::ofstream(folder / "app.log") << readWholeFile(package / "app.log");
        return failure + " (screens, output and play log in " + folder.string() + ")";
    }

    // The output picture's strip row as the X server has it now.
    XScreenWatch::Grab grabStrip() { return x.grab(stripRow, kOutputScreen); }
    int shownFrame() {
        const auto grab = grabStrip();
        return grab.image.isNull() ? -1 : test::readFrameNumberOfRow(grab.image);
    }
};

}  // namespace kestio::bench
