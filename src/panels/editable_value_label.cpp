#include "panels/editable_value_label.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

#include "ui/palette.h"

namespace kestio::panels {

EditableValueLabel::EditableValueLabel(ui::Binding<double> value, ui::ValueRange range,
                                       Formatter format, ValueEditSession::Parser parse, QFont font,
                                       int minWidth, QWidget* parent)
    : QWidget(parent),
      value_(std::move(value)),
      range_(range),
      format_(std::move(format)),
      parse_(std::move(parse)),
      minWidth_(minWidth),
      field_(new QLineEdit(this)) {
    setFont(font);
    field_->setFont(font);
    field_->setFrame(false);
    field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field_->setTextMargins(4, 1, 4, 1);
    field_->setStyleSheet(
        QStringLiteral("QLineEdit { color: white; background: rgba(0, 0, 0, 102);"
                       " border: none; border-radius: 3px; }"));
    field_->installEventFilter(this);
    field_->hide();
    QObject::connect(field_, &QLineEdit::returnPressed, this, [this] { commit(); });
    QObject::connect(field_, &QLineEdit::textEdited, this,
                     [this](const QString& text) { session_.setText(text); });
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString EditableValueLabel::displayText() const {
    return format_(value_.get());
}

QSize EditableValueLabel::sizeHint() const {
    // Wide enough for the value now and for both ends of the range, so that a value set from
    // outside (which lays nothing out again) is never cut: in "-11.9 dB" after "+0.0 dB", the
    // sign would go.
    const QFontMetrics metrics(font());
    int text = 0;
    for (const double value : {value_.get(), range_.lower, range_.upper}) {
        text = std::max(text, metrics.horizontalAdvance(format_(value)) + 2);
    }
    return QSize(std::max(minWidth_, text), metrics.height() + 2);
}

void EditableValueLabel::paintEvent(QPaintEvent*) {
    if (session_.isEditing()) {
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(ui::palette::white(0.7));
    painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, displayText());
}

void EditableValueLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !session_.isEditing()) {
        beginEditing();
    }
}

void EditableValueLabel::beginEditing() {
    session_.begin(value_.get());
    field_->setText(session_.text());
    field_->setGeometry(rect());
    field_->show();
    field_->setFocus(Qt::MouseFocusReason);
    update();
}

void EditableValueLabel::commit() {
    session_.setText(field_->text());
    if (const auto value = session_.commit(parse_, range_)) {
        value_.set(*value);
    }
    endEditing();
}

void EditableValueLabel::cancel() {
    session_.cancel();
    endEditing();
}

void EditableValueLabel::endEditing() {
    // Hiding the field takes its focus; the focus loss then finds the session ended.
    if (field_->isVisible()) {
        field_->hide();
    }
    updateGeometry();
    update();
}

bool EditableValueLabel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancel();
            return true;
        }
        if (event->type() == QEvent::FocusOut && session_.isEditing()) {
            commit();
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kestio::panels
