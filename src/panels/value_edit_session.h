#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "ui/value_range.h"

namespace kestio::panels {

// The typing of one value into an editable readout: it starts with the value in three decimals,
// ends once by a commit (Return, or the field losing focus) or a cancel (Escape), and a commit
// after the end does nothing, so the focus loss that follows Return or Escape writes nothing.
class ValueEditSession {
  public:
    using Parser = std::function<std::optional<double>(const QString&)>;

    // Starts editing `value`: the text becomes "%.3f" of it.
    void begin(double value);
    void setText(const QString& text) { text_ = text; }
    // Ends the editing; gives the value to write: the parsed text clamped into `range`, or
    // nothing when not editing, when the text gives no number, or when it gives a NaN.
    std::optional<double> commit(const Parser& parse, const ui::ValueRange& range);
    void cancel() { editing_ = false; }

    bool isEditing() const { return editing_; }
    const QString& text() const { return text_; }

  private:
    bool editing_ = false;
    QString text_;
};

}  // namespace kestio::panels
