#include "platform/runloop/published.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/runloop/console.h"

namespace kestio::platform {
namespace {

TEST(Published, NotifiesEverySubscriberOnEverySetEvenWhenUnchanged) {
    Published<int> value(1);
    std::vector<int> a, b;
    auto subA = value.subscribe([&](const int& v) { a.push_back(v); });
    auto subB = value.subscribe([&](const int& v) { b.push_back(v); });
    value.set(2);
    value = 2;
    EXPECT_EQ(a, (std::vector<int>{2, 2}));
    EXPECT_EQ(b, (std::vector<int>{2, 2}));
    EXPECT_EQ(value.get(), 2);
}

TEST(Published, SubscriptionEndsWhenItsHandleGoesEvenDuringNotification) {
    Published<int> value;
    int firstCalls = 0, secondCalls = 0;
    Subscription second;
    auto first = value.subscribe([&](const int&) {
        ++firstCalls;
        second.reset();  // unsubscribes a later observer of the same notification
    });
    second = value.subscribe([&](const int&) { ++secondCalls; });
    value.set(5);
    value.set(6);
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(secondCalls, 0);
    first.reset();
    EXPECT_EQ(value.subscriberCount(), 0u);
}

TEST(Published, SubscriptionMayOutliveThePublishedValue) {
    const auto captured = std::make_shared<int>(0);
    Subscription sub;
    {
        Published<int> value;
        sub = value.subscribe([captured](const int&) {});
        EXPECT_EQ(captured.use_count(), 2);
    }
    EXPECT_EQ(captured.use_count(), 1) << "the value's observers end with it, not with the handle";
    sub.reset();  // must not touch the destroyed value
    EXPECT_EQ(captured.use_count(), 1);
}

TEST(Console, CaptureCollectsWholeLinesAndRestoresThePreviousSink) {
    Console::Capture outer;
    {
        Console::Capture inner;
        Console::log("inner line");
        EXPECT_TRUE(inner.contains("inner"));
    }
    Console::log("outer line");
    ASSERT_EQ(outer.lines().size(), 1u);
    EXPECT_EQ(outer.lines()[0], "outer line");
}

}  // namespace
}  // namespace kestio::platform
