#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestio::platform {

// How the output window puts its pictures on the screen: through OpenGL from a thread of its own
// (the picture keeps going while the main thread is held up), or painted as a widget on the main
// thread.
enum class PresentPath { openGL, widget };

// What the platform's OpenGL is, as far as the choice needs to know.
struct OpenGLSupport {
    bool threaded = false;  // a thread other than the main one can draw to a window
    std::string renderer;   // GL_RENDERER of a context made on the output's platform
};

struct PresentPathChoice {
    PresentPath path = PresentPath::widget;
    // In words, for the console line that reports the choice.
    std::string reason;
    // True when the choice was the window's own, so that a first measure of the OpenGL path's
    // cost may still turn it to the widget; false when the caller asked for a path.
    bool automatic = true;
};

// True for renderers that draw on the CPU (Mesa's llvmpipe, softpipe and swrast, and any that
// calls itself software): uploading and drawing a whole picture there costs several times what
// the widget's copy does, so OpenGL would not keep up with the display at large sizes.
bool isSoftwareRenderer(std::string_view renderer);

// OpenGL where it is threaded and drawn in hardware, else the widget. `forced` takes that path
// where it can be had (OpenGL only where threaded), whatever the renderer.
PresentPathChoice choosePresentPath(const OpenGLSupport& gl,
                                    std::optional<PresentPath> forced = std::nullopt);

// How many of the first presents an automatically chosen OpenGL path is measured over.
constexpr int kMeasuredPresents = 30;
// The share of a refresh period one OpenGL present may take. The rest is the present thread's
// margin against a busy machine; a present that needs more would also cost more than the
// widget's paint of the same picture.
constexpr double kPresentBudgetShare = 0.5;

// True when the typical (median) present of `presentSeconds` takes more than the budget at
// `refreshRate` refreshes a second. False for no measures.
bool presentCostOverBudget(std::span<const double> presentSeconds, double refreshRate);

// The console line that reports a choice.
std::string describe(const PresentPathChoice& choice);

}  // namespace kestio::platform
