#include "panels/geometry_section.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QWheelEvent>
#include <cmath>

#include "panels/field_cycle.h"
#include "panels/geometry_edits.h"
#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/styled_button.h"
#include "ui/dimming.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::panels {

namespace {

// The height of a row: the X, Y and scale rows with the spacing between them fit the card's
// area below its title row (74 points).
constexpr int kRowHeight = 20;

// The controls' opacity under the edit lock.
constexpr double kLockedOpacity = 0.4;

// The sliders move in hundredths, so that a drag is as good as continuous.
constexpr double kSliderSteps = 100.0;

// The rows' ranges: the sliders' travel and what a typed value is kept within.
constexpr std::array<ValueRange, 4> kRanges{
    {kPositionXRange, kPositionYRange, kScaleRange, kScaleRange}};

double fieldOf(const GeometrySettings& g, int row) {
    switch (row) {
        case 0:
            return g.posX;
        case 1:
            return g.posY;
        case 2:
            return g.scaleX;
        default:
            return g.scaleY;
    }
}

// A padlock, closed or open, filling the square centred in `rect`.
void drawLock(QPainter& p, const QRectF& rect, bool closed, const QColor& colour) {
    const double s = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - s / 2, rect.center().y() - s / 2, s, s);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(box.left() + s * 0.15, box.top() + s * 0.45, s * 0.7, s * 0.5),
                        s * 0.08, s * 0.08);
    p.fillPath(body, colour);
    p.setPen(QPen(colour, s * 0.12));
    p.setBrush(Qt::NoBrush);
    const QRectF shackle(box.left() + s * 0.28, box.top() + s * 0.05, s * 0.44, s * 0.6);
    if (closed) {
        p.drawArc(shackle, 0, 180 * 16);
        p.drawLine(QPointF(shackle.left(), shackle.center().y()),
                   QPointF(shackle.left(), box.top() + s * 0.45));
        p.drawLine(QPointF(shackle.right(), shackle.center().y()),
                   QPointF(shackle.right(), box.top() + s * 0.45));
    } else {
        const QRectF open = shackle.translated(s * 0.3, -s * 0.05);
        p.drawArc(open, 0, 180 * 16);
        p.drawLine(QPointF(open.right(), open.center().y()),
                   QPointF(open.right(), box.top() + s * 0.45));
    }
    p.restore();
}

// A slider that leaves the mouse wheel to the scroll area around it: a wheel turned while the
// pointer passes over a row must not move the picture on air.
class WheelFreeSlider : public QSlider {
  public:
    using QSlider::QSlider;

  protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

StyledButton::Look modeLook(bool selected) {
    StyledButton::Look look;
    look.fill = selected ? ui::palette::blue() : ui::palette::white(0.28);
    look.radius = 5;
    look.font = ui::fonts::system(11);
    look.textColor = Qt::white;
    return look;
}

}  // namespace

GeometrySection::GeometrySection(PanelFacade& facade, QWidget& buttonRow, QWidget& controls)
    : QObject(&controls), facade_(facade), controls_(&controls) {
    auto* titleLayout = qobject_cast<QBoxLayout*>(buttonRow.layout());
    for (const GeometryMode mode :
         {GeometryMode::fitToWindow, GeometryMode::custom, GeometryMode::originalSize}) {
        auto* button = new StyledButton;
        button->setText(QString::fromUtf8(geometryModeTitle(mode)));
        button->setLook(modeLook(false));
        const QFontMetrics metrics(ui::fonts::system(11));
        button->setFixedSize(metrics.horizontalAdvance(button->text()) + 16, 20);
        button->onClicked = [this, mode] { setGeometryMode(mode); };
        if (titleLayout != nullptr) {
            titleLayout->addWidget(button);
        }
        modes_[std::size_t(mode)] = button;
    }

    auto* stack = new QVBoxLayout(&controls);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    placeholder_ = new QLabel(QStringLiteral("---"));
    placeholder_->setFont(ui::fonts::system(14));
    placeholder_->setStyleSheet(QStringLiteral("color: rgb(128, 128, 128);"));
    placeholder_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    placeholder_->setContentsMargins(0, 24, 0, 0);
    stack->addWidget(placeholder_);

    positionRows_ = new QWidget;
    auto* positions = new QVBoxLayout(positionRows_);
    positions->setContentsMargins(0, 0, 0, 0);
    positions->setSpacing(6);
    positions->addWidget(buildRow(0, "X", 28, 72, 12));
    positions->addWidget(buildRow(1, "Y", 28, 72, 12));
    stack->addWidget(positionRows_);

    scaleRow_ = new QWidget;
    auto* scales = new QHBoxLayout(scaleRow_);
    scales->setContentsMargins(0, 0, 0, 0);
    scales->setSpacing(8);
    auto* left = new QHBoxLayout;
    left->setSpacing(4);
    left->addWidget(buildRow(2, "W%", 20, 38, 11), 1);
    lock_ = new StyledButton;
    lock_->setFixedSize(14, 18);
    lock_->onClicked = [this] { toggleRatioLock(); };
    left->addWidget(lock_);
    scales->addLayout(left, 1);
    scales->addWidget(buildRow(3, "H%", 20, 38, 11), 1);
    stack->addWidget(scaleRow_);
    stack->addStretch(1);
    // Tab goes round X, Y, W% and H% (those shown), never to a slider or a button.
    auto* cycle = new FieldCycle(this);
    for (QLineEdit* field : fields_) {
        cycle->add(field);
    }

    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { refresh(); }, facade_.editLocked(),
        facade_.geoScaleLocked());
    refresh();
}

GeometrySection::~GeometrySection() = default;

QWidget* GeometrySection::buildRow(int row, const char* label, int labelWidth, int fieldWidth,
                                   int fontSize) {
    auto* widget = new QWidget;
    widget->setFixedHeight(kRowHeight);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(row < 2 ? 4 : 3);
    auto* name = new QLabel(QString::fromUtf8(label));
    name->setFont(ui::fonts::monospaced(fontSize));
    name->setStyleSheet(QStringLiteral("color: rgb(191, 191, 191);"));
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    name->setFixedWidth(labelWidth);
    layout->addWidget(name);
    auto* slider = new WheelFreeSlider(Qt::Horizontal);
    const ValueRange range = kRanges[std::size_t(row)];
    slider->setRange(int(range.lower * kSliderSteps), int(range.upper * kSliderSteps));
    QObject::connect(slider, &QSlider::valueChanged, this, [this, row](int position) {
        if (refreshing_) {
            return;
        }
        const double value = position / kSliderSteps;
        switch (row) {
            case 0:
                setPosX(value);
                break;
            case 1:
                setPosY(value);
                break;
            case 2:
                setScaleX(value);
                break;
            default:
                setScaleY(value);
                break;
        }
    });
    layout->addWidget(slider, 1);
    sliders_[std::size_t(row)] = slider;
    auto* field = new QLineEdit;
    field->setFixedSize(fieldWidth, kRowHeight);
    field->setFont(ui::fonts::monospaced(fontSize));
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setStyleSheet(QStringLiteral("color: black; background: white;"));
    QObject::connect(field, &QLineEdit::editingFinished, this, [this, row, field] {
        // What does not read as a number in the user's locale writes nothing; the field then
        // shows the stored value again.
        const auto value = geometryFieldValue(field->text(), QLocale());
        if (!value) {
            refresh();
            return;
        }
        switch (row) {
            case 0:
                setPosX(*value);
                break;
            case 1:
                setPosY(*value);
                break;
            case 2:
                setScaleX(*value);
                break;
            default:
                setScaleY(*value);
                break;
        }
    });
    layout->addWidget(field);
    fields_[std::size_t(row)] = field;
    if (row < 2) {
        layout->addSpacing(18);
    }
    return widget;
}

void GeometrySection::refresh() {
    refreshing_ = true;
    const auto loaded = loadedSlot(facade_);
    const bool locked = facade_.editLocked().get();
    const GeometryMode mode = loaded ? loaded->data->geometry.mode : GeometryMode::fitToWindow;
    for (std::size_t i = 0; i < modes_.size(); ++i) {
        modes_[i]->setLook(modeLook(loaded && std::size_t(mode) == i));
        modes_[i]->setEnabled(loaded.has_value() && !locked);
    }
    placeholder_->setVisible(!loaded);
    positionRows_->setVisible(loaded && mode != GeometryMode::fitToWindow);
    scaleRow_->setVisible(loaded && mode == GeometryMode::custom);
    controls_->setEnabled(!locked);
    ui::setDimmed(*controls_, locked ? kLockedOpacity : 1.0);
    if (loaded) {
        for (int row = 0; row < 4; ++row) {
            const double value = fieldOf(loaded->data->geometry, row);
            const ValueRange range = kRanges[std::size_t(row)];
            // A value beyond the travel holds the slider at its end.
            const double shown =
                std::isnan(value) ? range.lower : std::clamp(value, range.lower, range.upper);
            sliders_[std::size_t(row)]->setValue(int(std::lround(shown * kSliderSteps)));
            if (!fields_[std::size_t(row)]->hasFocus()) {
                fields_[std::size_t(row)]->setText(geometryFieldText(value, QLocale()));
            }
        }
    }
    const bool ratio = facade_.geoScaleLocked().get();
    StyledButton::Look lockLook;
    lockLook.fill = Qt::transparent;
    lockLook.iconSize = 11;
    lockLook.iconSpacing = 0;
    lockLook.textColor = ratio ? ui::palette::blue() : ui::palette::white(0.5);
    lockLook.icon = [ratio](QPainter& p, const QRectF& rect, const QColor& colour) {
        drawLock(p, rect, ratio, colour);
    };
    lock_->setLook(lockLook);
    refreshing_ = false;
}

template <typename Edit>
void GeometrySection::edit(Edit&& change) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded || facade_.editLocked().get()) {
        return;
    }
    const bool ratio = facade_.geoScaleLocked().get();
    const OutputResolution resolution = facade_.project().outputSettings.resolution;
    facade_.editSlot(loaded->bank, loaded->slot, [&](SlotData& slot) {
        slot.geometry = change(slot.geometry, ratio, resolution);
    });
    // The output follows within the edit; the project is marked unsaved after.
    facade_.markUnsaved();
}

void GeometrySection::setGeometryMode(GeometryMode mode) {
    edit([mode](GeometrySettings g, bool, OutputResolution resolution) {
        return withMode(g, mode, resolution);
    });
}

void GeometrySection::setPosX(double value) {
    edit([value](GeometrySettings g, bool, OutputResolution) {
        g.posX = kPositionXRange.clamp(value);
        return g;
    });
}

void GeometrySection::setPosY(double value) {
    edit([value](GeometrySettings g, bool, OutputResolution) {
        g.posY = kPositionYRange.clamp(value);
        return g;
    });
}

void GeometrySection::setScaleX(double value) {
    edit([value](GeometrySettings g, bool ratio, OutputResolution) {
        return withScaleX(g, value, ratio);
    });
}

void GeometrySection::setScaleY(double value) {
    edit([value](GeometrySettings g, bool ratio, OutputResolution) {
        return withScaleY(g, value, ratio);
    });
}

void GeometrySection::toggleRatioLock() {
    facade_.geoScaleLocked().set(!facade_.geoScaleLocked().get());
}

}  // namespace kestio::panels
