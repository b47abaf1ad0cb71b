#pragma once

#include <QFrame>
#include <QPointer>
#include <functional>

namespace kestio::ui {

// Where a popover of `size` opens beside an anchor whose rectangle (global coordinates) is
// `anchor`: `gap` to the right of the anchor's trailing edge, centred on it vertically; on the
// anchor's left when there is no room on the right; moved inside `screen` vertically.
QPoint popoverOrigin(const QRect& anchor, const QSize& size, const QRect& screen, int gap = 8);

// A small window that opens beside a widget (its anchor) and closes when the user clicks
// outside it or presses Escape, like a menu. Its content is laid out in its own layout
// (setContentLayout). The owner closes it with finish() after an action; onDismissed is called
// only when the popover went away by other means (outside click, Escape, the anchor hidden), so
// the owner can tell "dismissed, nothing written" from its own commit or cancel.
class Popover : public QFrame {
    Q_OBJECT  // so that findChild and qobject_cast tell a popover from other frames

        public : explicit Popover(QWidget* anchor);

    void setContentLayout(QLayout* layout);
    // Shows the popover at the anchor's trailing edge.
    void open();
    // Closes it as the owner's own step: onDismissed is not called.
    void finish();
    bool isOpen() const { return isVisible(); }

    std::function<void()> onDismissed;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QPointer<QWidget> anchor_;
    bool finishing_ = false;
};

}  // namespace kestio::ui
