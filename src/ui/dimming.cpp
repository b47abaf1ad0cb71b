#include "ui/dimming.h"

#include <QChildEvent>
#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>

#include "ui/palette.h"
#include "ui/panel_card.h"

namespace kestio::ui {

namespace {

constexpr const char* kVeilName = "kestio-dimming-veil";

// The grey of the card the widget lies on; the window grey of the widget's palette when it lies
// on none.
QColor backgroundOf(const QWidget& widget) {
    for (const QWidget* w = &widget; w != nullptr; w = w->parentWidget()) {
        if (const auto* card = dynamic_cast<const PanelCard*>(w)) {
            return palette::white(card->style().white);
        }
    }
    return widget.palette().color(QPalette::Window);
}

class Veil : public QWidget {
  public:
    explicit Veil(QWidget& over) : QWidget(&over) {
        setObjectName(QString::fromLatin1(kVeilName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(over.rect());
        over.installEventFilter(this);
    }

    double opacity = 1.0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent()) {
            if (event->type() == QEvent::Resize) {
                setGeometry(parentWidget()->rect());
            } else if (event->type() == QEvent::ChildAdded &&
                       static_cast<QChildEvent*>(event)->child() != this) {
                // A child added later would be drawn over the veil.
                raise();
            }
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette::withOpacity(backgroundOf(*this), 1.0 - opacity));
    }
};

// The veil laid over `widget`, if any: its one direct child of the veil's name.
Veil* veilOf(const QWidget& widget) {
    return static_cast<Veil*>(
        widget.findChild<QWidget*>(QString::fromLatin1(kVeilName), Qt::FindDirectChildrenOnly));
}

}  // namespace

void setDimmed(QWidget& widget, double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    Veil* veil = veilOf(widget);
    if (opacity >= 1.0) {
        if (veil != nullptr) {
            veil->hide();
            veil->opacity = 1.0;
        }
        return;
    }
    if (veil == nullptr) {
        veil = new Veil(widget);
    }
    // Raised each time: a stacked widget raises the page it turns to.
    veil->raise();
    if (veil->opacity != opacity || veil->isHidden()) {
        veil->opacity = opacity;
        veil->show();
        veil->update();
    }
}

double dimmedOpacity(const QWidget& widget) {
    const Veil* veil = veilOf(widget);
    return veil != nullptr && !veil->isHidden() ? veil->opacity : 1.0;
}

}  // namespace kestio::ui
