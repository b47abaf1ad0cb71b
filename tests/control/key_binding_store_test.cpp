#include "control/key_binding_store.h"

#include <gtest/gtest.h>

#include "control/key_codes.h"
#include "control_test_support.h"
#include "platform/storage/settings_user_defaults.h"

namespace kestio {
namespace {

using namespace modifier;
using platform::UIntMapMap;
using A = PlayControlAction;

class KeyBindingStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { test::setLanguage(AppLanguage::en); }
    platform::InMemoryUserDefaults defaults_;
};

TEST_F(KeyBindingStoreTest, WithNothingStoredTheDefaultKeysApply) {
    KeyBindingStore store(defaults_);
    EXPECT_EQ(store.effectiveKey(A::cutGo), (KeyBinding{49, 0}));
    EXPECT_EQ(store.effectiveKey(A::pause), (KeyBinding{49, kShift}));
    EXPECT_EQ(store.effectiveKey(A::playAtCursor), (KeyBinding{36, 0}));
    EXPECT_EQ(store.effectiveKey(A::standby), (KeyBinding{36, kShift}));
    EXPECT_EQ(store.effectiveKey(A::stop), std::nullopt);
    EXPECT_EQ(defaults_.writeCount(), 0) << "defaults are never written";
}

TEST_F(KeyBindingStoreTest, AKeyOfAnotherActionIsRefusedUntilThatActionLetsGo) {
    KeyBindingStore store(defaults_);
    EXPECT_EQ(store.assign(49, 0, A::pause),
              "Already assigned to \"Cut Go (advance to next slot and play, black if empty)\"");
    EXPECT_EQ(store.effectiveKey(A::pause), (KeyBinding{49, kShift}));

    store.unassign(A::cutGo);
    EXPECT_EQ(store.assign(49, 0, A::pause), std::nullopt);
    EXPECT_EQ(store.effectiveKey(A::pause), (KeyBinding{49, 0}));
    EXPECT_EQ(store.effectiveKey(A::cutGo), std::nullopt);

    // Its own key is no conflict; Return and keypad Enter are different keys.
    EXPECT_EQ(store.assign(49, 0, A::pause), std::nullopt);
    EXPECT_EQ(store.assign(76, 0, A::stop), std::nullopt);

    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(store.assign(76, 0, A::standby),
              "「STOP（再生停止・黒）」に既に割り当てられています");
}

// A key stored for one action before another action's default came to be the same key.
TEST_F(KeyBindingStoreTest, ADefaultKeyYieldsToTheSameKeyStoredForAnotherAction) {
    defaults_.setUIntMapMap("playControlKeyBindings",
                            {{"stop", {{"keyCode", 49}, {"modifiers", kShift}}}});
    KeyBindingStore store(defaults_);
    EXPECT_EQ(store.effectiveKey(A::stop), (KeyBinding{49, kShift}));
    EXPECT_EQ(store.effectiveKey(A::pause), std::nullopt);
    EXPECT_EQ(store.conflictingAction(49, kShift, std::nullopt), A::stop);

    // Its default comes back once the other action lets the key go.
    store.unassign(A::stop);
    EXPECT_EQ(store.effectiveKey(A::pause), (KeyBinding{49, kShift}));
    // A key stored for the action itself is no reason to yield.
    EXPECT_EQ(store.assign(49, kShift, A::pause), std::nullopt);
    EXPECT_EQ(store.effectiveKey(A::pause), (KeyBinding{49, kShift}));
}

TEST_F(KeyBindingStoreTest, SlotKeysAndBareArrowsAreRefusedAsReserved) {
    KeyBindingStore store(defaults_);
    const std::string reserved = "This key is reserved for slot playback / cursor movement";
    EXPECT_EQ(store.assign(0, 0, A::stop), reserved);
    EXPECT_EQ(store.assign(123, 0, A::stop), reserved);
    EXPECT_EQ(store.assign(0, kShift, A::stop), std::nullopt);
    EXPECT_EQ(store.assign(123, kCommand, A::pause), std::nullopt);
    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(store.assign(1, 0, A::stop),
              "このキーはスロット再生／カーソル移動用に予約されています");
}

TEST_F(KeyBindingStoreTest, WritesBothKeysInTheirStoredForm) {
    KeyBindingStore store(defaults_);
    store.assign(96, 0, A::stop);
    store.unassign(A::standby);
    store.unassign(A::cutGo);
    EXPECT_EQ(defaults_.uintMapMap("playControlKeyBindings"),
              (UIntMapMap{{"stop", {{"keyCode", 96}, {"modifiers", 0}}}}));
    EXPECT_EQ(defaults_.stringList("playControlUnassignedActions"),
              (std::vector<std::string>{"cutGo", "standby"}));

    store.resetToDefaults();
    EXPECT_EQ(defaults_.uintMapMap("playControlKeyBindings"), UIntMapMap{});
    EXPECT_EQ(defaults_.stringList("playControlUnassignedActions"), std::vector<std::string>{});
    EXPECT_EQ(store.effectiveKey(A::cutGo), (KeyBinding{49, 0}));
}

TEST_F(KeyBindingStoreTest, LoadingMasksModifiersOfAnyWidthAndSkipsWhatCannotBeTrusted) {
    defaults_.setUIntMapMap("playControlKeyBindings",
                            {{"stop", {{"keyCode", 96}, {"modifiers", 0x100100}}},
                             {"pause", {{"keyCode", 70000}, {"modifiers", 0}}},
                             {"standby", {{"keyCode", 97}, {"modifiers", 0x1000000000}}},
                             {"cutGo", {{"keyCode", 98}}},
                             {"playAtCursor", {{"keyCode", 100}, {"modifiers", ~0x40000ULL}}},
                             {"launch", {{"keyCode", 99}, {"modifiers", 0}}}});
    defaults_.setStringList("playControlUnassignedActions", {"nothing", "cutGo"});
    KeyBindingStore store(defaults_);
    EXPECT_EQ(store.bindings.get(),
              (std::map<A, KeyBinding>{
                  {A::stop, KeyBinding{96, kCommand}},
                  {A::standby, KeyBinding{97, 0}},
                  {A::playAtCursor, KeyBinding{100, kShift | kOption | kCommand}},
              }));
    EXPECT_EQ(store.unassignedActions.get(), std::set<A>{A::cutGo});
}

TEST_F(KeyBindingStoreTest, AMalformedBindingsValueIsIgnoredAsAWholeButTheListIsStillRead) {
    defaults_.setString("playControlKeyBindings", "garbage");
    defaults_.setStringList("playControlUnassignedActions", {"pause"});
    KeyBindingStore store(defaults_);
    EXPECT_TRUE(store.bindings.get().empty());
    EXPECT_EQ(store.unassignedActions.get(), std::set<A>{A::pause});
}

TEST_F(KeyBindingStoreTest, BindingsSurviveARestartInTheSettingsFile) {
    const auto file = test::configHome() / "restart-test" / "Kestio.ini";
    {
        platform::SettingsUserDefaults settings(file);
        KeyBindingStore store(settings);
        store.unassign(A::pause);
        ASSERT_EQ(store.assign(49, kShift, A::stop), std::nullopt);
    }
    platform::SettingsUserDefaults settings(file);
    KeyBindingStore store(settings);
    EXPECT_EQ(store.effectiveKey(A::stop), (KeyBinding{49, kShift}));
    EXPECT_EQ(store.effectiveKey(A::pause), std::nullopt);
    EXPECT_EQ(settings.uintMapMap("playControlKeyBindings"),
              (UIntMapMap{{"stop", {{"keyCode", 49}, {"modifiers", 131072}}}}));
}

}  // namespace
}  // namespace kestio
