#include "platform/ui/package_file_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
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
    // Qt enters every folder double-clicked or activated with Return in its list and detail
    // views; a package is caught before that.
    for (auto* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() == QStringLiteral("listView") ||
            view->objectName() == QStringLiteral("treeView")) {
            view->installEventFilter(this);
            view->viewport()->installEventFilter(this);
        }
    }
    if (auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        field && field->completer() != nullptr) {
        // Watched after the completer's own filter, so seen first.
        field->completer()->popup()->installEventFilter(this);
    }
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
    switch (event->type()) {
        case QEvent::EnabledChange:
            if (watched == acceptButtonOf(*this)) {
                auto* button = static_cast<QPushButton*>(watched);
                if (!button->isEnabled() && !chosenPackage().isEmpty()) {
                    button->setEnabled(true);
                }
            }
            break;
        case QEvent::MouseButtonDblClick:
            if (auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
                view && view->viewport() == watched &&
                static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                pickPackageAt(
                    view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()))) {
                return true;
            }
            break;
        case QEvent::KeyPress:
            if (auto* view = qobject_cast<QAbstractItemView*>(watched)) {
                const int key = static_cast<QKeyEvent*>(event)->key();
                if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
                    pickPackageAt(view->currentIndex())) {
                    return true;
                }
            }
            break;
        case QEvent::MouseButtonPress: {
            auto* line = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QCompleter* completer = line != nullptr ? line->completer() : nullptr;
            if (completer != nullptr && watched == completer->popup() &&
                passPressThroughCompletions(*completer->popup(),
                                            *static_cast<QMouseEvent*>(event))) {
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QFileDialog::eventFilter(watched, event);
}

bool PackageFileDialog::pickPackageAt(const QModelIndex& index) {
    const QString path = index.data(QFileSystemModel::FilePathRole).toString();
    if (!index.isValid() || !isPackage(path)) {
        return false;
    }
    selectFile(path);
    accept();
    return true;
}

bool PackageFileDialog::passPressThroughCompletions(QWidget& completions,
                                                    const QMouseEvent& press) {
    if (!completions.isVisible() || completions.rect().contains(press.position().toPoint())) {
        return false;
    }
    const QPointF global = press.globalPosition();
    completions.hide();
    QWidget* target = QApplication::widgetAt(global.toPoint());
    if (target == nullptr || target->window() != this) {
        // Outside the dialog the press only closes the list, as Qt's own handling does.
        return true;
    }
    // The press and its release at once: the list held the pointer when the press came, and
    // the real release goes to the list, now closed.
    const QPointF local = target->mapFromGlobal(global);
    QMouseEvent handed(QEvent::MouseButtonPress, local, global, press.button(), press.buttons(),
                       press.modifiers(), press.pointingDevice());
    QApplication::sendEvent(target, &handed);
    QMouseEvent released(QEvent::MouseButtonRelease, local, global, press.button(),
                         press.buttons() & ~press.button(), press.modifiers(),
                         press.pointingDevice());
    QApplication::sendEvent(target, &released);
    return true;
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
