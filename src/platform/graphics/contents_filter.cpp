#include "platform/graphics/contents_filter.h"

namespace kestio::platform {

QImage ContentsFilter::apply(const QImage& still) const {
    if (still.isNull() || !step_) {
        return still;
    }
    std::lock_guard lock(mutex_);
    const qint64 key = still.cacheKey();
    if (!made_.isNull() && stillKey_ == key) {
        return made_;
    }
    QImage result;
    try {
        result = step_(still);
    } catch (...) {
        result = QImage();
    }
    if (result.isNull() || result.size() != still.size()) {
        result = still;
    }
    // Only the last still is kept: a layer shows one at a time.
    stillKey_ = key;
    made_ = result;
    return result;
}

}  // namespace kestio::platform
