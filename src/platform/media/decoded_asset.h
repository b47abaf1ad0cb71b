#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/media/asset.h"

namespace kestio::platform::ffmpeg {
class IoControl;
}

namespace kestio::platform::media {

// An asset read through FFmpeg. The file is probed once, on a thread of its own, the first
// time anything is loaded. Destroying the asset cancels a probe under way without waiting for
// it: the probe thread finishes on its own and never reaches the asset or the run loop again.
class DecodedAsset final : public Asset, public std::enable_shared_from_this<DecodedAsset> {
    struct Token {};

  public:
    static std::shared_ptr<DecodedAsset> make(RunLoop& loop, std::filesystem::path url);
    DecodedAsset(Token, RunLoop& loop, std::filesystem::path url);
    ~DecodedAsset() override;

    const std::filesystem::path& url() const override { return url_; }
    RunLoop& runLoop() const override { return loop_; }
    void loadInfo(std::function<void(const Loaded<MediaInfo>&)> done) override;

  private:
    struct Probe;
    void deliver(Loaded<MediaInfo> result);

    RunLoop& loop_;
    const std::filesystem::path url_;
    std::optional<Loaded<MediaInfo>> result_;
    std::vector<std::function<void(const Loaded<MediaInfo>&)>> waiting_;
    std::shared_ptr<Probe> probe_;
};

}  // namespace kestio::platform::media
