#include "platform/ui/package_file_dialog.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace kestio::platform {

namespace {

QPushButton* acceptButtonOf(const QFileDialog& dialog) {
    auto* box = dialog.findChild<QDialogButtonBox*>();
    if (box == nullptr) {
        return nullptr;
    }
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) {
            return qobject_cast<QPushButton*>(button);
        }
    }
    return nullptr;
}

}  // namespace

PackageFileDialog::PackageFileDialog(QWidget* parent, const QString& title,
                                     const QString& extension)
    : QFileDialog(parent, title), suffix_(QLatin1Char('.') + extension) {
    setOption(QFileDialog::DontUseNativeDialog);
    // Qt enables or greys out its accept button after each change of the typed text, the
    // selection or the folder shown; a package chosen is offered again after it.
    if (auto* field = findChild<QLineEdit*>()) {
        connect(field, &QLineEdit::textChanged, this, [this] { offerChosenPackage(); });
    }
    connect(this, &QFileDialog::currentChanged, this, [this] { offerChosenPackage(); });
    connect(this, &QFileDialog::directoryEntered, this, [this] { offerChosenPackage(); });
}

bool PackageFileDialog::isPackage(const QString& path) const {
    const QFileInfo info(path);
    return info.fileName().endsWith(suffix_, Qt::CaseInsensitive) &&
           info.fileName().size() > suffix_.size() && info.isDir();
}

QString PackageFileDialog::chosenPackage() const {
    const QStringList chosen = selectedFiles();
    if (chosen.size() != 1 || !isPackage(chosen.first())) {
        return {};
    }
    return chosen.first();
}

void PackageFileDialog::offerChosenPackage() {
    QPushButton* button = acceptButtonOf(*this);
    if (button == nullptr) {
        return;
    }
    // The button may have been made anew (a change of accept mode does that): it is watched
    // for Qt greying it out again.
    button->removeEventFilter(this);
    button->installEventFilter(this);
    if (!button->isEnabled() && !chosenPackage().isEmpty()) {
        button->setEnabled(true);
    }
}

bool PackageFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange && watched == acceptButtonOf(*this)) {
        auto* button = static_cast<QPushButton*>(watched);
        if (!button->isEnabled() && !chosenPackage().isEmpty()) {
            button->setEnabled(true);
        }
    }
    return QFileDialog::eventFilter(watched, event);
}

void PackageFileDialog::accept() {
    const QString package = chosenPackage();
    if (package.isEmpty()) {
        // A file, a new name, or an ordinary folder to enter: Qt's own handling.
        QFileDialog::accept();
        return;
    }
    if (acceptMode() == QFileDialog::AcceptSave && !testOption(QFileDialog::DontConfirmOverwrite)) {
        // Qt's own question for an existing file, in its own words (and translations).
        const QString question = QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                                     .arg(QFileInfo(package).fileName());
        if (QMessageBox::warning(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) != QMessageBox::Yes) {
            return;
        }
    }
    // The package is the answer, not a folder to go into.
    QDialog::accept();
}

}  // namespace kestio::platform
