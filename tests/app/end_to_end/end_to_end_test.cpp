// The kestio program end to end: on an X server with two screens, the private sound server and
// a JACK server, a show package of generated clips is played from the keyboard, a MIDI note
// and a click on the grid, then saved on the way out; and the show goes on through bad input.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "desktop_session.h"
#include "grid/grid_geometry.h"
#include "model/project_manager.h"
#include "platform/audio/pulse_server.h"
#include "platform/storage/bookmark_service.h"
#include "support/frame_number_strip.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Slots of the generated show (bank 1): a cue for the keys, one bound to a MIDI note, one for
// a click on the grid.
constexpr int kKeySlot = 0;
constexpr int kMidiSlot = 1;
constexpr int kClickSlot = 12;  // second row, third column
constexpr int kMidiNote = 64;   // on channel 1

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class EndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        desktop_ = new VirtualDesktop();
        pulse_ = new PulseServer();
        pulseFailure_ = pulse_->start();
        jack_ = new JackServer();
    }
    static void TearDownTestSuite() {
        // jackd can take its client time-out to end after the program's clients went with
        // their processes: nothing of it is needed any more.
        jack_->kill();
        delete jack_;
        delete pulse_;
        delete desktop_;
    }

    void SetUp() override {
        if (!desktop_->failure().empty()) {
            GTEST_SKIP() << desktop_->failure();
        }
        if (!pulseFailure_.empty()) {
            GTEST_SKIP() << "no private PulseAudio server: " << pulseFailure_;
        }
        if (!jack_->running()) {
            GTEST_SKIP() << jack_->failure();
        }
        // The program's own settings, caches and data, nowhere near the user's.
        for (const char* name : {"config", "data", "cache"}) {
            fs::create_directories(folder_ / name);
        }
        environment_.push_back(
            std::make_unique<ScopedEnvironment>("XDG_CONFIG_HOME", (folder_ / "config").string()));
        environment_.push_back(
            std::make_unique<ScopedEnvironment>("XDG_DATA_HOME", (folder_ / "data").string()));
        environment_.push_back(
            std::make_unique<ScopedEnvironment>("XDG_CACHE_HOME", (folder_ / "cache").string()));
        environment_.push_back(std::make_unique<ScopedEnvironment>("LANG", "C.UTF-8"));
        // The program draws on the X server, whatever platform the test process uses.
        environment_.push_back(std::make_unique<ScopedEnvironment>("QT_QPA_PLATFORM", "xcb"));
    }

    // A show of three looping cues of the 59.94 clip, MIDI input on.
    fs::path writeShow(const std::string& name = "Show.ktshow") {
        const MediaFile& clip = mediaFixtures().rateClip({60000, 1001});
        ProjectData project(4, 10);
        project.midiInputEnabled = true;
        const auto cue = [&](int slot, const std::string& title) {
            // Each cue has a file of its own name, as the importer leaves it.
            const fs::path file = folder_.copy(clip.path, title + ".mp4");
            SlotData& data = project.banks[0].slots[slot];
            data.name = title;
            data.bookmarkData = bookmarks_.bookmarkData(file);
            data.postRollMode = PostRollMode::loop;
            ClipInfo info;
            info.codec = clip.videoCodec;
            info.resolution = std::to_string(clip.width) + "x" + std::to_string(clip.height);
            info.fps = clip.frameRate.value();
            info.duration = clip.duration;
            data.clipInfo = info;
            return &data;
        };
        cue(kKeySlot, "KeyCue");
        cue(kMidiSlot, "MidiCue")->addMIDIBinding(1, kMidiNote);
        cue(kClickSlot, "ClickCue");
        return ProjectManager(bookmarks_).save(project, folder_ / name);
    }

    // Waits for the main window and for the opened show's first line in the play log.
    std::string awaitShow(KestioProcess& kestio, const fs::path& package) {
        std::string window;
        EXPECT_TRUE(pollUntil([&] {
            const auto found = kestio.mainWindow();
            window = found.value_or("");
            return found.has_value();
        })) << kestio.output();
        // The show is ready once its clips are warmed up.
        EXPECT_TRUE(pollUntil([&] {
            return readFile(package / "app.log").find("ウォームアップ完了") != std::string::npos;
        })) << kestio.output();
        return window;
    }

    // Waits until the play log has a start line for the cue.
    bool played(const fs::path& package, const std::string& cue, int times = 1,
                std::chrono::milliseconds guard = 20s) {
        return pollUntil(
            [&] {
                const std::string log = readFile(package / "app.log");
                int count = 0;
                for (auto at = log.find("再生開始: "); at != std::string::npos;
                     at = log.find("再生開始: ", at + 1)) {
                    const auto end = log.find('\n', at);
                    count += log.substr(at, end - at).find(cue) != std::string::npos ? 1 : 0;
                }
                return count >= times;
            },
            guard);
    }

    // The frame number the main window's program picture shows, or -1.
    int programFrame(KestioProcess& kestio, const std::string& window) {
        const auto frame = kestio.geometry(window);
        if (!frame) {
            return -1;
        }
        const QImage shot = desktop_->grab(*frame);
        const auto canvas = findCanvas(shot);
        if (!canvas) {
            return -1;
        }
        // The player card: 467,8 to 1110,536 of the 1920×1080 canvas. A window forced below
        // its minimum size shows the canvas's top left part only: then the picture is looked
        // for in the whole window.
        const double scale = canvas->width() / 1920.0;
        const bool whole = std::abs(canvas->width() / canvas->height() - 16.0 / 9.0) < 0.05;
        const QRect card = whole ? QRectF(canvas->x() + 467 * scale, canvas->y() + 8 * scale,
                                          643 * scale, 528 * scale)
                                       .toAlignedRect()
                                 : shot.rect();
        const auto picture = findTestPicture(shot, card);
        return picture ? readFrameNumber(shot.copy(*picture)) : -1;
    }

    // Waits until the program picture shows two different frames of the clip: it plays.
    bool programPlays(KestioProcess& kestio, const std::string& window) {
        int first = -1;
        return pollUntil([&] {
            const int now = programFrame(kestio, window);
            if (now < 0) {
                return false;
            }
            if (first < 0) {
                first = now;
            }
            return now != first;
        });
    }

    // Clicks the middle of a cell of the grid (bank 1, 4 × 10).
    bool clickCell(KestioProcess& kestio, const std::string& window, int slot) {
        const auto frame = kestio.geometry(window);
        const auto canvas = frame ? findCanvas(desktop_->grab(*frame)) : std::nullopt;
        if (!canvas) {
            return false;
        }
        const QRectF body = grid::slotBodyRect(QRectF(QPointF(0, 0), grid::kPanelOnCanvas.size()));
        const double rowHeight = body.height() / 4;
        const double columnWidth = body.width() / 10;
        const QPointF onCanvas =
            grid::kPanelOnCanvas.topLeft() + body.topLeft() +
            QPointF(columnWidth * (slot % 10 + 0.5), rowHeight * (slot / 10 + 0.5));
        const double scale = canvas->width() / 1920.0;
        const QPoint onScreen = (frame->topLeft() + canvas->topLeft() + onCanvas * scale).toPoint();
        return desktop_
            ->xdotool({"mousemove", "--sync", std::to_string(onScreen.x()),
                       std::to_string(onScreen.y()), "click", "1"})
            .has_value();
    }

    // Answers the question or alert now on screen with its default button.
    bool answerDefault(KestioProcess& kestio) {
        std::string dialog;
        if (!pollUntil([&] {
                const auto found = kestio.dialogWindow();
                dialog = found.value_or("");
                return found.has_value();
            })) {
            return false;
        }
        return kestio.press(dialog, {"Return"});
    }

    static inline VirtualDesktop* desktop_ = nullptr;
    static inline PulseServer* pulse_ = nullptr;
    static inline std::string pulseFailure_;
    static inline JackServer* jack_ = nullptr;

    TemporaryFolder folder_;
    platform::BookmarkService bookmarks_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
};

TEST_F(EndToEnd, KeysMidiAndClicksPlayCuesAndSaveAndQuitWritesThePackage) {
    const fs::path package = writeShow();
    // A MIDI controller is there before the program starts; every source is connected.
    JackMidiPeer controller = JackMidiPeer::source("controller", "out");
    ASSERT_TRUE(controller.opened());

    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // Return is bound to playing the slot under the cursor, which starts on the first slot.
    ASSERT_TRUE(kestio.press(window, {"Return"}));
    EXPECT_TRUE(played(package, "KeyCue")) << readFile(package / "app.log");
    EXPECT_TRUE(programPlays(kestio, window)) << "no frame of the clip in the program picture";

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
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    {
        auto before = pulse_->record("null.monitor");
        EXPECT_TRUE(before->waitForSound(4800, 0.05f, 20.0)) << "no sound from the cue";
    }

    ASSERT_TRUE(desktop_->xdotool({"windowsize", "--sync", window, "800", "600"}));
    EXPECT_TRUE(pollUntil([&] { return kestio.geometry(window) == QRect(0, 0, 800, 600); }))
        << kestio.geometry(window).value_or(QRect()).width();
    EXPECT_TRUE(programPlays(kestio, window)) << "the program picture after the resize";

    // The sound server goes away mid-show and comes back: the picture plays on, cues still fire,
    // and the sound reaches the new server.
    pulse_->stop();
    EXPECT_TRUE(programPlays(kestio, window)) << "the program picture without a sound server";
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 2));
    ASSERT_EQ(pulse_->start(), "");
    auto recording = pulse_->record("null.monitor");
    EXPECT_TRUE(recording->waitForSound(4800, 0.05f, 20.0))
        << "no sound after the server came back";
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 3));

    // The JACK server goes away and comes back: the show plays on from the keyboard, quietly.
    jack_->kill();
    ASSERT_TRUE(kestio.press(window, {"2"}));
    EXPECT_TRUE(played(package, "MidiCue"));
    ASSERT_TRUE(jack_->start());
    ASSERT_TRUE(kestio.press(window, {"1"}));
    EXPECT_TRUE(played(package, "KeyCue", 4));
    // libjack's own complaints about the missing server, which it printed at every reopening
    // attempt (once a second), are silenced.
    EXPECT_EQ(kestio.output().find("Cannot connect to server"), std::string::npos)
        << kestio.output();
    EXPECT_TRUE(kestio.running());
}

}  // namespace
}  // namespace kestio::test
