#include "control/text_entry.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace kestio {

bool takesText(const QWidget* widget) {
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
        qobject_cast<const QPlainTextEdit*>(widget) ||
        qobject_cast<const QAbstractSpinBox*>(widget)) {
        return true;
    }
    // An editable combo box has the focus itself, or its line edit has it.
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            return combo->isEditable();
        }
        if (w->isWindow()) {
            break;
        }
    }
    return false;
}

}  // namespace kestio
