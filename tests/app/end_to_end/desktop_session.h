#pragma once

// The real kestio program on a real X server, driven as an operator would: an Xvfb with two
// X screens, key presses and clicks through xdotool (XTEST), and grabs of the screens through
// FFmpeg's x11grab. Every process started here is stopped by its process id.

#include <QImage>
#include <QRect>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace kestio::test {

// Calls `done` every 20 ms until it holds or `guard` has passed; returns its last answer.
bool pollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds guard = std::chrono::seconds(20));

// An Xvfb with screen 0 of 1920×1080 and screen 1 of 1280×720, on a display number it picks
// itself. DISPLAY points at it (screen 0) while it runs. The screens are two X screens, each
// with its own root window: Xvfb's Xinerama would lay both heads over each other at 0,0, and
// the program would see one screen.
class VirtualDesktop {
  public:
    static constexpr QSize kSecondScreen{1280, 720};

    VirtualDesktop();
    // An Xvfb whose X screens have the sizes given, in order.
    explicit VirtualDesktop(const std::vector<QSize>& screens);
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop&) = delete;
    VirtualDesktop& operator=(const VirtualDesktop&) = delete;

    // Empty on success, else why the server could not start.
    const std::string& failure() const { return failure_; }
    const std::string& display() const { return display_; }

    // Runs xdotool with the arguments; its standard output on success, none on failure.
    std::optional<std::string> xdotool(const std::vector<std::string>& arguments) const;
    // The pixels of X screen `screen` in `area` (its root window's coordinates), or a null
    // image.
    QImage grab(const QRect& area, int screen = 0) const;

  private:
    std::unique_ptr<BackgroundProcess> server_;
    std::string display_;
    std::string failure_;
};

// A window manager (openbox with its stock key bindings) on the first screen of `desktop`, for
// as long as it lives: windows get frames, and the desktop's own keys (Alt+Space opens the
// window menu) are taken before any program sees them. Once constructed without a failure, it
// has finished its start-up.
class WindowManager {
  public:
    explicit WindowManager(const VirtualDesktop& desktop);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Empty once it manages the screen, else why it does not.
    const std::string& failure() const { return failure_; }

  private:
    std::unique_ptr<BackgroundProcess> process_;
    std::string failure_;
};

// One running kestio, its output collected as it arrives.
class KestioProcess {
  public:
    KestioProcess(const VirtualDesktop& desktop, const std::vector<std::string>& arguments);
    ~KestioProcess();

    bool running() { return process_.running(); }
    // Standard output and error so far.
    const std::string& output();
    // Waits until the output holds `fragment`.
    bool waitForOutput(const std::string& fragment,
                       std::chrono::milliseconds guard = std::chrono::seconds(20));
    // Waits for the process to end on its own; its exit status, or none on time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds guard = std::chrono::seconds(20));
    // Ends it (SIGTERM, then SIGKILL).
    int stop() { return process_.stop(); }

    // The main window (the largest visible window on the first screen), once it is mapped.
    std::optional<std::string> mainWindow();
    // The output window: a visible window on the second screen.
    std::optional<std::string> outputWindow();
    // A visible window on the first screen other than the main window (a question or an
    // alert).
    std::optional<std::string> dialogWindow();
    // Every such window.
    std::vector<std::string> dialogWindows();
    // Gives `window` the keyboard focus, then types the keys (xdotool key names).
    bool press(const std::string& window, const std::vector<std::string>& keys);
    // The window's frame in its screen's root coordinates.
    std::optional<QRect> geometry(const std::string& window);
    // The X screen the window is on.
    std::optional<int> screenOf(const std::string& window);

  private:
    std::vector<std::string> visibleWindows();
    // What `xdotool getwindowgeometry --shell` says of the window: X, Y, WIDTH, HEIGHT, SCREEN.
    std::map<std::string, int> windowFacts(const std::string& window);

    const VirtualDesktop& desktop_;
    BackgroundProcess process_;
    std::string output_;
};

// Where the design canvas of 1920×1080 is drawn in a grab of the main window: the box of the
// rows and columns a quarter or more of whose pixels show its grey background (white 0.42),
// which shows around the cards.
std::optional<QRectF> findCanvas(const QImage& window);

// Where the four-quadrant test picture of the generated clips is shown within `area` of
// `image`: found by its red, green and blue quadrants. None when it is not there.
std::optional<QRect> findTestPicture(const QImage& image, const QRect& area);

}  // namespace kestio::test
