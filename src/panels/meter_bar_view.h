#pragma once

#include <QWidget>

class QPainter;

namespace kestio::panels {

// One channel of the level meter: a column with the level's colours dimmed over its whole
// height, the lit part from the bottom up to the level on the audio level scale, and a 2-point
// marker at the held peak (white up to 0 dB, red above). An inactive channel is one flat grey.
class MeterBarView : public QWidget {
  public:
    static constexpr float kMinDB = -40.0f;
    static constexpr float kMaxDB = 12.0f;

    explicit MeterBarView(QWidget* parent = nullptr);

    void setReading(float level, float peak, bool inactive);
    float level() const { return level_; }
    float peak() const { return peak_; }
    bool inactive() const { return inactive_; }

    static void paint(QPainter& painter, const QRectF& rect, float level, float peak,
                      bool inactive);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    float level_ = -100.0f;
    float peak_ = -100.0f;
    bool inactive_ = false;
};

}  // namespace kestio::panels
