#pragma once

#include <QColor>
#include <QWidget>

namespace kestio::ui {

// A one-line label that shrinks its text to fit its width, down to a minimum scale, and then
// cuts it with "…" (see fitText). It only paints; it takes no input.
class FittedLabel : public QWidget {
  public:
    explicit FittedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }
    void setColor(const QColor& color);
    // Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight, combined with a vertical alignment.
    void setAlignment(Qt::Alignment alignment);
    // 1 never shrinks; 0.5 allows half the font's size.
    void setMinimumScale(double scale);
    double minimumScale() const { return minimumScale_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QString text_;
    QColor color_ = Qt::white;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    double minimumScale_ = 1.0;
};

}  // namespace kestio::ui
