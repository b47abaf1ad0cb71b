#pragma once

#include <QFileDialog>
#include <QString>

namespace kestio::platform {

// A file dialog (Qt's own widgets, not the desktop's) that treats a package, a folder whose
// name ends in the package extension, as one item: chosen in the list or typed as a path, the
// package is what the accept button picks, and the button stays enabled for it. Ordinary
// folders are still entered. In a save dialog, choosing a package that exists asks before it
// is replaced, as an existing file does.
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

    QString suffix_;
};

}  // namespace kestio::platform
