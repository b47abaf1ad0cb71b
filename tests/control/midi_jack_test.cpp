// The MIDI controllers on a private JACK server, talking to other JACK MIDI clients.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "platform/midi/jack_midi_system.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"

namespace kestio {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MIDIOverJack : public test::JackServerTest {
  protected:
    void SetUp() override {
        JackServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        system_ = std::make_unique<platform::JackMIDISystem>(loop_);
    }
    void TearDown() override { system_.reset(); }

    // Runs posted work until `done` holds; the MIDI thread wakes the wait.
    template <class Pred>
    bool runUntil(Pred done, double guardSeconds = 10.0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(guardSeconds));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            loop_.waitForPosted(0.1);
        }
        return true;
    }

    // Runs the polls (one a second of the loop's time) and the work they hand back until `done`.
    template <class Pred>
    bool pollUntil(Pred done) {
        for (int turn = 0; turn < 30 && !done(); ++turn) {
            loop_.advance(1.0);
            runUntil(done, 1.0);
        }
        return done();
    }

    // JACK puts a new connection into its graph a few cycles later. A harmless control change
    // is sent until one gets through, so the messages under test meet a finished connection.
    template <class Pred>
    bool primeConnection(test::JackMidiPeer& device, Pred arrived) {
        const Bytes probe{0xBF, 0x7F, 0x00};
        for (int attempt = 0; attempt < 100; ++attempt) {
            device.send(probe);
            if (runUntil(arrived, 0.1)) {
                return true;
            }
        }
        return false;
    }

    platform::ManualRunLoop loop_;
    std::unique_ptr<platform::JackMIDISystem> system_;
};

TEST_F(MIDIOverJack, NotesAndControlChangesOfAnotherClientReachTheCallbacks) {
    auto device = test::JackMidiPeer::source("KestioTestController", "out");
    ASSERT_TRUE(device.opened());

    MIDIInputController midi(loop_, *system_);
    // Probes of the priming may still arrive after it: they are counted, never recorded.
    std::vector<std::string> calls;
    int probes = 0;
    midi.onRawMessage = [&](std::uint8_t s, std::uint8_t a, std::uint8_t b) {
        if (s == 0xBF && a == 0x7F) {
            ++probes;
            return;
        }
        calls.push_back("raw " + std::to_string(s) + " " + std::to_string(a) + " " +
                        std::to_string(b));
    };
    midi.onLearnedNote = [&](std::uint8_t ch, std::uint8_t n) {
        calls.push_back("learn " + std::to_string(ch) + " " + std::to_string(n));
    };
    midi.onNoteOff = [&](std::uint8_t n) { calls.push_back("off " + std::to_string(n)); };
    midi.onControlChange = [&](std::uint8_t ch, std::uint8_t c, std::uint8_t v) {
        if (ch == 15 && c == 0x7F) {
            return;
        }
        calls.push_back("cc " + std::to_string(ch) + " " + std::to_string(c) + " " +
                        std::to_string(v));
    };
    // The controller is connected once the server's first answer reaches the main thread.
    midi.start();
    EXPECT_FALSE(midi.isConnected.get());
    ASSERT_TRUE(runUntil([&] { return midi.isConnected.get(); }));
    EXPECT_EQ(midi.connectedSourceNames.get(),
              std::vector<std::string>{"KestioTestController:out"});

    ASSERT_TRUE(primeConnection(device, [&] { return probes > 0; }));
    loop_.runPending();

    const Bytes noteOn{0x92, 0x3C, 0x64};
    device.send(noteOn);
    ASSERT_TRUE(runUntil([&] { return calls.size() >= 2; }));
    EXPECT_EQ(calls, (std::vector<std::string>{"raw 146 60 100", "learn 2 60"}));
    EXPECT_EQ(midi.lastMessageDescription.get(), "Note On   Ch3  Note60  Vel100");

    calls.clear();
    const Bytes releaseAndTurn{0x92, 0x3C, 0x00, 0xB2, 0x07, 0x50};
    device.send(releaseAndTurn);
    ASSERT_TRUE(runUntil([&] { return calls.size() >= 4; }));
    EXPECT_EQ(calls,
              (std::vector<std::string>{"raw 146 60 0", "off 60", "raw 178 7 80", "cc 2 7 80"}));
}

TEST_F(MIDIOverJack, ADeviceThatArrivesLaterIsPickedUpByPolling) {
    MIDIInputController midi(loop_, *system_);
    int notes = 0;
    int messages = 0;
    midi.onLearnedNote = [&](std::uint8_t, std::uint8_t) { ++notes; };
    midi.onRawMessage = [&](std::uint8_t, std::uint8_t, std::uint8_t) { ++messages; };
    midi.start();
    ASSERT_TRUE(loop_.waitForPosted(10.0)) << "the server's first answer never came";
    EXPECT_FALSE(midi.isConnected.get());

    auto device = test::JackMidiPeer::source("KestioTestLateController", "out");
    ASSERT_TRUE(device.opened());
    ASSERT_TRUE(pollUntil([&] { return midi.isConnected.get(); }));
    ASSERT_TRUE(primeConnection(device, [&] { return messages > 0; }));
    const Bytes noteOn{0x90, 0x24, 0x7F};
    device.send(noteOn);
    EXPECT_TRUE(runUntil([&] { return notes == 1; }));
}

TEST_F(MIDIOverJack, ANoteSentArrivesAtAnotherClientAsTheExactThreeBytes) {
    std::mutex mutex;
    std::condition_variable arrived;
    // Probes of the priming may still arrive after it: they are counted, never recorded.
    std::vector<Bytes> packets;
    int probes = 0;
    auto synth = test::JackMidiPeer::destination(
        "KestioTestSynth", "in", [&](const std::uint8_t* bytes, std::size_t length) {
            std::lock_guard lock(mutex);
            if (Bytes(bytes, bytes + length) == Bytes{0xBF, 0x7F, 0x00}) {
                ++probes;
            } else {
                packets.emplace_back(bytes, bytes + length);
            }
            arrived.notify_all();
        });
    ASSERT_TRUE(synth.opened());

    MIDIOutputController out(loop_, *system_);
    MIDIInputController midi(loop_, *system_);  // our own input port must not be a destination
    midi.start();
    out.setup();
    ASSERT_TRUE(runUntil([&] { return out.isConnected.get(); }));
    ASSERT_EQ(out.availableDestinationNames.get(), std::vector<std::string>{"KestioTestSynth:in"});
    out.selectedDestinationName = std::string("KestioTestSynth:in");

    std::unique_lock lock(mutex);
    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        lock.unlock();
        out.sendMessage(0xB0, 127, 0, 16);  // until the new connection carries messages
        lock.lock();
        primed = arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return probes > 0; });
    }
    ASSERT_TRUE(primed);
    lock.unlock();

    out.sendMessage(0x90, 64, 100, 10);
    out.sendMessage(0x80, 64, 0, 10);
    lock.lock();
    ASSERT_TRUE(
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return packets.size() >= 2; }));
    EXPECT_EQ(packets, (std::vector<Bytes>{{0x99, 0x40, 0x64}, {0x89, 0x40, 0x00}}));
    lock.unlock();
    // Nothing of ours came back in as input.
    EXPECT_FALSE(midi.isConnected.get());
}

// Another client floods the input with a thousand note-ons over eight notes while every cue costs
// the main thread a few milliseconds: far fewer cues fire than notes came, the key pressed after
// the flood is answered, and the console says how much was dropped.
TEST_F(MIDIOverJack, AFloodFromAnotherClientFiresFewCuesAndTheNextKeyIsAnswered) {
    auto device = test::JackMidiPeer::source("KestioTestController", "out");
    ASSERT_TRUE(device.opened());
    MIDIInputController midi(loop_, *system_);
    int probes = 0;
    std::vector<int> cues;
    midi.onRawMessage = [&](std::uint8_t s, std::uint8_t note, std::uint8_t velocity) {
        if (s == 0xBF) {
            ++probes;
        } else if (s == 0x90 && velocity > 0) {
            cues.push_back(note);
            // What firing a cue costs the main thread (work, not a wait).
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    midi.start();
    ASSERT_TRUE(runUntil([&] { return midi.isConnected.get(); }));
    ASSERT_TRUE(primeConnection(device, [&] { return probes > 0; }));
    loop_.runPending();

    platform::Console::Capture console;
    constexpr int kFlood = 1000;
    for (int i = 0; i < kFlood; ++i) {
        device.send({0x90, static_cast<std::uint8_t>(36 + i % 8), 0x7F});
    }
    device.send({0x90, 100, 0x7F});  // the operator's next key
    ASSERT_TRUE(runUntil([&] { return !cues.empty() && cues.back() == 100; }));
    EXPECT_LT(cues.size(), std::size_t{kFlood / 4});
    loop_.advance(MIDIInputController::kDropReportInterval);
    EXPECT_TRUE(console.contains("incoming messages dropped"));
}

}  // namespace
}  // namespace kestio
