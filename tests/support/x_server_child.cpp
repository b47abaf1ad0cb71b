#include "support/x_server_child.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/process_runner.h"
#include "support/required_server.h"
#include "support/temporary_folder.h"

namespace kestio::test {

namespace {

using namespace std::chrono_literals;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        if (std::filesystem::exists(std::filesystem::path(folder) / program)) {
            return true;
        }
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

}  // namespace

bool isXServerChild() {
    return std::getenv(kXServerChildVariable) != nullptr;
}

void keepOpenGLLibrariesLoaded() {
    for (const char* library :
         {"libGLX_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"}) {
        // Never closed: RTLD_NODELETE keeps it mapped whatever closes it later.
        dlopen(library, RTLD_NOW | RTLD_NODELETE);
    }
}

std::string xcbChildSanitizerOptions() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
           "strict_string_checks=0";
}

void runOnXServer(const std::vector<std::string>& screens, const std::string& filter) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "not under ThreadSanitizer";
#endif
    if (!onPath("Xvfb")) {
        return serverCannotStart("the X server", "Xvfb is not installed");
    }
    std::vector<std::string> server = {"Xvfb", "-displayfd", "1", "-nolisten", "tcp"};
    for (std::size_t i = 0; i < screens.size(); ++i) {
        server.insert(server.end(), {"-screen", std::to_string(i), screens[i]});
    }
    BackgroundProcess xvfb(server);
    ASSERT_TRUE(xvfb.started()) << xvfb.failure();
    std::string number;
    for (int i = 0; i < 40 && number.find('\n') == std::string::npos; ++i) {
        for (const auto& chunk : xvfb.take(500ms)) {
            number += chunk.bytes;
        }
    }
    ASSERT_NE(number.find('\n'), std::string::npos) << "Xvfb never said its display";
    number.erase(number.find('\n'));

    // Under the xcb platform Qt talks to D-Bus, whose library keeps a buffer to the end of the
    // process, as Mesa's OpenGL libraries keep a few small blocks; a sanitized child's leak check
    // is told to leave them out.
    const TemporaryFolder folder;
    const std::filesystem::path suppressions = folder.path() / "lsan_suppressions.txt";
    std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libGLX_mesa.so\nleak:swrast_dri.so\n";

    const std::vector<std::string> child = {
        "env",
        xcbChildSanitizerOptions(),
        "LSAN_OPTIONS=suppressions=" + suppressions.string(),
        "QT_QPA_PLATFORM=xcb",
        "DISPLAY=:" + number,
        std::string(kXServerChildVariable) + "=1",
        std::filesystem::read_symlink("/proc/self/exe").string(),
        "--gtest_filter=" + filter};
    const ProcessResult result = runProcess(child, 180s);
    EXPECT_TRUE(result.succeeded()) << describeFailure(child, result) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ]"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("[  FAILED  ]"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("SKIPPED"), std::string::npos) << result.output;
}

}  // namespace kestio::test
