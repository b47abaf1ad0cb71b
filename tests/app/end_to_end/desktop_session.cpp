#include "desktop_session.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

namespace kestio::test {

namespace {

using namespace std::chrono_literals;

constexpr auto kToolTime = 20s;

bool near(int value, int target, int tolerance) {
    return std::abs(value - target) <= tolerance;
}

}  // namespace

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds guard) {
    const auto end = std::chrono::steady_clock::now() + guard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return done();
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

VirtualDesktop::VirtualDesktop() : VirtualDesktop({QSize(1920, 1080), kSecondScreen}) {}

VirtualDesktop::VirtualDesktop(const std::vector<QSize>& screens) {
    std::vector<std::string> argv{"Xvfb", "-displayfd", "1"};
    for (std::size_t i = 0; i < screens.size(); ++i) {
        argv.insert(argv.end(), {"-screen", std::to_string(i),
                                 std::to_string(screens[i].width()) + "x" +
                                     std::to_string(screens[i].height()) + "x24"});
    }
    argv.insert(argv.end(), {"-nolisten", "tcp", "-noreset"});
    server_ = std::make_unique<BackgroundProcess>(argv);
    if (!server_->started()) {
        failure_ = "Xvfb did not start: " + server_->failure();
        return;
    }
    // The server writes its display number once it accepts clients.
    std::string number;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        for (const auto& chunk : server_->take(200ms)) {
            number += chunk.bytes;
        }
        if (!server_->running()) {
            break;
        }
    }
    if (number.find('\n') == std::string::npos) {
        failure_ = "Xvfb gave no display number";
        server_->stop();
        return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    setenv("DISPLAY", display_.c_str(), 1);
}

VirtualDesktop::~VirtualDesktop() {
    if (server_) {
        server_->stop();
    }
    unsetenv("DISPLAY");
}

std::optional<std::string> VirtualDesktop::xdotool(
    const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProcessResult result = runProcess(argv, kToolTime);
    if (!result.succeeded()) {
        return std::nullopt;
    }
    return result.output;
}

QImage VirtualDesktop::grab(const QRect& area, int screen) const {
    const std::string size = std::to_string(area.width()) + "x" + std::to_string(area.height());
    const std::string input = display_ + "." + std::to_string(screen) + "+" +
                              std::to_string(area.x()) + "," + std::to_string(area.y());
    const ProcessResult result =
        runProcess({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                    "-video_size", size, "-i", input, "-frames:v", "1", "-f", "rawvideo",
                    "-pix_fmt", "rgb24", "-"},
                   kToolTime);
    const auto bytes = static_cast<std::size_t>(area.width()) * area.height() * 3;
    if (!result.succeeded() || result.output.size() != bytes) {
        return {};
    }
    QImage image(reinterpret_cast<const uchar*>(result.output.data()), area.width(), area.height(),
                 area.width() * 3, QImage::Format_RGB888);
    return image.copy();
}

WindowManager::WindowManager(const VirtualDesktop& desktop) {
    // Openbox runs its start-up command once it has taken the screen, bound its keys and
    // managed the windows already there: the line that command prints says it is ready. (The
    // desktop count it publishes early in its start-up says less: focus and key bindings may
    // not be set up yet.)
    const std::string ready = "window manager ready on " + desktop.display();
    process_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"openbox", "--sm-disable", "--startup", "echo '" + ready + "'"},
        BackgroundProcess::ErrorOutput::withOutput);
    if (!process_->started()) {
        failure_ = "openbox did not start: " + process_->failure();
        return;
    }
    std::string said;
    const bool started = pollUntil([&] {
        for (const auto& chunk : process_->take(0ms)) {
            said += chunk.bytes;
        }
        return said.find(ready) != std::string::npos || !process_->running();
    });
    if (!started || said.find(ready) == std::string::npos) {
        failure_ = std::string(process_->running() ? "openbox did not finish its start-up"
                                                   : "openbox ended at start-up") +
                   ": " + said;
        process_->stop();
    }
}

WindowManager::~WindowManager() {
    if (process_) {
        process_->stop();
    }
}

KestioProcess::KestioProcess(const VirtualDesktop& desktop,
                             const std::vector<std::string>& arguments)
    : desktop_(desktop),
      process_(
          [&] {
              std::vector<std::string> argv{KESTIO_PROGRAM};
              argv.insert(argv.end(), arguments.begin(), arguments.end());
              return argv;
          }(),
          BackgroundProcess::ErrorOutput::withOutput) {}

KestioProcess::~KestioProcess() {
    process_.stop();
}

const std::string& KestioProcess::output() {
    for (const auto& chunk : process_.take(0ms)) {
        output_ += chunk.bytes;
    }
    return output_;
}

bool KestioProcess::waitForOutput(const std::string& fragment, std::chrono::milliseconds guard) {
    return pollUntil([&] { return output().find(fragment) != std::string::npos; }, guard);
}

std::optional<int> KestioProcess::waitForExit(std::chrono::milliseconds guard) {
    if (!pollUntil([&] { return !process_.running(); }, guard)) {
        return std::nullopt;
    }
    output();
    return process_.stop();
}

std::vector<std::string> KestioProcess::visibleWindows() {
    // Questions and alerts have no title: windows are found by their class, and by the process
    // that made them, so that two programs on one desktop each find their own.
    const auto found = desktop_.xdotool({"search", "--all", "--onlyvisible", "--pid",
                                         std::to_string(process_.pid()), "--class", "."});
    std::vector<std::string> windows;
    if (!found) {
        return windows;
    }
    std::istringstream lines(*found);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            windows.push_back(line);
        }
    }
    return windows;
}

std::map<std::string, int> KestioProcess::windowFacts(const std::string& window) {
    std::map<std::string, int> facts;
    const auto shell = desktop_.xdotool({"getwindowgeometry", "--shell", window});
    if (!shell) {
        return facts;
    }
    std::istringstream lines(*shell);
    for (std::string line; std::getline(lines, line);) {
        if (const auto equals = line.find('='); equals != std::string::npos) {
            facts[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
        }
    }
    return facts;
}

std::optional<QRect> KestioProcess::geometry(const std::string& window) {
    auto facts = windowFacts(window);
    if (facts["WIDTH"] <= 0 || facts["HEIGHT"] <= 0) {
        return std::nullopt;
    }
    return QRect(facts["X"], facts["Y"], facts["WIDTH"], facts["HEIGHT"]);
}

std::optional<int> KestioProcess::screenOf(const std::string& window) {
    const auto facts = windowFacts(window);
    const auto screen = facts.find("SCREEN");
    if (screen == facts.end()) {
        return std::nullopt;
    }
    return screen->second;
}

std::optional<std::string> KestioProcess::mainWindow() {
    std::optional<std::string> largest;
    int largestArea = 0;
    for (const auto& window : visibleWindows()) {
        auto facts = windowFacts(window);
        const int area = facts["WIDTH"] * facts["HEIGHT"];
        if (facts.count("SCREEN") != 0 && facts["SCREEN"] == 0 && area > largestArea) {
            largestArea = area;
            largest = window;
        }
    }
    return largest;
}

std::optional<std::string> KestioProcess::outputWindow() {
    for (const auto& window : visibleWindows()) {
        if (screenOf(window) == 1) {
            return window;
        }
    }
    return std::nullopt;
}

std::optional<std::string> KestioProcess::dialogWindow() {
    const auto windows = dialogWindows();
    return windows.empty() ? std::nullopt : std::optional(windows.front());
}

std::vector<std::string> KestioProcess::dialogWindows() {
    const auto main = mainWindow();
    std::vector<std::string> dialogs;
    for (const auto& window : visibleWindows()) {
        if (window != main && screenOf(window) == 0) {
            dialogs.push_back(window);
        }
    }
    return dialogs;
}

bool KestioProcess::press(const std::string& window, const std::vector<std::string>& keys) {
    if (!desktop_.xdotool({"windowfocus", "--sync", window})) {
        return false;
    }
    std::vector<std::string> arguments{"key", "--clearmodifiers"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    return desktop_.xdotool(arguments).has_value();
}

std::optional<QRectF> findCanvas(const QImage& window) {
    const QImage image = window.convertToFormat(QImage::Format_RGB32);
    // The canvas's edges are grey along most of their length (the margins around the cards);
    // a grey pixel elsewhere, such as in the smoothed edge of dark text on the light menu bar,
    // is not enough to count a row or column in.
    std::vector<int> perRow(image.height(), 0);
    std::vector<int> perColumn(image.width(), 0);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = row[x];
            if (near(qRed(pixel), 107, 3) && near(qGreen(pixel), 107, 3) &&
                near(qBlue(pixel), 107, 3)) {
                ++perRow[y];
                ++perColumn[x];
            }
        }
    }
    const auto span = [](const std::vector<int>& counts, int least) -> std::pair<int, int> {
        int first = -1, last = -1;
        for (int i = 0; i < int(counts.size()); ++i) {
            if (counts[i] >= least) {
                first = first < 0 ? i : first;
                last = i;
            }
        }
        return {first, last};
    };
    const auto [top, bottom] = span(perRow, image.width() / 4);
    const auto [left, right] = span(perColumn, image.height() / 4);
    if (top < 0 || left < 0) {
        return std::nullopt;
    }
    return QRectF(left, top, right - left + 1, bottom - top + 1);
}

std::optional<QRect> findTestPicture(const QImage& image, const QRect& area) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const QRect within = area.intersected(rgb.rect());
    const auto isRed = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
    const auto isBlue = [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60; };
    // The red quadrant is the run of red that the most rows share exactly: a red frame drawn
    // around a cell of the grid shares it with a row or two at most.
    std::map<std::pair<int, int>, std::vector<int>> rowsOfRun;
    for (int y = within.top(); y <= within.bottom(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::pair<int, int> longest{0, -1};
        for (int x = within.left(); x <= within.right();) {
            if (!isRed(row[x])) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x <= within.right() && isRed(row[x])) {
                ++x;
            }
            if (x - begin > longest.second - longest.first + 1) {
                longest = {begin, x - 1};
            }
        }
        if (longest.second - longest.first + 1 >= 16) {
            rowsOfRun[longest].push_back(y);
        }
    }
    const auto red = std::max_element(rowsOfRun.begin(), rowsOfRun.end(), [](auto& a, auto& b) {
        return a.second.size() < b.second.size();
    });
    if (red == rowsOfRun.end() || red->second.size() < 8) {
        return std::nullopt;
    }
    const int left = red->first.first;
    const int width = 2 * (red->first.second - left + 1);
    const int redTop = red->second.front();
    const int redBottom = red->second.back();
    // Below it the blue quadrant reaches the picture's bottom edge.
    const int middle = (left + red->first.second) / 2;
    int bottom = -1;
    for (int y = redBottom + 1; y <= within.bottom(); ++y) {
        const bool blue = isBlue(reinterpret_cast<const QRgb*>(rgb.constScanLine(y))[middle]);
        if (blue) {
            bottom = y;
        } else if (bottom >= 0) {
            break;
        }
    }
    if (bottom < 0) {
        return std::nullopt;
    }
    // The strip covers the top tenth, so the red shows over four tenths of the height.
    const int top = redTop - (redBottom + 1 - redTop) / 4;
    return QRect(left, top, width, bottom + 1 - top);
}

}  // namespace kestio::test
