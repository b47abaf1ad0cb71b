// The kestio program: reads the command line and runs the application.
//
//   kestio [--midi auto|alsa|jack] [Show.ktshow]

#include <QApplication>
#include <cstring>
#include <iostream>
#include <string>

#include "app/allocator_tuning.h"
#include "app/application.h"
#include "ui/fonts.h"

namespace {

void usage(std::ostream& out) {
    out << "usage: kestio [--midi auto|alsa|jack] [package.ktshow]\n";
}

}  // namespace

int main(int argc, char** argv) {
    kestio::app::tuneAllocator();
    kestio::app::LaunchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(std::cout);
            return 0;
        }
        if (arg == "--midi" && i + 1 < argc) {
            const std::string api = argv[++i];
            if (api == "alsa") {
                options.midiApi = kestio::platform::MIDIApi::alsa;
            } else if (api == "jack") {
                options.midiApi = kestio::platform::MIDIApi::jack;
            } else if (api == "auto") {
                options.midiApi = kestio::platform::MIDIApi::automatic;
            } else {
                usage(std::cerr);
                return 2;
            }
            continue;
        }
        if (!arg.empty() && arg[0] == '-') {
            usage(std::cerr);
            return 2;
        }
        if (options.package) {
            std::cerr << "kestio: one package at a time\n";
            return 2;
        }
        options.package = std::filesystem::path(arg);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestio"));
    QApplication::setOrganizationName(QStringLiteral("Kestio"));
    QApplication::setFont(kestio::ui::fonts::system(13));
    kestio::app::Application app(options);
    return app.run();
}
