#include "panels/eq_color_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>

#include "model/localization_manager.h"
#include "panels/eq_band_slider.h"
#include "panels/eq_color_rows.h"
#include "panels/field_cycle.h"
#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/styled_button.h"
#include "ui/dimming.h"
#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui/popover.h"

namespace kestio::panels {

namespace {

constexpr int kSliderWidth = 20;
constexpr int kSliderHeight = 112;
constexpr double kNoSlotOpacity = 0.35;
constexpr double kLockedOpacity = 0.4;

QString tr2(const char* ja, const char* en) {
    return QString::fromStdString(L(ja, en));
}

AppLanguage language() {
    return LocalizationManager::shared().language.get();
}

// A tab: semibold when selected on white 0.3; yellow text when the slot's settings of that tab
// are not flat (a yellow dot follows the text then).
StyledButton::Look tabLook(bool selected, bool modified) {
    StyledButton::Look look;
    look.fill = selected ? ui::palette::white(0.3) : QColor(Qt::transparent);
    look.radius = 4;
    look.font = ui::fonts::system(13, selected ? QFont::DemiBold : QFont::Normal);
    look.textColor =
        modified ? ui::palette::yellow() : (selected ? QColor(Qt::white) : ui::palette::white(0.5));
    return look;
}

constexpr double kTabPadding = 10;
constexpr double kDotSize = 5;
constexpr double kDotSpacing = 4;

// A tab button: its text and, when `dot`, the yellow dot after it, padded 10 left and right.
class TabButton : public StyledButton {
  public:
    bool dot = false;

    void fitToText() {
        const QFontMetricsF metrics(look().font);
        const double width = metrics.horizontalAdvance(text()) + 2 * kTabPadding +
                             (dot ? kDotSpacing + kDotSize : 0);
        setFixedSize(int(std::ceil(width)), 22);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), look().radius, look().radius);
        painter.fillPath(shape, look().fill);
        painter.setFont(look().font);
        painter.setPen(look().textColor);
        const QFontMetricsF metrics(look().font);
        const double textWidth = metrics.horizontalAdvance(text());
        painter.drawText(QRectF(kTabPadding, 0, textWidth + 1, height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text());
        if (dot) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(ui::palette::yellow());
            painter.drawEllipse(QRectF(kTabPadding + textWidth + kDotSpacing,
                                       (height() - kDotSize) / 2.0, kDotSize, kDotSize));
        }
    }
};

}  // namespace

EqColorPanel::EqColorPanel(PanelFacade& facade, ui::PanelCard& card)
    : QObject(&card), facade_(facade) {
    build(card);
    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { refresh(); }, facade_.editLocked(), facade_.eqPanelTab(),
        facade_.colorSliderEditingLabel(), LocalizationManager::shared().language);
    refresh();
}

EqColorPanel::~EqColorPanel() {
    if (popover_ != nullptr) {
        popover_->onDismissed = nullptr;
    }
}

void EqColorPanel::build(ui::PanelCard& card) {
    const int inner = card.style().size.width() - 2 * card.style().padding;
    auto* header = new QWidget;
    header->setFixedWidth(inner);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(0);
    for (int tab = 0; tab < 2; ++tab) {
        auto* button = new TabButton;
        button->onClicked = [this, tab] { selectTab(tab); };
        headerLayout->addWidget(button);
        tabs_[std::size_t(tab)] = button;
    }
    headerLayout->addStretch(1);
    reset_ = new StyledButton;
    reset_->setText(QStringLiteral("reset"));
    StyledButton::Look resetLook;
    resetLook.fill = Qt::transparent;
    resetLook.font = ui::fonts::system(13);
    resetLook.textColor = ui::palette::white(0.55);
    reset_->setLook(resetLook);
    reset_->setFixedSize(44, 22);
    reset_->onClicked = [this] { reset(); };
    headerLayout->addWidget(reset_);
    card.addContent(header);

    pages_ = new QStackedWidget;
    pages_->setFixedWidth(inner);
    auto* eqPage = new QWidget;
    auto* eqRow = new QHBoxLayout(eqPage);
    eqRow->setContentsMargins(0, 0, 0, 0);
    eqRow->setSpacing(6);
    const auto& bands = eqBandRows();
    for (std::size_t i = 0; i < bands.size(); ++i) {
        auto* slider = new EQBandSlider(ui::Binding<double>{
            [this, i] {
                const auto loaded = loadedSlot(facade_);
                return loaded ? double(loaded->data->equalizer.*(eqBandRows()[i].field)) : 0.0;
            },
            [this, i](double value) { setBand(i, value); }});
        bandSliders_[i] = slider;
        eqRow->addWidget(buildColumn(slider, bandReadouts_[i], QString::fromUtf8(bands[i].label)),
                         1, Qt::AlignTop);
    }
    pages_->addWidget(eqPage);

    auto* colorPage = new QWidget;
    auto* colorRow = new QHBoxLayout(colorPage);
    colorRow->setContentsMargins(0, 0, 0, 0);
    colorRow->setSpacing(6);
    const auto& rows = colorRows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* slider = new EQBandSlider(ui::Binding<double>{
            [this, i] {
                const auto loaded = loadedSlot(facade_);
                const ColorRow& row = colorRows()[i];
                return loaded ? colorSliderPosition(row, loaded->data->colorSettings.*(row.field))
                              : 0.0;
            },
            [this, i](double position) { setColorPosition(i, position); }});
        slider->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(slider, &QWidget::customContextMenuRequested, this,
                         [this, i, slider](const QPoint& at) {
                             QMenu* menu = makeRowMenu(i);
                             menu->setAttribute(Qt::WA_DeleteOnClose);
                             menu->popup(slider->mapToGlobal(at));
                         });
        colorSliders_[i] = slider;
        QWidget* column = buildColumn(slider, colorReadouts_[i], QString());
        colorLabels_[i] = column->findChildren<ui::FittedLabel*>().back();
        colorReadouts_[i]->setFont(ui::fonts::monospaced(10));
        colorReadouts_[i]->setMinimumScale(0.6);
        colorRow->addWidget(column, 1, Qt::AlignTop);
    }
    pages_->addWidget(colorPage);
    card.addContent(pages_);
}

QWidget* EqColorPanel::buildColumn(QWidget* slider, ui::FittedLabel*& readout,
                                   const QString& label) {
    auto* column = new QWidget;
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(2);
    readout = new ui::FittedLabel;
    readout->setFont(ui::fonts::monospaced(11));
    readout->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    readout->setFixedHeight(14);
    stack->addWidget(readout);
    slider->setFixedSize(kSliderWidth, kSliderHeight);
    stack->addWidget(slider, 0, Qt::AlignHCenter);
    auto* name = new ui::FittedLabel;
    name->setFont(ui::fonts::system(10));
    name->setColor(ui::palette::white(0.6));
    name->setMinimumScale(0.7);
    name->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    name->setText(label);
    stack->addWidget(name);
    return column;
}

QWidget* EqColorPanel::content() const {
    return pages_;
}

bool EqColorPanel::editable() const {
    return loadedSlot(facade_).has_value() && !facade_.editLocked().get();
}

void EqColorPanel::refresh() {
    const auto loaded = loadedSlot(facade_);
    const bool locked = facade_.editLocked().get();
    const int tab = facade_.eqPanelTab().get() == 0 ? 0 : 1;
    const bool eqModified = loaded && isEqualizerModified(loaded->data->equalizer);
    const bool colorModified = loaded && isColorModified(loaded->data->colorSettings);

    const std::array<QString, 2> titles{QStringLiteral("EQ"), tr2("カラー", "Color")};
    const std::array<bool, 2> modified{eqModified, colorModified};
    for (int i = 0; i < 2; ++i) {
        auto* button = static_cast<TabButton*>(tabs_[std::size_t(i)]);
        button->setText(titles[std::size_t(i)]);
        button->dot = modified[std::size_t(i)];
        button->setLook(tabLook(i == tab, modified[std::size_t(i)]));
        button->fitToText();
    }
    reset_->setEnabled(loaded.has_value() && !locked);
    pages_->setCurrentIndex(tab);
    pages_->setEnabled(!locked);
    ui::setDimmed(*pages_, locked ? kLockedOpacity : 1.0);

    const auto& bands = eqBandRows();
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const float value = loaded ? loaded->data->equalizer.*(bands[i].field) : 0.0f;
        bandReadouts_[i]->setText(loaded ? eqBandValueText(value) : QStringLiteral("0"));
        bandReadouts_[i]->setColor(!loaded || value == 0.0f ? ui::palette::white(0.5)
                                   : value > 0              ? ui::palette::yellow()
                                                            : ui::palette::cyan());
        bandSliders_[i]->setEnabled(loaded.has_value());
        ui::setDimmed(*bandSliders_[i], loaded ? 1.0 : kNoSlotOpacity);
        bandSliders_[i]->update();
    }
    const auto& rows = colorRows();
    const AppLanguage lang = language();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const float value = loaded ? loaded->data->colorSettings.*(rows[i].field) : rows[i].neutral;
        colorReadouts_[i]->setText(colorValueText(rows[i], value));
        colorReadouts_[i]->setColor(value == rows[i].neutral ? ui::palette::white(0.5)
                                                             : ui::palette::yellow());
        colorLabels_[i]->setText(QString::fromUtf8(rows[i].label(lang)));
        colorSliders_[i]->setEnabled(loaded.has_value() && !locked);
        ui::setDimmed(*colorSliders_[i], loaded ? 1.0 : kNoSlotOpacity);
        colorSliders_[i]->update();
    }
    syncPopover();
}

void EqColorPanel::selectTab(int tab) {
    facade_.eqPanelTab().set(tab);
}

void EqColorPanel::reset() {
    const auto loaded = loadedSlot(facade_);
    if (!loaded || facade_.editLocked().get()) {
        return;
    }
    const bool eqTab = facade_.eqPanelTab().get() == 0;
    facade_.editSlot(loaded->bank, loaded->slot, [eqTab](SlotData& slot) {
        if (eqTab) {
            slot.equalizer = EqualizerSettings{};
        } else {
            slot.colorSettings = ColorSettings{};
        }
    });
    facade_.markUnsaved();
}

void EqColorPanel::setBand(std::size_t band, double value) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded || facade_.editLocked().get() || band >= eqBandRows().size() ||
        !std::isfinite(value)) {
        return;
    }
    const auto field = eqBandRows()[band].field;
    facade_.editSlot(loaded->bank, loaded->slot,
                     [&](SlotData& slot) { slot.equalizer.*field = static_cast<float>(value); });
    facade_.markUnsaved();
}

void EqColorPanel::writeColor(std::size_t row, float value) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded || facade_.editLocked().get() || row >= colorRows().size() || std::isnan(value)) {
        return;
    }
    const auto field = colorRows()[row].field;
    facade_.editSlot(loaded->bank, loaded->slot,
                     [&](SlotData& slot) { slot.colorSettings.*field = value; });
    facade_.markUnsaved();
}

void EqColorPanel::setColorPosition(std::size_t row, double position) {
    if (row < colorRows().size() && std::isfinite(position)) {
        writeColor(row, colorValueAtPosition(colorRows()[row], position));
    }
}

void EqColorPanel::resetRowToDefault(std::size_t row) {
    if (row < colorRows().size()) {
        writeColor(row, colorRows()[row].neutral);
    }
}

QMenu* EqColorPanel::makeRowMenu(std::size_t row) {
    auto* menu = new QMenu(colorSliders_[row]);
    menu->addAction(tr2("規定値に戻す", "Reset to Default"), this,
                    [this, row] { resetRowToDefault(row); });
    menu->addAction(tr2("値を入力…", "Enter Value…"), this, [this, row] { beginValueEntry(row); });
    return menu;
}

void EqColorPanel::beginValueEntry(std::size_t row) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded || facade_.editLocked().get() || row >= colorRows().size()) {
        return;
    }
    const ColorRow& r = colorRows()[row];
    facade_.colorSliderInputText().set(
        colorEntryText(loaded->data->colorSettings.*(r.field)).toStdString());
    facade_.colorSliderEditingLabel().set(std::string(r.label(language())));
}

void EqColorPanel::commitValueEntry() {
    const auto label = facade_.colorSliderEditingLabel().get();
    if (entryField_ != nullptr) {
        facade_.colorSliderInputText().set(entryField_->text().toStdString());
    }
    if (label && !facade_.editLocked().get()) {
        const AppLanguage lang = language();
        const auto& rows = colorRows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (*label == rows[i].label(lang)) {
                const auto value = colorEntryValue(
                    rows[i], QString::fromStdString(facade_.colorSliderInputText().get()));
                if (value) {
                    writeColor(i, *value);
                }
                break;
            }
        }
    }
    facade_.colorSliderEditingLabel().set(std::nullopt);
}

void EqColorPanel::cancelValueEntry() {
    facade_.colorSliderEditingLabel().set(std::nullopt);
}

QString EqColorPanel::bandReadout(std::size_t band) const {
    return bandReadouts_[band]->text();
}
QString EqColorPanel::colorReadout(std::size_t row) const {
    return colorReadouts_[row]->text();
}

// Opens the entry of the row named by the editing label, closes it when none is.
void EqColorPanel::syncPopover() {
    std::optional<std::size_t> wanted;
    if (const auto& label = facade_.colorSliderEditingLabel().get()) {
        const AppLanguage lang = language();
        for (std::size_t i = 0; i < colorRows().size(); ++i) {
            if (*label == colorRows()[i].label(lang)) {
                wanted = i;
            }
        }
    }
    if (wanted == popoverRow_ && (popover_ != nullptr) == wanted.has_value()) {
        return;
    }
    if (popover_ != nullptr) {
        popover_->onDismissed = nullptr;
        popover_->finish();
        popover_->deleteLater();
        popover_ = nullptr;
        entryField_ = nullptr;
    }
    popoverRow_ = wanted;
    if (!wanted) {
        return;
    }
    const ColorRow& row = colorRows()[*wanted];
    const AppLanguage lang = language();
    popover_ = new ui::Popover(colorSliders_[*wanted]);
    auto* stack = new QVBoxLayout;
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(10);
    auto* title = new QLabel(QString::fromUtf8(row.label(lang)));
    title->setFont(ui::fonts::system(12, QFont::DemiBold));
    title->setStyleSheet(QStringLiteral("color: rgb(179, 179, 179);"));
    title->setAlignment(Qt::AlignCenter);
    stack->addWidget(title);
    entryField_ = new QLineEdit(QString::fromStdString(facade_.colorSliderInputText().get()));
    entryField_->setPlaceholderText(tr2("数値", "Value"));
    entryField_->setFixedWidth(90);
    entryField_->setAlignment(Qt::AlignCenter);
    entryField_->setFont(ui::fonts::monospaced(14));
    QObject::connect(entryField_, &QLineEdit::returnPressed, this, [this] { commitValueEntry(); });
    // The dialog's one field keeps the keys on Tab.
    (new FieldCycle(popover_))->add(entryField_);
    QObject::connect(entryField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        facade_.colorSliderInputText().set(text.toStdString());
    });
    stack->addWidget(entryField_, 0, Qt::AlignHCenter);
    auto* range = new QLabel(colorRangeText(row, lang));
    range->setFont(ui::fonts::system(10));
    range->setStyleSheet(QStringLiteral("color: rgb(128, 128, 128);"));
    range->setAlignment(Qt::AlignCenter);
    stack->addWidget(range);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto* cancel = new QPushButton(tr2("キャンセル", "Cancel"));
    cancel->setFlat(true);
    cancel->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(153, 153, 153); border: none; padding: 3px 8px; }"));
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { cancelValueEntry(); });
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: rgb(10, 132, 255); border: none;"
                       " border-radius: 5px; padding: 3px 12px; }"));
    QObject::connect(ok, &QPushButton::clicked, this, [this] { commitValueEntry(); });
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    stack->addLayout(buttons);
    popover_->setContentLayout(stack);
    popover_->onDismissed = [this] {
        popoverRow_.reset();
        facade_.colorSliderEditingLabel().set(std::nullopt);
    };
    popover_->open();
    entryField_->setFocus();
    entryField_->selectAll();
}

}  // namespace kestio::panels
