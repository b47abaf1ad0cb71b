#include "app/assignable_tile.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

#include "grid/slot_cell_look.h"
#include "model/localization_manager.h"
#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::app {

namespace {

constexpr double kRadius = 4.0;
constexpr double kInset = 2.0;
constexpr double kLearnLift = 12.0;
constexpr std::size_t kShownLabels = 3;

QFont labelFont() {
    return ui::fonts::monospaced(8, QFont::Bold);
}

double plateHeight(const QFont& font) {
    return QFontMetricsF(font).height() + 2.0;
}

// A small text on a rounded plate, centred at `centreX` with its bottom at `bottom`; returns
// the plate's top.
double drawPlate(QPainter& p, double centreX, double bottom, const QString& text, const QFont& font,
                 const QColor& textColor, const QColor& plate) {
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text) + 6.0;
    const double height = plateHeight(font);
    const QRectF box(centreX - width / 2.0, bottom - height, width, height);
    QPainterPath path;
    path.addRoundedRect(box, 2.0, 2.0);
    p.fillPath(path, plate);
    p.setFont(font);
    p.setPen(textColor);
    p.drawText(box, Qt::AlignCenter, text);
    return box.top();
}

}  // namespace

std::string assignmentLabel(const MIDIControlAssignment& assignment) {
    char text[64];
    std::snprintf(
        text, sizeof text, "Ch.%02lld %s(%lld)", static_cast<long long>(assignment.channel),
        grid::midiNoteName(assignment.note).c_str(), static_cast<long long>(assignment.note));
    return text;
}

TileFace tileFace(bool learnMode, bool showLabels, bool armed,
                  const std::vector<MIDIControlAssignment>& assignments) {
    TileFace face;
    face.learnOutline = learnMode;
    face.armed = learnMode && armed;
    if (showLabels && !assignments.empty()) {
        for (std::size_t i = 0; i < assignments.size() && i < kShownLabels; ++i) {
            face.labels.push_back(assignmentLabel(assignments[i]));
        }
        if (assignments.size() > kShownLabels) {
            face.more = "+" + std::to_string(assignments.size() - kShownLabels);
        }
        face.lifted = learnMode;
    }
    return face;
}

bool isArmed(const ShowController& show, const std::string& target) {
    const auto& armed = show.midiLearnArmedTarget.get();
    return armed && *armed == MIDILearnTarget::forControl(target);
}

TileFace tileFace(const ShowController& show, const std::string& target) {
    return tileFace(show.isMIDILearnMode.get(), show.showMIDIAssignLabels.get(),
                    isArmed(show, target), show.midiRouting().controlAssignments(target));
}

double labelsHeight(const TileFace& face) {
    if (face.labels.empty()) {
        return 0.0;
    }
    const std::size_t plates = face.labels.size() + (face.more ? 1 : 0);
    return kInset + (face.lifted ? kLearnLift : 0.0) +
           double(plates) * (plateHeight(labelFont()) + 1.0) - 1.0;
}

void paintAssignableTile(QPainter& p, const QRectF& control, const TileFace& face) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green = ui::palette::green();
    if (face.learnOutline) {
        QPen pen(green, face.armed ? 3.0 : 2.0);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setMiterLimit(10);
        if (!face.armed) {
            // Qt's dash lengths are in pen widths: 4 points drawn, 3 points gap at width 2.
            pen.setDashPattern({2.0, 1.5});
        }
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(control, kRadius, kRadius);
        if (face.armed) {
            drawPlate(p, control.center().x(), control.bottom() - kInset,
                      QStringLiteral("LISTENING"), ui::fonts::monospaced(8, QFont::Black),
                      Qt::black, green);
        }
    }
    if (!face.labels.empty()) {
        double bottom = control.bottom() - kInset - (face.lifted ? kLearnLift : 0.0);
        const QFont font = labelFont();
        const QColor plate = ui::palette::black(0.75);
        if (face.more) {
            bottom = drawPlate(p, control.center().x(), bottom, QString::fromStdString(*face.more),
                               font, ui::palette::withOpacity(green, 0.8), plate) -
                     1.0;
        }
        for (auto label = face.labels.rbegin(); label != face.labels.rend(); ++label) {
            bottom = drawPlate(p, control.center().x(), bottom, QString::fromStdString(*label),
                               font, green, plate) -
                     1.0;
        }
    }
    p.restore();
}

std::optional<PanelMenuEntry> clearAssignmentEntry(ShowController& show,
                                                   const std::string& target) {
    if (!show.isMIDILearnMode.get()) {
        return std::nullopt;
    }
    PanelMenuEntry entry;
    entry.text = L("MIDIアサインを削除", "Clear MIDI Assignment");
    entry.destructive = true;
    entry.enabled = show.midiRouting().firstControlAssignment(target).has_value();
    entry.action = [&show, target] { show.midiRouting().clearControlAssignment(target); };
    return entry;
}

}  // namespace kestio::app
