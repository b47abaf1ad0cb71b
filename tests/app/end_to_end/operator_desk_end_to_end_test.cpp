// The program as an operator meets it, through the X server. With a window manager giving the
// focus: Return in a destructive confirmation does not act, Escape dismisses "Quit?", the tone
// menu shows its check mark, the MIDI source list scrolls to its last source, and "MIDI List"
// opens the assignments panel. On one X screen whose displays RandR reports: the output follows
// its display when the display changes its mode while the show plays.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "grid/grid_geometry.h"
#include "grid/grid_toolbar_model.h"
#include "grid/grid_toolbar_view.h"
#include "model/project_manager.h"
#include "support/jack_midi_peer.h"
#include "support/required_server.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

QRectF placed(app::CanvasPanel panel) {
    return app::placement(panel).rect();
}

// The screenshots the test takes, kept for a person to look at.
void keep(const QImage& image, const std::string& name) {
    const fs::path folder = fs::path(KESTIO_TEST_OUTPUT_DIR);
    fs::create_directories(folder);
    image.save(QString::fromStdString((folder / (name + ".png")).string()));
}

// How many times the play log says the cue started.
int playCount(const fs::path& package, const std::string& cue) {
    const std::string log = readFile(package / "app.log");
    int count = 0;
    for (auto at = log.find("再生開始: "); at != std::string::npos;
         at = log.find("再生開始: ", at + 1)) {
        count += log.substr(at, log.find('\n', at) - at).find(cue) != std::string::npos ? 1 : 0;
    }
    return count;
}

bool xrandr(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xrandr"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, 20s).succeeded();
}

// The X server of the end-to-end tests (two X screens) with openbox managing the first.
class OperatorDesk : public EndToEnd {
  protected:
    static void SetUpTestSuite() {
        EndToEnd::SetUpTestSuite();
        if (desktop_->failure().empty()) {
            windowManager_ = new BackgroundProcess({"openbox", "--sm-disable"});
            // A window manager of the desktop standards says which desktop is shown.
            if (!windowManager_->started() ||
                !pollUntil([] { return desktop_->xdotool({"get_desktop"}).has_value(); })) {
                deskFailure_ = "openbox did not start: " + windowManager_->failure();
            }
        }
    }

    static void TearDownTestSuite() {
        delete windowManager_;
        windowManager_ = nullptr;
        EndToEnd::TearDownTestSuite();
    }

    void SetUp() override {
        EndToEnd::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        if (!deskFailure_.empty()) {
            return serverCannotStart("the test desktop", deskFailure_);
        }
    }

    std::vector<std::string> visibleWindows() {
        std::vector<std::string> windows;
        std::istringstream lines(
            desktop_->xdotool({"search", "--onlyvisible", "--class", "."}).value_or(""));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                windows.push_back(line);
            }
        }
        return windows;
    }

    // A visible window other than `known` (a question, an alert or a menu), waited for.
    std::optional<std::string> newWindow(KestioProcess& kestio,
                                         const std::set<std::string>& known) {
        std::optional<std::string> found;
        pollUntil([&] {
            found = unknownWindow(kestio, known);
            return found.has_value();
        });
        return found;
    }

    std::optional<std::string> unknownWindow(KestioProcess& kestio,
                                             const std::set<std::string>& known) {
        for (const auto& window : visibleWindows()) {
            const auto frame = kestio.geometry(window);
            if (known.count(window) == 0 && frame && frame->width() > 1 && frame->height() > 1) {
                return window;
            }
        }
        return std::nullopt;
    }

    // Types keys where the keyboard is now (an open menu holds it).
    bool type(const std::vector<std::string>& keys) {
        std::vector<std::string> arguments{"key", "--clearmodifiers"};
        arguments.insert(arguments.end(), keys.begin(), keys.end());
        return desktop_->xdotool(arguments).has_value();
    }

    // The "MIDI List" button of the grid's toolbar, as the grid lays its toolbar out.
    static QPointF midiListButton() {
        grid::GridToolbarView toolbar;
        grid::ToolbarState state;
        toolbar.setFace(grid::toolbarFace(state));
        toolbar.resize(int(grid::kPanelOnCanvas.width()), int(grid::kToolbarHeight));
        const auto& items = toolbar.face().items;
        const auto at = std::find_if(items.begin(), items.end(), [](const grid::ToolbarItem& i) {
            return i.control == grid::ToolbarControl::midiList;
        });
        const QRectF rect = toolbar.itemRects().at(std::size_t(at - items.begin()));
        return grid::kPanelOnCanvas.topLeft() + rect.center();
    }

    // The right end of the text drawn in the rows of the MIDI status panel's source list: how
    // far its widest visible source name reaches.
    int sourceTextEnd(KestioProcess& kestio, const std::string& window, const std::string& shot) {
        const QRectF panel = placed(app::CanvasPanel::midiStatus);
        const auto topLeft = onScreen(kestio, window, {panel.left() + 18, panel.top() + 24});
        const auto bottomRight = onScreen(kestio, window, {panel.right() - 2, panel.top() + 48});
        if (!topLeft || !bottomRight) {
            return -1;
        }
        const QImage area = desktop_->grab(QRect(*topLeft, *bottomRight));
        keep(area, shot);
        int end = 0;
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x) {
                if (qGray(area.pixel(x, y)) > 140) {
                    end = std::max(end, x);
                }
            }
        }
        return end;
    }

    static inline BackgroundProcess* windowManager_ = nullptr;
    static inline std::string deskFailure_;
};

// One X screen of 3840×1080 and its RandR output "screen" in a mode as wide as the X screen,
// which is the display the output takes; a monitor of 1920×1080 at its right half, marked
// primary, is the main display. Switching the output to a 1920×1080 mode is a display changing
// its mode under the output. No window manager: what follows the display is the program.
class OutputDisplayChange : public EndToEnd {
  protected:
    static void SetUpTestSuite() {
        desktop_ = new VirtualDesktop({QSize(3840, 1080)});
        if (desktop_->failure().empty()) {
            const bool laidOut =
                xrandr({"--newmode", "wide", "297", "3840", "3900", "3950", "4000", "1080", "1084",
                        "1089", "1125"}) &&
                xrandr({"--newmode", "hd1080", "148.5", "1920", "2008", "2052", "2200", "1080",
                        "1084", "1089", "1125"}) &&
                xrandr({"--addmode", "screen", "wide"}) &&
                xrandr({"--addmode", "screen", "hd1080"}) && setOutputMode("wide") &&
                xrandr({"--setmonitor", "*main", "1920/508x1080/286+1920+0", "none"});
            deskFailure_ = laidOut ? "" : "xrandr could not lay out the displays";
        }
        pulse_ = new PulseServer();
        pulseFailure_ = pulse_->start();
        jack_ = new JackServer();
    }

    void SetUp() override {
        EndToEnd::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        if (!deskFailure_.empty()) {
            return serverCannotStart("the test desktop", deskFailure_);
        }
    }

    static bool setOutputMode(const std::string& mode) {
        return xrandr({"--fb", "3840x1080", "--output", "screen", "--mode", mode});
    }

    static inline std::string deskFailure_;
};

// Pixels of the check mark's column at the menu's left that stand out from the menu.
int markPixels(const QImage& menu) {
    const QColor ground = menu.pixelColor(menu.width() - 4, menu.height() / 2);
    int count = 0;
    for (int y = 2; y < menu.height() - 2; ++y) {
        for (int x = 3; x < std::min(24, menu.width()); ++x) {
            const QColor c = menu.pixelColor(x, y);
            count += std::abs(qGray(c.rgb()) - qGray(ground.rgb())) > 100 ? 1 : 0;
        }
    }
    return count;
}

// One program for every check, as an operator goes through a show's set-up.
TEST_F(OperatorDesk, QuestionsMenusAndPanelsAnswerAsAnOperatorExpects) {
    const fs::path package = writeShow();
    // Five MIDI sources for a list with room for two; the last has the longest name.
    std::vector<JackMidiPeer> sources;
    for (const char* client : {"pad1", "pad2", "pad3", "pad4", "the-fifth-and-last-source"}) {
        sources.push_back(JackMidiPeer::source(client, "out"));
        ASSERT_TRUE(sources.back().opened());
    }
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    keep(desktop_->grab(*kestio.geometry(window)), "operator_desk_main_window");

    // The output goes live on the second screen, and the first cue plays on it.
    const QRectF monitor = placed(app::CanvasPanel::outputMonitor);
    const QPointF outputSwitch(monitor.right() - 8 - 13, monitor.top() + 10.5);
    ASSERT_TRUE(clickCanvas(kestio, window, outputSwitch));
    ASSERT_TRUE(pollUntil([&] { return kestio.outputWindow().has_value(); })) << kestio.output();
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    std::set<std::string> known{window, kestio.outputWindow().value_or("")};

    {
        SCOPED_TRACE("Return in \"Stop external monitor output?\"");
        ASSERT_TRUE(clickCanvas(kestio, window, outputSwitch));
        const auto question = newWindow(kestio, known);
        ASSERT_TRUE(question.has_value()) << "no question";
        keep(desktop_->grab(*kestio.geometry(*question)), "operator_desk_stop_question");
        ASSERT_TRUE(kestio.press(*question, {"Return"}));
        EXPECT_TRUE(pollUntil([&] { return !unknownWindow(kestio, known); }));
        EXPECT_TRUE(kestio.outputWindow().has_value()) << "Return stopped the output";
    }
    {
        SCOPED_TRACE("Return in \"Clear all contents of this BANK?\"");
        // The first bank's tile at the top left of the bank list; "Clear" ends its menu.
        const QRectF banks = placed(app::CanvasPanel::bankList);
        ASSERT_TRUE(clickCanvas(kestio, window, banks.topLeft() + QPointF(60, 20), 3));
        const auto menu = newWindow(kestio, known);
        ASSERT_TRUE(menu.has_value()) << "no bank menu";
        const auto entries = kestio.geometry(*menu);
        ASSERT_TRUE(entries.has_value());
        ASSERT_TRUE(desktop_->xdotool({"mousemove", "--sync", std::to_string(entries->center().x()),
                                       std::to_string(entries->bottom() - 10), "click", "1"}));
        auto withMenu = known;
        withMenu.insert(*menu);
        const auto question = newWindow(kestio, withMenu);
        ASSERT_TRUE(question.has_value()) << "no question";
        ASSERT_TRUE(kestio.press(*question, {"Return"}));
        EXPECT_TRUE(pollUntil([&] { return !unknownWindow(kestio, known); }));
        // The bank kept its cues: the slot key plays the first one again.
        const int plays = playCount(package, "KeyCue");
        ASSERT_TRUE(kestio.press(window, {"1"}));
        EXPECT_TRUE(played(package, "KeyCue", plays + 1, 10s)) << "Return cleared the bank";
    }
    {
        SCOPED_TRACE("Escape in \"Quit?\"");
        ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
        const auto question = newWindow(kestio, known);
        ASSERT_TRUE(question.has_value()) << "no quit question";
        ASSERT_TRUE(kestio.press(*question, {"Escape"}));
        const bool dismissed = pollUntil([&] { return !unknownWindow(kestio, known); }, 5s);
        EXPECT_TRUE(dismissed) << "Escape left \"Quit?\" open";
        if (!dismissed) {
            // On to the next check: Tab twice reaches "Cancel".
            kestio.press(*question, {"Tab", "Tab", "space"});
            ASSERT_TRUE(pollUntil([&] { return !unknownWindow(kestio, known); }));
        }
        EXPECT_TRUE(kestio.running());
    }
    {
        SCOPED_TRACE("the tone menu's check mark");
        const QRectF utility = placed(app::CanvasPanel::utilityButtons);
        const QPointF tone(utility.left() + utility.width() * 0.75,
                           utility.top() + utility.height() * 0.75);
        ASSERT_TRUE(clickCanvas(kestio, window, tone, 3));
        const auto menu = newWindow(kestio, known);
        ASSERT_TRUE(menu.has_value()) << "no level menu";
        const auto frame = kestio.geometry(*menu);
        ASSERT_TRUE(frame.has_value());
        // The menu is drawn once it is mapped: grabbed until the mark shows, or for the guard.
        QImage shot;
        pollUntil(
            [&] {
                shot = desktop_->grab(*frame);
                return !shot.isNull() && markPixels(shot) > 20;
            },
            3s);
        keep(shot, "operator_desk_tone_menu");
        EXPECT_GT(markPixels(shot), 20) << "no check mark to be seen at -20 dBFS";
        ASSERT_TRUE(type({"Escape"}));
        ASSERT_TRUE(pollUntil([&] { return !unknownWindow(kestio, known); }));
    }
    {
        SCOPED_TRACE("the MIDI source list");
        ASSERT_TRUE(pollUntil(
            [&] {
                return std::all_of(sources.begin(), sources.end(),
                                   [](const JackMidiPeer& p) { return p.connected(); });
            },
            40s))
            << "the program never connected the five sources";
        const int before = sourceTextEnd(kestio, window, "operator_desk_midi_sources_top");
        const QRectF panel = placed(app::CanvasPanel::midiStatus);
        const auto list = onScreen(kestio, window, {panel.center().x(), panel.top() + 36});
        ASSERT_TRUE(list.has_value());
        ASSERT_TRUE(desktop_->xdotool({"mousemove", "--sync", std::to_string(list->x()),
                                       std::to_string(list->y()), "click", "--repeat", "6", "5"}));
        int after = -1;
        pollUntil(
            [&] {
                after = sourceTextEnd(kestio, window, "operator_desk_midi_sources_end");
                return after > before + 40;
            },
            5s);
        EXPECT_GT(after, before + 40) << "the wheel did not bring the fifth source into view";
    }
    {
        SCOPED_TRACE("\"MIDI List\"");
        ASSERT_TRUE(clickCanvas(kestio, window, midiListButton()));
        std::optional<std::string> panel;
        EXPECT_TRUE(pollUntil(
            [&] {
                std::istringstream found(
                    desktop_->xdotool({"search", "--onlyvisible", "--name", "^MIDI Assignments$"})
                        .value_or(""));
                std::string line;
                if (std::getline(found, line) && !line.empty()) {
                    panel = line;
                }
                return panel.has_value();
            },
            10s))
            << "no MIDI Assignments panel";
        if (panel) {
            known.insert(*panel);
            keep(desktop_->grab(*kestio.geometry(*panel)), "operator_desk_midi_assignments");
        }
    }

    // "Save and Quit" stays Return's: the package is written with the first bank whole.
    ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
    const auto question = newWindow(kestio, known);
    ASSERT_TRUE(question.has_value()) << "no quit question";
    ASSERT_TRUE(kestio.press(*question, {"Return"}));
    EXPECT_EQ(kestio.waitForExit(), 0) << kestio.output();
    EXPECT_EQ(ProjectManager(bookmarks_).load(package).banks[0].slots[kKeySlot].name, "KeyCue");
}

// What cannot be opened from the command line is told in the operator's language, with its
// path: a file that is not a package, and a package that is not there.
TEST_F(OperatorDesk, APathThatCannotBeOpenedIsToldInTheOperatorsWords) {
    struct Case {
        const char* what;
        fs::path path;
        const char* told;
    };
    const Case cases[] = {
        {"not a package", folder_.write("notes.txt", "a note"),
         "alert: プロジェクトを開けません: "},  // Cannot Open Project
        {"not there", folder_ / "Gone.ktshow", "この場所には何もありません"},  // nothing there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KestioProcess kestio(*desktop_, {"--midi", "jack", c.path.string()});
        EXPECT_TRUE(kestio.waitForOutput(c.told)) << kestio.output();
        EXPECT_TRUE(kestio.waitForOutput(c.path.string() + "\n")) << kestio.output();
        EXPECT_EQ(kestio.output().find("alert: 読み込みに失敗しました: filesystem error"),
                  std::string::npos)
            << kestio.output();
        EXPECT_TRUE(kestio.running());
    }
}

// The output display goes from 3840×1080 to 1920×1080 while a cue plays on it: the output
// window takes the display's new size and the whole canvas shows in it.
TEST_F(OutputDisplayChange, TheOutputFollowsItsDisplaysNewMode) {
    const fs::path package = writeShow();
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    const QRectF monitor = placed(app::CanvasPanel::outputMonitor);
    ASSERT_TRUE(clickCanvas(kestio, window, {monitor.right() - 8 - 13, monitor.top() + 10.5}));
    // The output window is the one as wide as the output display.
    std::string output;
    ASSERT_TRUE(pollUntil([&] {
        const auto found = desktop_->xdotool({"search", "--onlyvisible", "--class", "."});
        std::istringstream lines(found.value_or(""));
        for (std::string line; std::getline(lines, line);) {
            if (kestio.geometry(line).value_or(QRect()).width() == 3840) {
                output = line;
            }
        }
        return !output.empty();
    })) << kestio.output();
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));

    ASSERT_TRUE(setOutputMode("hd1080"));
    EXPECT_TRUE(pollUntil(
        [&] { return kestio.geometry(output).value_or(QRect()).size() == QSize(1920, 1080); }, 10s))
        << "the output window kept " << kestio.geometry(output).value_or(QRect()).width()
        << " points";
    // The canvas of 1920×1080 fills the display: no part of the picture is cut.
    std::optional<QRect> picture;
    pollUntil(
        [&] {
            const QImage shot = desktop_->grab(QRect(0, 0, 1920, 1080));
            picture = findTestPicture(shot, shot.rect());
            return picture && picture->left() < 8 && picture->width() > 1900;
        },
        10s);
    keep(desktop_->grab(QRect(0, 0, 1920, 1080)), "output_display_after_mode_change");
    ASSERT_TRUE(picture.has_value()) << "no picture on the output display";
    EXPECT_LT(picture->left(), 8) << "the picture is not fitted to the display";
    EXPECT_GT(picture->width(), 1900) << "the picture is cut at the display's edge";
    EXPECT_TRUE(kestio.running());
}

}  // namespace
}  // namespace kestio::test
