#include "control/midi_list_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include "control_test_support.h"

namespace kestio {
namespace {

QStringList texts(const QWidget& root, const char* objectName) {
    QStringList out;
    for (auto* label : root.findChildren<QLabel*>(QString::fromLatin1(objectName))) {
        if (label->isVisibleTo(&root)) {
            out << label->text();
        }
    }
    return out;
}

// Only the widgets of the list being shown (old lists wait for deletion, hidden).
template <class T>
QList<T*> shown(const QWidget& root, const char* objectName) {
    QList<T*> out;
    for (auto* w : root.findChildren<T*>(QString::fromLatin1(objectName))) {
        if (w->isVisibleTo(&root)) {
            out << w;
        }
    }
    return out;
}

ProjectData populatedProject() {
    ProjectData project(4, 10);
    project.banks[19].slots[39].name = "Finale";
    project.banks[19].slots[39].midiBindings = std::vector<MIDINoteBinding>{{16, 127}};
    project.banks[0].slots[2].name = "オープニング映像";
    project.banks[0].slots[2].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    project.banks[0].slots[2].midiOutputBinding = MIDINoteBinding{10, 36};
    project.midiControlAssignments = {{"bank:0", 1, 36}, {"stop", 2, 1}, {"pause", 2, 2}};
    return project;
}

class MIDIListViewTest : public ::testing::Test {
  protected:
    void SetUp() override { test::setLanguage(AppLanguage::en); }
    MIDIListStore store_;
};

TEST_F(MIDIListViewTest, ShowsEachSectionWithItsRows) {
    store_.update(populatedProject());
    MIDIListView view(store_);
    view.resize(460, 560);
    view.show();
    EXPECT_EQ(texts(view, "sectionTitle"),
              (QStringList{"Slot Bindings (IN)", "Output Bindings (OUT)", "Control Bindings"}));
    EXPECT_EQ(texts(view, "bankSlot"),
              (QStringList{"BANK1  SLOT3", "BANK20  SLOT40", "BANK1  SLOT3"}));
    EXPECT_EQ(texts(view, "binding"), (QStringList{"Ch1  Note60", "Ch16  Note127", "Ch10  Note36",
                                                   "Ch1  Note36", "Ch2  Note2", "Ch2  Note1"}));
    EXPECT_EQ(texts(view, "controlLabel"), (QStringList{"BANK 1", "Pause", "STOP"}));
    EXPECT_EQ(texts(view, "control"), (QStringList{"CONTROL", "CONTROL", "CONTROL"}));
    EXPECT_EQ(texts(view, "count"), QStringList{"6"});
    EXPECT_TRUE(texts(view, "emptyText").isEmpty());

    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(texts(view, "count"), QStringList{"6 件"});
}

TEST_F(MIDIListViewTest, NamesAndLabelsShowAsTypedNeverAsMarkup) {
    ProjectData project(1, 2);
    project.banks[0].slots[0].name = "A<B>C";
    project.banks[0].slots[0].midiBindings = std::vector<MIDINoteBinding>{{1, 1}};
    project.banks[0].slots[1].name = "<b>Intro</b>";
    project.banks[0].slots[1].midiOutputBinding = MIDINoteBinding{1, 2};
    project.midiControlAssignments = {{"<i>x</i>&amp;", 1, 3}};
    store_.update(project);
    MIDIListView view(store_);
    view.show();
    EXPECT_EQ(texts(view, "slotName"), (QStringList{"A<B>C", "<b>Intro</b>"}));
    EXPECT_EQ(texts(view, "controlLabel"), QStringList{"<i>x</i>&amp;"});
    for (auto* label : view.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
}

TEST_F(MIDIListViewTest, WithoutAssignmentsOnlyTheEmptyTextShows) {
    store_.update(ProjectData(4, 10));
    MIDIListView view(store_);
    EXPECT_EQ(texts(view, "count"), QStringList{"0"});
    EXPECT_EQ(texts(view, "emptyText"), QStringList{"No MIDI assignments"});
    EXPECT_TRUE(texts(view, "sectionTitle").isEmpty());

    ProjectData controlsOnly(1, 1);
    controlsOnly.midiControlAssignments = {{"mute", 1, 1}};
    store_.update(controlsOnly);
    view.show();
    QStringList titles;
    for (auto* l : shown<QLabel>(view, "sectionTitle")) {
        titles << l->text();
    }
    EXPECT_EQ(titles, QStringList{"Control Bindings"});
}

TEST_F(MIDIListViewTest, ButtonsCallTheStoresCallbacksWithTheirRow) {
    store_.update(populatedProject());
    MIDIListView view(store_);
    view.show();
    // Without callbacks every button does nothing.
    for (const char* name : {"clearSlot", "editOutput", "clearOutput", "clearControl", "dedup"}) {
        for (auto* button : shown<QToolButton>(view, name)) {
            button->click();
        }
    }

    std::vector<std::string> calls;
    store_.onClearSlot = [&](int b, int s, const MIDINoteBinding& n) {
        calls.push_back("slot " + std::to_string(b) + " " + std::to_string(s) + " " +
                        std::to_string(n.channel) + "/" + std::to_string(n.note));
    };
    store_.onEditOutput = [&](int b, int s) {
        calls.push_back("edit " + std::to_string(b) + " " + std::to_string(s));
    };
    store_.onClearOutput = [&](int b, int s) {
        calls.push_back("out " + std::to_string(b) + " " + std::to_string(s));
    };
    store_.onClearControl = [&](const std::string& t) { calls.push_back("control " + t); };
    store_.onDedup = [&] { calls.push_back("dedup"); };

    shown<QToolButton>(view, "clearSlot").at(1)->click();
    shown<QToolButton>(view, "editOutput").at(0)->click();
    shown<QToolButton>(view, "clearOutput").at(0)->click();
    shown<QToolButton>(view, "clearControl").at(2)->click();
    shown<QToolButton>(view, "dedup").at(0)->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"slot 19 39 16/127", "edit 0 2", "out 0 2",
                                               "control stop", "dedup"}));
    EXPECT_EQ(shown<QToolButton>(view, "dedup").at(0)->toolTip(),
              "Clean up duplicate MIDI assignments");
}

TEST_F(MIDIListViewTest, TheListStaysWhereItWasScrolledWhenItsRowsComeAgain) {
    // 50 slots with an input binding each: far more rows than the panel shows.
    ProjectData project(4, 10);
    for (int i = 0; i < 50; ++i) {
        project.banks[i / 25].slots[i % 25].midiBindings = std::vector<MIDINoteBinding>{{1, i}};
    }
    store_.update(project);
    MIDIListView view(store_);
    view.resize(460, 560);
    view.show();
    QApplication::processEvents();
    auto* bar = view.findChild<QScrollArea*>("list")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 800);
    // The rows as they were (an edit cancelled), one row fewer, and so many fewer that the list
    // no longer reaches as far.
    for (const int removed : {0, 1, 45}) {
        SCOPED_TRACE(std::to_string(removed) + " rows removed");
        bar->setValue(bar->maximum() / 2 + 40);
        const int scrolled = bar->value();
        ProjectData changed = project;
        for (int i = 50 - removed; i < 50; ++i) {
            changed.banks[i / 25].slots[i % 25].midiBindings = {};
        }
        store_.update(changed);
        QApplication::processEvents();
        EXPECT_EQ(bar->value(), std::min(scrolled, bar->maximum()));
        store_.update(project);
        QApplication::processEvents();
    }
}

TEST_F(MIDIListViewTest, TheSortMenuSetsTheOrderAndMarksTheCurrentOne) {
    store_.update(populatedProject());
    MIDIListView view(store_);
    auto* sort = view.findChild<QToolButton*>("sortMenu");
    ASSERT_NE(sort, nullptr);
    EXPECT_EQ(sort->text(), "BANK / SLOT");
    QList<QAction*> items = sort->menu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "BANK / SLOT  ✓");
    items[1]->trigger();
    EXPECT_EQ(store_.sortOrder.get(), SortOrder::channelNote);
    EXPECT_EQ(sort->text(), "Channel / Note");
    items = sort->menu()->actions();
    EXPECT_EQ(items[1]->text(), "Channel / Note  ✓");
    EXPECT_EQ(items[2]->text(), "Name");
    items[1]->trigger();  // the current order again: sorted again, still marked
    EXPECT_EQ(sort->menu()->actions()[1]->text(), "Channel / Note  ✓");

    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(sort->text(), "チャンネル / ノート順");
}

TEST_F(MIDIListViewTest, PanelRendersInBothLanguages) {
    store_.update(populatedProject());
    auto panel = MIDIListView::createPanel(store_);
    EXPECT_EQ(panel->windowTitle(), "MIDI Assignments");
    EXPECT_EQ(panel->size(), QSize(460, 560));
    panel->show();
    for (AppLanguage language : kAllAppLanguages) {
        test::setLanguage(language);
        QApplication::processEvents();
        const QImage shot = panel->grab().toImage();
        ASSERT_FALSE(shot.isNull());
        const auto file = test::testOutputDir() /
                          ("midi-assignments-" + std::string(rawValue(language)) + ".png");
        EXPECT_TRUE(shot.save(QString::fromStdString(file.string())));
        // The dark scheme: the list background is the 0.14 grey.
        EXPECT_EQ(shot.pixelColor(5, shot.height() - 5), QColor(36, 36, 36));
    }
    test::setLanguage(AppLanguage::ja);
    MIDIListStore empty;
    empty.update(ProjectData(1, 1));
    auto emptyPanel = MIDIListView::createPanel(empty);
    emptyPanel->show();
    EXPECT_TRUE(emptyPanel->grab().toImage().save(QString::fromStdString(
        (test::testOutputDir() / "midi-assignments-empty-ja.png").string())));
}

}  // namespace
}  // namespace kestio
