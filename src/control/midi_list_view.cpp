#include "control/midi_list_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "control/panel_style.h"
#include "model/localization_manager.h"

namespace kestio {

using namespace panel_style;

namespace {

QString bg(const QColor& color) {
    return QStringLiteral("background-color: %1;").arg(css(color));
}

QLabel* label(const QString& text, const QFont& font, const QColor& color,
              const char* objectName = nullptr) {
    auto* l = new QLabel;
    l->setTextFormat(Qt::PlainText);  // names are shown as typed, never read as markup
    l->setText(text);
    l->setFont(font);
    l->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(css(color)));
    if (objectName != nullptr) {
        l->setObjectName(QString::fromLatin1(objectName));
    }
    return l;
}

QFrame* divider(const QColor& color) {
    auto* line = new QFrame;
    line->setFixedHeight(1);
    line->setStyleSheet(bg(color));
    return line;
}

QToolButton* symbolButton(Symbol symbol, const QColor& color, int size, const char* objectName) {
    auto* button = new QToolButton;
    button->setObjectName(QString::fromLatin1(objectName));
    button->setIcon(symbolIcon(symbol, color, size));
    button->setIconSize(QSize(size, size));
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    return button;
}

}  // namespace

QString MIDIListView::sortOrderLabel(SortOrder order) {
    switch (order) {
        case SortOrder::bankSlot:
            return qs(L("BANK / SLOT順", "BANK / SLOT"));
        case SortOrder::channelNote:
            return qs(L("チャンネル / ノート順", "Channel / Note"));
        case SortOrder::name:
            return qs(L("名前順", "Name"));
    }
    return {};
}

MIDIListView::MIDIListView(MIDIListStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("midiListView"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#midiListView { %1 }").arg(bg(grey(0.14))));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    header->setAttribute(Qt::WA_StyledBackground, true);
    header->setStyleSheet(QStringLiteral("#header { %1 }").arg(bg(grey(0.18))));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    title_ =
        label(QStringLiteral("MIDI Assignments"), uiFont(13, QFont::DemiBold), grey(0.85), "title");
    row->addWidget(title_);
    row->addStretch(1);

    sortButton_ = new QToolButton;
    sortButton_->setObjectName(QStringLiteral("sortMenu"));
    sortButton_->setPopupMode(QToolButton::InstantPopup);
    sortButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sortButton_->setIcon(symbolIcon(Symbol::sortArrows, grey(0.6), 9));
    sortButton_->setIconSize(QSize(9, 9));
    sortButton_->setStyleSheet(
        QStringLiteral("QToolButton { color: %1; %2 border: none; border-radius: 4px;"
                       " padding: 3px 6px; }"
                       "QToolButton::menu-indicator { image: none; width: 0; }")
            .arg(css(grey(0.6)), bg(grey(0.22))));
    sortMenu_ = new QMenu(sortButton_);
    sortButton_->setMenu(sortMenu_);
    row->addWidget(sortButton_);

    dedupButton_ = symbolButton(Symbol::sparkles, grey(0.6), 11, "dedup");
    connect(dedupButton_, &QToolButton::clicked, this, [this] {
        if (store_.onDedup) {
            store_.onDedup();
        }
    });
    row->addWidget(dedupButton_);

    count_ = label({}, uiFont(11), grey(0.5), "count");
    row->addWidget(count_);
    column->addWidget(header);
    column->addWidget(divider(grey(0.25)));

    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("list"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea { %1 }").arg(bg(grey(0.14))));
    column->addWidget(scroll_, 1);

    auto refresh = [this](const auto&) { rebuild(); };
    subscriptions_.push_back(store_.slotRows.subscribe(refresh));
    subscriptions_.push_back(store_.outputRows.subscribe(refresh));
    subscriptions_.push_back(store_.controlRows.subscribe(refresh));
    subscriptions_.push_back(store_.sortOrder.subscribe(refresh));
    subscriptions_.push_back(LocalizationManager::shared().language.subscribe(refresh));
    rebuild();
}

MIDIListView::~MIDIListView() = default;

void MIDIListView::rebuild() {
    const SortOrder current = store_.sortOrder.get();
    sortButton_->setFont(uiFont(10));
    sortButton_->setText(sortOrderLabel(current));
    sortMenu_->clear();
    for (SortOrder order : kAllSortOrders) {
        QString text = sortOrderLabel(order);
        if (order == current) {
            text += QStringLiteral("  ✓");
        }
        QAction* action = sortMenu_->addAction(text);
        action->setData(QString::fromLatin1(rawValue(order).data()));
        connect(action, &QAction::triggered, this, [this, order] { store_.sortOrder = order; });
    }
    dedupButton_->setToolTip(
        qs(L("重複したMIDIアサインを整理", "Clean up duplicate MIDI assignments")));
    const auto total = store_.slotRows.get().size() + store_.outputRows.get().size() +
                       store_.controlRows.get().size();
    count_->setFont(uiFont(11));
    count_->setText(qs(L(std::to_string(total) + " 件", std::to_string(total))));
    title_->setFont(uiFont(13, QFont::DemiBold));

    QScrollBar* bar = scroll_->verticalScrollBar();
    const int scrolled = bar->value();
    // The old list may be the sender of the click that led here: let it go later.
    if (QWidget* old = scroll_->takeWidget()) {
        old->hide();
        old->setParent(this);
        old->deleteLater();
    }
    scroll_->setWidget(buildList());
    // The rows built anew stand where the old ones stood (an edit, a cancelled edit or a row
    // cleared leaves the list where the operator had scrolled it), as far as the list reaches.
    bar->setValue(scrolled);
}

QWidget* MIDIListView::buildList() {
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("rows"));
    content->setAttribute(Qt::WA_StyledBackground, true);
    content->setStyleSheet(QStringLiteral("#rows { %1 }").arg(bg(grey(0.14))));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    const auto& inputs = store_.slotRows.get();
    const auto& outputs = store_.outputRows.get();
    const auto& controls = store_.controlRows.get();
    if (!inputs.empty()) {
        column->addWidget(sectionHeader(QStringLiteral("Slot Bindings (IN)")));
        for (const auto& row : inputs) {
            column->addWidget(slotRow(row, accentGreen(), false));
            column->addWidget(divider(grey(0.22)));
        }
    }
    if (!outputs.empty()) {
        column->addWidget(sectionHeader(QStringLiteral("Output Bindings (OUT)")));
        for (const auto& row : outputs) {
            column->addWidget(slotRow(row, accentOrange(), true));
            column->addWidget(divider(grey(0.22)));
        }
    }
    if (!controls.empty()) {
        column->addWidget(sectionHeader(QStringLiteral("Control Bindings")));
        for (const auto& assignment : controls) {
            column->addWidget(controlRow(assignment));
            column->addWidget(divider(grey(0.22)));
        }
    }
    if (inputs.empty() && outputs.empty() && controls.empty()) {
        column->addSpacing(40);
        auto* empty = label(qs(L("MIDIアサインはありません", "No MIDI assignments")), uiFont(12),
                            grey(0.45), "emptyText");
        empty->setAlignment(Qt::AlignHCenter);
        column->addWidget(empty);
    }
    column->addStretch(1);
    return content;
}

QWidget* MIDIListView::sectionHeader(const QString& title) {
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("sectionHeader"));
    header->setAttribute(Qt::WA_StyledBackground, true);
    header->setStyleSheet(QStringLiteral("#sectionHeader { %1 }").arg(bg(grey(0.16))));
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->addWidget(label(title, uiFont(10, QFont::DemiBold), grey(0.5), "sectionTitle"));
    return header;
}

QWidget* MIDIListView::bindingChip(std::int64_t channel, std::int64_t note, const QColor& accent) {
    QColor fill = accent;
    fill.setAlphaF(0.12f);
    auto* chip = label(QStringLiteral("Ch%1  Note%2").arg(channel).arg(note), monoFont(11), accent,
                       "binding");
    chip->setStyleSheet(QStringLiteral("color: %1; background-color: %2; border-radius: 3px;"
                                       " padding: 2px 6px;")
                            .arg(css(accent), css(fill)));
    return chip;
}

QWidget* MIDIListView::slotRow(const MIDIListStore::SlotRow& row, const QColor& accent,
                               bool isOutput) {
    auto* widget = new QWidget;
    widget->setObjectName(isOutput ? QStringLiteral("outputRow") : QStringLiteral("slotRow"));
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(12, 7, 12, 7);
    layout->setSpacing(8);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(1);
    lines->addWidget(label(QStringLiteral("BANK%1  SLOT%2").arg(row.bank + 1).arg(row.slot + 1),
                           monoFont(10), grey(0.5), "bankSlot"));
    auto* name = label(qs(row.name), uiFont(12, QFont::Medium), grey(0.85), "slotName");
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // cut off, one line
    name->setMinimumHeight(name->fontMetrics().height());
    lines->addWidget(name);
    layout->addLayout(lines, 1);

    layout->addWidget(bindingChip(row.binding.channel, row.binding.note, accent));
    const int bank = row.bank;
    const int slot = row.slot;
    if (isOutput) {
        auto* edit = symbolButton(Symbol::edit, grey(0.5), 14, "editOutput");
        connect(edit, &QToolButton::clicked, this, [this, bank, slot] {
            if (store_.onEditOutput) {
                store_.onEditOutput(bank, slot);
            }
        });
        layout->addWidget(edit);
        auto* clear = symbolButton(Symbol::clear, grey(0.4), 14, "clearOutput");
        connect(clear, &QToolButton::clicked, this, [this, bank, slot] {
            if (store_.onClearOutput) {
                store_.onClearOutput(bank, slot);
            }
        });
        layout->addWidget(clear);
    } else {
        auto* clear = symbolButton(Symbol::clear, grey(0.4), 14, "clearSlot");
        const MIDINoteBinding binding = row.binding;
        connect(clear, &QToolButton::clicked, this, [this, bank, slot, binding] {
            if (store_.onClearSlot) {
                store_.onClearSlot(bank, slot, binding);
            }
        });
        layout->addWidget(clear);
    }
    return widget;
}

QWidget* MIDIListView::controlRow(const MIDIControlAssignment& assignment) {
    auto* widget = new QWidget;
    widget->setObjectName(QStringLiteral("controlRow"));
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(12, 7, 12, 7);
    layout->setSpacing(8);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(1);
    lines->addWidget(label(QStringLiteral("CONTROL"), monoFont(10), grey(0.5), "control"));
    lines->addWidget(label(qs(displayTarget(assignment.target)), uiFont(12, QFont::Medium),
                           grey(0.85), "controlLabel"));
    layout->addLayout(lines, 1);
    layout->addWidget(bindingChip(assignment.channel, assignment.note, accentCyan()));
    auto* clear = symbolButton(Symbol::clear, grey(0.4), 14, "clearControl");
    connect(clear, &QToolButton::clicked, this, [this, target = assignment.target] {
        if (store_.onClearControl) {
            store_.onClearControl(target);
        }
    });
    layout->addWidget(clear);
    return widget;
}

std::unique_ptr<QWidget> MIDIListView::createPanel(MIDIListStore& store) {
    auto panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    panel->setWindowTitle(QStringLiteral("MIDI Assignments"));
    panel->resize(460, 560);
    auto* layout = new QVBoxLayout(panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new MIDIListView(store));
    return panel;
}

}  // namespace kestio
