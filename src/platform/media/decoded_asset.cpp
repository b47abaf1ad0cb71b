#include "platform/media/asset.h"

#include "platform/media/media_file.h"

namespace kestio::platform::media {

std::shared_ptr<Asset> Asset::make(RunLoop& loop, std::filesystem::path url) {
    return std::make_shared<Asset>(Token{}, loop, std::move(url));
}

Asset::Asset(Token, RunLoop& loop, std::filesystem::path url)
    : loop_(loop), url_(std::move(url)), io_(std::make_shared<IoControl>()) {}

Asset::~Asset() {
    io_->cancel();
    if (probe_.joinable()) {
        probe_.join();
    }
}

void Asset::loadInfo(std::function<void(const Loaded<MediaInfo>&)> done) {
    if (result_) {
        std::weak_ptr<Asset> weak = weak_from_this();
        loop_.post([weak, done = std::move(done)] {
            if (auto self = weak.lock()) {
                done(*self->result_);
            }
        });
        return;
    }
    waiting_.push_back(std::move(done));
    if (!probe_.joinable()) {
        std::weak_ptr<Asset> weak = weak_from_this();
        probe_ = std::thread([path = url_, io = io_, &loop = loop_, weak] {
            Loaded<MediaInfo> result = probeMediaInfo(path, io);
            if (io->cancelled()) {
                return;
            }
            loop.post([weak, result = std::move(result)] {
                if (auto self = weak.lock()) {
                    self->deliver(result);
                }
            });
        });
    }
}

void Asset::deliver(Loaded<MediaInfo> result) {
    result_ = std::move(result);
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& done : waiting) {
        done(*result_);
    }
}

void Asset::loadDuration(std::function<void(const Loaded<double>&)> done) {
    loadInfo([done = std::move(done)](const Loaded<MediaInfo>& info) {
        done(info ? Loaded<double>(info->duration) : Loaded<double>::failure(info.error()));
    });
}

void Asset::loadTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done) {
    loadInfo([done = std::move(done)](const Loaded<MediaInfo>& info) {
        using Result = Loaded<std::vector<TrackInfo>>;
        done(info ? Result(info->tracks) : Result::failure(info.error()));
    });
}

void Asset::loadVideoTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done) {
    loadInfo([done = std::move(done)](const Loaded<MediaInfo>& info) {
        using Result = Loaded<std::vector<TrackInfo>>;
        done(info ? Result(info->tracksOfKind(TrackKind::Video)) : Result::failure(info.error()));
    });
}

void Asset::loadAudioTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done) {
    loadInfo([done = std::move(done)](const Loaded<MediaInfo>& info) {
        using Result = Loaded<std::vector<TrackInfo>>;
        done(info ? Result(info->tracksOfKind(TrackKind::Audio)) : Result::failure(info.error()));
    });
}

void Asset::loadIsPlayable(std::function<void(const Loaded<bool>&)> done) {
    loadInfo([done = std::move(done)](const Loaded<MediaInfo>& info) {
        done(info ? Loaded<bool>(info->isPlayable) : Loaded<bool>::failure(info.error()));
    });
}

}  // namespace kestio::platform::media
