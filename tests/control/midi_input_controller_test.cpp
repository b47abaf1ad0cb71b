#include "control/midi_input_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio {
namespace {

using platform::Console;

class MIDIInputControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = system_.addSource("Keys");
        loop_.runPending();
        // Every callback writes one line, so order and arguments are checked together.
        midi_.onRawMessage = [this](std::uint8_t s, std::uint8_t a, std::uint8_t b) {
            calls_.push_back("raw " + std::to_string(s) + " " + std::to_string(a) + " " +
                             std::to_string(b));
        };
        midi_.onLearnedNote = [this](std::uint8_t ch, std::uint8_t n) {
            calls_.push_back("learn " + std::to_string(ch) + " " + std::to_string(n));
        };
        midi_.onNoteOff = [this](std::uint8_t n) { calls_.push_back("off " + std::to_string(n)); };
        midi_.onControlChange = [this](std::uint8_t ch, std::uint8_t c, std::uint8_t v) {
            calls_.push_back("cc " + std::to_string(ch) + " " + std::to_string(c) + " " +
                             std::to_string(v));
        };
        midi_.onPlaySlot = [this](int slot) { calls_.push_back("slot " + std::to_string(slot)); };
    }

    // Sends from a thread of its own, as a MIDI system would deliver, then runs what it posted.
    void receive(std::vector<std::uint8_t> bytes) {
        std::thread midiThread([&] { system_.sendFromSource(source_, bytes); });
        midiThread.join();
        loop_.runPending();
    }

    platform::ManualRunLoop loop_;
    platform::LoopbackMIDISystem system_{loop_};
    std::string source_;
    MIDIInputController midi_{loop_, system_};
    std::vector<std::string> calls_;
};

TEST_F(MIDIInputControllerTest, StartConnectsEverySourceAndListsItsName) {
    system_.addSource(std::nullopt);
    loop_.runPending();
    EXPECT_FALSE(midi_.isConnected.get());
    midi_.start();
    EXPECT_EQ(system_.clientNames(), std::vector<std::string>{"KestioMIDIClient"});
    EXPECT_TRUE(midi_.isConnected.get());
    EXPECT_EQ(midi_.connectedSourceNames.get(), (std::vector<std::string>{"Keys", "MIDI Device"}));
    EXPECT_EQ(midi_.connectedSources().size(), 2u);
    midi_.start();  // a second start does nothing
    EXPECT_EQ(system_.clientNames().size(), 1u);
}

TEST_F(MIDIInputControllerTest, NotesAndControlChangesReachTheCallbacksInOrder) {
    midi_.start();
    receive({0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00});
    EXPECT_EQ(calls_, (std::vector<std::string>{"raw 144 60 100", "learn 0 60", "slot 0",
                                                "raw 128 60 0", "off 60"}));
    EXPECT_EQ(midi_.lastMessageDescription.get(), "Note Off  Ch1  Note60  Vel0");

    calls_.clear();
    receive({0x91, 0x3C, 0x00});
    EXPECT_EQ(calls_, (std::vector<std::string>{"raw 145 60 0", "off 60"}));
    EXPECT_EQ(midi_.lastMessageDescription.get(), "Note Off  Ch2  Note60  Vel0");

    calls_.clear();
    receive({0xC0, 0x05, 0xB3, 0x07, 0x64});
    EXPECT_EQ(calls_, (std::vector<std::string>{"raw 179 7 100", "cc 3 7 100"}));
    EXPECT_EQ(midi_.lastMessageDescription.get(), "CC  Ch4  CC7 = 100");
}

TEST_F(MIDIInputControllerTest, WhileDisabledOnlyTheDescriptionChanges) {
    midi_.start();
    midi_.isEnabled = false;
    receive({0x90, 0x3C, 0x64});
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(midi_.lastMessageDescription.get(), "Note On   Ch1  Note60  Vel100");
    // The first note-on still set the base note.
    EXPECT_EQ(midi_.autoBaseNote, std::optional<std::uint8_t>(60));
}

TEST_F(MIDIInputControllerTest, TheFirstNoteOnSetsTheBaseOfTheSlotMapping) {
    midi_.start();
    midi_.onRawMessage = nullptr;
    midi_.onLearnedNote = nullptr;
    receive({0x90, 36, 1, 0x90, 45, 1, 0x90, 35, 1, 0x90, 36 + 40, 1, 0x90, 36 + 39, 1});
    EXPECT_EQ(calls_, (std::vector<std::string>{"slot 0", "slot 9", "slot 39"}));

    calls_.clear();
    midi_.noteToSlotMap = {{20, 5}, {21, -1}};
    receive({0x90, 20, 1, 0x90, 21, 1});
    EXPECT_EQ(calls_, (std::vector<std::string>{"slot 5"}));
}

TEST_F(MIDIInputControllerTest, MessagesArriveOnTheMainThreadOnlyThroughTheRunLoop) {
    midi_.start();
    std::thread midiThread([&] { system_.sendFromSource(source_, {0x90, 0x3C, 0x64}); });
    midiThread.join();
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(midi_.lastMessageDescription.get(), "—");
    EXPECT_TRUE(loop_.runPending() > 0);
    EXPECT_FALSE(calls_.empty());
}

TEST_F(MIDIInputControllerTest, WorkPostedBeforeTheControllerWentAwayDoesNothing) {
    auto midi = std::make_unique<MIDIInputController>(loop_, system_);
    int calls = 0;
    midi->onRawMessage = [&](std::uint8_t, std::uint8_t, std::uint8_t) { ++calls; };
    midi->start();
    system_.sendFromSource(source_, {0x90, 0x3C, 0x64});
    midi.reset();
    loop_.runPending();
    EXPECT_EQ(calls, 0);
}

TEST_F(MIDIInputControllerTest, SourcesThatComeAreConnectedAndThoseThatGoAreForgotten) {
    midi_.start();
    const auto pads = system_.addSource("Pads");
    loop_.runPending();
    EXPECT_EQ(midi_.connectedSourceNames.get(), (std::vector<std::string>{"Keys", "Pads"}));
    EXPECT_EQ(system_.connectedSources("KestioMIDIClient").size(), 2u);

    system_.removeSource(source_);
    system_.removeSource(pads);
    loop_.runPending();
    EXPECT_FALSE(midi_.isConnected.get());
    EXPECT_TRUE(midi_.connectedSourceNames.get().empty());
    EXPECT_TRUE(midi_.connectedSources().empty());

    // The controller comes back: it is connected again and its notes get through.
    source_ = system_.addSource("Keys");
    loop_.runPending();
    EXPECT_EQ(midi_.connectedSources(), std::vector<std::string>{source_});
    receive({0xB0, 1, 2});
    EXPECT_EQ(calls_.back(), "cc 0 1 2");
}

TEST_F(MIDIInputControllerTest, ASourceThatRefusesIsListedButNotConnected) {
    const auto broken = system_.addSource("Broken");
    system_.failConnecting(broken, -1);
    loop_.runPending();
    midi_.start();
    EXPECT_EQ(midi_.connectedSourceNames.get(), (std::vector<std::string>{"Keys", "Broken"}));
    EXPECT_EQ(midi_.connectedSources(), std::vector<std::string>{source_});
}

TEST_F(MIDIInputControllerTest, SetUpFailuresAreWrittenToTheConsoleAndLeaveItSilent) {
    Console::Capture console;
    system_.failClientCreation(8);
    midi_.start();
    EXPECT_TRUE(console.contains("MIDI: client create failed (8)"));
    EXPECT_FALSE(midi_.hasClient());

    system_.failClientCreation(platform::kMIDIStatusOK);
    system_.failInputPortCreation(9);
    midi_.start();
    EXPECT_TRUE(console.contains("MIDI: input port create failed (9)"));
    EXPECT_TRUE(midi_.hasClient());
    EXPECT_FALSE(midi_.isConnected.get());

    system_.failInputPortCreation(platform::kMIDIStatusOK);
    midi_.start();  // no second attempt once a client exists
    EXPECT_FALSE(midi_.hasInputPort());
}

TEST_F(MIDIInputControllerTest, StopReleasesEverything) {
    midi_.start();
    midi_.stop();
    EXPECT_FALSE(midi_.hasClient());
    EXPECT_FALSE(midi_.isConnected.get());
    EXPECT_TRUE(midi_.connectedSourceNames.get().empty());
    EXPECT_TRUE(system_.clientNames().empty());
    system_.sendFromSource(source_, {0x90, 0x3C, 0x64});
    loop_.runPending();
    EXPECT_TRUE(calls_.empty());
}

// Several messages waiting for one take: the latest of each note (on and off apart) and
// controller is kept, in the order the kept ones arrived, and what was replaced is counted.
TEST_F(MIDIInputControllerTest, WaitingMessagesKeepTheLatestOfEachNoteAndController) {
    Console::Capture console;
    midi_.start();
    midi_.onLearnedNote = nullptr;
    midi_.onPlaySlot = nullptr;
    receive(
        {0x90, 60, 1, 0xB0, 7, 1, 0x90, 61, 2, 0x90, 60, 3, 0xB0, 7, 5, 0x80, 61, 0, 0xB1, 7, 9});
    EXPECT_EQ(calls_,
              (std::vector<std::string>{"raw 144 61 2", "raw 144 60 3", "raw 176 7 5", "cc 0 7 5",
                                        "raw 128 61 0", "off 61", "raw 177 7 9", "cc 1 7 9"}));
    EXPECT_EQ(midi_.lastMessageDescription.get(), "CC  Ch2  CC7 = 9");
    loop_.advance(MIDIInputController::kDropReportInterval);
    EXPECT_TRUE(console.contains("MIDI: 2 incoming messages dropped"));

    // Taken, the places are free again: the same note comes through on its own.
    calls_.clear();
    receive({0x90, 60, 4});
    EXPECT_EQ(calls_, std::vector<std::string>{"raw 144 60 4"});
}

// While the show is busy with one cue the note-ons behind it age: one that waited too long is
// dropped, unless it is the newest, which is what the player asked for last. Control changes and
// note-offs are never dropped for age.
TEST_F(MIDIInputControllerTest, ANoteOnThatWaitedTooLongIsDroppedUnlessItIsTheNewest) {
    midi_.start();
    midi_.onLearnedNote = nullptr;
    midi_.onPlaySlot = nullptr;
    midi_.onNoteOff = nullptr;
    midi_.onControlChange = nullptr;
    struct Case {
        double cueCost;     // main-thread seconds each fired note-on takes
        double busyBefore;  // main-thread seconds busy before the take runs
        std::vector<std::uint8_t> bytes;
        std::vector<std::string> expected;
    };
    const double stale = MIDIInputController::kStaleNoteOnAfter;
    const std::vector<Case> cases{
        {stale * 0.6,
         0.0,
         {0x90, 60, 1, 0x90, 61, 1, 0x90, 62, 1},
         {"raw 144 60 1", "raw 144 61 1", "raw 144 62 1"}},
        {stale * 1.2,
         0.0,
         {0x90, 60, 1, 0x90, 61, 1, 0x90, 62, 1},
         {"raw 144 60 1", "raw 144 62 1"}},
        {0.0, 1.0, {0x90, 60, 1}, {"raw 144 60 1"}},
        {0.0, 1.0, {0x90, 60, 1, 0x90, 61, 1}, {"raw 144 61 1"}},
        {stale * 2,
         0.0,
         {0x90, 60, 1, 0x80, 59, 0, 0xB0, 7, 3, 0x90, 61, 1},
         {"raw 144 60 1", "raw 128 59 0", "raw 176 7 3", "raw 144 61 1"}},
    };
    for (const auto& c : cases) {
        calls_.clear();
        midi_.onRawMessage = [&](std::uint8_t s, std::uint8_t a, std::uint8_t b) {
            calls_.push_back("raw " + std::to_string(s) + " " + std::to_string(a) + " " +
                             std::to_string(b));
            if ((s & 0xF0) == 0x90) {
                loop_.stall(c.cueCost);
            }
        };
        system_.sendFromSource(source_, c.bytes);
        loop_.stall(c.busyBefore);
        loop_.runPending();
        EXPECT_EQ(calls_, c.expected) << "cue cost " << c.cueCost << ", busy " << c.busyBefore;
    }
}

// A source floods the input for ten seconds at 750 note-ons a second over 40 notes, with a fader
// moving among them (a stuck controller, or a device whose output comes back in), while each cue
// costs the main thread 20 ms. The main thread is never held for long, the cues stop with the
// flood, the next key is answered within a frame or two, the fader ends where it was left, and
// the console says how much was dropped.
TEST_F(MIDIInputControllerTest, AFloodFiresBoundedCuesAndTheNextKeyIsAnsweredAtOnce) {
    constexpr double kCueCost = 0.02;
    constexpr double kRate = 750.0;
    constexpr double kFlood = 10.0;
    Console::Capture console;
    midi_.start();
    midi_.onLearnedNote = nullptr;
    midi_.onPlaySlot = nullptr;
    midi_.onNoteOff = nullptr;
    std::vector<std::pair<int, double>> cues;  // note, time fired
    midi_.onRawMessage = [&](std::uint8_t status, std::uint8_t note, std::uint8_t velocity) {
        if ((status & 0xF0) == 0x90 && velocity > 0) {
            cues.emplace_back(note, loop_.now().seconds());
            loop_.stall(kCueCost);
        }
    };
    int fader = -1;
    midi_.onControlChange = [&](std::uint8_t, std::uint8_t, std::uint8_t value) { fader = value; };

    const double start = loop_.now().seconds();
    int sent = 0;
    int lastFaderSent = -1;
    double longestTurn = 0.0;
    while (loop_.now().seconds() - start < kFlood) {
        // What the source sent since the last turn of the main thread.
        const int due = static_cast<int>((loop_.now().seconds() - start) * kRate) + 1;
        std::vector<std::uint8_t> bytes;
        for (; sent < due; ++sent) {
            const auto note = static_cast<std::uint8_t>(36 + sent % 40);
            bytes.insert(bytes.end(), {0x90, note, 0x7F});
            if (sent % 10 == 0) {
                lastFaderSent = sent / 10 % 128;
                bytes.insert(bytes.end(), {0xB0, 7, static_cast<std::uint8_t>(lastFaderSent)});
            }
        }
        system_.sendFromSource(source_, bytes);
        const double before = loop_.now().seconds();
        loop_.advance(0.001);
        longestTurn = std::max(longestTurn, loop_.now().seconds() - before);
    }
    const double floodEnd = loop_.now().seconds();
    const auto firedDuringFlood = cues.size();

    system_.sendFromSource(source_, {0x90, 100, 0x7F});  // the operator's next key
    loop_.advance(5.0);

    EXPECT_GT(sent, 7000);
    EXPECT_LT(longestTurn, 0.1) << "the main thread was held by MIDI input";
    EXPECT_LT(firedDuringFlood, static_cast<std::size_t>(sent / 10)) << "few were dropped";
    ASSERT_FALSE(cues.empty());
    EXPECT_EQ(cues.back().first, 100) << "cues went on firing after the operator's key";
    EXPECT_LT(cues.back().second - floodEnd, 0.1) << "the operator's key waited";
    EXPECT_LE(cues.size() - firedDuringFlood, 5u) << "cues went on firing after the flood";
    EXPECT_EQ(fader, lastFaderSent);
    const std::regex droppedLine(R"(MIDI: [1-9][0-9]* incoming messages dropped.*)");
    EXPECT_TRUE(std::any_of(console.lines().begin(), console.lines().end(),
                            [&](const auto& l) { return std::regex_match(l, droppedLine); }));
}

}  // namespace
}  // namespace kestio
