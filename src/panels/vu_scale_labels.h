#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace kestio::panels {

// The column of dB marks beside the meter: for each mark a short tick at x = 5 and its label
// centred at x = 22, at the mark's height on the audio level scale; the 0 dB mark is longer and
// brighter.
class VUScaleLabels : public QWidget {
  public:
    struct Tick {
        float db;
        QString label;
    };

    // The audio section's scale, from the top: +12 dB labelled "+10", +6, 0, -6, -10, -20, -30,
    // and -40 labelled "-∞".
    static std::vector<Tick> standardTicks();

    explicit VUScaleLabels(std::vector<Tick> ticks, QWidget* parent = nullptr);

    const std::vector<Tick>& ticks() const { return ticks_; }
    // The height at which a mark stands.
    double tickY(float db) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<Tick> ticks_;
};

}  // namespace kestio::panels
