#pragma once

#include <string>

#include "platform/audio/audio_output_device.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::app {

// What the MIDI status panel says of the sound output: nothing while the sound server answers;
// that the output was lost, that it is being reconnected, and, for a few seconds once the
// server answers again, that it is back.
class SoundOutputStatus {
  public:
    enum class Notice { none, lost, reconnecting, back };
    // How long "back" is shown.
    static constexpr double kBackSeconds = 5.0;

    // Follows `connection` (the output device's) from its value now on; both must outlive
    // this.
    SoundOutputStatus(platform::RunLoop& loop,
                      platform::Published<platform::audio::OutputConnection>& connection);

    platform::Published<Notice> notice{Notice::none};

    // The notice's text in the current language; empty for none.
    static std::string text(Notice notice);

  private:
    void take(platform::audio::OutputConnection connection);

    platform::RunLoop& loop_;
    platform::TimerHandle backShown_;
    platform::Subscription following_;
};

}  // namespace kestio::app
