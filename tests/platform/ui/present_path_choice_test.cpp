// Which way the output window puts its pictures on the screen, from what the platform's OpenGL
// is and what the caller asks for, and when a measured OpenGL path is too slow to keep.
#include "platform/ui/present_path_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace kestio::platform {
namespace {

struct RendererCase {
    const char* renderer;
    PresentPath expected;
};

TEST(PresentPathChoice, SoftwareRenderersPaintAsAWidgetAndHardwareOnesPresentThroughOpenGL) {
    const RendererCase cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", PresentPath::widget},
        {"LLVMPIPE (LLVM 11.0.1, 128 bits)", PresentPath::widget},
        {"softpipe", PresentPath::widget},
        {"Mesa DRI swrast", PresentPath::widget},
        {"Software Rasterizer", PresentPath::widget},
        {"Mesa X11 software renderer", PresentPath::widget},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", PresentPath::openGL},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", PresentPath::openGL},
        {"NVIDIA GeForce RTX 3060/PCIe/SSE2", PresentPath::openGL},
        {"virgl (Intel(R) Iris(R) Xe Graphics)", PresentPath::openGL},
        {"", PresentPath::openGL},
    };
    for (const RendererCase& c : cases) {
        const PresentPathChoice choice = choosePresentPath({true, c.renderer});
        EXPECT_EQ(choice.path, c.expected) << c.renderer;
        EXPECT_TRUE(choice.automatic) << c.renderer;
        EXPECT_NE(describe(choice).find(std::string("\"") + c.renderer + "\""), std::string::npos)
            << describe(choice);
    }
}

struct ForcedCase {
    bool threaded;
    const char* renderer;
    std::optional<PresentPath> forced;
    PresentPath expected;
    bool automatic;
};

TEST(PresentPathChoice, AnAskedForPathIsTakenWhereThePlatformHasIt) {
    const ForcedCase cases[] = {
        {true, "llvmpipe (LLVM 15.0.6, 256 bits)", PresentPath::openGL, PresentPath::openGL, false},
        {true, "NVIDIA GeForce RTX 3060/PCIe/SSE2", PresentPath::widget, PresentPath::widget,
         false},
        {true, "llvmpipe (LLVM 15.0.6, 256 bits)", PresentPath::widget, PresentPath::widget, false},
        {false, "", PresentPath::openGL, PresentPath::widget, false},
        {false, "NVIDIA GeForce RTX 3060/PCIe/SSE2", std::nullopt, PresentPath::widget, true},
    };
    for (const ForcedCase& c : cases) {
        const PresentPathChoice choice = choosePresentPath({c.threaded, c.renderer}, c.forced);
        EXPECT_EQ(choice.path, c.expected) << c.renderer << " threaded " << c.threaded;
        EXPECT_EQ(choice.automatic, c.automatic) << c.renderer << " threaded " << c.threaded;
        EXPECT_FALSE(choice.reason.empty());
    }
}

TEST(PresentPathChoice, TheConsoleLineNamesThePathAndWhy) {
    EXPECT_EQ(describe(choosePresentPath({true, "llvmpipe (LLVM 15.0.6, 256 bits)"})),
              "output window: paints as a widget on the main thread: the OpenGL renderer "
              "\"llvmpipe (LLVM 15.0.6, 256 bits)\" draws in software");
    EXPECT_EQ(describe(choosePresentPath({false, ""})),
              "output window: paints as a widget on the main thread: this platform has no "
              "threaded OpenGL");
    EXPECT_EQ(describe(choosePresentPath({true, "Mesa Intel(R) UHD Graphics 620"})),
              "output window: presents through OpenGL from its own thread: the OpenGL renderer "
              "\"Mesa Intel(R) UHD Graphics 620\" draws in hardware");
}

struct CostCase {
    std::vector<double> seconds;
    double refreshRate;
    bool overBudget;
};

// At 60 Hz a present may take half of 16.7 ms.
TEST(PresentPathChoice, APathIsOverBudgetWhenItsTypicalPresentTakesOverHalfARefresh) {
    const CostCase cases[] = {
        {{0.0124, 0.0124, 0.0124}, 60.0, true},   // llvmpipe at 1080p
        {{0.0440, 0.0440}, 60.0, true},           // llvmpipe at 2160p
        {{0.0016, 0.0017, 0.0015}, 60.0, false},  // a GPU
        {{0.0090, 0.0001, 0.0001}, 60.0, false},  // one slow first present is not typical
        {{0.0090, 0.0090, 0.0001}, 60.0, true},   // most presents slow
        {{0.0080, 0.0080, 0.0080}, 60.0, false},  // just inside 8.33 ms
        {{0.0080, 0.0080, 0.0080}, 120.0, true},  // over 4.17 ms
        {{0.0120, 0.0120, 0.0120}, 30.0, false},  // inside 16.7 ms
        {{}, 60.0, false},                        // nothing measured
        {{0.0500}, 0.0, false},                   // no refresh rate
    };
    for (const CostCase& c : cases) {
        EXPECT_EQ(presentCostOverBudget(c.seconds, c.refreshRate), c.overBudget)
            << c.seconds.size() << " presents, first " << (c.seconds.empty() ? 0 : c.seconds[0])
            << " s, at " << c.refreshRate << " Hz";
    }
}

}  // namespace
}  // namespace kestio::platform
