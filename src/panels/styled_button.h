#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <functional>

class QPainter;

namespace kestio::panels {

// A plain painted button of the panels: a text (with an optional picture before it) centred on
// a rounded rectangle, filled and stroked as its look says. The owner sets the look again
// whenever the state it shows changes; clicks go to onClicked (never while disabled).
class StyledButton : public QAbstractButton {
  public:
    // Draws a small picture in `rect` in `colour`.
    using Icon = std::function<void(QPainter&, const QRectF& rect, const QColor& colour)>;

    struct Look {
        QColor fill;
        QColor stroke;
        double strokeWidth = 0.0;  // 0: no stroke
        double radius = 0.0;
        QColor textColor = Qt::white;
        QFont font;
        Icon icon;              // none: text only
        double iconSize = 0.0;  // side of the picture's square
        double iconSpacing = 6.0;
    };

    explicit StyledButton(QWidget* parent = nullptr);

    void setLook(Look look);
    const Look& look() const { return look_; }

    std::function<void()> onClicked;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Look look_;
};

}  // namespace kestio::panels
