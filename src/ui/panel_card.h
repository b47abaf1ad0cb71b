#pragma once

#include <QSize>
#include <QWidget>

class QVBoxLayout;

namespace kestio::ui {

// The look of one panel card: how its content is stacked, its inner padding, its grey and the
// fixed size the main window's layout gives it (design points).
struct PanelCardStyle {
    enum class Alignment { leading, centre };

    Alignment alignment = Alignment::centre;
    int spacing = 0;
    int padding = 0;
    double white = 0.16;  // opaque background grey
    QSize size;

    static PanelCardStyle toolbar();       // centre, 4, 6, 0.16, 438 x 92
    static PanelCardStyle bankList();      // centre, 2, 6, 0.16, 438 x 428
    static PanelCardStyle player();        // leading, 3, 6, 0.12, 643 x 528
    static PanelCardStyle clipSettings();  // leading, 8, 8, 0.16, 376 x 196
    static PanelCardStyle audio();         // centre, 6, 8, 0.16, 376 x 332
    static PanelCardStyle geometry();      // centre, 6, 8, 0.16, 397 x 116
    static PanelCardStyle eqColor();       // centre, 4, 8, 0.16, 397 x 194

    friend bool operator==(const PanelCardStyle&, const PanelCardStyle&) = default;
};

// The frame of a main-window panel: an opaque grey card of fixed size with corners of radius 6,
// no stroke and no shadow, that stacks its content from the top (leading-aligned or centred)
// inside its padding. Content taller than the card is cut off at the card's edge.
class PanelCard : public QWidget {
  public:
    static constexpr double kCornerRadius = 6.0;

    explicit PanelCard(const PanelCardStyle& style, QWidget* parent = nullptr);

    // Appends a widget below the content already added; the card takes ownership.
    void addContent(QWidget* content);
    const PanelCardStyle& style() const { return style_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    PanelCardStyle style_;
    QVBoxLayout* stack_;
};

}  // namespace kestio::ui
