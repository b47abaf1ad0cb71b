#pragma once

#include <QFont>
#include <QWidget>
#include <functional>

#include "panels/value_edit_session.h"
#include "ui/binding.h"
#include "ui/value_range.h"

class QLineEdit;

namespace kestio::panels {

// A right-aligned readout of a value that becomes a text field when clicked. Return or a click
// elsewhere (the field losing focus) commits the typed text through the owner's parser, clamped
// into the range; text that gives no number (or NaN) leaves the value as it was. Escape cancels.
class EditableValueLabel : public QWidget {
  public:
    using Formatter = std::function<QString(double)>;

    EditableValueLabel(ui::Binding<double> value, ui::ValueRange range, Formatter format,
                       ValueEditSession::Parser parse, QFont font, int minWidth,
                       QWidget* parent = nullptr);

    bool isEditing() const { return session_.isEditing(); }
    QLineEdit* field() const { return field_; }
    // The readout text shown while not editing.
    QString displayText() const;

    void beginEditing();
    void commit();
    void cancel();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void endEditing();

    ui::Binding<double> value_;
    ui::ValueRange range_;
    Formatter format_;
    ValueEditSession::Parser parse_;
    int minWidth_;
    ValueEditSession session_;
    QLineEdit* field_;
};

}  // namespace kestio::panels
