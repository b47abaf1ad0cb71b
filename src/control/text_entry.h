#pragma once

class QWidget;

namespace kestio {

// Whether typing goes into `widget` as text: a line edit, a text edit, a spin box, an editable
// combo box (itself or its line edit). Such a widget keeps the keys while it has the focus.
bool takesText(const QWidget* widget);

}  // namespace kestio
