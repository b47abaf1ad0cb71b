#include "show/output_canvas.h"

namespace kestio {

platform::SizeF canvasSize(OutputResolution resolution) {
    switch (resolution) {
        case OutputResolution::hd720p:
            return {1280, 720};
        case OutputResolution::hd1080i:
        case OutputResolution::hd1080p:
            return {1920, 1080};
        case OutputResolution::uhd2160p:
            return {3840, 2160};
    }
    return {1920, 1080};
}

double frameRateValue(OutputFrameRate rate) {
    switch (rate) {
        case OutputFrameRate::fps23_976:
            return 23.976;
        case OutputFrameRate::fps24:
            return 24.0;
        case OutputFrameRate::fps29_97:
            return 29.97;
        case OutputFrameRate::fps30:
            return 30.0;
        case OutputFrameRate::fps59_94:
            return 59.94;
        case OutputFrameRate::fps60:
            return 60.0;
    }
    return 29.97;
}

}  // namespace kestio
