#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "model/project_data.h"

namespace kestio {

class LocalizationManager;
class ShowPlayback;
class SignalOutput;
namespace output {
class OutputSurface;
}
namespace platform {
class RunLoop;
}
namespace platform::audio {
class AudioOutputDevice;
}
namespace platform::media {
class MediaFactory;
}

// The application's playback: the playback controller on its output surface (which it owns),
// the show's adapter to it, and the colour bars and test tone on it. The application reaches
// playback only through these three. Main thread only.
class LivePlayback {
  public:
    struct Services {
        platform::RunLoop& loop;
        // The device the output's shared engine plays on.
        std::shared_ptr<platform::audio::AudioOutputDevice> audioDevice;
        // Opens the clips of the output's slots and of the warm-up's own players.
        platform::media::MediaFactory& media;
        // The interface language's text picker (null: the application's shared manager).
        LocalizationManager* localization = nullptr;
    };

    explicit LivePlayback(Services services);
    ~LivePlayback();
    LivePlayback(const LivePlayback&) = delete;
    LivePlayback& operator=(const LivePlayback&) = delete;

    // The show's adapter to playback.
    ShowPlayback& show();
    // The program output: the layer tree the views show, its layer log and its shared engine.
    output::OutputSurface& program();
    // The colour bars and test tone of the utility buttons.
    SignalOutput& signals();
    // Playback reads the current project only through `provider`.
    void setProjectProvider(std::function<std::optional<ProjectData>()> provider);

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace kestio
