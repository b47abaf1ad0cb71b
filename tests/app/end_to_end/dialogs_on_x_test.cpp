// The program's dialogs on a real X server with a window manager, driven through the X server as
// the operator does: in the open and save panels a show package (a folder) is picked as one
// item, whether clicked, double-clicked or typed (the accept button clicked over the typed
// path's completion list), and ordinary folders are still browsed into; a dialog opened
// while a floating panel is up is seen whole, above the panel.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "desktop_session.h"
#include "platform/ui/qt_dialog_presenter.h"
#include "support/temporary_folder.h"
#include "support/x_server_child.h"

namespace kestio::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kPanelVariable = "KESTIO_PANEL";
constexpr const char* kItemVariable = "KESTIO_PANEL_ITEM";
constexpr const char* kTitle = "Panel Under Test";

// One operator's step: typed text, a key, clicks on the item named to the child (as many as the
// text says, one when empty) or on the accept button, or a key for the replace question once it
// is up.
struct Step {
    enum class Kind { type, key, clickItem, clickAccept, answerQuestion } kind;
    std::string text = {};
};

Step type(std::string text) {
    return {Step::Kind::type, std::move(text)};
}
Step key(std::string name) {
    return {Step::Kind::key, std::move(name)};
}

struct Case {
    const char* what;
    const char* panel;  // open, save, folder
    std::string item;   // the entry whose place the child reports, relative to the start folder
    std::vector<Step> steps;
    std::string chosen;  // relative to the start folder; "none" when cancelled
};

// Waits for the child to say `word` followed by a line; the rest of that line.
std::optional<std::string> awaitLine(BackgroundProcess& child, std::string& said,
                                     const std::string& word,
                                     std::chrono::milliseconds guard = 20s) {
    std::optional<std::string> line;
    pollUntil(
        [&] {
            for (const auto& chunk : child.take(0ms)) {
                said += chunk.bytes;
            }
            const auto at = said.find(word + " ");
            const auto end = at == std::string::npos ? at : said.find('\n', at);
            if (end != std::string::npos) {
                line = said.substr(at + word.size() + 1, end - at - word.size() - 1);
            }
            return line.has_value() || !child.running();
        },
        guard);
    return line;
}

// Waits for the child to say `word` and a point; clicks there `clicks` times.
::testing::AssertionResult clickWhereSaid(const VirtualDesktop& desktop, BackgroundProcess& child,
                                          std::string& said, const std::string& word,
                                          const std::string& clicks = "1") {
    const auto at = awaitLine(child, said, word);
    if (!at) {
        return ::testing::AssertionFailure() << "no " << word << " said:\n" << said;
    }
    std::istringstream xy(*at);
    std::string x;
    std::string y;
    xy >> x >> y;
    if (!desktop.xdotool({"mousemove", x, y, "click", "--repeat", clicks, "--delay", "60", "1"})) {
        return ::testing::AssertionFailure() << "xdotool could not click at " << *at;
    }
    return ::testing::AssertionSuccess();
}

// Starts this program's child case `filter` on the desktop with the environment given.
std::unique_ptr<BackgroundProcess> startChild(const std::vector<std::string>& environment,
                                              const std::string& filter) {
    std::vector<std::string> argv = {"env", "QT_QPA_PLATFORM=xcb", xcbChildSanitizerOptions()};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(fs::read_symlink("/proc/self/exe").string());
    argv.push_back("--gtest_filter=" + filter);
    return std::make_unique<BackgroundProcess>(argv, BackgroundProcess::ErrorOutput::withOutput);
}

TEST(FilePanelsOnX, APackageIsPickedAsOneItemAndFoldersAreEntered) {
    VirtualDesktop desktop({QSize(1600, 1000)});
    ASSERT_EQ(desktop.failure(), "");
    WindowManager manager(desktop);
    ASSERT_EQ(manager.failure(), "");

    const TemporaryFolder folder;
    const fs::path start = folder.path() / "shows";
    fs::create_directories(start / "Show Copy.ktshow" / "thumbnails");
    std::ofstream(start / "Show Copy.ktshow" / "data.json") << "{}";
    fs::create_directories(start / "Media" / "Inner.ktshow");
    std::ofstream(start / "clip.mp4") << "x";

    const std::string package = (start / "Show Copy.ktshow").string();
    const std::string media = (start / "Media").string();
    const Step clickItem{Step::Kind::clickItem};
    const Step clickAccept{Step::Kind::clickAccept};
    const Step answerYes{Step::Kind::answerQuestion, "alt+y"};
    const Case cases[] = {
        {"open: the package clicked, Open clicked",
         "open",
         "Show Copy.ktshow",
         {clickItem, clickAccept},
         "Show Copy.ktshow"},
        {"open: the package's path typed, Return",
         "open",
         "",
         {type(package), key("Return")},
         "Show Copy.ktshow"},
        {"open: a folder's path typed, Return, a package in it typed, Return",
         "open",
         "",
         {type(media), key("Return"), key("ctrl+a"), type("Inner.ktshow"), key("Return")},
         "Media/Inner.ktshow"},
        {"open: the package double-clicked",
         "open",
         "Show Copy.ktshow",
         {{Step::Kind::clickItem, "2"}},
         "Show Copy.ktshow"},
        // The completion list of the typed path is up when Open is clicked.
        {"open: the package's path typed, Open clicked",
         "open",
         "",
         {type(package), clickAccept},
         "Show Copy.ktshow"},
        {"open: a folder double-clicked, cancelled",
         "open",
         "Media",
         {{Step::Kind::clickItem, "2"}, key("Escape")},
         "none"},
        {"open: a file's path typed, Return",
         "open",
         "",
         {type((start / "clip.mp4").string()), key("Return")},
         "clip.mp4"},
        {"save: a new name typed, Return",
         "save",
         "",
         {key("ctrl+a"), type("New Show"), key("Return")},
         "New Show"},
        {"save: the package clicked, Save clicked, replace answered",
         "save",
         "Show Copy.ktshow",
         {clickItem, clickAccept, answerYes},
         "Show Copy.ktshow"},
        {"save: the package double-clicked, replace answered",
         "save",
         "Show Copy.ktshow",
         {{Step::Kind::clickItem, "2"}, answerYes},
         "Show Copy.ktshow"},
        {"save: the package's path typed, Save clicked, replace answered",
         "save",
         "",
         {key("ctrl+a"), type(package), clickAccept, answerYes},
         "Show Copy.ktshow"},
        {"save: the package's path typed, Return, replace answered",
         "save",
         "",
         {key("ctrl+a"), type(package), key("Return"), answerYes},
         "Show Copy.ktshow"},
        {"save: a folder's path typed, Return, a new name typed, Return",
         "save",
         "",
         {key("ctrl+a"), type(media), key("Return"), key("ctrl+a"), type("Later"), key("Return")},
         "Media/Later"},
        {"folder: a folder's path typed, Return",
         "folder",
         "",
         {type(media), key("Return")},
         "Media"},
        {"folder: a folder clicked, the button clicked",
         "folder",
         "Media",
         {clickItem, clickAccept},
         "Media"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto process = startChild(
            {std::string(kPanelVariable) + "=" + c.panel,
             std::string(kItemVariable) + "=" + (c.item.empty() ? "" : (start / c.item).string()),
             "KESTIO_PANEL_START=" + start.string()},
            "FilePanelsOnXChild.*");
        BackgroundProcess& child = *process;
        ASSERT_TRUE(child.started()) << child.failure();
        std::string said;
        const auto window = awaitLine(child, said, "window");
        ASSERT_TRUE(window) << said;
        const auto lookIn = awaitLine(child, said, "lookIn");
        ASSERT_TRUE(lookIn) << said;
        // The folder field keeps room beside its label, whatever text the panel shows.
        EXPECT_GE(std::stoi(*lookIn), 300) << said;
        for (const Step& step : c.steps) {
            ASSERT_TRUE(desktop.xdotool({"windowfocus", "--sync", *window})) << said;
            switch (step.kind) {
                case Step::Kind::type:
                    ASSERT_TRUE(desktop.xdotool({"type", "--delay", "15", step.text}));
                    break;
                case Step::Kind::key:
                    ASSERT_TRUE(desktop.xdotool({"key", step.text}));
                    break;
                case Step::Kind::clickItem:
                case Step::Kind::clickAccept:
                    ASSERT_TRUE(
                        clickWhereSaid(desktop, child, said,
                                       step.kind == Step::Kind::clickItem ? "item" : "accept",
                                       step.text.empty() ? "1" : step.text));
                    break;
                case Step::Kind::answerQuestion: {
                    auto question = awaitLine(child, said, "question", 5s);
                    if (!question) {
                        // The path's completion list, when it was still up, took the Return
                        // and closed: the operator presses it again.
                        ASSERT_TRUE(desktop.xdotool({"key", "Return"}));
                        question = awaitLine(child, said, "question");
                    }
                    ASSERT_TRUE(question) << said;
                    ASSERT_TRUE(desktop.xdotool({"windowfocus", "--sync", *question}));
                    ASSERT_TRUE(desktop.xdotool({"key", step.text}));
                    break;
                }
            }
        }
        auto chosen = awaitLine(child, said, "chosen");
        if (!chosen) {
            // The panel took no answer: it is closed so that the case fails on its own.
            desktop.xdotool({"windowfocus", "--sync", *window});
            desktop.xdotool({"key", "Escape"});
            chosen = awaitLine(child, said, "chosen");
        }
        const std::string expected = c.chosen == "none" ? "none" : (start / c.chosen).string();
        EXPECT_EQ(chosen.value_or("(no answer)"), expected) << said;
        child.stop();
    }
}

// Reports where the item named in the environment is, once the panel lists it.
void reportPlaces(QFileDialog& dialog, const QString& item) {
    auto* timer = new QTimer(&dialog);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, &dialog, [&dialog, item, timer] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QDialog*>(window);
            if (box && box != &dialog && box->isVisible() && box->windowTitle() == kTitle &&
                !box->property("reported").toBool()) {
                box->setProperty("reported", true);
                std::cout << "question " << box->winId() << std::endl;
            }
        }
        if (dialog.property("reported").toBool()) {
            return;
        }
        // The list or the detail view, whichever the panel shows.
        QAbstractItemView* list = nullptr;
        for (auto* view : dialog.findChildren<QAbstractItemView*>()) {
            if (view->isVisible() && (view->objectName() == QStringLiteral("listView") ||
                                      view->objectName() == QStringLiteral("treeView"))) {
                list = view;
            }
        }
        auto* model = list ? qobject_cast<QFileSystemModel*>(list->model()) : nullptr;
        if (!dialog.isVisible() || model == nullptr) {
            return;
        }
        QPoint itemAt;
        if (!item.isEmpty()) {
            const QModelIndex index = model->index(item);
            const QRect rect = list->visualRect(index);
            if (!index.isValid() || rect.isEmpty()) {
                return;
            }
            itemAt = list->viewport()->mapToGlobal(rect.center());
        }
        QAbstractButton* accept = nullptr;
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        for (QAbstractButton* button : buttons->buttons()) {
            if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
                accept = button;
            }
        }
        const QPoint acceptAt = accept->mapToGlobal(accept->rect().center());
        std::ostringstream places;
        places << "window " << dialog.winId() << "\n"
               << "lookIn " << dialog.findChild<QComboBox*>("lookInCombo")->width() << "\n"
               << "item " << itemAt.x() << " " << itemAt.y() << "\n"
               << "accept " << acceptAt.x() << " " << acceptAt.y() << "\n";
        // Said once the panel has settled: the same places on two looks in a row.
        if (dialog.property("places").toString().toStdString() == places.str()) {
            dialog.setProperty("reported", true);
            std::cout << places.str() << std::flush;
        }
        dialog.setProperty("places", QString::fromStdString(places.str()));
    });
    timer->start();
}

// The child: shows the panel named in the environment, in the start folder, and says what it
// answered.
TEST(FilePanelsOnXChild, ShowsThePanelAndSaysTheAnswer) {
    const char* panel = std::getenv(kPanelVariable);
    if (panel == nullptr) {
        GTEST_SKIP() << "runs only inside FilePanelsOnX";
    }
    fs::current_path(std::getenv("KESTIO_PANEL_START"));
    const QString item = QString::fromLocal8Bit(std::getenv(kItemVariable));
    // Each panel is reported on as soon as it is up.
    QTimer::singleShot(0, [item] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(window)) {
                reportPlaces(*dialog, item);
            }
        }
    });
    platform::QtDialogPresenter dialogs;
    std::optional<fs::path> chosen;
    const std::string which = panel;
    if (which == "open") {
        chosen = dialogs.openPackage(kTitle, "Open", "Select a .ktshow project file", "ktshow");
    } else if (which == "save") {
        chosen = dialogs.savePackage(kTitle, "Untitled", "Save", "ktshow");
    } else {
        chosen = dialogs.openFolder(kTitle, "Search This Folder",
                                    "Select a folder containing files with the same names as the "
                                    "missing media (a parent folder also works)");
    }
    std::cout << "chosen " << (chosen ? chosen->string() : "none") << std::endl;
}

// The colour of the floating panel of the child below; nothing else on screen has it.
const QColor kPanelColour(255, 0, 255);

TEST(DialogsOnX, ADialogIsSeenWholeAboveAFloatingPanel) {
    VirtualDesktop desktop({QSize(1600, 1000)});
    ASSERT_EQ(desktop.failure(), "");
    WindowManager manager(desktop);
    ASSERT_EQ(manager.failure(), "");
    struct Row {
        const char* dialog;  // alert, text, note
        const char* from;    // the window clicked before the dialog is asked for: panel, main
    };
    const Row rows[] = {{"alert", "panel"}, {"text", "panel"}, {"note", "panel"},
                        {"alert", "main"},  {"text", "main"},  {"note", "main"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.dialog) + " opened from the " + row.from);
        const TemporaryFolder folder;
        const fs::path seen = folder.path() / "seen";
        auto child = startChild(
            {std::string("KESTIO_DIALOG=") + row.dialog, "KESTIO_DIALOG_SEEN=" + seen.string()},
            "DialogsOnXChild.*");
        ASSERT_TRUE(child->started()) << child->failure();
        std::string said;
        ASSERT_TRUE(clickWhereSaid(desktop, *child, said, row.from));
        const auto place = awaitLine(*child, said, "dialog");
        ASSERT_TRUE(place) << said;
        std::istringstream box(*place);
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        box >> left >> top >> width >> height;
        // The middle half of the dialog, which a late resize of its frame or its first paint
        // may take a moment to show; under the panel, it would stay covered.
        const QRect middle(left + width / 4, top + height / 4, width / 2, height / 2);
        int covered = -1;
        pollUntil(
            [&] {
                const QImage picture = desktop.grab(middle);
                covered = picture.isNull() ? -1 : 0;
                for (int py = 0; py < picture.height(); ++py) {
                    for (int px = 0; px < picture.width(); ++px) {
                        covered += picture.pixelColor(px, py) == kPanelColour ? 1 : 0;
                    }
                }
                return covered == 0;
            },
            5s);
        EXPECT_EQ(covered, 0) << "pixels of the panel over the dialog\n" << said;
        // Told that its dialog was seen, the child closes it and ends.
        std::ofstream(seen) << "seen";
        EXPECT_TRUE(awaitLine(*child, said, "closed")) << said;
    }
}

// Calls back with the window of each widget a mouse button is released on.
class ReleaseWatch : public QObject {
  public:
    explicit ReleaseWatch(std::function<void(QWidget*)> released) : released_(std::move(released)) {
        QApplication::instance()->installEventFilter(this);
    }

  private:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && watched->isWidgetType()) {
            released_(static_cast<QWidget*>(watched)->window());
        }
        return false;
    }

    std::function<void(QWidget*)> released_;
};

// The child: a main window with a floating panel over its middle; once one of them has been
// clicked, asks for the dialog named in the environment, says where it is, and closes it once the
// file named there exists.
TEST(DialogsOnXChild, ShowsTheDialogOnceAWindowIsClicked) {
    const char* which = std::getenv("KESTIO_DIALOG");
    if (which == nullptr) {
        GTEST_SKIP() << "runs only inside DialogsOnX";
    }
    QWidget main;
    main.setWindowTitle("Main");
    main.setGeometry(100, 100, 1200, 800);
    main.show();
    QWidget panel(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    panel.setWindowTitle("Panel");
    QPalette colours = panel.palette();
    colours.setColor(QPalette::Window, kPanelColour);
    panel.setPalette(colours);
    panel.setAutoFillBackground(true);
    panel.setGeometry(350, 250, 700, 500);
    panel.show();

    platform::QtDialogPresenter dialogs(&main);
    const std::string dialog = which;
    QWidget* asked = nullptr;
    // The dialog is asked for once a click on the panel or the main window has ended.
    ReleaseWatch watch([&](QWidget* clicked) {
        if (asked != nullptr || (clicked != &panel && clicked != &main)) {
            return;
        }
        asked = clicked;
        QTimer::singleShot(0, [&] {
            if (dialog == "alert") {
                dialogs.alert(platform::DialogPresenter::AlertStyle::warning,
                              "Clear all contents of this BANK?", "", {"Clear", "Cancel"});
            } else if (dialog == "text") {
                dialogs.promptText("Rename Bank", "BANK 1", "OK", "Cancel");
            } else {
                dialogs.promptMIDINote({"MIDI Output Assign", "Specify the note.", "Channel (1-16)",
                                        "Note (0-127)", "1", "60"},
                                       "OK", "Cancel");
            }
            std::cout << "closed as told" << std::endl;
            QApplication::quit();
        });
    });
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (asked == nullptr) {
            if (!poll.property("said").toBool() && panel.isVisible() && main.isVisible() &&
                panel.windowHandle()->isExposed() && main.windowHandle()->isExposed()) {
                // Where to click on each window (the main window's top left is clear).
                poll.setProperty("said", true);
                const QPoint onPanel = panel.mapToGlobal(panel.rect().center());
                const QPoint onMain = main.mapToGlobal(QPoint(60, 60));
                std::cout << "panel " << onPanel.x() << " " << onPanel.y() << "\n"
                          << "main " << onMain.x() << " " << onMain.y() << std::endl;
            }
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || !modal->windowHandle()->isExposed()) {
            return;
        }
        if (poll.property("placed").toBool() && fs::exists(std::getenv("KESTIO_DIALOG_SEEN"))) {
            modal->close();
            return;
        }
        // Said once the dialog has settled: the same frame on two looks in a row, at least as
        // large as its contents (a busy machine may show it exposed at 1 x 1 for a while).
        const QRect frame = modal->frameGeometry();
        const QSize least = modal->minimumSizeHint();
        const bool sized = frame.width() >= least.width() && frame.height() >= least.height();
        if (sized && poll.property("frame").toRect() == frame &&
            !poll.property("placed").toBool()) {
            poll.setProperty("placed", true);
            std::cout << "dialog " << frame.x() << " " << frame.y() << " " << frame.width() << " "
                      << frame.height() << std::endl;
        }
        poll.setProperty("frame", frame);
    });
    poll.start();
    QApplication::exec();
    EXPECT_NE(asked, nullptr);
}

}  // namespace
}  // namespace kestio::test
