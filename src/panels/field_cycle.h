#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <vector>

class QKeyEvent;
class QLineEdit;
class QWidget;

namespace kestio::panels {

class EditableValueLabel;

// Whether a key press is Tab (forward) or Shift+Tab / Backtab (back), without Ctrl or Alt.
enum class TabStep { none, forward, back };
TabStep tabStepOf(const QKeyEvent& event);

// The round that Tab and Shift+Tab make through the fields of one section: from the field being
// typed into to the next (or previous) one that is shown and enabled, whose typing begins with
// its text selected. The field left commits as it loses the keys. The Tab is the section's:
// it never moves the keys to a control outside it (where the next digit would play a slot).
class FieldCycle : public QObject {
  public:
    explicit FieldCycle(QObject* owner);

    void add(QLineEdit* field);
    void add(EditableValueLabel* label);
    // Moves on from `from` (a field's widget that takes the keys); false when it is not one of
    // the section's fields.
    bool step(const QWidget* from, TabStep step);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Field {
        QPointer<QWidget> keys;   // takes the typing
        QPointer<QWidget> shown;  // visible and enabled when the field can be visited
        std::function<void()> open;
    };
    std::vector<Field> fields_;
};

}  // namespace kestio::panels
