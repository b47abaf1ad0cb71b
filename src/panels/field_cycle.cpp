#include "panels/field_cycle.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "panels/editable_value_label.h"

namespace kestio::panels {

TabStep tabStepOf(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        return TabStep::none;
    }
    if (event.key() == Qt::Key_Backtab ||
        (event.key() == Qt::Key_Tab && (event.modifiers() & Qt::ShiftModifier))) {
        return TabStep::back;
    }
    return event.key() == Qt::Key_Tab ? TabStep::forward : TabStep::none;
}

FieldCycle::FieldCycle(QObject* owner) : QObject(owner) {}

void FieldCycle::add(QLineEdit* field) {
    fields_.push_back({field, field, [field] {
                           field->setFocus(Qt::TabFocusReason);
                           field->selectAll();
                       }});
    field->installEventFilter(this);
}

void FieldCycle::add(EditableValueLabel* label) {
    fields_.push_back({label->field(), label, [label] {
                           // A section of one field commits it and opens it again.
                           if (label->isEditing()) {
                               label->commit();
                           }
                           label->beginEditing();
                           label->field()->selectAll();
                       }});
    label->field()->installEventFilter(this);
}

bool FieldCycle::step(const QWidget* from, TabStep step) {
    const auto count = static_cast<int>(fields_.size());
    int at = -1;
    for (int i = 0; i < count; ++i) {
        if (fields_[std::size_t(i)].keys == from) {
            at = i;
        }
    }
    if (at < 0 || step == TabStep::none) {
        return false;
    }
    const int direction = step == TabStep::forward ? 1 : -1;
    for (int n = 1; n <= count; ++n) {
        const Field& next = fields_[std::size_t(((at + direction * n) % count + count) % count)];
        if (next.shown != nullptr && next.shown->isVisible() && next.shown->isEnabled()) {
            next.open();
            return true;
        }
    }
    return true;
}

bool FieldCycle::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (step(qobject_cast<QWidget*>(watched), tabStepOf(*key))) {
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kestio::panels
