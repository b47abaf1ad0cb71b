#pragma once

#include <QLineEdit>
#include <QString>
#include <QTest>
#include <algorithm>

#include "panels/editable_value_label.h"

namespace kestio::test {

// Opens the field's editor, replaces its text with `text` and presses Return, as an operator
// does: key events for what a keyboard types, other characters as an input method gives them.
inline void typeInto(panels::EditableValueLabel* field, const QString& text) {
    field->beginEditing();
    field->field()->clear();
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; })) {
        QTest::keyClicks(field->field(), text);
    } else {
        field->field()->insert(text);
    }
    QTest::keyClick(field->field(), Qt::Key_Return);
}

}  // namespace kestio::test
