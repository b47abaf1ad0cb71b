#include "app/field_editing.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include "control/text_entry.h"

namespace kestio::app {

namespace {

QGraphicsProxyWidget* proxyOf(QGraphicsItem* item) {
    return item != nullptr && item->isWidget()
               ? qobject_cast<QGraphicsProxyWidget*>(item->toGraphicsObject())
               : nullptr;
}

// Whether `widget` or one of the widgets it is part of takes text.
bool inTextField(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (takesText(w)) {
            return true;
        }
        if (w->isWindow()) {
            break;
        }
    }
    return false;
}

}  // namespace

FieldEditing::FieldEditing(QGraphicsView& view) : QObject(&view), view_(view) {}

QWidget* FieldEditing::focusedField() const {
    QGraphicsScene* scene = view_.scene();
    QGraphicsProxyWidget* proxy = proxyOf(scene != nullptr ? scene->focusItem() : nullptr);
    QWidget* shown = proxy != nullptr ? proxy->widget() : nullptr;
    QWidget* field = shown != nullptr ? shown->focusWidget() : nullptr;
    // A field hidden while it had the focus (a readout's field once its edit ended) is still
    // named as the focus widget; it takes no keys.
    return field != nullptr && field->isVisible() && takesText(field) ? field : nullptr;
}

void FieldEditing::beforeKey() {
    keyField_ = focusedField();
    if (keyField_ == nullptr || keyField_ == edited_) {
        return;
    }
    // The first key typed into the field begins the typing; its end forgets it.
    forget();
    edited_ = keyField_;
    const auto* line = qobject_cast<const QLineEdit*>(keyField_.data());
    textBefore_ = line != nullptr ? line->text() : QString();
    edited_->installEventFilter(this);
}

bool FieldEditing::afterKey(const QKeyEvent& event) {
    QWidget* field = keyField_;
    keyField_ = nullptr;
    if (field == nullptr || event.modifiers() & ~Qt::KeypadModifier) {
        return false;
    }
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            end(field, false);
            return true;
        case Qt::Key_Escape:
            end(field, true);
            return true;
        default:
            return false;
    }
}

void FieldEditing::beforePress(const QPoint& position) {
    QWidget* field = focusedField();
    if (field == nullptr) {
        return;
    }
    // A press in a text field puts the cursor there (or moves the focus to that field).
    QGraphicsProxyWidget* proxy = proxyOf(view_.itemAt(position));
    if (QWidget* shown = proxy != nullptr ? proxy->widget() : nullptr) {
        const QPoint at = proxy->mapFromScene(view_.mapToScene(position)).toPoint();
        QWidget* pressed = shown->childAt(at);
        if (inTextField(pressed != nullptr ? pressed : shown)) {
            return;
        }
    }
    end(field, false);
}

void FieldEditing::end(QWidget* field, bool abandon) {
    // The focus goes to the widget the field is shown in, which takes no text. (Clearing the
    // focus of a field shown in a scene tells the field nothing.)
    QWidget* shown = field->window();
    if (!abandon) {
        shown->setFocus(Qt::OtherFocusReason);
    } else {
        // Nothing the field says as it loses the focus writes the abandoned text.
        const QSignalBlocker quiet(field);
        if (auto* line = qobject_cast<QLineEdit*>(field); line != nullptr && field == edited_) {
            line->setText(textBefore_);
        }
        shown->setFocus(Qt::OtherFocusReason);
    }
    forget();
}

void FieldEditing::forget() {
    if (edited_ != nullptr) {
        edited_->removeEventFilter(this);
    }
    edited_ = nullptr;
    textBefore_.clear();
}

bool FieldEditing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edited_ && event->type() == QEvent::FocusOut) {
        forget();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kestio::app
