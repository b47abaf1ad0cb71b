#include "app/sound_output_status.h"

#include "model/localization_manager.h"

namespace kestio::app {

using platform::audio::OutputConnection;

SoundOutputStatus::SoundOutputStatus(platform::RunLoop& loop,
                                     platform::Published<OutputConnection>& connection)
    : loop_(loop) {
    take(connection.get());
    following_ = connection.subscribe([this](OutputConnection c) { take(c); });
}

void SoundOutputStatus::take(OutputConnection connection) {
    switch (connection) {
        case OutputConnection::lost:
            backShown_.cancel();
            notice = Notice::lost;
            return;
        case OutputConnection::reconnecting:
            backShown_.cancel();
            notice = Notice::reconnecting;
            return;
        case OutputConnection::connected:
            if (notice.get() == Notice::lost || notice.get() == Notice::reconnecting) {
                notice = Notice::back;
                backShown_ = loop_.after(kBackSeconds, [this] { notice = Notice::none; });
            }
            return;
    }
}

std::string SoundOutputStatus::text(Notice notice) {
    switch (notice) {
        case Notice::none:
            return {};
        case Notice::lost:
            return L("オーディオ出力が切断されました", "Audio output disconnected");
        case Notice::reconnecting:
            return L("オーディオ出力を再接続中…", "Reconnecting audio output…");
        case Notice::back:
            return L("オーディオ出力が再接続されました", "Audio output reconnected");
    }
    return {};
}

}  // namespace kestio::app
