#pragma once

#include "platform/runloop/published.h"

namespace kestio {

// What is loading now (imports whose files are still being probed, a running warm-up): the
// published isLoading flag is on while anything is. Main thread only.
class LoadingCount {
  public:
    explicit LoadingCount(platform::Published<bool>& isLoading) : isLoading_(isLoading) {}
    LoadingCount(const LoadingCount&) = delete;
    LoadingCount& operator=(const LoadingCount&) = delete;

    void begin() {
        if (++count_ == 1) {
            isLoading_ = true;
        }
    }
    void end() {
        if (count_ > 0 && --count_ == 0) {
            isLoading_ = false;
        }
    }
    bool any() const { return isLoading_.get(); }

  private:
    platform::Published<bool>& isLoading_;
    int count_ = 0;
};

}  // namespace kestio
