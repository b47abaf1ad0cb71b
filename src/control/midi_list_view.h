#pragma once

#include <QWidget>
#include <memory>

#include "control/midi_list_store.h"
#include "platform/runloop/published.h"

class QLabel;
class QMenu;
class QScrollArea;
class QToolButton;

namespace kestio {

// The content of the "MIDI Assignments" panel: a header with the title, the sort menu, the
// clean-up button and the number of assignments, and a scrolling list in up to three sections
// (slot input bindings, output notes, control assignments). It shows the store's rows, is
// rebuilt whenever they, the order or the language change, and hands every button press to
// the store's callbacks (an unset callback makes its button do nothing).
class MIDIListView : public QWidget {
  public:
    explicit MIDIListView(MIDIListStore& store, QWidget* parent = nullptr);
    ~MIDIListView() override;

    // The floating panel window that hosts a view of the store: 460 × 560, titled
    // "MIDI Assignments", resizable, above the application's ordinary windows.
    static std::unique_ptr<QWidget> createPanel(MIDIListStore& store);

    // The label of an order in the current language.
    static QString sortOrderLabel(SortOrder order);

  private:
    void rebuild();
    QWidget* buildList();
    QWidget* sectionHeader(const QString& title);
    QWidget* slotRow(const MIDIListStore::SlotRow& row, const QColor& accent, bool isOutput);
    QWidget* controlRow(const MIDIControlAssignment& assignment);
    QWidget* bindingChip(std::int64_t channel, std::int64_t note, const QColor& accent);

    MIDIListStore& store_;
    QLabel* title_ = nullptr;
    QToolButton* sortButton_ = nullptr;
    QMenu* sortMenu_ = nullptr;
    QToolButton* dedupButton_ = nullptr;
    QLabel* count_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio
