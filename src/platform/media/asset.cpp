#include "platform/media/asset.h"

namespace kestio::platform::media {

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
