#include "panels/audio_section.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "model/localization_manager.h"
#include "panels/editable_value_label.h"
#include "panels/field_cycle.h"
#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/speaker_symbol.h"
#include "panels/styled_button.h"
#include "panels/vertical_fader.h"
#include "panels/vu_meter_view.h"
#include "panels/vu_scale_labels.h"
#include "ui/dimming.h"
#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/number_text.h"
#include "ui/palette.h"
#include "ui/panel_card.h"

namespace kestio::panels {

namespace gain {

QString format(double gainDB) {
    const float value = static_cast<float>(gainDB);
    if (value <= static_cast<float>(kMin)) {
        return QStringLiteral("-∞ dB");
    }
    return ui::formatFixedQ(value, 1, true) + QStringLiteral(" dB");
}

std::optional<double> parse(const QString& text) {
    return ui::parseNumberTrimming(text, "dDbB \t");
}

}  // namespace gain

namespace {

constexpr int kContentWidth = 360;
constexpr int kGainRowHeight = 233;
constexpr int kReadoutHeight = 16;
// The fader's opacity while no slot is loaded.
constexpr double kNoSlotOpacity = 0.35;

StyledButton::Look muteLook(bool muted) {
    StyledButton::Look look;
    look.fill = muted ? ui::palette::red() : ui::palette::white(0.25);
    look.stroke = muted ? ui::palette::red() : ui::palette::white(0.5);
    look.strokeWidth = muted ? 2.0 : 0.5;
    look.radius = 5;
    look.textColor = muted ? QColor(Qt::white) : ui::palette::white(0.85);
    look.font = ui::fonts::monospaced(15, QFont::Bold);
    look.icon = [muted](QPainter& painter, const QRectF& rect, const QColor& colour) {
        drawSpeaker(painter, rect, colour, muted);
    };
    look.iconSize = 17;
    look.iconSpacing = 6;
    return look;
}

StyledButton::Look modeLook(bool selected) {
    StyledButton::Look look;
    look.fill = ui::palette::white(selected ? 0.35 : 0.18);
    look.radius = 3;
    look.textColor = selected ? QColor(Qt::white) : ui::palette::white(0.45);
    look.font = ui::fonts::monospaced(10, QFont::DemiBold);
    return look;
}

ui::FittedLabel* readoutText() {
    auto* label = new ui::FittedLabel;
    label->setFont(ui::fonts::monospaced(12));
    label->setColor(ui::palette::white(0.55));
    return label;
}

}  // namespace

AudioSection::AudioSection(PanelFacade& facade, platform::RunLoop& loop, ui::PanelCard& card)
    : QObject(&card), facade_(facade), target_(facade) {
    build(loop, card);
    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { refresh(); }, facade_.playback().isMuted(),
        facade_.isMeterPeak(), facade_.playback().outputDeviceName(), facade_.isMIDILearnMode(),
        LocalizationManager::shared().language);
    // Levels come about 30 times a second: they go to the meter alone.
    subscriptions_.push_back(
        facade_.playback().vuLevels().subscribe([this](const auto&) { refreshLevels(); }));
    subscriptions_.push_back(
        facade_.playback().vuChannelCount().subscribe([this](const auto&) { refreshLevels(); }));
    refresh();
    refreshLevels();
}

AudioSection::~AudioSection() = default;

void AudioSection::writeGain(double gainDB) {
    const float level = static_cast<float>(gainDB);
    if (!target_.write([level](SlotData& slot) { slot.audioSettings.masterLevel = level; })) {
        return;
    }
    facade_.markUnsaved();
}

void AudioSection::build(platform::RunLoop& loop, ui::PanelCard& card) {
    // The output device's name, inset 4 points on each side.
    auto* deviceRow = new QWidget;
    deviceRow->setFixedSize(kContentWidth, 13);
    auto* deviceLayout = new QHBoxLayout(deviceRow);
    deviceLayout->setContentsMargins(4, 0, 4, 0);
    device_ = new ui::FittedLabel;
    device_->setFont(ui::fonts::monospaced(10));
    device_->setColor(ui::palette::white(0.5));
    device_->setMinimumScale(0.7);
    deviceLayout->addWidget(device_);
    card.addContent(deviceRow);

    mute_ = new StyledButton;
    mute_->setFixedSize(kContentWidth, 34);
    mute_->onClicked = [this] { pressMute(); };
    card.addContent(mute_);

    const ui::Binding<double> gain{
        [this] {
            const SlotData* slot = target_.slot();
            return slot ? static_cast<double>(slot->audioSettings.masterLevel) : 0.0;
        },
        [this](double value) { writeGain(value); }};
    auto* gainRow = new QWidget;
    gainRow->setFixedSize(kContentWidth, kGainRowHeight);
    auto* rowLayout = new QHBoxLayout(gainRow);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(4);
    fader_ = new VerticalFader(gain, {gain::kMin, gain::kMax});
    fader_->setFixedWidth(40);
    rowLayout->addWidget(fader_, 0, Qt::AlignTop);
    fader_->setFixedHeight(kGainRowHeight);
    auto* scale = new VUScaleLabels(VUScaleLabels::standardTicks());
    scale->setFixedSize(32, kGainRowHeight);
    rowLayout->addWidget(scale, 0, Qt::AlignTop);
    auto* meterColumn = new QVBoxLayout;
    meterColumn->setSpacing(4);
    meter_ = new VUMeterView(loop);
    meterColumn->addWidget(meter_, 1);
    gainFieldRow_ = new QWidget;
    gainFieldRow_->setFixedHeight(kReadoutHeight);
    auto* fieldLayout = new QHBoxLayout(gainFieldRow_);
    fieldLayout->setContentsMargins(0, 0, 0, 0);
    gainField_ = new EditableValueLabel(gain, {gain::kMin, gain::kMax}, gain::format, gain::parse,
                                        ui::fonts::monospaced(12), 0);
    fieldLayout->addWidget(gainField_);
    // The gain is the section's one field: Tab commits it and keeps it open.
    (new FieldCycle(this))->add(gainField_);
    fieldLayout->addStretch(1);
    meterColumn->addWidget(gainFieldRow_);
    gainText_ = readoutText();
    gainText_->setFixedHeight(kReadoutHeight);
    meterColumn->addWidget(gainText_);
    rowLayout->addLayout(meterColumn, 1);
    card.addContent(gainRow);

    // RMS and PPM at the trailing edge.
    auto* modeRow = new QWidget;
    modeRow->setFixedSize(kContentWidth, 16);
    auto* modeLayout = new QHBoxLayout(modeRow);
    modeLayout->setContentsMargins(0, 0, 0, 0);
    modeLayout->setSpacing(3);
    modeLayout->addStretch(1);
    for (bool peak : {false, true}) {
        auto* button = new StyledButton;
        button->setText(peak ? QStringLiteral("PPM") : QStringLiteral("RMS"));
        const QFontMetrics metrics(modeLook(false).font);
        button->setFixedSize(metrics.horizontalAdvance(button->text()) + 10, metrics.height() + 4);
        button->onClicked = [this, peak] { chooseMeterMode(peak); };
        modeLayout->addWidget(button);
        modes_[peak ? 1 : 0] = button;
    }
    card.addContent(modeRow);
}

void AudioSection::refresh() {
    target_.retarget([this] {
        if (gainField_->isEditing()) {
            gainField_->commit();  // a typed gain belongs to the slot it was begun on
        }
        if (fader_->isShowingInput()) {
            fader_->cancelInput();
        }
    });
    const SlotData* slot = target_.slot();

    device_->setText(QString::fromStdString(facade_.playback().outputDeviceName().get()));
    const bool muted = facade_.playback().isMuted().get();
    mute_->setText(muted ? QStringLiteral("MUTED") : QStringLiteral("MUTE"));
    mute_->setLook(muteLook(muted));

    const bool loadedNow = slot != nullptr;
    fader_->setEnabled(loadedNow);
    ui::setDimmed(*fader_, loadedNow ? 1.0 : kNoSlotOpacity);
    fader_->update();

    const bool field = showsGainField();
    gainFieldRow_->setVisible(field);
    gainText_->setVisible(!field);
    gainText_->setText(gainReadoutText());
    gainField_->update();

    for (bool peak : {false, true}) {
        modes_[peak ? 1 : 0]->setLook(modeLook(facade_.isMeterPeak().get() == peak));
    }
}

void AudioSection::refreshLevels() {
    meter_->setActiveChannels(facade_.playback().vuChannelCount().get());
    meter_->setLevels(facade_.playback().vuLevels().get());
}

bool AudioSection::showsGainField() const {
    const SlotData* slot = target_.slot();
    return slot != nullptr && !slot->audioSettings.isMuted;
}

QString AudioSection::gainReadoutText() const {
    const SlotData* slot = target_.slot();
    if (slot == nullptr) {
        return QStringLiteral("+0.0 dB");
    }
    if (slot->audioSettings.isMuted) {
        return QStringLiteral("clip muted");
    }
    return gain::format(slot->audioSettings.masterLevel);
}

void AudioSection::pressMute() {
    if (facade_.isMIDILearnMode().get()) {
        facade_.armMIDILearn("mute");
        return;
    }
    const auto loaded = loadedSlot(facade_);
    facade_.playback().toggleMute(loaded ? std::optional(loaded->data->audioSettings)
                                         : std::nullopt);
}

void AudioSection::chooseMeterMode(bool peak) {
    facade_.isMeterPeak() = peak;
    facade_.playback().setMeterPeak(peak);
}

}  // namespace kestio::panels
