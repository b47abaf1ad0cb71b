#include "platform/runloop/run_loop.h"

#include <cmath>

namespace kestio::platform {

double detail::nextTickDue(double due, double interval, double ranAt) {
    double next = due + interval;
    if (next <= ranAt) {
        next = due + (std::floor((ranAt - due) / interval) + 1.0) * interval;
        while (next <= ranAt) {  // the product may round down onto ranAt
            next += interval;
        }
    }
    return next;
}

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
