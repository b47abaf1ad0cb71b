// The main window's start-up wiring: the callbacks handed to the playback, the notifications,
// the play log's start line, and the change handlers that keep the open-project flag and the
// project's three switches in step.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app_fixture.h"
#include "control/midi_input_controller.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

using StartupWiring = AppFixture;

TEST_F(StartupWiring, NothingIsWiredBeforeTheWindowIsShown) {
    EXPECT_FALSE(wiring.isWired());
    EXPECT_FALSE(playback.onRequestPlay);
    EXPECT_EQ(notifications.observerCount(app::kSaveProjectNotification), 0u);
    EXPECT_FALSE(keyboard.isMonitoring());
    EXPECT_FALSE(midi.hasClient());
}

TEST_F(StartupWiring, TheStartUpActionWiresEverythingOnce) {
    wiring.onAppearSetup();
    wiring.onAppearSetup();
    EXPECT_EQ(steps, (std::vector<std::string>{"projectProvider", "layerLog"}));
    EXPECT_TRUE(playback.onRequestPlay);
    EXPECT_TRUE(playback.onRequestPreloadNext);
    for (const char* name : {app::kOpenProjectNotification, app::kSaveProjectNotification,
                             app::kOpenProjectURLNotification, app::kRequestReWarmUpNotification}) {
        EXPECT_EQ(notifications.observerCount(name), 1u) << name;
    }
    EXPECT_TRUE(keyboard.isMonitoring());
    EXPECT_TRUE(midi.hasClient());
    EXPECT_TRUE(keyboard.onCutGo) << "keyboard callbacks";
    EXPECT_TRUE(midi.onRawMessage) << "MIDI callbacks";
    // No location: no play log is opened.
    EXPECT_EQ(playback.logFileReopens, 0);
}

TEST_F(StartupWiring, TheProviderReturnsTheProjectAsItIsWhenAsked) {
    wiring.onAppearSetup();
    project().banks[5].name = "Later";
    ASSERT_TRUE(provider);
    const auto seen = provider();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->banks[5].name, "Later");
}

TEST_F(StartupWiring, APlayRequestShowsItsBankFirstAndKeepsTheCursor) {
    slot(3, 5).videoURL = media("intro.mov");
    show->cursorSlot = 7;
    wiring.onAppearSetup();
    playback.onRequestPlay(3, 5);
    EXPECT_EQ(show->currentBank.get(), 3);
    EXPECT_EQ(show->cursorSlot.get(), 7);
    EXPECT_EQ(playback.callsStartingWith("play").size(), 1u);
}

TEST_F(StartupWiring, LayerLogLinesGoToThePlayLog) {
    wiring.onAppearSetup();
    layerLog("[12:00:00.000] [LAYER] cut to B");
    ASSERT_FALSE(playback.logLines.empty());
    EXPECT_EQ(playback.logLines.back(), "[12:00:00.000] [LAYER] cut to B");
}

TEST_F(StartupWiring, AProjectWithALocationGetsItsStartLine) {
    const fs::path package = folder / "Show.ktshow";
    show->currentProjectURL = package;
    wiring.onAppearSetup();
    EXPECT_EQ(playback.logFile, package / "app.log");
    EXPECT_EQ(playback.logFileReopens, 1);
    ASSERT_FALSE(playback.logLines.empty());
    EXPECT_EQ(playback.logLines.back(), "アプリ起動: Show.ktshow");
}

TEST_F(StartupWiring, NotificationsReachTheShow) {
    wiring.onAppearSetup();
    notifications.post(app::kRequestReWarmUpNotification);
    EXPECT_TRUE(show->confirmReWarmUp.get());
    // Again while the question is up: the flag is simply set again.
    notifications.post(app::kRequestReWarmUpNotification);
    EXPECT_TRUE(show->confirmReWarmUp.get());

    notifications.post(app::kOpenProjectNotification);
    EXPECT_EQ(dialogs.callsOf("openPackage").size(), 1u);
    notifications.post(app::kSaveProjectNotification);
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
}

TEST_F(StartupWiring, AnOpenURLNotificationLoadsOnlyAPath) {
    const fs::path package = writePackage(ProjectData(4, 10), "Show.ktshow");
    wiring.onAppearSetup();
    notifications.post(app::kOpenProjectURLNotification, package.string());  // a string
    notifications.post(app::kOpenProjectURLNotification);                    // nothing
    loop.runPending();
    EXPECT_FALSE(show->currentProjectURL.get().has_value());
    notifications.post(app::kOpenProjectURLNotification, package);
    ASSERT_TRUE(waitFor([&] { return recentFirst(package); }));
    EXPECT_EQ(show->currentProjectURL.get(), package);
}

TEST_F(StartupWiring, TheOpenProjectFlagFollowsLocationAndUnsavedChanges) {
    struct Step {
        const char* what;
        std::function<void()> act;
        bool expected;
    };
    const std::optional<std::filesystem::path> location = folder / "A.ktshow";
    const std::optional<std::filesystem::path> noLocation;
    const Step steps[] = {
        {"edit", [&] { show->hasUnsavedChanges = true; }, true},
        {"location", [&] { show->currentProjectURL = location; }, true},
        {"saved", [&] { show->hasUnsavedChanges = false; }, true},
        {"location cleared", [&] { show->currentProjectURL = noLocation; }, false},
        {"edit again", [&] { show->hasUnsavedChanges = true; }, true},
        {"saved again", [&] { show->hasUnsavedChanges = false; }, false},
    };
    EXPECT_FALSE(delegate.hasOpenProject);
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(delegate.hasOpenProject, step.expected) << step.what;
    }
}

TEST_F(StartupWiring, SwitchesMarkTheProjectUnsavedOnlyWhenTheyDiffer) {
    struct Switch {
        const char* name;
        std::function<void(bool)> set;
        bool ProjectData::*field;
    };
    const Switch switches[] = {
        {"MIDI input", [&](bool on) { midi.isEnabled = on; }, &ProjectData::midiInputEnabled},
        {"labels", [&](bool on) { show->showMIDIAssignLabels = on; },
         &ProjectData::showMIDIAssignLabels},
        {"follow jump", [&](bool on) { show->followJump = on; }, &ProjectData::followJumpEnabled},
    };
    for (const auto& s : switches) {
        SCOPED_TRACE(s.name);
        show->hasUnsavedChanges = false;
        const bool initial = show->project().*s.field;
        s.set(initial);  // the value the project holds: nothing changes
        EXPECT_FALSE(show->hasUnsavedChanges.get());
        s.set(!initial);
        EXPECT_EQ(show->project().*s.field, !initial);
        EXPECT_TRUE(show->hasUnsavedChanges.get());
        // Back to the saved value: still unsaved.
        show->hasUnsavedChanges = false;
        s.set(initial);
        EXPECT_EQ(show->project().*s.field, initial);
        EXPECT_TRUE(show->hasUnsavedChanges.get());
    }
}

TEST_F(StartupWiring, OpeningAProjectWithOtherSwitchesMarksNothing) {
    ProjectData saved(4, 10);
    saved.midiInputEnabled = !midi.isEnabled.get();
    saved.showMIDIAssignLabels = !show->showMIDIAssignLabels.get();
    saved.followJumpEnabled = !show->followJump.get();
    const fs::path package = writePackage(saved, "Switches.ktshow");
    wiring.onAppearSetup();
    open(package);
    EXPECT_EQ(midi.isEnabled.get(), saved.midiInputEnabled);
    EXPECT_EQ(show->showMIDIAssignLabels.get(), saved.showMIDIAssignLabels);
    EXPECT_EQ(show->followJump.get(), saved.followJumpEnabled);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

}  // namespace
}  // namespace kestio::test
