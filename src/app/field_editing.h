#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QGraphicsView;
class QKeyEvent;
class QPoint;
class QWidget;

namespace kestio::app {

// Ends the typing into a text field of the widgets a graphics view shows, as a show operator
// expects, and hands the keys back to the show: Return or Enter commits the typed value (the
// field does, as it does on them), Escape abandons it (the field shows the text it had before
// the typing, and writes nothing), and a press of any mouse button on the view outside a text
// field ends the typing as the field losing the focus does (it commits) before the press goes
// on. The focus then goes to the widget the field is shown in, which takes no text: the view
// keeps the window's focus, and the keys are the show's. A field that handles these keys itself
// (a readout that closes its field) still does.
// The view calls it around the key and mouse presses it hands on to its scene.
class FieldEditing : public QObject {
  public:
    explicit FieldEditing(QGraphicsView& view);

    // Before the view hands a key press on: notes the field that gets it.
    void beforeKey();
    // After: Return, Enter and Escape end the typing into the noted field. True when they did;
    // the key is then used up.
    bool afterKey(const QKeyEvent& event);
    // Before the view hands on a mouse press at `position` (in the view's viewport).
    void beforePress(const QPoint& position);

    // The text field of the shown widgets that has the focus (and is shown), or null.
    QWidget* focusedField() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void end(QWidget* field, bool abandon);
    void forget();

    QGraphicsView& view_;
    QPointer<QWidget> keyField_;
    // The field being typed into and its text when the typing began.
    QPointer<QWidget> edited_;
    QString textBefore_;
};

}  // namespace kestio::app
