#include "platform/ui/qt_dialog_presenter.h"

#include "platform/runloop/console.h"
#include "platform/ui/package_file_dialog.h"
#include "platform/ui/window_fit.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace kestio::platform {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// The message box sizes itself from its labels' minimum widths, which for text that may break
// between any two characters (Japanese) is next to nothing: its lines would wrap in the middle
// of a word. Each line of the informative text is given room to stand whole, up to a limit.
void keepInformativeLinesWhole(QMessageBox& box) {
    constexpr int kWidestLine = 520;
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (label == nullptr) {
        return;
    }
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : label->text().split(QLatin1Char('\n'))) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    const QMargins margins = label->contentsMargins();
    label->setMinimumWidth(std::min(widest, kWidestLine) + margins.left() + margins.right() +
                           2 * label->margin() + 1);
}

// Shows `message` over the whole width of the file dialog, wrapped: in a column of the
// dialog's grid it would widen that column and squeeze the folder field beside it.
void showAbove(QFileDialog& dialog, const QString& message) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (grid == nullptr) {
        return;
    }
    struct Placed {
        QLayoutItem* item;
        int row, column, rows, columns;
    };
    std::vector<Placed> placed;
    for (int i = 0; i < grid->count(); ++i) {
        Placed p{grid->itemAt(i), 0, 0, 0, 0};
        grid->getItemPosition(i, &p.row, &p.column, &p.rows, &p.columns);
        placed.push_back(p);
    }
    while (grid->count() > 0) {
        grid->takeAt(0);
    }
    int columns = 1;
    for (const Placed& p : placed) {
        grid->addItem(p.item, p.row + 1, p.column, p.rows, p.columns);
        columns = std::max(columns, p.column + p.columns);
    }
    auto* label = new QLabel(message);
    label->setObjectName(QStringLiteral("messageLabel"));
    label->setWordWrap(true);
    grid->addWidget(label, 0, 0, 1, columns);
}

// A tool window kept above the others: the MIDI assignments, the key bindings, the help.
bool isFloatingPanel(const QWidget& window) {
    return window.isVisible() && window.windowType() == Qt::Tool &&
           window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// While a floating panel is shown, a dialog is kept above the others too: the window manager
// would otherwise stack it under the panel, whichever window it was opened from, and hide its
// fields and buttons.
template <typename Dialog>
Dialog& keptAbovePanels(Dialog& dialog) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    if (std::any_of(windows.begin(), windows.end(),
                    [](const QWidget* window) { return isFloatingPanel(*window); })) {
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    return dialog;
}

std::optional<std::filesystem::path> chosenPath(QFileDialog& dialog) {
    if (keptAbovePanels(dialog).exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(dialog.selectedFiles().first().toStdString());
}

// A dialog with the given fields (label over a line edit each), OK and Cancel.
struct FieldDialog {
    QDialog dialog;
    std::vector<QLineEdit*> fields;

    FieldDialog(QWidget* parent, const std::string& message, const std::string& informative,
                const std::vector<std::pair<std::string, std::string>>& labelledTexts,
                const std::string& okTitle, const std::string& cancelTitle)
        : dialog(parent) {
        dialog.setWindowTitle(q(message));
        auto* layout = new QVBoxLayout(&dialog);
        auto* title = new QLabel(q(message));
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        layout->addWidget(title);
        if (!informative.empty()) {
            auto* text = new QLabel(q(informative));
            text->setWordWrap(true);
            layout->addWidget(text);
        }
        auto* grid = new QGridLayout;
        int column = 0;
        for (const auto& [label, value] : labelledTexts) {
            if (!label.empty()) {
                grid->addWidget(new QLabel(q(label)), 0, column);
            }
            auto* field = new QLineEdit(q(value));
            grid->addWidget(field, 1, column++);
            fields.push_back(field);
        }
        layout->addLayout(grid);
        auto* buttons = new QDialogButtonBox;
        buttons->addButton(q(okTitle), QDialogButtonBox::AcceptRole)->setDefault(true);
        buttons->addButton(q(cancelTitle), QDialogButtonBox::RejectRole);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        if (!fields.empty()) {
            fields.front()->setFocus();
            fields.front()->selectAll();
        }
    }
};

}  // namespace

QtDialogPresenter::QtDialogPresenter(QWidget* parent) : parent_(parent) {}

QWidget* QtDialogPresenter::dialogParent() const {
    // A dialog asked for from a floating panel belongs to that panel and is centred on it.
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && isFloatingPanel(*active)) {
        return active;
    }
    return parent_.data();
}
QtDialogPresenter::~QtDialogPresenter() = default;

int QtDialogPresenter::alert(AlertStyle style, const std::string& message,
                             const std::string& informative,
                             const std::vector<AlertButton>& buttons) {
    // A warning or an error that only informs (one button at most, not a question) also goes
    // to the console, so a terminal or a log collector keeps it after the alert is dismissed.
    if (style != AlertStyle::informational && buttons.size() <= 1) {
        Console::log("alert: " + message + (informative.empty() ? "" : ": " + informative));
    }
    QMessageBox box(dialogParent());
    box.setIcon(style == AlertStyle::critical  ? QMessageBox::Critical
                : style == AlertStyle::warning ? QMessageBox::Warning
                                               : QMessageBox::Information);
    box.setText(q(message));
    box.setInformativeText(q(informative));
    keepInformativeLinesWhole(box);
    const std::vector<AlertButton> list =
        buttons.empty() ? std::vector<AlertButton>{AlertButton("OK")} : buttons;
    std::vector<QAbstractButton*> added;
    QPushButton* defaultButton = nullptr;
    QPushButton* cancelButton = nullptr;
    for (const AlertButton& entry : list) {
        QMessageBox::ButtonRole role = QMessageBox::RejectRole;
        if (entry.role == ButtonRole::destructive) {
            role = QMessageBox::DestructiveRole;
        } else if (entry.role == ButtonRole::none && !defaultButton) {
            role = QMessageBox::AcceptRole;
        }
        QPushButton* button = box.addButton(q(entry.title), role);
        added.push_back(button);
        switch (entry.role) {
            case ButtonRole::none:
                defaultButton = defaultButton ? defaultButton : button;
                break;
            case ButtonRole::destructive:
                // Return on a focused destructive button goes to the default button instead.
                button->setAutoDefault(false);
                break;
            case ButtonRole::cancel:
                cancelButton = cancelButton ? cancelButton : button;
                break;
        }
    }
    if (!defaultButton) {
        defaultButton = cancelButton;
    }
    if (defaultButton) {
        box.setDefaultButton(defaultButton);
    }
    if (cancelButton) {
        box.setEscapeButton(cancelButton);
    }
    keptAbovePanels(box).exec();
    for (std::size_t i = 0; i < added.size(); ++i) {
        if (box.clickedButton() == added[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<std::string> QtDialogPresenter::promptText(const std::string& message,
                                                         const std::string& initialText,
                                                         const std::string& okTitle,
                                                         const std::string& cancelTitle) {
    FieldDialog prompt(dialogParent(), message, {}, {{"", initialText}}, okTitle, cancelTitle);
    prompt.fields[0]->setFixedSize(200, 24);
    if (keptAbovePanels(prompt.dialog).exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return prompt.fields[0]->text().toStdString();
}

std::optional<std::pair<std::string, std::string>> QtDialogPresenter::promptMIDINote(
    const MIDINotePrompt& texts, const std::string& okTitle, const std::string& cancelTitle) {
    FieldDialog prompt(dialogParent(), texts.message, texts.informative,
                       {{texts.channelLabel, texts.channelText}, {texts.noteLabel, texts.noteText}},
                       okTitle, cancelTitle);
    for (auto* field : prompt.fields) {
        field->setFixedSize(100, 22);
    }
    if (keptAbovePanels(prompt.dialog).exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return std::pair{prompt.fields[0]->text().toStdString(),
                     prompt.fields[1]->text().toStdString()};
}

std::optional<std::filesystem::path> QtDialogPresenter::savePackage(const std::string& title,
                                                                    const std::string& proposedName,
                                                                    const std::string& prompt,
                                                                    const std::string& extension) {
    PackageFileDialog dialog(dialogParent(), q(title), q(extension));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(q("*." + extension));
    dialog.selectFile(q(proposedName));
    dialog.setLabelText(QFileDialog::Accept, q(prompt));
    return chosenPath(dialog);
}

std::optional<std::filesystem::path> QtDialogPresenter::openPackage(const std::string& title,
                                                                    const std::string& prompt,
                                                                    const std::string& message,
                                                                    const std::string& extension) {
    // A package is a folder picked as one item; other folders are entered, files picked too,
    // and the caller checks the extension of what was picked.
    PackageFileDialog dialog(dialogParent(), q(title), q(extension));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({q(message + " (*." + extension + ")"), q("* (*)")});
    dialog.setLabelText(QFileDialog::Accept, q(prompt));
    return chosenPath(dialog);
}

std::vector<std::filesystem::path> QtDialogPresenter::openFiles(
    const std::string& title, const std::string& filterName,
    const std::vector<std::string>& extensions) {
    QFileDialog dialog(dialogParent(), q(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // Both letter cases of each extension: the dialog's patterns follow the file system's case.
    QStringList patterns;
    for (const auto& extension : extensions) {
        patterns << q("*." + extension) << q("*." + extension).toUpper();
    }
    dialog.setNameFilter(q(filterName) + " (" + patterns.join(' ') + ")");
    std::vector<std::filesystem::path> chosen;
    if (keptAbovePanels(dialog).exec() == QDialog::Accepted) {
        for (const QString& file : dialog.selectedFiles()) {
            chosen.emplace_back(file.toStdString());
        }
    }
    return chosen;
}

std::optional<std::filesystem::path> QtDialogPresenter::openFolder(const std::string& title,
                                                                   const std::string& prompt,
                                                                   const std::string& message) {
    QFileDialog dialog(dialogParent(), q(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setLabelText(QFileDialog::Accept, q(prompt));
    showAbove(dialog, q(message));
    return chosenPath(dialog);
}

namespace {
constexpr QSize kHelpPanelSize{480, 580};
}

void QtDialogPresenter::toggleHelpPanel(const std::string& title, const std::string& text) {
    if (!helpPanel_) {
        auto panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
        panel->setWindowTitle(q(title));
        auto* layout = new QVBoxLayout(panel.get());
        layout->setContentsMargins(0, 0, 0, 0);
        auto* view = new QPlainTextEdit(q(text));
        view->setReadOnly(true);
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(13);
        view->setFont(font);
        view->document()->setDocumentMargin(16);
        layout->addWidget(view);
        // Centred on the main window's screen, whole on it whatever its size.
        QScreen* screen = parent_ ? parent_->screen() : activeWindowScreen();
        panel->resize(kHelpPanelSize);
        if (screen != nullptr) {
            placeFittedCentredOnceFramed(*panel, *screen, kHelpPanelSize);
        }
        helpPanel_ = std::move(panel);
        helpPanel_->show();
        helpPanel_->raise();
        helpPanel_->activateWindow();
        return;
    }
    if (helpPanel_->isVisible()) {
        helpPanel_->hide();
    } else {
        helpPanel_->show();
        helpPanel_->raise();
        helpPanel_->activateWindow();
    }
}

}  // namespace kestio::platform
