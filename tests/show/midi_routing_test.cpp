#include "show/midi_routing.h"
#include "control/midi_input_controller.h"
#include "show_fixture.h"

namespace kestio::test {
namespace {

// MIDI from a source of the loopback system through the real input controller.
class MIDIRouting : public ShowFixture {
  protected:
    void SetUp() override {
        source = midiSystem.addSource("Pads");
        midi.start();
        loop.runPending();
        show->midiRouting().setupMIDIInput();
    }
    void send(std::vector<std::uint8_t> bytes) {
        midiSystem.sendFromSource(source, bytes);
        loop.runPending();
    }
    void bind(int bank, int index, std::int64_t channel, std::int64_t note) {
        slot(bank, index).addMIDIBinding(channel, note);
    }
    std::string source;
};

TEST_F(MIDIRouting, ANoteBoundToASlotShowsItsBankAndPlaysIt) {
    load(2, 7, "a.mov");
    bind(2, 7, 1, 0x24);
    send({0x90, 0x24, 0x64});
    EXPECT_EQ(show->currentBank.get(), 2);
    EXPECT_EQ(show->cursorSlot.get(), 7);
    EXPECT_EQ(playback.callsStartingWith("play 2 7").size(), 1u);
}

TEST_F(MIDIRouting, NoteOffsAndSilentNoteOnsDoNothing) {
    load(0, 1, "a.mov");
    bind(0, 1, 1, 60);
    send({0x90, 60, 0});
    send({0x80, 60, 64});
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(MIDIRouting, TheLowerBankWinsAndASlotBeatsAControl) {
    load(1, 3, "a.mov");
    load(4, 0, "b.mov");
    bind(4, 0, 2, 10);
    bind(1, 3, 2, 10);
    project().midiControlAssignments = {{"stop", 2, 10}, {"bank:5", 2, 11}};
    send({0x91, 10, 1});
    EXPECT_EQ(playback.calls.size(), 1u);
    EXPECT_EQ(playback.calls[0].rfind("play 1 3", 0), 0u);
    send({0x91, 11, 1});
    EXPECT_EQ(show->currentBank.get(), 5);
}

TEST_F(MIDIRouting, ControlTargetsOfTheDocument) {
    struct Case {
        const char* target;
        int bankAfter;
        const char* call;  // "" for none
    };
    playback.setOnAir(0, 0);
    for (const Case& c :
         {Case{"bank:0", 0, ""}, Case{"bank:19", 19, ""}, Case{"bank:20", 19, ""},
          Case{"bank:", 19, ""}, Case{"bank:+3", 3, ""}, Case{"bank: 4", 3, ""},
          Case{"bank:-1", 3, ""}, Case{"play", 3, "resume"}, Case{"pause", 3, "pause"},
          Case{"mute", 3, "toggleMute slot"}, Case{"stop", 3, "postRoll black"},
          Case{"stop", 3, ""}, Case{"Stop", 3, ""}}) {
        playback.calls.clear();
        show->midiRouting().performMIDIControlAction(c.target);
        EXPECT_EQ(show->currentBank.get(), c.bankAfter) << c.target;
        EXPECT_EQ(playback.calls.empty() ? std::string() : playback.calls[0], c.call) << c.target;
    }
    show->midiRouting().performMIDIControlAction("mute");  // nothing on air now
    EXPECT_EQ(playback.calls.back(), "toggleMute none");
}

TEST_F(MIDIRouting, InSelectModeOnlyNotesOfTheShownBankToggleTheirSlot) {
    bind(0, 4, 1, 40);
    bind(3, 2, 1, 41);
    project().midiControlAssignments = {{"stop", 1, 41}};
    playback.setOnAir(0, 0);
    show->isSelectMode = true;
    send({0x90, 41, 100});  // another bank: ignored, and no control either
    send({0x90, 40, 100});
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 4);
    EXPECT_EQ(show->selectedSlots.get(), (std::set<int>{4}));
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(MIDIRouting, ControlChangesSetLevelAndEqualiserOfTheSlotOnAir) {
    send({0xB0, 7, 127});  // nothing on air
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(playback.calls.empty());

    playback.setOnAir(1, 2);
    send({0xB5, 7, 127});
    EXPECT_EQ(slot(1, 2).audioSettings.masterLevel, 12.0f);
    EXPECT_EQ(playback.calls.back(), "volume on 12");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    send({0xB0, 7, 0});
    EXPECT_EQ(slot(1, 2).audioSettings.masterLevel, -24.0f);

    send({0xB0, 22, 0});
    send({0xB0, 25, 127});
    EXPECT_EQ(slot(1, 2).equalizer.hz800, -12.0f);
    EXPECT_EQ(slot(1, 2).equalizer.khz3_2, 12.0f);
    EXPECT_EQ(playback.calls.back(), "equalizer 0 0 -12 0 0 12");
    const auto before = playback.calls.size();
    send({0xB0, 26, 64});
    EXPECT_EQ(playback.calls.size(), before);
}

TEST_F(MIDIRouting, LearningMovesANoteFromEveryOtherBindingAndKeepsLearnModeOn) {
    bind(0, 2, 1, 36);
    project().midiControlAssignments = {{"stop", 1, 36}};
    load(0, 5, "a.mov");
    show->midiRouting().toggleMIDILearnMode();
    show->midiRouting().armMIDILearn(0, 5);
    EXPECT_EQ(show->midiLearnArmedTarget.get(), MIDILearnTarget::forSlot(0, 5));
    send({0x90, 36, 100});
    EXPECT_EQ(slot(0, 2).midiBindings, std::vector<MIDINoteBinding>{});  // emptied, kept a list
    EXPECT_EQ(slot(0, 5).midiBindings, (std::vector<MIDINoteBinding>{{1, 36}}));
    EXPECT_TRUE(project().midiControlAssignments.empty());
    EXPECT_TRUE(show->isMIDILearnMode.get());
    EXPECT_FALSE(show->midiLearnArmedTarget.get());
    EXPECT_TRUE(playback.calls.empty());  // learn mode fires nothing
    EXPECT_TRUE(show->hasUnsavedChanges.get());

    show->midiRouting().armMIDILearn("bank:3");
    send({0x9F, 1, 100});
    EXPECT_EQ(project().midiControlAssignments,
              (std::vector<MIDIControlAssignment>{{"bank:3", 16, 1}}));
    EXPECT_EQ(show->midiRouting().firstControlAssignment("bank:3")->note, 1);

    show->midiRouting().armMIDILearn(0, 0);
    show->midiRouting().toggleMIDILearnMode();  // off: disarmed, notes fire again
    send({0x90, 36, 100});
    EXPECT_EQ(slot(0, 0).midiBindings, std::nullopt);
    EXPECT_EQ(playback.callsStartingWith("play 0 5").size(), 1u);
}

// Ten notes a millisecond for five seconds, each a cue that costs the show nothing: what came in a
// millisecond is acted on within it, the notes of one note number once each turn (the latest).
TEST_F(MIDIRouting, AFloodOfTenThousandNotesASecondForFiveSecondsIsActedOnAsItComes) {
    load(0, 0, "a.mov");
    bind(0, 0, 1, 60);
    slot(0, 0).waveformData = std::vector<float>(500, 0.1f);
    constexpr int kNotesPerMillisecond = 10;
    constexpr int kMilliseconds = 5000;
    std::size_t sent = 0;
    // Milliseconds at whose end some note sent in them was still waiting to be handled.
    int behind = 0;
    for (int ms = 0; ms < kMilliseconds; ++ms) {
        for (int i = 0; i < kNotesPerMillisecond; ++i) {
            midiSystem.sendFromSource(source, {0x90, 60, 100});
            midiSystem.sendFromSource(source, {0x90, 127, 100});  // bound to nothing
            ++sent;
        }
        loop.advance(0.001);
        if (playback.logLines.size() != static_cast<std::size_t>(ms + 1)) {
            ++behind;
        }
    }
    EXPECT_EQ(behind, 0);
    EXPECT_EQ(sent, 50000u);
    EXPECT_EQ(playback.callsStartingWith("play 0 0").size(), std::size_t{kMilliseconds});
    EXPECT_EQ(playback.logLines.size(), std::size_t{kMilliseconds});
    EXPECT_EQ(show->currentBank.get(), 0);
}

// A control's note that waited behind a busy main thread is acted on before the cue that
// followed it, whatever the control: only a cue's note may be dropped for its age.
TEST_F(MIDIRouting, AControlNoteThatWaitedBehindABusyShowIsNeverDropped) {
    load(0, 1, "a.mov");
    load(0, 2, "b.mov");
    bind(0, 1, 1, 30);
    bind(0, 2, 1, 31);
    struct Case {
        const char* target;  // bound to note 20; "" binds it to nothing (a cue's note)
        std::uint8_t first;  // the note that waits
        const char* acted;   // the first call or bank the waiting note caused; "" for none
    };
    const Case cases[] = {
        {"mute", 20, "toggleMute slot"}, {"stop", 20, "postRoll black"}, {"play", 20, "resume"},
        {"pause", 20, "pause"},          {"bank:3", 20, "bank 3"},       {"", 31, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        project().midiControlAssignments.clear();
        if (*c.target != '\0') {
            project().midiControlAssignments.push_back({c.target, 1, 20});
        }
        playback.setOnAir(0, 0);
        show->currentBank = 0;
        std::vector<std::string> seen;
        const auto banks = show->currentBank.subscribe(
            [&](int bank) { seen.push_back("bank " + std::to_string(bank)); });
        playback.calls.clear();
        midiSystem.sendFromSource(source, {0x90, c.first, 100});
        loop.stall(MIDIInputController::kStaleNoteOnAfter * 2);
        midiSystem.sendFromSource(source, {0x90, 30, 100});
        loop.runPending();
        seen.insert(seen.end(), playback.calls.begin(), playback.calls.end());
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.size() > 1 ? seen.front() : "", c.acted);
        EXPECT_EQ(playback.callsStartingWith("play 0 2").size(), 0u);
        EXPECT_EQ(playback.callsStartingWith("play 0 1").size(), 1u);
    }
}

}  // namespace
}  // namespace kestio::test
