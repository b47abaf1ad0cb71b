#include "playback/play_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/runloop/console.h"
#include "playback_rig.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

using test::readLines;

TEST(PlayLog, AppendsToTheOpenFileAndKeepsWhatWasThere) {
    test::TemporaryFolder folder;
    const auto file = folder.path() / "app.log";
    {
        std::ofstream existing(file);
        existing << "earlier run\n";
    }
    platform::Console::Capture console;
    PlayLog log;
    log.reopen(file);
    log.write("[21:05:03.042] first");
    log.write("[21:05:03.043] second");
    log.flush();
    EXPECT_EQ(readLines(file), (std::vector<std::string>{"earlier run", "[21:05:03.042] first",
                                                         "[21:05:03.043] second"}));
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"\U0001F4DD [21:05:03.042] first",
                                                         "\U0001F4DD [21:05:03.043] second"}));
}

TEST(PlayLog, LinesBeforeAReopenGoToTheOldFileAndAfterItToTheNew) {
    test::TemporaryFolder folder;
    PlayLog log;
    log.reopen(folder.path() / "one.log");
    log.write("a");
    log.reopen(folder.path() / "two.log");
    log.write("b");
    log.reopen(std::nullopt);
    log.write("c");
    log.flush();
    EXPECT_EQ(readLines(folder.path() / "one.log"), std::vector<std::string>{"a"});
    EXPECT_EQ(readLines(folder.path() / "two.log"), std::vector<std::string>{"b"});
}

TEST(PlayLog, AMissingPackageFolderIsAConsoleLineAndLoggingGoesOn) {
    test::TemporaryFolder folder;
    platform::Console::Capture console;
    PlayLog log;
    log.reopen(folder.path() / "gone.ktshow" / "app.log");
    log.write("still printed");
    log.flush();
    EXPECT_TRUE(console.contains("play log: cannot open"));
    EXPECT_TRUE(console.contains("still printed"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "gone.ktshow"));
}

TEST(PlayLog, ADestroyedLogWritesWhatWasHandedOver) {
    test::TemporaryFolder folder;
    {
        PlayLog log;
        log.reopen(folder.path() / "app.log");
        for (int i = 0; i < 500; ++i) {
            log.write("line " + std::to_string(i));
        }
    }
    const auto lines = readLines(folder.path() / "app.log");
    ASSERT_EQ(lines.size(), 500u);
    EXPECT_EQ(lines.back(), "line 499");
}

// Through the controller: stamps, the loadLog throttle and the list's limit.
class ControllerLog : public ::testing::Test {
  protected:
    test::PlaybackRig rig;
};

TEST_F(ControllerLog, EveryLineIsStampedWithTheTimeOfDay) {
    rig.pc().log("hello");
    const auto lines = rig.logLines();
    ASSERT_FALSE(lines.empty());
    const std::regex stamped(R"(^\[\d\d:\d\d:\d\d\.\d{3}\] .*)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_EQ(lines.back().substr(14), " hello");
    EXPECT_EQ(lines.back().substr(0, 14),
              "[" + platform::formatTimeOfDay(test::fixedTimeOfDay()) + "]");
}

TEST_F(ControllerLog, LoadLogTakesOneMessageATenthOfASecondAndKeepsTheLastHundred) {
    rig.loop.runPending();
    rig.pc().loadLog.set({});
    rig.loop.advance(1.0);
    rig.pc().log("first");
    rig.loop.advance(0.05);
    rig.pc().log("too soon");
    rig.loop.advance(0.05);
    rig.pc().log("third");
    rig.loop.runPending();
    EXPECT_EQ(rig.pc().loadLog.get(), (std::vector<std::string>{"first", "third"}));
    EXPECT_TRUE(rig.logHas("too soon"));

    for (int i = 0; i < 150; ++i) {
        rig.loop.advance(0.1);
        rig.pc().log("m" + std::to_string(i));
    }
    rig.loop.runPending();
    const auto& kept = rig.pc().loadLog.get();
    ASSERT_EQ(kept.size(), PlaybackController::kLoadLogLimit);
    EXPECT_EQ(kept.front(), "m50");
    EXPECT_EQ(kept.back(), "m149");
}

}  // namespace
}  // namespace kestio
