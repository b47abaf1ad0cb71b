#pragma once

// Finds when the output surface's whole layer tree, composed into pixels, first shows a white
// picture: the flash of a flash-and-beep clip, on host time.

#include <QSize>
#include <memory>
#include <optional>

#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/playback_test_support.h"
#include "support/white_flash.h"

namespace kestio::test {

// The host time, to well under a microsecond, at which the composed picture of `root` first
// turns white within `horizon` seconds of the run loop's now: stepped by half a frame of
// `frameRate`, then bisected. The pictures `player` shows there are decoded first (without moving
// the clock). Empty (and a failure when it is already white) when no flash is found.
inline std::optional<double> firstWhiteComposed(platform::ManualRunLoop& loop,
                                                platform::Compositor& compositor,
                                                const platform::Layer& root, QSize size,
                                                platform::media::QueuePlayer& player,
                                                double frameRate, double horizon = 0.15) {
    auto item = std::dynamic_pointer_cast<platform::media::DecodedPlayerItem>(player.current());
    if (!item) {
        ADD_FAILURE() << "the player holds no decoded item";
        return std::nullopt;
    }
    EXPECT_TRUE(
        platform::media::testing::waitForDecoded(loop, *item, item->currentTime() + horizon));
    const double now = loop.now().seconds();
    return firstWhite(now, now + horizon, 0.5 / frameRate, [&](double host) {
        return isWhite(compositor.render(root, platform::HostTime(host), size));
    });
}

}  // namespace kestio::test
