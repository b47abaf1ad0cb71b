#pragma once

#include <memory>
#include <optional>

#include "import/clip_importer.h"
#include "model/localization_manager.h"
#include "output/output_surface.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "show/live_show_importer.h"
#include "show/live_show_playback.h"
#include "show/show_controller.h"
#include "support/null_audio_device.h"
#include "support/show_rig.h"

namespace kestio::test {

// How the real playback controller is made.
struct LivePlaybackOptions {
    // The interface language's text picker (null: the application's shared manager).
    LocalizationManager* localization = nullptr;
    // Whether a warm-up prerolls clips on players of its own, as the application's does.
    bool warmUpPlayers = false;
};

// The real playback controller on an output surface over the null audio device (48 kHz,
// stereo), decoding with FFmpeg. Nothing pulls the device: the user does.
struct LivePlaybackRig {
    explicit LivePlaybackRig(platform::ManualRunLoop& loop, LivePlaybackOptions options = {})
        : device(std::make_shared<NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock())),
          media(loop),
          controller(PlaybackServices{
              .loop = loop,
              .wallClock = nullptr,
              .view = std::make_unique<output::OutputSurface>(output::OutputSurface::Services{
                  .loop = loop, .audioDevice = device, .media = media}),
              .localization = options.localization,
              .decodeStill = {},
              .runInBackground = {},
              .media = options.warmUpPlayers ? &media : nullptr}) {}

    std::shared_ptr<NullAudioDevice> device;
    platform::media::DecodedMediaFactory media;
    PlaybackController controller;
};

// How a live show is made.
struct LiveShowOptions {
    // The controller uses this rig's own language picker and prerolls warm-ups on players
    // of its own, as the application's does.
    bool asApplication = false;
};

// A whole show on its real parts, on the run loop and MIDI system it is given: the clip
// importer, the real playback controller on the null audio device, the show playback over it
// and the show controller, with the controller reading the show's project as the main window
// wires it.
struct LiveShowRig {
    LiveShowRig(platform::ManualRunLoop& loop, platform::MIDISystem& midiSystem,
                LiveShowOptions options = {})
        : loop(loop),
          parts(loop, midiSystem),
          output(loop, options.asApplication ? LivePlaybackOptions{.localization = &localization,
                                                                   .warmUpPlayers = true}
                                             : LivePlaybackOptions{}) {
        controller.projectProvider = [this]() -> std::optional<ProjectData> {
            return show->project();
        };
    }

    platform::ManualRunLoop& loop;
    ShowParts parts;
    LocalizationManager localization{parts.defaults};
    ClipImporter clipImporter{loop, parts.bookmarks};
    LiveShowImporter importer{clipImporter};
    LivePlaybackRig output;
    PlaybackController& controller = output.controller;
    std::shared_ptr<NullAudioDevice>& device = output.device;
    LiveShowPlayback playback{controller};
    std::unique_ptr<ShowController> show =
        std::make_unique<ShowController>(parts.services(loop, playback, importer));
};

}  // namespace kestio::test
