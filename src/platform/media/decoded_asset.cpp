#include "platform/media/decoded_asset.h"

#include <mutex>
#include <thread>

#include "platform/media/media_file.h"

namespace kestio::platform::media {

// What the probe thread shares with its asset. The thread posts its answer under the lock
// and only while the asset lives, so once the destructor has marked it cancelled the thread
// never touches the run loop again.
struct DecodedAsset::Probe {
    std::shared_ptr<ffmpeg::IoControl> io = std::make_shared<ffmpeg::IoControl>();
    std::mutex mutex;
    bool cancelled = false;
};

std::shared_ptr<DecodedAsset> DecodedAsset::make(RunLoop& loop, std::filesystem::path url) {
    return std::make_shared<DecodedAsset>(Token{}, loop, std::move(url));
}

DecodedAsset::DecodedAsset(Token, RunLoop& loop, std::filesystem::path url)
    : loop_(loop), url_(std::move(url)) {}

DecodedAsset::~DecodedAsset() {
    if (probe_) {
        probe_->io->cancel();
        std::lock_guard lock(probe_->mutex);
        probe_->cancelled = true;
    }
}

void DecodedAsset::loadInfo(std::function<void(const Loaded<MediaInfo>&)> done) {
    if (result_) {
        std::weak_ptr<DecodedAsset> weak = weak_from_this();
        loop_.post([weak, done = std::move(done)] {
            if (auto self = weak.lock()) {
                done(*self->result_);
            }
        });
        return;
    }
    waiting_.push_back(std::move(done));
    if (probe_) {
        return;
    }
    probe_ = std::make_shared<Probe>();
    std::weak_ptr<DecodedAsset> weak = weak_from_this();
    std::thread([path = url_, probe = probe_, &loop = loop_, weak] {
        Loaded<MediaInfo> result = probeMediaInfo(path, probe->io, ProbeDepth::headers);
        std::lock_guard lock(probe->mutex);
        if (probe->cancelled) {
            return;
        }
        loop.post([weak, result = std::move(result)] {
            if (auto self = weak.lock()) {
                self->deliver(result);
            }
        });
    }).detach();
}

void DecodedAsset::deliver(Loaded<MediaInfo> result) {
    result_ = std::move(result);
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& done : waiting) {
        done(*result_);
    }
}

}  // namespace kestio::platform::media
