#include "platform/graphics/contents_filter.h"

namespace kestio::platform {

ContentsFilter::ContentsFilter(FrameFilter step, std::shared_ptr<const ContentsFilter> before,
                               Runner runner)
    : step_(std::move(step)), runner_(std::move(runner)), before_(std::move(before)) {}

std::shared_ptr<const ContentsFilter> ContentsFilter::asIs(const QImage& still) {
    auto filter = std::make_shared<ContentsFilter>(FrameFilter());
    filter->stillKey_ = still.cacheKey();
    filter->made_ = still;
    return filter;
}

QImage ContentsFilter::make(const QImage& still) const {
    QImage result;
    try {
        result = step_(still);
    } catch (...) {
        result = QImage();
    }
    if (result.isNull() || result.size() != still.size()) {
        result = still;
    }
    return result;
}

QImage ContentsFilter::showing(qint64 stillKey) const {
    std::lock_guard lock(mutex_);
    if (!made_.isNull() && stillKey_ == stillKey) {
        return made_;
    }
    if (!meanwhile_.isNull() && meanwhileKey_ == stillKey) {
        return meanwhile_;
    }
    return {};
}

QImage ContentsFilter::apply(const QImage& still, bool* provisional) const {
    if (provisional != nullptr) {
        *provisional = false;
    }
    if (still.isNull() || !step_) {
        return still;
    }
    const qint64 key = still.cacheKey();
    std::shared_ptr<const ContentsFilter> before;
    {
        std::lock_guard lock(mutex_);
        before = std::move(before_);  // the chain of filters ends at the first still
    }
    // What the filter before showed of this still stands in while this one's picture is made
    // in the background.
    const QImage meanwhile = before && runner_ ? before->showing(key) : QImage();
    bool start = false;
    {
        std::lock_guard lock(mutex_);
        if (!made_.isNull() && stillKey_ == key) {
            return made_;
        }
        if (!preparing_ && !meanwhile.isNull()) {
            preparing_ = true;
            meanwhileKey_ = key;
            meanwhile_ = meanwhile;
            start = true;
        }
        if (!preparing_ || meanwhileKey_ != key) {
            // Made now, by the first caller; one at the same time waits for it.
            QImage result = make(still);
            // Only the last still is kept: a layer shows one at a time.
            stillKey_ = key;
            made_ = result;
            return result;
        }
        if (provisional != nullptr) {
            *provisional = true;
        }
        if (!start) {
            return meanwhile_;
        }
    }
    prepare(still);
    return meanwhile;
}

void ContentsFilter::prepare(const QImage& still) const {
    std::weak_ptr<const ContentsFilter> weak = weak_from_this();
    runner_([weak, still] {
        // A filter replaced before its turn came makes nothing.
        const std::shared_ptr<const ContentsFilter> self = weak.lock();
        if (!self) {
            return;
        }
        QImage result = self->make(still);
        std::lock_guard lock(self->mutex_);
        self->stillKey_ = still.cacheKey();
        self->made_ = std::move(result);
        self->preparing_ = false;
        self->meanwhile_ = QImage();
    });
}

}  // namespace kestio::platform
