// The sound engine's format chosen for a clip from its slot's clip facts.

#include <gtest/gtest.h>

#include "playback/clip_engine_format.h"
#include "playback_rig.h"

namespace kestio {
namespace {

TEST(EngineFormat, ClipFactsChooseTheChainsFormat) {
    test::PlaybackRig rig(AppLanguage::en);
    SlotData data;
    applyClipEngineFormat(rig.surface(), data);  // no clip facts: nothing
    EXPECT_EQ(rig.surface().audioA().currentFormat().channelCount, 2u);
    ClipInfo info;
    info.channels = 1;
    info.sampleRate = 0;
    data.clipInfo = info;
    applyClipEngineFormat(rig.surface(), data);
    EXPECT_EQ(rig.surface().audioA().currentFormat().sampleRate, 48000.0);
    EXPECT_EQ(rig.surface().audioA().currentFormat().channelCount, 2u);
}

}  // namespace
}  // namespace kestio
