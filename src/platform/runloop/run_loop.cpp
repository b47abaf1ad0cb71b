#include "platform/runloop/run_loop.h"

namespace kestio::platform {

TimerHandle& TimerHandle::operator=(TimerHandle&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

void TimerHandle::cancel() {
    if (!state_) {
        return;
    }
    auto state = std::move(state_);
    if (!state->cancelled.exchange(true) && state->onCancel) {
        auto onCancel = std::move(state->onCancel);
        onCancel();
    }
}

}  // namespace kestio::platform
