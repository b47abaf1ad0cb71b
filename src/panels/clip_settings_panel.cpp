#include "panels/clip_settings_panel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cmath>

#include "model/localization_manager.h"
#include "panels/compact_slider.h"
#include "panels/editable_value_label.h"
#include "panels/field_cycle.h"
#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/styled_button.h"
#include "ui/dimming.h"
#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/number_text.h"
#include "ui/palette.h"
#include "ui/panel_card.h"

namespace kestio::panels {

namespace clip_settings {

QString formatDissolveTime(double seconds) {
    return ui::formatFixedQ(seconds, 2) + QStringLiteral(" s");
}
std::optional<double> parseDissolveTime(const QString& text) {
    return ui::parseNumberTrimming(text, "sS ");
}
QString formatPlayRate(double rate) {
    return QStringLiteral("x") + ui::formatFixedQ(rate, 2);
}
std::optional<double> parsePlayRate(const QString& text) {
    return ui::parseNumberTrimming(text, "xX ");
}
double fieldRate(double value) {
    if (std::isnan(value)) {
        return kRateMin;
    }
    return std::min(std::max(value, kRateMin), kRateMax);
}
double rateSliderPosition(double rate) {
    if (std::isnan(rate)) {
        rate = kRateMin;
    }
    return std::log2(std::max(rate, kRateMin));
}
double sliderRate(double position) {
    double rate = std::exp2(position);
    if (std::abs(rate - 1.0) < 0.05) {
        rate = 1.0;
    }
    // The slider's ends, reached through floating-point arithmetic on the log scale, lie within
    // a rounding error of the end rates: they write the end rates exactly.
    constexpr double kEndTolerance = 1e-9;
    if (!(rate > kRateMin * (1.0 + kEndTolerance))) {  // also a NaN position
        rate = kRateMin;
    }
    if (rate > kRateMax * (1.0 - kEndTolerance)) {
        rate = kRateMax;
    }
    return rate;
}

}  // namespace clip_settings

namespace {

constexpr int kContentWidth = 360;
const QColor kAccent = QColor::fromRgbF(0.0f, 0.7f, 0.85f);

StyledButton::Look transitionLook(bool selected, const QString&) {
    StyledButton::Look look;
    look.fill = selected ? QColor::fromRgbF(0.1f, 0.52f, 0.18f) : ui::palette::white(0.28);
    look.stroke = selected ? QColor::fromRgbF(0.3f, 0.9f, 0.4f) : ui::palette::white(0.45);
    look.strokeWidth = selected ? 1.5 : 0.5;
    look.radius = 6;
    look.font = ui::fonts::system(18, QFont::DemiBold);
    look.textColor = Qt::white;
    return look;
}

ui::FittedLabel* title(const char* text) {
    auto* label = new ui::FittedLabel;
    label->setFont(ui::fonts::system(14));
    label->setColor(ui::palette::white(0.6));
    label->setText(QString::fromUtf8(text));
    label->setFixedHeight(20);
    return label;
}

QWidget* tickLabels() {
    auto* row = new QWidget;
    row->setFixedSize(kContentWidth, 13);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const auto tick = [](const char* text, Qt::Alignment alignment) {
        auto* label = new ui::FittedLabel;
        label->setFont(ui::fonts::monospaced(10));
        label->setColor(ui::palette::white(0.65));
        label->setAlignment(alignment | Qt::AlignVCenter);
        label->setText(QString::fromUtf8(text));
        return label;
    };
    // Equal thirds, so the middle label is centred in the row.
    layout->addWidget(tick("x0.1", Qt::AlignLeft), 1);
    layout->addWidget(tick("x1", Qt::AlignHCenter), 1);
    layout->addWidget(tick("x8", Qt::AlignRight), 1);
    return row;
}

// The sliders' opacity while no slot is loaded.
constexpr double kNoSlotOpacity = 0.35;

}  // namespace

ClipSettingsPanel::ClipSettingsPanel(PanelFacade& facade, ui::PanelCard& card)
    : QObject(&card), facade_(facade), target_(facade) {
    build(card);
    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { refresh(); }, LocalizationManager::shared().language);
    refresh();
}

ClipSettingsPanel::~ClipSettingsPanel() = default;

void ClipSettingsPanel::build(ui::PanelCard& card) {
    auto* transitions = new QWidget;
    transitions->setFixedSize(kContentWidth, 38);
    auto* transitionLayout = new QHBoxLayout(transitions);
    transitionLayout->setContentsMargins(0, 0, 0, 0);
    transitionLayout->setSpacing(8);
    const std::array<std::pair<TransitionMode, const char*>, 2> modes{
        {{TransitionMode::cut, "Cut Go"}, {TransitionMode::dissolve, "Dissolve"}}};
    for (std::size_t i = 0; i < modes.size(); ++i) {
        auto* button = new StyledButton;
        button->setText(QString::fromUtf8(modes[i].second));
        button->setFixedHeight(38);
        const TransitionMode mode = modes[i].first;
        button->onClicked = [this, mode] { setTransitionMode(mode); };
        transitionLayout->addWidget(button, 1);
        transitions_[i] = button;
    }
    card.addContent(transitions);

    // The dissolve time: title row with the typed value, and its slider.
    const ui::Binding<double> dissolve{
        [this] {
            const SlotData* slot = target_.slot();
            return slot ? slot->dissolveDuration : 1.0;
        },
        [this](double value) {
            if (target_.write([value](SlotData& slot) { slot.dissolveDuration = value; })) {
                facade_.markUnsaved();
            }
        }};
    auto* dissolveBlock = new QWidget;
    dissolveBlock->setFixedWidth(kContentWidth);
    auto* dissolveLayout = new QVBoxLayout(dissolveBlock);
    dissolveLayout->setContentsMargins(0, 0, 0, 0);
    dissolveLayout->setSpacing(3);
    auto* dissolveTitle = new QHBoxLayout;
    dissolveTitle->addWidget(title("Dissolve Time"));
    dissolveTitle->addStretch(1);
    dissolveField_ =
        new EditableValueLabel(dissolve, {clip_settings::kDissolveMin, clip_settings::kDissolveMax},
                               clip_settings::formatDissolveTime, clip_settings::parseDissolveTime,
                               ui::fonts::monospaced(14), 52);
    dissolveTitle->addWidget(dissolveField_);
    dissolveLayout->addLayout(dissolveTitle);
    dissolveSlider_ = new CompactSlider(
        dissolve, {clip_settings::kDissolveMin, clip_settings::kDissolveMax}, kAccent, 3, 12);
    dissolveLayout->addWidget(dissolveSlider_);
    card.addContent(dissolveBlock);

    // The play rate: title row with the typed value and RESET, its slider and tick labels.
    const ui::Binding<double> rateField{
        [this] {
            const SlotData* slot = target_.slot();
            return slot ? slot->playRate : 1.0;
        },
        [this](double value) {
            const double rate = clip_settings::fieldRate(value);
            if (target_.write([rate](SlotData& slot) { slot.playRate = rate; })) {
                facade_.markUnsaved();
            }
        }};
    const ui::Binding<double> rateSlider{
        [this] {
            const SlotData* slot = target_.slot();
            return slot ? clip_settings::rateSliderPosition(slot->playRate) : 0.0;
        },
        [this](double position) {
            const double rate = clip_settings::sliderRate(position);
            if (target_.write([rate](SlotData& slot) { slot.playRate = rate; })) {
                facade_.markUnsaved();
            }
        }};
    auto* rateBlock = new QWidget;
    rateBlock->setFixedWidth(kContentWidth);
    auto* rateLayout = new QVBoxLayout(rateBlock);
    rateLayout->setContentsMargins(0, 0, 0, 0);
    rateLayout->setSpacing(3);
    auto* rateTitle = new QHBoxLayout;
    rateTitle->addWidget(title("Play Rate"));
    rateTitle->addStretch(1);
    rateField_ = new EditableValueLabel(
        rateField, {clip_settings::kRateMin, clip_settings::kRateMax},
        clip_settings::formatPlayRate, clip_settings::parsePlayRate, ui::fonts::monospaced(14), 52);
    rateTitle->addWidget(rateField_);
    // Tab goes from the dissolve time to the rate and round.
    auto* cycle = new FieldCycle(this);
    cycle->add(dissolveField_);
    cycle->add(rateField_);
    reset_ = new StyledButton;
    reset_->setText(QStringLiteral("RESET"));
    {
        StyledButton::Look look;
        look.fill = ui::palette::white(0.22);
        look.radius = 3;
        look.font = ui::fonts::monospaced(10, QFont::Medium);
        look.textColor = ui::palette::white(0.4);
        const QFontMetrics metrics(look.font);
        reset_->setFixedSize(metrics.horizontalAdvance(reset_->text()) + 10, metrics.height() + 4);
        reset_->setLook(look);
    }
    reset_->onClicked = [this] { resetPlayRate(); };
    rateTitle->addWidget(reset_);
    rateLayout->addLayout(rateTitle);
    rateSlider_ = new CompactSlider(
        rateSlider, {clip_settings::kRateSliderMin, clip_settings::kRateSliderMax}, kAccent, 3, 12);
    rateLayout->addWidget(rateSlider_);
    rateLayout->addWidget(tickLabels());
    card.addContent(rateBlock);
}

void ClipSettingsPanel::refresh() {
    // A value being typed belongs to the slot it was begun on.
    target_.retarget([this] {
        for (auto* field : {dissolveField_, rateField_}) {
            if (field->isEditing()) {
                field->commit();
            }
        }
    });
    const SlotData* slot = target_.slot();
    const bool isLoaded = slot != nullptr;
    for (std::size_t i = 0; i < transitions_.size(); ++i) {
        const bool selected = isLoaded && static_cast<std::size_t>(slot->transitionMode) == i;
        transitions_[i]->setLook(transitionLook(selected, transitions_[i]->text()));
    }
    dissolveField_->setVisible(isLoaded);
    rateField_->setVisible(isLoaded);
    for (auto* slider : {dissolveSlider_, rateSlider_}) {
        slider->setEnabled(isLoaded);
        ui::setDimmed(*slider, isLoaded ? 1.0 : kNoSlotOpacity);
        slider->update();
    }
    reset_->setEnabled(isLoaded && slot->playRate != 1.0);
    StyledButton::Look look = reset_->look();
    look.textColor = ui::palette::white(0.4, reset_->isEnabled() ? 1.0 : 0.5);
    reset_->setLook(look);
    dissolveField_->update();
    rateField_->update();
}

void ClipSettingsPanel::setTransitionMode(TransitionMode mode) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded) {
        return;
    }
    if (facade_.editSlot(loaded->bank, loaded->slot,
                         [mode](SlotData& slot) { slot.transitionMode = mode; })) {
        facade_.markUnsaved();
    }
}

void ClipSettingsPanel::resetPlayRate() {
    const auto loaded = loadedSlot(facade_);
    if (!loaded) {
        return;
    }
    if (facade_.editSlot(loaded->bank, loaded->slot, [](SlotData& slot) { slot.playRate = 1.0; })) {
        facade_.markUnsaved();
    }
}

StyledButton* ClipSettingsPanel::transitionButton(TransitionMode mode) const {
    return transitions_[static_cast<std::size_t>(mode)];
}

}  // namespace kestio::panels
