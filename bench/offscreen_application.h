#pragma once

// The one QApplication of a benchmark program that draws widgets, on the offscreen platform
// unless QT_QPA_PLATFORM names another.

#include <stdlib.h>

#include <QApplication>
#include <string>

namespace kestio::bench {

// Made on the first call, with `name` as the program's name; kept until the program ends.
inline QApplication& offscreenApplication(const char* name) {
    static std::string programName = name;
    static int argc = 1;
    static char* argv[] = {programName.data(), nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace kestio::bench
