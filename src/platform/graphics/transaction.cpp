#include "platform/graphics/transaction.h"

#include "platform/graphics/layer.h"

namespace kestio::platform {

struct Transaction::State {
    std::function<void()> completion;
    int pending = 0;
    bool committed = false;
    bool fired = false;

    void fireIfDone() {
        if (fired || !committed || pending > 0) {
            return;
        }
        fired = true;
        if (completion) {
            auto fn = std::move(completion);
            fn();
        }
    }
};

Transaction::Transaction(RunLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {}

Transaction::~Transaction() {
    commit();
}

void Transaction::setCompletion(std::function<void()> completion) {
    state_->completion = std::move(completion);
}

void Transaction::addAnimation(Layer& layer, const std::string& key,
                               const OpacityAnimation& animation) {
    ++state_->pending;
    layer.addAnimation(key, animation, [state = state_] {
        --state->pending;
        state->fireIfDone();
    });
}

void Transaction::commit() {
    if (committed_) {
        return;
    }
    committed_ = true;
    state_->committed = true;
    if (state_->pending == 0) {
        loop_.post([state = state_] { state->fireIfDone(); });
    }
}

}  // namespace kestio::platform
