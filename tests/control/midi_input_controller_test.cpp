#include "control/midi_input_controller.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestio
