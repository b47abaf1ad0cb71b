#pragma once

// Colour bars and test tone that record what was asked of them.

#include <QImage>
#include <string>
#include <vector>

#include "show/signal_output.h"

namespace kestio::test {

class RecordingSignalOutput final : public SignalOutput {
  public:
    std::vector<std::string> calls;
    QImage lastStill;
    bool toneStarts = true;  // what startTone() answers
    bool toneRunning = false;
    int toneNodes = 0;  // tones on the engine
    double toneLevel = -20.0;

    void resetPlayback() override { calls.push_back("resetPlayback"); }
    void showStillAndCut(const QImage& picture) override {
        calls.push_back("showStillAndCut");
        lastStill = picture;
    }
    void clearOutput() override { calls.push_back("clearOutput"); }
    bool startTone(double levelDb) override {
        calls.push_back("startTone " + std::to_string(int(levelDb)));
        if (!toneStarts) {
            return false;
        }
        toneRunning = true;
        toneLevel = levelDb;
        ++toneNodes;
        return true;
    }
    void stopTone() override {
        calls.push_back("stopTone");
        toneNodes = 0;
        toneRunning = false;
    }
    void setToneLevel(double levelDb) override {
        calls.push_back("setToneLevel " + std::to_string(int(levelDb)));
        toneLevel = levelDb;
    }
};

}  // namespace kestio::test
