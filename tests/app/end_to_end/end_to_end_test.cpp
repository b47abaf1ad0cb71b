// The kestio program end to end: on an X server with two screens, the private sound server and
// a JACK server, a show package of generated clips is played from the keyboard, a MIDI note
// and a click on the grid, then saved on the way out; and the show goes on through bad input.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "grid/grid_geometry.h"
#include "model/project_manager.h"
#include "support/jack_midi_peer.h"
#include "ui/palette.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST_F(EndToEnd, KeysMidiAndClicksPlayCuesAndSaveAndQuitWritesThePackage) {
    const fs::path package = writeShow();
    // A MIDI controller is there before the program starts; every source is connected.
    JackMidiPeer controller = JackMidiPeer::source("controller", "out");
    ASSERT_TRUE(controller.opened());

    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // The output goes on air through the switch in the output monitor's header: a full-screen
    // window on the second screen, black until a cue plays.
    const QRectF monitor = app::placement(app::CanvasPanel::outputMonitor).rect();
    ASSERT_TRUE(clickCanvas(kestio, window, {monitor.right() - 8 - 13, monitor.top() + 10.5}));
    EXPECT_TRUE(pollUntil([&] { return kestio.outputWindow().has_value(); })) << kestio.output();
    EXPECT_EQ(outputFrame(), -1);

    // Return is bound to playing the slot under the cursor, which starts on the first slot.
    ASSERT_TRUE(kestio.press(window, {"Return"}));
    EXPECT_TRUE(played(package, "KeyCue")) << readFile(package / "app.log");
    EXPECT_TRUE(programPlays(kestio, window)) << "no frame of the clip in the program picture";
    EXPECT_TRUE(outputPlays()) << "no frame of the clip on the output screen";

    // The program connects the controller once the server has answered it (never waiting for it).
    ASSERT_TRUE(pollUntil([&] { return controller.connected(); }, 40s))
        << "the program never connected the controller";
    controller.send({0x90, kMidiNote, 100});
    controller.send({0x80, kMidiNote, 0});
    EXPECT_TRUE(played(package, "MidiCue")) << readFile(package / "app.log");

    ASSERT_TRUE(clickCell(kestio, window, kClickSlot));
    EXPECT_TRUE(played(package, "ClickCue")) << readFile(package / "app.log");
    EXPECT_TRUE(programPlays(kestio, window));

    // A save that cannot replace the document (a folder stands in its place) keeps the
    // program running with its project.
    const fs::path document = package / ProjectManager::kDataFileName;
    const std::string saved = readFile(document);
    fs::remove(document);
    fs::create_directories(document / "in-the-way");
    ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
    ASSERT_TRUE(answerDefault(kestio)) << "no quit question";
    EXPECT_TRUE(kestio.waitForOutput("alert: 保存に失敗しました"))
        << kestio.output();  // Save Failed
    EXPECT_TRUE(kestio.running());
    ASSERT_TRUE(answerDefault(kestio)) << "no alert of the failed save";

    // With the way clear, "Save and Quit" writes the package and the program ends well.
    fs::remove_all(document);
    ASSERT_TRUE(kestio.press(window, {"ctrl+q"}));
    ASSERT_TRUE(answerDefault(kestio)) << "no quit question";
    EXPECT_EQ(kestio.waitForExit(), 0) << kestio.output();
    const ProjectData reread = ProjectManager(bookmarks_).load(package);
    EXPECT_EQ(reread.banks[0].slots[kKeySlot].name, "KeyCue");
    ASSERT_TRUE(reread.banks[0].slots[kMidiSlot].midiBindings.has_value());
    EXPECT_EQ(reread.banks[0].slots[kMidiSlot].midiBindings->size(), 1u);
    EXPECT_FALSE(saved.empty());
}

// What a key changes on the grid reaches the screen: a key press holds the main window's repaint
// while the cue it may fire starts, and what changed is painted once it is on air or the hold
// runs out. Each key of the table, in turn, leaves every cell of the first row framed as the
// show says: red on air, blue under the cursor (when not on air), neither otherwise.
TEST_F(EndToEnd, WhatAKeyChangesOnTheGridReachesTheScreen) {
    const fs::path package = writeShow();
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // Each key, with the slot then on air (-1: none) and the slot under the cursor.
    const std::tuple<const char*, int, int> steps[] = {
        {"Right", -1, 1}, {"1", 0, 0},    {"Right", 0, 1},
        {"2", 1, 1},      {"Left", 1, 0}, {"Return", 0, 0},
    };
    const QRectF body = grid::slotBodyRect(QRectF(QPointF(0, 0), grid::kPanelOnCanvas.size()));
    for (const auto& [key, onAir, cursor] : steps) {
        ASSERT_TRUE(kestio.press(window, {key}));
        std::string seen;  // the frame colours' pixel counts along each cell's top edge
        const bool shown = pollUntil([&] {
            seen = key;
            bool all = true;
            for (int slot = 0; slot < 3; ++slot) {
                const QRectF edge(grid::kPanelOnCanvas.topLeft() + body.topLeft() +
                                      QPointF(body.width() / 10 * (slot + 0.2), 0.4),
                                  QSizeF(body.width() / 10 * 0.6, 1.2));
                const int red = canvasPixelsNear(kestio, window, edge, ui::palette::red());
                const int blue = canvasPixelsNear(kestio, window, edge, ui::palette::blue());
                seen += " " + std::to_string(red) + "/" + std::to_string(blue);
                all = all && (red >= 30) == (slot == onAir) &&
                      (blue >= 30) == (slot == cursor && slot != onAir);
            }
            return all;
        });
        EXPECT_TRUE(shown) << seen;
    }
}

// Bad packages on the command line: each is reported in an alert that says why (and on the
// console), the program stays up with its window, and the path is left as it was.
TEST_F(EndToEnd, ABadPackageOnTheCommandLineIsReportedAndTheProgramStays) {
    struct Case {
        const char* what;
        std::function<fs::path()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"missing", [&] { return folder_ / "Missing.ktshow"; }, "No such file or directory"},
        {"plain file", [&] { return folder_.write("Plain.ktshow", "not a package"); },
         "Not a directory"},
        {"corrupt",
         [&] {
             fs::create_directories(folder_ / "Corrupt.ktshow");
             folder_.write("Corrupt.ktshow/data.json", "{\"banks\": [");
             return folder_ / "Corrupt.ktshow";
         },
         "JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path package = c.make();
        const bool existed = fs::exists(package);
        const std::string before = fs::is_directory(package)
                                       ? readFile(package / ProjectManager::kDataFileName)
                                       : readFile(package);
        KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
        EXPECT_TRUE(kestio.waitForOutput("alert: 読み込みに失敗しました"))
            << kestio.output();  // Load Failed
        EXPECT_NE(kestio.output().find(c.reason), std::string::npos) << kestio.output();
        EXPECT_TRUE(kestio.mainWindow().has_value());
        ASSERT_TRUE(answerDefault(kestio));
        EXPECT_TRUE(pollUntil([&] { return !kestio.dialogWindow().has_value(); }));
        EXPECT_TRUE(kestio.running());
        EXPECT_EQ(kestio.stop(), 128 + SIGTERM);
        EXPECT_EQ(fs::exists(package), existed);
        EXPECT_EQ(fs::is_directory(package) ? readFile(package / ProjectManager::kDataFileName)
                                            : readFile(package),
                  before);
    }
}

// A second program started on a package the first has open leaves it to the first, says so,
// and the first plays on.
TEST_F(EndToEnd, ASecondProgramOnTheSamePackageLeavesItToTheFirst) {
    const fs::path package = writeShow();
    KestioProcess first(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(first, package);
    ASSERT_FALSE(window.empty());

    KestioProcess second(*desktop_, {"--midi", "jack", package.string()});
    EXPECT_TRUE(second.waitForOutput("alert: このプロジェクトは別の Kestio で開かれています"))
        << second.output();  // This project is open in another Kestio
    EXPECT_EQ(second.stop(), 128 + SIGTERM);

    // The slot key "2" plays the second cue in the first program, whose log alone has the show.
    ASSERT_TRUE(first.press(window, {"2"}));
    EXPECT_TRUE(played(package, "MidiCue")) << readFile(package / "app.log");
    const std::string log = readFile(package / "app.log");
    EXPECT_EQ(log.find("プロジェクト読み込み"), log.rfind("プロジェクト読み込み")) << log;
    EXPECT_TRUE(first.running());
}

// The show goes on through a smaller window, the sound server going away and coming back, and
// the JACK server going away and coming back.
TEST_F(EndToEnd, TheShowGoesOnThroughAResizeAndLostSoundAndMIDIServers) {
    const fs::path package = writeShow();
    std::optional<JackMidiPeer> controller = JackMidiPeer::source("controller", "out");
    ASSERT_TRUE(controller->opened());
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    // The program's MIDI input is on the server once it has connected the controller. (The
    // server can be slow to take new clients for a while: it waits for the clients of programs
    // that earlier tests ended to answer, up to its client time-out.)
    ASSERT_TRUE(pollUntil([&] { return controller->connected(); }, 40s))
        << "the program never connected the controller";
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    {
        auto before = pulse_->record("null.monitor");
        EXPECT_TRUE(before->waitForSound(4800, 0.05f, 20.0)) << "no sound from the cue";
    }

    const QRect original = kestio.geometry(window).value_or(QRect());
    ASSERT_TRUE(desktop_->xdotool({"windowsize", "--sync", window, "800", "600"}));
    EXPECT_TRUE(pollUntil([&] { return kestio.geometry(window) == QRect(0, 0, 800, 600); }))
        << kestio.geometry(window).value_or(QRect()).width();
    EXPECT_TRUE(programPlays(kestio, window)) << "the program picture after the resize";
    ASSERT_TRUE(desktop_->xdotool({"windowsize", "--sync", window, std::to_string(original.width()),
                                   std::to_string(original.height())}));

    // The sound server goes away mid-show for longer than any retry waits, and comes back: the
    // picture plays on, cues still fire, the MIDI status panel says that the sound output was
    // lost, is being reconnected and is back, and the sound of the clip on air reaches the new
    // server, as does that of a cue fired after it came back.
    // (The notice stands in the panel's header, between its title and its refresh button.)
    const QRectF notice(1503 + 80, 144 + 2, 200, 18);
    const auto noticeShows = [&](const QColor& color) {
        return canvasPixelsNear(kestio, window, notice, color) >= 4;
    };
    EXPECT_FALSE(noticeShows(ui::palette::red()) || noticeShows(ui::palette::orange()));
    pulse_->stop();
    const auto outage = std::chrono::steady_clock::now();
    EXPECT_TRUE(kestio.waitForOutput("audio output: the sound server went away"))
        << kestio.output();
    EXPECT_TRUE(pollUntil([&] {
        return noticeShows(ui::palette::red()) || noticeShows(ui::palette::orange());
    })) << "the status panel does not say that the sound output was lost";
    EXPECT_TRUE(programPlays(kestio, window)) << "the program picture without a sound server";
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 2));
    std::this_thread::sleep_until(outage + 10s);  // the outage itself
    EXPECT_TRUE(noticeShows(ui::palette::orange()))
        << "the status panel does not say that the sound output is being reconnected";
    ASSERT_EQ(pulse_->start(), "");
    EXPECT_TRUE(kestio.waitForOutput("audio output: the sound server is back")) << kestio.output();
    EXPECT_TRUE(pollUntil([&] { return noticeShows(ui::palette::green()); }, 4s))
        << "the status panel does not say that the sound output is back";
    {
        auto recording = pulse_->record("null.monitor");
        EXPECT_TRUE(recording->waitForSound(4800, 0.05f, 20.0))
            << "no sound after the server came back";
    }
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 3));
    {
        auto recording = pulse_->record("null.monitor");
        EXPECT_TRUE(recording->waitForSound(4800, 0.05f, 20.0))
            << "no sound of the cue fired after the server came back";
    }

    // The JACK server goes away and comes back: the show plays on from the keyboard, the
    // console says once that the server went and once that it is back, and a controller on the
    // new server plays its slot again.
    // (The controller's own client is closed while its server still answers: libjack can take
    // minutes to close a client whose server was killed.)
    controller.reset();
    jack_->kill();
    EXPECT_TRUE(kestio.waitForOutput("MIDI: JACK server lost")) << kestio.output();
    ASSERT_TRUE(kestio.press(window, {"2"}));
    EXPECT_TRUE(played(package, "MidiCue"));
    ASSERT_TRUE(jack_->start());
    controller.emplace(JackMidiPeer::source("controller", "out"));
    ASSERT_TRUE(controller->opened());
    EXPECT_TRUE(kestio.waitForOutput("MIDI: JACK server back")) << kestio.output();
    EXPECT_TRUE(pollUntil([&] { return controller->connected(); }))
        << "the program did not connect the new controller";
    controller->send({0x90, kMidiNote, 100});
    controller->send({0x80, kMidiNote, 0});
    EXPECT_TRUE(played(package, "MidiCue", 2)) << readFile(package / "app.log");
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 4));
    // libjack's own complaints about the missing server, which it printed at every reopening
    // attempt (once a second), are silenced.
    EXPECT_EQ(kestio.output().find("Cannot connect to server"), std::string::npos)
        << kestio.output();
    // Said once each, whichever of the program's JACK clients noticed first.
    for (const std::string said : {"MIDI: JACK server lost", "MIDI: JACK server back"}) {
        const std::string& output = kestio.output();
        EXPECT_EQ(output.find(said), output.rfind(said)) << said << "\n" << output;
    }
    EXPECT_TRUE(kestio.running());
    // The controller leaves while the program's client still answers the server: a client of a
    // program ended by a signal keeps the server waiting on every later close, up to its
    // time-out each time.
    controller.reset();
}

}  // namespace
}  // namespace kestio::test
