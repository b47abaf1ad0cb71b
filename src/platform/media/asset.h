#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/media/loaded.h"
#include "platform/media/media_info.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

// A media file and what it holds (duration, tracks, frame rate, size, rotation).
//
// Contract for every implementation: a load is answered on the run loop's thread, never
// synchronously inside the call (even when the answer is already known), with the value or
// the error that prevented it; loads asked before the answer is known are answered in the
// order they were asked. Once an asset is destroyed its unanswered loads are never answered.
// Used on the run loop's thread; the run loop must outlive it.
class Asset {
  public:
    virtual ~Asset() = default;

    virtual const std::filesystem::path& url() const = 0;
    // The run loop loads are answered on (and that items of this asset run on).
    virtual RunLoop& runLoop() const = 0;

    // All facts at once.
    virtual void loadInfo(std::function<void(const Loaded<MediaInfo>&)> done) = 0;

    // The same answer, one fact at a time.
    // Seconds (see MediaInfo::duration); +infinity when it cannot be found.
    void loadDuration(std::function<void(const Loaded<double>&)> done);
    // Every track in container order (attached cover pictures are not tracks).
    void loadTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    void loadVideoTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    void loadAudioTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    // True when some video or audio track can be decoded.
    void loadIsPlayable(std::function<void(const Loaded<bool>&)> done);

  protected:
    Asset() = default;
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;
};

}  // namespace kestio::platform::media
