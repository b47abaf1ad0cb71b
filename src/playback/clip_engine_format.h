#pragma once

// The sound engine's format for a clip about to play: the channel count (2 to 8) and the sample
// rate from its slot's clip facts, set on the output surface's chains.

#include "model/slot_data.h"

namespace kestio::output {
class OutputSurface;
}

namespace kestio {

// Sets the surface's engine format for the clip facts of `data`; nothing without them.
void applyClipEngineFormat(output::OutputSurface& surface, const SlotData& data);

}  // namespace kestio
