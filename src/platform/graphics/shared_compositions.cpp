#include "platform/graphics/shared_compositions.h"

#include <algorithm>

namespace kestio::platform {

class SharedCompositions::Claim {
  public:
    explicit Claim(const Composition& composition) : composition(composition) {}

    const Composition composition;
    bool drawing = true;                      // guarded by the owner's mutex
    std::weak_ptr<const DrawnPicture> drawn;  // likewise
};

std::shared_ptr<const DrawnPicture> SharedCompositions::find(const Composition& composition,
                                                             std::shared_ptr<Claim>& claim) {
    claim.reset();
    std::unique_lock lock(mutex_);
    for (;;) {
        std::erase_if(entries_, [](const std::shared_ptr<Claim>& entry) {
            return !entry->drawing && entry->drawn.expired();
        });
        const auto same =
            std::find_if(entries_.begin(), entries_.end(), [&](const std::shared_ptr<Claim>& e) {
                return e->composition.drawsTheSameAs(composition);
            });
        if (same == entries_.end()) {
            break;
        }
        const std::shared_ptr<Claim> entry = *same;
        if (!entry->drawing) {
            return entry->drawn.lock();  // not expired: pruned above under the same lock
        }
        finished_.wait(lock, [&] { return !entry->drawing; });
        if (auto drawn = entry->drawn.lock()) {
            return drawn;
        }
        // The drawing failed or is no longer shown: look again, and draw it if need be.
    }
    claim = std::make_shared<Claim>(composition);
    entries_.push_back(claim);
    return nullptr;
}

void SharedCompositions::finish(const std::shared_ptr<Claim>& claim,
                                std::shared_ptr<const DrawnPicture> drawn) {
    if (!claim) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        claim->drawing = false;
        claim->drawn = drawn;
        if (!drawn) {
            std::erase(entries_, claim);
        }
    }
    finished_.notify_all();
}

}  // namespace kestio::platform
