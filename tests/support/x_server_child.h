#pragma once

// Runs some cases of the test program on a private X server: the test starts Xvfb (stopped by its
// PID when done), then runs the cases in a second process of this program with Qt's xcb platform
// on that server, since the test program's own QApplication runs offscreen.

#include <string>
#include <vector>

namespace kestio::test {

// The environment variable a child case finds set when it runs on the X server.
constexpr const char* kXServerChildVariable = "KESTIO_ON_X_SERVER";

// True inside the child process.
bool isXServerChild();

// Keeps Mesa's OpenGL libraries loaded to the end of the process. The GL dispatch library unloads
// them at exit, before the leak check, which then cannot name them when they keep a few hundred
// bytes to the end; kept loaded, the child's leak check leaves them out by name. Call in a child
// case before its first OpenGL use.
void keepOpenGLLibrariesLoaded();

// The sanitizer options for a child of this program that runs Qt's xcb platform: libxkbcommon's
// keymap reading calls strndup() on names that are not NUL-terminated, which strndup allows; the
// sanitizer's strict string checks read on to a NUL and report it. Every other option of this
// process is kept. An "ASAN_OPTIONS=..." entry for env(1).
std::string xcbChildSanitizerOptions();

// Starts Xvfb with one X screen per entry of `screens` ("1920x1080x24"), runs the cases matching
// `filter` in a child of this program on it and expects every one of them to pass and none to be
// skipped. When Xvfb is not installed the calling test fails or skips (serverCannotStart); under
// ThreadSanitizer it is skipped: Xlib, xcb and Mesa take and release each other's locks in
// uninstrumented code it cannot follow (the threads of ours are checked by the offscreen tests).
void runOnXServer(const std::vector<std::string>& screens, const std::string& filter);

}  // namespace kestio::test
