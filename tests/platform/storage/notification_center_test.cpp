#include "platform/storage/notification_center.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

TEST(NotificationCenterTest, APostOnTheMainThreadReachesTheObserversOfItsNameAtOnce) {
    NotificationCenter center;
    std::vector<std::string> seen;
    auto open = center.addObserver("openProject", [&](const Notification& n) {
        seen.push_back(n.name + ":" + (n.object.has_value() ? "object" : "none"));
    });
    auto url = center.addObserver("openProjectURL", [&](const Notification& n) {
        seen.push_back(n.name + ":" + std::any_cast<std::string>(n.object));
    });
    center.post("openProject");
    center.post("openProjectURL", std::string("/shows/Show.ktshow"));
    center.post("saveProject");
    EXPECT_EQ(seen,
              (std::vector<std::string>{"openProject:none", "openProjectURL:/shows/Show.ktshow"}));
}

TEST(NotificationCenterTest, ObservationEndsWithItsHandleAlsoDuringDelivery) {
    NotificationCenter center;
    int first = 0;
    int second = 0;
    Subscription secondHandle;
    auto firstHandle = center.addObserver("saveProject", [&](const Notification&) {
        ++first;
        secondHandle.reset();  // ends another observation while delivering
    });
    secondHandle = center.addObserver("saveProject", [&](const Notification&) { ++second; });
    center.post("saveProject");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    firstHandle.reset();
    center.post("saveProject");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(center.observerCount("saveProject"), 0u);
}

TEST(NotificationCenterTest, APostFromAnotherThreadIsDeliveredOnTheMainThread) {
    ManualRunLoop loop;
    NotificationCenter center(&loop);
    std::thread::id deliveredOn;
    int delivered = 0;
    auto handle = center.addObserver("requestReWarmUp", [&](const Notification& n) {
        deliveredOn = std::this_thread::get_id();
        delivered += std::any_cast<int>(n.object);
    });
    std::thread poster([&] { center.post("requestReWarmUp", 5); });
    poster.join();
    EXPECT_EQ(delivered, 0);  // not before the main thread runs it
    ASSERT_TRUE(loop.waitForPosted(10.0));
    EXPECT_EQ(delivered, 5);
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenterTest, APostFromAnotherThreadIsDroppedWithoutALoopOrACentre) {
    Console::Capture console;
    {
        NotificationCenter center;
        int delivered = 0;
        auto handle = center.addObserver("x", [&](const Notification&) { ++delivered; });
        std::thread([&] { center.post("x"); }).join();
        EXPECT_EQ(delivered, 0);
        EXPECT_EQ(console.lines().size(), 1u);
    }
    ManualRunLoop loop;
    int delivered = 0;
    {
        NotificationCenter center(&loop);
        auto handle = center.addObserver("x", [&](const Notification&) { ++delivered; });
        std::thread([&] { center.post("x"); }).join();
    }
    loop.runPending();  // the centre is gone: nothing runs
    EXPECT_EQ(delivered, 0);
}

}  // namespace
}  // namespace kestio::platform
