#include "control/midi_output_controller.h"

#include <gtest/gtest.h>

#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio {
namespace {

using Packets = std::vector<std::vector<std::uint8_t>>;

class MIDIOutputControllerTest : public ::testing::Test {
  protected:
    platform::ManualRunLoop loop_;
    platform::LoopbackMIDISystem system_{loop_};
    MIDIOutputController out_{loop_, system_};
};

TEST_F(MIDIOutputControllerTest, SendsThreeClampedBytesAndDescribesTheArgumentsLater) {
    const auto synth = system_.addDestination("Synth");
    out_.setup();
    EXPECT_EQ(system_.clientNames(), std::vector<std::string>{"KestioMIDIOutputClient"});
    EXPECT_TRUE(out_.isConnected.get());

    out_.sendMessage(0x90, 60, 100, 1);
    EXPECT_EQ(system_.received(synth), (Packets{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(out_.lastMessageDescription.get(), "—") << "the description follows later";
    loop_.runPending();
    EXPECT_EQ(out_.lastMessageDescription.get(), "Note On   Ch1  Note60  Vel100");

    out_.sendMessage(0x80, 60, 200, 0);
    out_.sendMessage(0xB0, -5, 64, 17);
    loop_.runPending();
    EXPECT_EQ(system_.received(synth),
              (Packets{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x7F}, {0xBF, 0x00, 0x40}}));
    EXPECT_EQ(out_.lastMessageDescription.get(), "CC  Ch17  CC-5 = 64");
}

TEST_F(MIDIOutputControllerTest, GoesToTheSelectedDestinationElseTheFirst) {
    const auto first = system_.addDestination("Lights");
    const auto second = system_.addDestination("Synth");
    const auto twin = system_.addDestination("Synth");
    system_.addDestination(std::nullopt);
    out_.setup();
    EXPECT_EQ(out_.availableDestinationNames.get(),
              (std::vector<std::string>{"Lights", "Synth", "Synth", "MIDI Device"}));

    EXPECT_EQ(system_.preparedDestinations(), std::vector<std::string>{first});
    out_.selectedDestinationName = std::string("Synth");
    EXPECT_EQ(system_.preparedDestinations().back(), second) << "readied before the first send";
    out_.sendMessage(0x90, 1, 1, 1);
    EXPECT_EQ(system_.received(second).size(), 1u);
    EXPECT_TRUE(system_.received(twin).empty());

    system_.removeDestination(second);
    system_.removeDestination(twin);
    loop_.runPending();
    EXPECT_EQ(out_.selectedDestinationName.get(), std::nullopt);
    EXPECT_EQ(system_.preparedDestinations().back(), first);
    out_.sendMessage(0x90, 2, 1, 1);
    EXPECT_EQ(system_.received(first).size(), 1u);
}

TEST_F(MIDIOutputControllerTest, WithoutDestinationsNothingIsSentOrDescribed) {
    out_.setup();
    EXPECT_FALSE(out_.isConnected.get());
    out_.sendMessage(0x90, 60, 100, 1);
    loop_.runPending();
    EXPECT_EQ(out_.lastMessageDescription.get(), "—");
}

TEST_F(MIDIOutputControllerTest, SetUpFailuresAreWrittenToTheConsoleAndNothingIsSent) {
    const auto synth = system_.addDestination("Synth");
    platform::Console::Capture console;
    system_.failClientCreation(3);
    out_.setup();
    EXPECT_TRUE(console.contains("MIDI Output: client create failed (3)"));

    system_.failClientCreation(platform::kMIDIStatusOK);
    system_.failOutputPortCreation(4);
    out_.setup();
    EXPECT_TRUE(console.contains("MIDI Output: output port create failed (4)"));
    out_.sendMessage(0x90, 60, 100, 1);
    EXPECT_TRUE(system_.received(synth).empty());
}

TEST_F(MIDIOutputControllerTest, TeardownReleasesTheClientAndEmptiesTheLists) {
    system_.addDestination("Synth");
    out_.setup();
    out_.sendMessage(0x90, 60, 100, 1);
    out_.teardown();
    loop_.runPending();
    EXPECT_TRUE(system_.clientNames().empty());
    EXPECT_TRUE(out_.availableDestinationNames.get().empty());
    EXPECT_TRUE(out_.destinations().empty());
    EXPECT_FALSE(out_.isConnected.get());
}

}  // namespace
}  // namespace kestio
