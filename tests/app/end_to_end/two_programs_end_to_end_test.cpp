// Two programs on one package, under a window manager: every save that would write over the
// package while the other program has it open, or after the other has written it, asks before
// anything is written; the safe answer, the default, writes nothing.

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "end_to_end_fixture.h"
#include "model/project_manager.h"
#include "platform/storage/file_identity.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A dialog of `program` that is none of `seen`, once it is up; it is added to `seen`.
std::optional<std::string> newDialog(KestioProcess& program, std::set<std::string>& seen,
                                     std::chrono::milliseconds guard = 20s) {
    std::optional<std::string> found;
    pollUntil(
        [&] {
            for (const auto& window : program.dialogWindows()) {
                if (!seen.count(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        guard);
    if (found) {
        seen.insert(*found);
    }
    return found;
}

bool gone(KestioProcess& program, const std::string& window) {
    return pollUntil(
        [&] {
            const auto open = program.dialogWindows();
            return std::find(open.begin(), open.end(), window) == open.end();
        },
        10s);
}

// Answers the question with `keys`, or with its other button than the default when empty: Tab
// moves the focus to it, seen on the screen before it is pressed. A key that comes while the
// window is being activated is lost: the operator presses it again.
bool answer(VirtualDesktop& desktop, KestioProcess& program, const std::string& question,
            const std::vector<std::string>& keys) {
    if (!keys.empty()) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (program.press(question, keys) && gone(program, question)) {
                return true;
            }
        }
        return false;
    }
    // The windows before it are gone and the window manager has given the focus on: the Tab
    // goes to the question.
    pollUntil([&] {
        const auto open = program.dialogWindows();
        return open.size() == 1 && open.front() == question;
    });
    const auto frame = program.geometry(question);
    if (!frame || !desktop.xdotool({"windowfocus", "--sync", question})) {
        return false;
    }
    QImage settled;
    pollUntil([&] {
        const QImage now = desktop.grab(*frame);
        const bool same = !now.isNull() && now == settled;
        settled = now;
        return same;
    });
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!program.press(question, {"Tab"})) {
            return false;
        }
        if (pollUntil([&] { return desktop.grab(*frame) != settled; }, 10s)) {
            for (int press = 0; press < 3; ++press) {
                if (program.press(question, {"space"}) && gone(program, question)) {
                    return true;
                }
            }
            return false;
        }
    }
    return false;
}

TEST_F(EndToEnd, ASaveOverAPackageTheOtherProgramHoldsOrWroteAsksFirstAndTheDefaultWritesNothing) {
    WindowManager manager(*desktop_);
    ASSERT_EQ(manager.failure(), "");
    const fs::path package = writeShow();
    const fs::path document = package / ProjectManager::kDataFileName;
    KestioProcess first(*desktop_, {"--midi", "jack", package.string()});
    const std::string firstWindow = awaitShow(first, package);
    ASSERT_FALSE(firstWindow.empty());
    KestioProcess second(*desktop_, {"--midi", "jack"});
    std::string secondWindow;
    ASSERT_TRUE(pollUntil([&] {
        secondWindow = second.mainWindow().value_or("");
        return !secondWindow.empty();
    })) << second.output();

    // The first program's show has its cues; the second's is the empty project.
    const auto firstsShowOnDisk = [&] {
        return readFile(document).find("\"KeyCue\"") != std::string::npos;
    };
    // The answers: keys, or none for the other button than the default.
    const std::vector<std::string> defaultAnswer{"Return"}, escape{"Escape"}, saveAnyway{};
    struct Step {
        const char* what;
        bool bySecond;
        bool throughPanel;                               // the save panel chooses the package
        std::optional<std::vector<std::string>> answer;  // none: no question is asked
        bool writes;
        bool firstsShowAfter;
    };
    const Step steps[] = {
        {"second, save panel onto the open package, default", true, true, defaultAnswer, false,
         true},
        {"second, save panel onto the open package, Escape", true, true, escape, false, true},
        {"second, save panel onto the open package, Save Anyway", true, true, saveAnyway, true,
         false},
        {"second, save in place, default", true, false, defaultAnswer, false, false},
        {"second, save in place, Save Anyway", true, false, saveAnyway, true, false},
        {"first, save over the second's save, default", false, false, defaultAnswer, false, false},
        {"first, save over the second's save, Save Anyway", false, false, saveAnyway, true, true},
        {"first, its own save again: no question", false, false, std::nullopt, true, true},
        {"second, save in place while the first holds it, default", true, false, defaultAnswer,
         false, true},
    };
    // The document as the steps so far left it: each save replaces it whole.
    std::optional<platform::FileIdentity> expected = platform::FileIdentity::of(document);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        KestioProcess& program = step.bySecond ? second : first;
        const std::string& window = step.bySecond ? secondWindow : firstWindow;
        // A save the last step should not have made would be on disk by now: each program
        // saves on one disk thread, in turn, and the question of this step comes after.
        const auto before = platform::FileIdentity::of(document);
        EXPECT_EQ(before, expected) << "written after the operator said not to";
        std::set<std::string> seen{window};  // never taken for a dialog, should a look miss it
        ASSERT_TRUE(program.press(window, {"ctrl+s"}));
        if (step.throughPanel) {
            const auto panel = newDialog(program, seen);
            ASSERT_TRUE(panel) << "no save panel";
            ASSERT_TRUE(desktop_->xdotool({"windowfocus", "--sync", *panel}));
            ASSERT_TRUE(desktop_->xdotool({"key", "ctrl+a"}));
            ASSERT_TRUE(desktop_->xdotool({"type", "--delay", "15", package.string()}));
            ASSERT_TRUE(desktop_->xdotool({"key", "Return"}));
            auto replace = newDialog(program, seen, 5s);
            if (!replace) {
                // The path's completion list took the Return: the operator presses it again.
                ASSERT_TRUE(desktop_->xdotool({"key", "Return"}));
                replace = newDialog(program, seen);
            }
            ASSERT_TRUE(replace) << "no replace question";
            EXPECT_EQ(platform::FileIdentity::of(document), before) << "written before it was asked";
            ASSERT_TRUE(answer(*desktop_, program, *replace, {"alt+y"}));
        }
        if (step.answer) {
            const auto question = newDialog(program, seen);
            ASSERT_TRUE(question) << "no question before the write" << program.output();
            EXPECT_EQ(platform::FileIdentity::of(document), before) << "written before it was asked";
            ASSERT_TRUE(answer(*desktop_, program, *question, *step.answer));
        }
        if (step.writes) {
            EXPECT_TRUE(pollUntil([&] { return platform::FileIdentity::of(document) != before; }));
            expected = platform::FileIdentity::of(document);
        }
        EXPECT_EQ(firstsShowOnDisk(), step.firstsShowAfter) << readFile(document);
        EXPECT_TRUE(pollUntil([&] { return program.dialogWindows().empty(); }))
            << "a question after the save";
    }
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(second.running());
    // Once both have ended, nothing more of theirs can come.
    first.stop();
    second.stop();
    EXPECT_EQ(platform::FileIdentity::of(document), expected);
    EXPECT_TRUE(firstsShowOnDisk());
}

}  // namespace
}  // namespace kestio::test
