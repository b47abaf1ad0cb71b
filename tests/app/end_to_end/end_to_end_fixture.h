#pragma once

// The fixture of the end-to-end tests: one X server with two screens, the private sound server
// and a JACK server for the whole suite; for each test a show package of generated clips, the
// program's own settings folders, and the ways an operator reaches the program (keys, clicks at
// places of the design canvas) and sees what it does (its play log, grabs of the screens).

#include <gtest/gtest.h>

#include <QPointF>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "desktop_session.h"
#include "platform/audio/pulse_server.h"
#include "platform/storage/bookmark_service.h"
#include "support/jack_server.h"
#include "support/temporary_folder.h"

namespace kestio::test {

std::string readFile(const std::filesystem::path& file);

class EndToEnd : public ::testing::Test {
  protected:
    // Slots of the generated show's first bank: a cue for the keys, one bound to a MIDI note,
    // one for a click on the grid.
    static constexpr int kKeySlot = 0;
    static constexpr int kMidiSlot = 1;
    static constexpr int kClickSlot = 12;  // second row, third column
    static constexpr int kMidiNote = 64;   // on channel 1
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // A cue of the generated show: a looping 59.94 clip in a file of its own name.
    struct Cue {
        int bank;
        int slot;
        std::string title;
    };
    // The show's cues: KeyCue, MidiCue (bound to the MIDI note) and ClickCue in the first bank.
    static std::vector<Cue> standardCues();
    // A show of 20 banks of 4 × 10 slots holding `cues`, MIDI input on.
    std::filesystem::path writeShow(const std::vector<Cue>& cues = standardCues(),
                                    const std::string& name = "Show.ktshow");

    // Waits for the main window and for the opened show's clips to be warmed up.
    std::string awaitShow(KestioProcess& kestio, const std::filesystem::path& package);
    // Waits until the play log has `times` start lines for the cue.
    bool played(const std::filesystem::path& package, const std::string& cue, int times = 1,
                std::chrono::milliseconds guard = std::chrono::seconds(20));

    // The frame number the main window's program picture shows, or -1.
    int programFrame(KestioProcess& kestio, const std::string& window);
    // Waits until the program picture shows two different frames of the clip: it plays.
    bool programPlays(KestioProcess& kestio, const std::string& window);
    // The same for the output window, full screen on the second screen.
    int outputFrame();
    bool outputPlays();

    // Where a point of the 1920×1080 design canvas is on the screen, from where the canvas is
    // found in a grab of the main window; none when it is not found.
    std::optional<QPoint> onScreen(KestioProcess& kestio, const std::string& window,
                                   QPointF onCanvas);
    // How many pixels of a rectangle of the design canvas, in a grab of the main window, are
    // within `tolerance` of `color` in each channel; -1 when the canvas is not found.
    int canvasPixelsNear(KestioProcess& kestio, const std::string& window, const QRectF& onCanvas,
                         const QColor& color, int tolerance = 40);
    // Clicks a point of the design canvas with `button` (1 left, 3 right).
    bool clickCanvas(KestioProcess& kestio, const std::string& window, QPointF onCanvas,
                     int button = 1);
    // Clicks the middle of a cell of the grid (4 × 10).
    bool clickCell(KestioProcess& kestio, const std::string& window, int slot);
    // Answers the question or alert now on screen with its default button.
    bool answerDefault(KestioProcess& kestio);

    static inline VirtualDesktop* desktop_ = nullptr;
    static inline PulseServer* pulse_ = nullptr;
    static inline std::string pulseFailure_;
    static inline JackServer* jack_ = nullptr;

    TemporaryFolder folder_;
    platform::BookmarkService bookmarks_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
};

}  // namespace kestio::test
