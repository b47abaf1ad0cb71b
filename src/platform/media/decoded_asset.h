#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/media/loaded.h"
#include "platform/media/media_info.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

class IoControl;

// A media file and what it holds. The file is probed once, on a thread of its own, the first
// time anything is loaded; every load is answered on the run loop's thread, never
// synchronously (even when the answer is already known), with the value or the error that
// prevented it. An asset is used on the run loop's thread; the run loop must outlive it.
// Destroying it cancels a probe under way; loads not yet answered are then never answered.
class Asset : public std::enable_shared_from_this<Asset> {
    struct Token {};

  public:
    static std::shared_ptr<Asset> make(RunLoop& loop, std::filesystem::path url);
    Asset(Token, RunLoop& loop, std::filesystem::path url);
    ~Asset();
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    const std::filesystem::path& url() const { return url_; }
    RunLoop& runLoop() const { return loop_; }

    // All facts at once.
    void loadInfo(std::function<void(const Loaded<MediaInfo>&)> done);
    // Seconds (see MediaInfo::duration); +infinity when it cannot be found.
    void loadDuration(std::function<void(const Loaded<double>&)> done);
    // Every track in container order (attached cover pictures are not tracks).
    void loadTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    void loadVideoTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    void loadAudioTracks(std::function<void(const Loaded<std::vector<TrackInfo>>&)> done);
    // True when some video or audio track can be decoded.
    void loadIsPlayable(std::function<void(const Loaded<bool>&)> done);

  private:
    void deliver(Loaded<MediaInfo> result);

    RunLoop& loop_;
    const std::filesystem::path url_;
    std::optional<Loaded<MediaInfo>> result_;
    std::vector<std::function<void(const Loaded<MediaInfo>&)>> waiting_;
    std::shared_ptr<IoControl> io_;
    std::thread probe_;
};

}  // namespace kestio::platform::media
