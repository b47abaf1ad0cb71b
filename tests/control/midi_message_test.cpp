#include "control/midi_message.h"

#include <gtest/gtest.h>

namespace kestio {
namespace {

using Kind = MIDIMessage::Kind;

std::vector<MIDIMessage> parse(std::vector<std::uint8_t> bytes) {
    return parseMIDIPacket(bytes.data(), bytes.size());
}

TEST(MIDIMessageParsing, DecodesSeveralMessagesOfOnePacketInOrder) {
    const auto messages = parse({0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00, 0xB5, 0x07, 0x7F});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], (MIDIMessage{Kind::noteOn, 0x90, 0, 60, 100}));
    EXPECT_EQ(messages[1], (MIDIMessage{Kind::noteOff, 0x80, 0, 60, 0}));
    EXPECT_EQ(messages[2], (MIDIMessage{Kind::controlChange, 0xB5, 5, 7, 127}));
}

TEST(MIDIMessageParsing, NoteOnWithVelocityZeroIsANoteOffKeepingItsStatus) {
    const auto messages = parse({0x91, 0x3C, 0x00});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (MIDIMessage{Kind::noteOff, 0x91, 1, 60, 0}));
}

TEST(MIDIMessageParsing, SkipsOtherBytesAndHasNoRunningStatus) {
    EXPECT_TRUE(parse({0x3C, 0x64}).empty());
    const auto afterProgramChange = parse({0xC0, 0x05, 0xB0, 0x07, 0x64});
    ASSERT_EQ(afterProgramChange.size(), 1u);
    EXPECT_EQ(afterProgramChange[0].kind, Kind::controlChange);
    // The data bytes after a complete message are not a second note.
    EXPECT_EQ(parse({0x90, 0x3C, 0x64, 0x3E, 0x64}).size(), 1u);
    // System and real-time bytes are skipped one by one.
    EXPECT_EQ(parse({0xF8, 0xFE, 0x90, 0x3C, 0x64}).size(), 1u);
}

TEST(MIDIMessageParsing, AMessageCutShortEndsThePacket) {
    EXPECT_TRUE(parse({0x90, 0x3C}).empty());
    EXPECT_TRUE(parse({0xB0}).empty());
    EXPECT_EQ(parse({0x80, 0x3C, 0x00, 0x90, 0x3C}).size(), 1u);
}

TEST(MIDIMessageParsing, AStatusByteWhereDataIsDueStartsOverAtThatByte) {
    // A malformed packet must never come out as note 144 (which could be learned and saved).
    const auto doubled = parse({0x90, 0x90, 0x3C, 0x64});
    ASSERT_EQ(doubled.size(), 1u);
    EXPECT_EQ(doubled[0], (MIDIMessage{Kind::noteOn, 0x90, 0, 60, 100}));

    const auto interrupted = parse({0x90, 0x3C, 0xB0, 0x07, 0x64});
    ASSERT_EQ(interrupted.size(), 1u);
    EXPECT_EQ(interrupted[0], (MIDIMessage{Kind::controlChange, 0xB0, 0, 7, 100}));

    for (const auto& m : parse({0x90, 0xFF, 0xFF, 0xB0, 0x80, 0x90, 0x01, 0x02})) {
        EXPECT_LT(m.data1, 0x80);
        EXPECT_LT(m.data2, 0x80);
    }
}

struct RealTimeCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::vector<MIDIMessage> expected;
};

void PrintTo(const RealTimeCase& item, std::ostream* out) {
    *out << item.what;
}

class RealTimeBytes : public ::testing::TestWithParam<RealTimeCase> {};

TEST_P(RealTimeBytes, PassOverTheMessageInProgress) {
    EXPECT_EQ(parse(GetParam().bytes), GetParam().expected);
}

const MIDIMessage kNote60{Kind::noteOn, 0x90, 0, 60, 100};

INSTANTIATE_TEST_SUITE_P(
    Cases, RealTimeBytes,
    ::testing::Values(
        RealTimeCase{"clock before the velocity", {0x90, 0x3C, 0xF8, 0x64}, {kNote60}},
        RealTimeCase{
            "several before each data byte", {0x90, 0xFE, 0xFA, 0x3C, 0xF8, 0xFF, 0x64}, {kNote60}},
        RealTimeCase{"inside a control change",
                     {0xB3, 0x07, 0xFC, 0x7F},
                     {{Kind::controlChange, 0xB3, 3, 7, 127}}},
        RealTimeCase{"still cut short by the end", {0x90, 0x3C, 0xF8}, {}},
        RealTimeCase{"a channel status still abandons the message",
                     {0x90, 0x3C, 0xF8, 0x80, 0x3C, 0x00},
                     {{Kind::noteOff, 0x80, 0, 60, 0}}},
        RealTimeCase{"a system exclusive before the note is skipped",
                     {0xF0, 0x7E, 0xF8, 0x09, 0xF7, 0x90, 0x3C, 0x64},
                     {kNote60}},
        RealTimeCase{"data after a message is no running status",
                     {0x90, 0x3C, 0x64, 0xF8, 0x3E, 0x64},
                     {kNote60}}));

TEST(MIDIMessageDescription, ReceivedMessagesShowTheChannelFromOne) {
    EXPECT_EQ(describeReceivedMIDIMessage({Kind::noteOn, 0x90, 0, 60, 100}),
              "Note On   Ch1  Note60  Vel100");
    EXPECT_EQ(describeReceivedMIDIMessage({Kind::noteOff, 0x9F, 15, 60, 0}),
              "Note Off  Ch16  Note60  Vel0");
    EXPECT_EQ(describeReceivedMIDIMessage({Kind::controlChange, 0xB0, 0, 7, 100}),
              "CC  Ch1  CC7 = 100");
}

TEST(MIDIMessageDescription, SentMessagesShowTheArgumentsAsPassed) {
    EXPECT_EQ(describeSentMIDIMessage(0x90, 60, 100, 1), "Note On   Ch1  Note60  Vel100");
    EXPECT_EQ(describeSentMIDIMessage(0x80, 60, 0, 17), "Note Off  Ch17  Note60");
    EXPECT_EQ(describeSentMIDIMessage(0xB0, 7, 200, 0), "CC  Ch0  CC7 = 200");
    EXPECT_EQ(describeSentMIDIMessage(0xC0, 5, 0, 2), "Ch2  5 0");
}

}  // namespace
}  // namespace kestio
