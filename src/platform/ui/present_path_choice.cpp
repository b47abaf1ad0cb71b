#include "platform/ui/present_path_choice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace kestio::platform {

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

}  // namespace

bool isSoftwareRenderer(std::string_view renderer) {
    static constexpr std::array<std::string_view, 4> kSoftware = {"llvmpipe", "softpipe", "swrast",
                                                                  "software"};
    const std::string name = lowered(renderer);
    return std::any_of(kSoftware.begin(), kSoftware.end(),
                       [&](std::string_view word) { return name.find(word) != std::string::npos; });
}

PresentPathChoice choosePresentPath(const OpenGLSupport& gl, std::optional<PresentPath> forced) {
    const std::string renderer = "the OpenGL renderer \"" + gl.renderer + "\"";
    if (forced == PresentPath::widget) {
        return {PresentPath::widget, "asked for", false};
    }
    if (!gl.threaded) {
        return {PresentPath::widget, "this platform has no threaded OpenGL", !forced};
    }
    if (forced == PresentPath::openGL) {
        return {PresentPath::openGL, "asked for (" + renderer + ")", false};
    }
    if (isSoftwareRenderer(gl.renderer)) {
        return {PresentPath::widget, renderer + " draws in software"};
    }
    return {PresentPath::openGL, renderer + " draws in hardware"};
}

bool presentCostOverBudget(std::span<const double> presentSeconds, double refreshRate) {
    if (presentSeconds.empty() || !(refreshRate > 0.0)) {
        return false;
    }
    std::vector<double> sorted(presentSeconds.begin(), presentSeconds.end());
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle > kPresentBudgetShare / refreshRate;
}

std::string describe(const PresentPathChoice& choice) {
    const char* path = choice.path == PresentPath::openGL
                           ? "presents through OpenGL from its own thread"
                           : "paints as a widget on the main thread";
    return std::string("output window: ") + path + ": " + choice.reason;
}

}  // namespace kestio::platform
