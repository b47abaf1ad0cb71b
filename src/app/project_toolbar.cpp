#include "app/project_toolbar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

#include "model/localization_manager.h"
#include "show/media_check.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

namespace {

constexpr int kNameRowHeight = 31;  // 16-point bold line and 6 points above and below
constexpr int kStatusRowHeight = 14;
constexpr int kRowSpacing = 4;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// The title colour, kept in the palette (what the button reports) and in its style: a push
// button is a grey rounded bezel sized to its title; a flat one has no bezel.
void setTitleColor(QAbstractButton* button, const QColor& color) {
    QPalette colours = button->palette();
    colours.setColor(QPalette::ButtonText, color);
    colours.setColor(QPalette::Disabled, QPalette::ButtonText, color);
    button->setPalette(colours);
    const QString rgba = QStringLiteral("rgba(%1, %2, %3, %4)")
                             .arg(color.red())
                             .arg(color.green())
                             .arg(color.blue())
                             .arg(color.alphaF());
    auto* push = qobject_cast<QPushButton*>(button);
    if (push && !push->isFlat()) {
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: %1; background: rgb(92, 92, 92); border: none;"
                           " border-radius: 5px; padding: 1px 7px; }"
                           " QPushButton:pressed { background: rgb(120, 120, 120); }"
                           " QPushButton:disabled { background: rgb(72, 72, 72); }")
                .arg(rgba));
    } else if (push) {
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: %1; border: none; padding: 0; }").arg(rgba));
    }
}

QPushButton* pushButton(QWidget* parent, double fontSize, QFont::Weight weight = QFont::Normal) {
    auto* button = new QPushButton(parent);
    button->setFont(ui::fonts::system(fontSize, weight));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The Relink button: the link symbol, without a bezel.
class SymbolButton : public QToolButton {
  public:
    SymbolButton(ui::Symbol symbol, QColor color, QWidget* parent)
        : QToolButton(parent), symbol_(symbol), color_(color) {
        setAutoRaise(true);
        setFocusPolicy(Qt::NoFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setOpacity(isEnabled() ? 1.0 : 0.35);
        const double side = 14;
        ui::drawSymbol(p, QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side),
                       symbol_, color_);
    }

  private:
    ui::Symbol symbol_;
    QColor color_;
};

}  // namespace

std::optional<std::string> projectDisplayName(const std::optional<std::filesystem::path>& package) {
    if (!package) {
        return std::nullopt;
    }
    std::filesystem::path name = package->filename();
    if (name.empty()) {
        name = package->parent_path().filename();  // "Show.ktshow/" names the same package
    }
    return name.stem().string();
}

QColor saveTitleColor(bool hasUnsavedChanges, bool hasLocation) {
    return hasUnsavedChanges && hasLocation ? ui::palette::red() : ui::palette::white(0.5);
}

ProjectToolbar::ProjectToolbar(ShowController& show, RecentProjectsMenuModel::Services recent,
                               QSize size, QWidget* parent)
    : QWidget(parent), show_(show) {
    setFixedSize(size);
    name_ = new ui::FittedLabel(this);
    name_->setFont(ui::fonts::system(16, QFont::Bold));
    name_->setMinimumScale(0.7);
    name_->setGeometry(8, 6, width() - 16, kNameRowHeight - 12);

    forceReset_ = new QPushButton(this);
    forceReset_->setFlat(true);
    forceReset_->setFocusPolicy(Qt::NoFocus);
    forceReset_->setFont(ui::fonts::system(9));
    setTitleColor(forceReset_, ui::palette::orange());
    connect(forceReset_, &QPushButton::clicked, this, [this] { show_.isLoading = false; });

    auto* commands = new QWidget(this);
    const int commandTop = kNameRowHeight + kRowSpacing + kStatusRowHeight + kRowSpacing;
    commands->setGeometry(0, commandTop, width(), height() - commandTop);
    auto* row = new QHBoxLayout(commands);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    open_ = pushButton(commands, 14);
    recent_ = new RecentProjectsButton(std::move(recent), commands);
    save_ = pushButton(commands, 14);
    saveAs_ = pushButton(commands, 14);
    close_ = pushButton(commands, 14);
    relink_ = new SymbolButton(ui::Symbol::link, ui::palette::white(0.6), commands);
    relink_->setFixedSize(22, 24);
    help_ = pushButton(commands, 14, QFont::Bold);
    help_->setText(QStringLiteral("?"));
    help_->setFixedWidth(26);
    setTitleColor(help_, ui::palette::white(0.7));
    row->addWidget(open_);
    row->addWidget(recent_);
    row->addWidget(save_);
    row->addWidget(saveAs_);
    row->addWidget(close_);
    row->addStretch(1);
    row->addWidget(relink_);
    row->addWidget(help_);

    connect(open_, &QPushButton::clicked, this, [this] { show_.projectIO().openProject(); });
    connect(save_, &QPushButton::clicked, this, [this] { show_.projectIO().saveProject(); });
    connect(saveAs_, &QPushButton::clicked, this, [this] { show_.projectIO().saveProjectAs(); });
    connect(close_, &QPushButton::clicked, this, [this] { show_.projectIO().closeProject(); });
    connect(relink_, &QToolButton::clicked, this,
            [this] { show_.mediaCheck().relinkFromFolder(); });
    connect(help_, &QPushButton::clicked, this, [this] { show_.showHelpWindow(); });

    auto refreshOn = [this](auto& published) {
        subscriptions_.push_back(published.subscribe([this](const auto&) { refresh(); }));
    };
    refreshOn(show.currentProjectURL);
    refreshOn(show.isLoading);
    refreshOn(show.hasUnsavedChanges);
    refreshOn(LocalizationManager::shared().language);
    refresh();
}

QString ProjectToolbar::nameText() const {
    return name_->text();
}

void ProjectToolbar::refresh() {
    const auto& location = show_.currentProjectURL.get();
    const bool open = location.has_value();
    if (const auto name = projectDisplayName(location)) {
        name_->setText(q(*name));
        name_->setColor(Qt::white);
    } else {
        name_->setText(q(L("プロジェクト未読み込み", "No Project")));
        name_->setColor(ui::palette::white(0.45));
    }
    const bool loading = show_.isLoading.get();
    status_ = q(loading ? L("読み込み中（D&D不可）", "LOADING (drag & drop disabled)")
                        : L("準備完了", "READY"));
    forceReset_->setText(q(L("強制リセット", "FORCE RESET")));
    forceReset_->adjustSize();
    const QFont statusFont = ui::fonts::monospaced(10);
    const double statusLeft = 8 + 8 + 4;
    forceReset_->move(
        int(statusLeft + textWidth(status_, statusFont) + 4),
        kNameRowHeight + kRowSpacing + (kStatusRowHeight - forceReset_->height()) / 2);
    forceReset_->setVisible(loading);

    open_->setText(q(L("開く", "Open")));
    save_->setText(q(L("保存", "Save")));
    saveAs_->setText(q(L("名前を付けて保存", "Save As")));
    close_->setText(q(L("閉じる", "Close")));
    for (QPushButton* b : {open_, save_, saveAs_, close_}) {
        b->setFont(ui::fonts::system(14));
    }
    setTitleColor(open_, Qt::white);
    setTitleColor(saveAs_, Qt::white);
    setTitleColor(save_, saveTitleColor(show_.hasUnsavedChanges.get(), open));
    setTitleColor(close_, open ? ui::palette::withOpacity(ui::palette::red(), 0.85)
                               : ui::palette::white(0.4));
    close_->setEnabled(open);
    relink_->setEnabled(open);
    relink_->setToolTip(q(L("フォルダから素材を再リンク", "Relink media from a folder")));
    recent_->retranslate();
    update();
}

void ProjectToolbar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    fillRounded(p, QRectF(0, 0, width(), kNameRowHeight), 4, ui::palette::white(0.22));
    const bool loading = show_.isLoading.get();
    const QColor accent = loading ? ui::palette::orange() : ui::palette::green();
    const double rowTop = kNameRowHeight + kRowSpacing;
    fillDot(p, QPointF(8 + 4, rowTop + kStatusRowHeight / 2.0), 8, accent);
    drawLine(p, QRectF(8 + 8 + 4, rowTop, width() - 20, kStatusRowHeight), status_,
             ui::fonts::monospaced(10), loading ? ui::palette::orange() : ui::palette::white(0.5));
}

}  // namespace kestio::app
