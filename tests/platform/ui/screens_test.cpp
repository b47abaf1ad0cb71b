#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "platform/ui/qt_screen_provider.h"
#include "support/fake_screen_provider.h"

namespace kestio::platform {
namespace {

TEST(ScreenId, IsTheFnv1aHashOfTheConnectorName) {
    EXPECT_EQ(screenIdForName(""), 0x811c9dc5u);
    EXPECT_EQ(screenIdForName("a"), 0xe40c292cu);
    EXPECT_EQ(screenIdForName("foobar"), 0xbf9cf968u);
    EXPECT_NE(screenIdForName("HDMI-1"), screenIdForName("HDMI-2"));
}

TEST(QtScreenProvider, ListsTheScreensWithStableIds) {
    QtScreenProvider provider;
    const auto screens = provider.screens();
    ASSERT_EQ(screens.size(), QGuiApplication::screens().size());
    ASSERT_FALSE(screens.empty());
    const QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(provider.mainScreenId(), screenIdForName(primary->name().toStdString()));
    for (const auto& s : screens) {
        EXPECT_EQ(s.id, screenIdForName(s.connector));
        EXPECT_FALSE(s.name.empty());
        EXPECT_FALSE(s.geometry.isEmpty());
        EXPECT_GE(s.scale, 1.0);
        EXPECT_GT(s.refreshRate, 0.0);
        EXPECT_EQ(QtScreenProvider::findScreen(s.id)->name().toStdString(), s.connector);
    }
    EXPECT_EQ(provider.screens(), screens);  // the same screens give the same descriptions
    EXPECT_EQ(QtScreenProvider::findScreen(screenIdForName("no such connector")), nullptr);
}

TEST(QtScreenProvider, ReportsEveryScreenChangeUntilUnsubscribed) {
    QtScreenProvider provider;
    int changes = 0;
    auto subscription = provider.onScreensChanged([&] { ++changes; });
    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->geometryChanged(screen->geometry());
    Q_EMIT screen->refreshRateChanged(screen->refreshRate());
    Q_EMIT qGuiApp->primaryScreenChanged(screen);
    EXPECT_EQ(changes, 3);
    Q_EMIT qGuiApp->screenAdded(screen);  // an already watched screen is not watched twice
    EXPECT_EQ(changes, 4);
    Q_EMIT screen->geometryChanged(screen->geometry());
    EXPECT_EQ(changes, 5);
    subscription.reset();
    Q_EMIT screen->geometryChanged(screen->geometry());
    EXPECT_EQ(changes, 5);
}

TEST(FakeScreenProvider, GivesWhatTheTestSetsUpAndAnnouncesChanges) {
    test::FakeScreenProvider fake;
    fake.list = {test::FakeScreenProvider::screen("eDP-1", {0, 0, 1440, 900}, 2.0),
                 test::FakeScreenProvider::screen("HDMI-1", {1440, 0, 1920, 1080}, 1.0, 50.0,
                                                  "DELL U2720Q")};
    fake.mainId = fake.list[0].id;
    ScreenProvider& provider = fake;
    EXPECT_EQ(provider.screens().at(1).name, "DELL U2720Q");
    EXPECT_EQ(provider.screens().at(1).refreshRate, 50.0);
    int changes = 0;
    {
        auto s = provider.onScreensChanged([&] { ++changes; });
        fake.announceChange();
        EXPECT_EQ(changes, 1);
    }
    fake.announceChange();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(fake.observerCount(), 0u);
}

}  // namespace
}  // namespace kestio::platform
