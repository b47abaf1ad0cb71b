#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <set>

#include "platform/ui/qt_screen_provider.h"
#include "platform/ui/screen_ids.h"
#include "support/fake_screen_provider.h"

namespace kestio::platform {
namespace {

TEST(ScreenId, IsTheFnv1aHashOfTheConnectorName) {
    EXPECT_EQ(screenIdForName(""), 0x811c9dc5u);
    EXPECT_EQ(screenIdForName("a"), 0xe40c292cu);
    EXPECT_EQ(screenIdForName("foobar"), 0xbf9cf968u);
    EXPECT_NE(screenIdForName("HDMI-1"), screenIdForName("HDMI-2"));
}

std::vector<std::uint32_t> idsOf(std::vector<ScreenDescriptor> screens) {
    assignScreenIds(screens);
    std::vector<std::uint32_t> ids;
    for (const ScreenDescriptor& s : screens) {
        ids.push_back(s.id);
    }
    return ids;
}

ScreenDescriptor display(const std::string& connector, QRect geometry,
                         const std::string& serial = {}) {
    ScreenDescriptor d = test::FakeScreenProvider::screen(connector, geometry);
    d.serial = serial;
    return d;
}

TEST(ScreenIds, AreUniqueAmongTheConnectedScreensWhateverTheirNames) {
    // Two X screens of one server: same name, both at the desktop's origin, no serial.
    const ScreenDescriptor xScreen0 = display("screen", {0, 0, 1920, 1080});
    const ScreenDescriptor xScreen1 = display("screen", {0, 0, 1280, 1024});
    // Two monitors of one model on a platform that names screens by model.
    const ScreenDescriptor left = display("DELL U2720Q", {0, 0, 2560, 1440}, "CN0A1");
    const ScreenDescriptor right = display("DELL U2720Q", {2560, 0, 2560, 1440}, "CN0B2");
    const ScreenDescriptor leftNoSerial = display("DELL U2720Q", {0, 0, 2560, 1440});
    const ScreenDescriptor rightNoSerial = display("DELL U2720Q", {2560, 0, 2560, 1440});
    const ScreenDescriptor hdmi = display("HDMI-1", {0, 0, 1920, 1080});
    struct Case {
        const char* what;
        std::vector<ScreenDescriptor> screens;
    };
    const Case cases[] = {
        {"two X screens", {xScreen0, xScreen1}},
        {"three X screens", {xScreen0, xScreen1, display("screen", {0, 0, 800, 600})}},
        {"one model twice, told by serial", {left, right, hdmi}},
        {"one model twice, told by place", {leftNoSerial, rightNoSerial}},
        {"one serial missing: told by place", {left, rightNoSerial}},
        {"one model twice, same serial and place", {left, left}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::uint32_t> ids = idsOf(c.screens);
        ASSERT_EQ(ids.size(), c.screens.size());
        EXPECT_EQ(std::set<std::uint32_t>(ids.begin(), ids.end()).size(), ids.size());
        // Listed again, the same screens keep their ids.
        EXPECT_EQ(idsOf(c.screens), ids);
    }
}

TEST(ScreenIds, AUniqueNameKeepsItsHashAndADistinctionByPlaceOrSerialIgnoresTheOrder) {
    const ScreenDescriptor left = display("DELL U2720Q", {0, 0, 2560, 1440}, "CN0A1");
    const ScreenDescriptor right = display("DELL U2720Q", {2560, 0, 2560, 1440}, "CN0B2");
    const ScreenDescriptor hdmi = display("HDMI-1", {0, 0, 1920, 1080});
    EXPECT_EQ(idsOf({hdmi}), (std::vector<std::uint32_t>{screenIdForName("HDMI-1")}));
    // A second screen of another name leaves the first one's id as it was.
    EXPECT_EQ(idsOf({hdmi, left})[0], screenIdForName("HDMI-1"));
    EXPECT_EQ(idsOf({left, hdmi})[0], screenIdForName("DELL U2720Q"));

    const std::vector<std::uint32_t> inOrder = idsOf({left, right, hdmi});
    const std::vector<std::uint32_t> reversed = idsOf({hdmi, right, left});
    EXPECT_EQ(inOrder[0], reversed[2]);
    EXPECT_EQ(inOrder[1], reversed[1]);
    EXPECT_EQ(inOrder[2], reversed[0]);
    ScreenDescriptor leftNoSerial = left;
    ScreenDescriptor rightNoSerial = right;
    leftNoSerial.serial.clear();
    rightNoSerial.serial.clear();
    EXPECT_EQ(idsOf({leftNoSerial, rightNoSerial})[0], idsOf({rightNoSerial, leftNoSerial})[1]);
    // The same place and no serial leave only the order to tell them by.
    const ScreenDescriptor x0 = display("screen", {0, 0, 1920, 1080});
    const ScreenDescriptor x1 = display("screen", {0, 0, 1280, 1024});
    EXPECT_EQ(idsOf({x0, x1}), idsOf({x1, x0}));
}

TEST(QtScreenProvider, ListsTheScreensWithStableIds) {
    QtScreenProvider provider;
    const auto screens = provider.screens();
    ASSERT_EQ(screens.size(), QGuiApplication::screens().size());
    ASSERT_FALSE(screens.empty());
    const QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(QtScreenProvider::findScreen(provider.mainScreenId()), primary);
    for (const auto& s : screens) {
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
