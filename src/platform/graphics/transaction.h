#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/graphics/opacity_animation.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

class Layer;

// Groups changes to layers made in one turn of the run loop. Layer properties never animate
// by themselves, so changes inside a transaction take effect at once, all in the same turn,
// and no picture rendered afterwards shows an intermediate value. What a transaction adds is
// a completion: it runs once on the run loop after every animation added through the
// transaction has ended or has been removed (removing one counts as its end). Without any
// animation it runs on the next turn after the commit.
//
//     Transaction t(loop);
//     t.setCompletion([] { ... });
//     t.addAnimation(*layer, "fadeIn", {0.0f, 1.0f, 0.5});
//     t.commit();
class Transaction {
  public:
    explicit Transaction(RunLoop& loop);
    ~Transaction();  // commits if commit() was not called
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void setCompletion(std::function<void()> completion);
    void addAnimation(Layer& layer, const std::string& key, const OpacityAnimation& animation);
    void commit();

  private:
    struct State;
    RunLoop& loop_;
    std::shared_ptr<State> state_;
    bool committed_ = false;
};

}  // namespace kestio::platform
