#pragma once

#include <QFileDialog>
#include <QString>

class QMouseEvent;

namespace kestio::platform {

// A file dialog (Qt's own widgets, not the desktop's) that treats a package, a folder whose
// name ends in the package extension, as one item: chosen in the list or typed as a path, the
// package is what the accept button picks, and the button stays enabled for it; double-clicked
// (or Return pressed on it in the list), it is picked as a file would be, not entered. Ordinary
// folders are still entered. In a save dialog, choosing a package that exists asks before it
// is replaced, as an existing file does.
//
// A click outside the completion list of a typed path closes the list and still does what it
// was aimed at (Qt's list would take it for itself): the accept button clicked while the list
// is up accepts.
class PackageFileDialog final : public QFileDialog {
  public:
    // `extension` without the dot.
    PackageFileDialog(QWidget* parent, const QString& title, const QString& extension);

    void accept() override;

    // Whether `path` names an existing package folder.
    bool isPackage(const QString& path) const;

  private:
    // The one item chosen when it is a package; empty otherwise.
    QString chosenPackage() const;
    // Enables the accept button when a package is chosen; Qt would grey it out for a typed
    // folder path.
    void offerChosenPackage();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A double click or Return on the package at `index` of a list: picks it and accepts.
    bool pickPackageAt(const QModelIndex& index);
    // A press outside the completion list, which the list would swallow: the list is closed and
    // the press handed to the widget of this dialog under it.
    bool passPressThroughCompletions(QWidget& completions, const QMouseEvent& press);

    QString suffix_;
};

}  // namespace kestio::platform
