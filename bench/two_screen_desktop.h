#pragma once

// An Xvfb with two X screens, 1920×1080 and 1280×720, for a program whose output window goes on
// a display of its own: Qt sees two screens there (with the screens joined by Xinerama it sees
// one). DISPLAY points at the first screen while it runs; the server is stopped by its process id.

#include <stdlib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace kestio::bench {

class TwoScreenDesktop {
  public:
    TwoScreenDesktop() {
        server_ = std::make_unique<test::BackgroundProcess>(std::vector<std::string>{
            "Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-screen", "1",
            "1280x720x24", "-nolisten", "tcp", "-noreset"});
        if (!server_->started()) {
            failure_ = "Xvfb did not start: " + server_->failure();
            return;
        }
        std::string number;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (number.find('\n') == std::string::npos && server_->running() &&
               std::chrono::steady_clock::now() < end) {
            for (const auto& chunk : server_->take(std::chrono::milliseconds(200))) {
                number += chunk.bytes;
            }
        }
        if (number.find('\n') == std::string::npos) {
            failure_ = "Xvfb gave no display number";
            return;
        }
        display_ = ":" + number.substr(0, number.find('\n'));
        setenv("DISPLAY", display_.c_str(), 1);
    }
    ~TwoScreenDesktop() {
        server_->stop();
        unsetenv("DISPLAY");
    }
    TwoScreenDesktop(const TwoScreenDesktop&) = delete;
    TwoScreenDesktop& operator=(const TwoScreenDesktop&) = delete;

    const std::string& failure() const { return failure_; }
    const std::string& display() const { return display_; }

    // Runs xdotool with the arguments; false when it fails.
    bool xdotool(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return test::runProcess(argv, std::chrono::seconds(20)).succeeded();
    }

  private:
    std::unique_ptr<test::BackgroundProcess> server_;
    std::string display_;
    std::string failure_;
};

}  // namespace kestio::bench
