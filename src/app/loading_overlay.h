#pragma once

#include <QWidget>
#include <vector>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

class QLabel;
class QProgressBar;

namespace kestio::app {

class BusyIndicator;

// Laid over the whole window while clips are prepared: black at opacity 0.55 that takes every
// click, and a centred card titled "Preparing clips..." with a spinner while the total is not
// known (below 1), else a 260-point bar of done out of total and the count ("3 / 12", in
// Japanese "3 / 12 件"). Shown and hidden by `isLoading`. Main thread only.
class LoadingOverlay : public QWidget {
  public:
    LoadingOverlay(platform::RunLoop& loop, platform::Published<bool>& isLoading,
                   platform::Published<int>& warmDone, platform::Published<int>& warmTotal,
                   QWidget* parent);
    ~LoadingOverlay() override;

    // The count under the bar, as drawn now (empty while the spinner shows).
    QString countText() const;
    QString titleText() const;
    bool showsSpinner() const;
    QProgressBar* bar() const { return bar_; }

    // The count text of `done` out of `total` in the current language.
    static QString countText(int done, int total);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void refresh();

    platform::Published<bool>& isLoading_;
    platform::Published<int>& warmDone_;
    platform::Published<int>& warmTotal_;
    QWidget* card_;
    QLabel* title_;
    BusyIndicator* spinner_;
    QProgressBar* bar_;
    QLabel* count_;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::app
