#include "support/sound_starvation.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace kestio::test {

namespace {

std::string milliseconds(double seconds) {
    return std::to_string(std::lround(seconds * 1000.0)) + " ms";
}

// Reports a failure taken from an attempt as the calling test's own, with `note` after it.
void reportAgain(const ::testing::TestPartResult& result, const std::string& note) {
    ADD_FAILURE_AT(result.file_name() != nullptr ? result.file_name() : "", result.line_number())
        << result.message() << "\n(" << note << ")";
}

}  // namespace

SoundThreadDelays& SoundThreadDelays::operator+=(const SoundThreadDelays& other) {
    renderThread = std::max(renderThread, other.renderThread);
    recorder = std::max(recorder, other.recorder);
    underflows += other.underflows;
    recordingHoles += other.recordingHoles;
    return *this;
}

std::string SoundThreadDelays::describe() const {
    return "the sound thread was " + milliseconds(renderThread) + " late, the recording " +
           milliseconds(recorder) + "; the server found the output empty " +
           std::to_string(underflows) + " times, the recording had " +
           std::to_string(recordingHoles) + " holes";
}

bool starved(const SoundThreadDelays& delays) {
    return delays.renderThread > kStarvedSeconds || delays.underflows > 0 ||
           delays.recordingHoles > 0 || delays.recorder > kStarvedServerSeconds;
}

void runOnAFedMachine(const std::function<void(SoundThreadWatch&)>& attempt, int attempts) {
    for (int turn = 1;; ++turn) {
        SoundThreadWatch watch;
        ::testing::TestPartResultArray results;
        {
            const ::testing::ScopedFakeTestPartResultReporter intercept(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &results);
            attempt(watch);
        }
        std::vector<::testing::TestPartResult> failures;
        for (int i = 0; i < results.size(); ++i) {
            if (results.GetTestPartResult(i).failed()) {
                failures.push_back(results.GetTestPartResult(i));
            }
        }
        const SoundThreadDelays& delays = watch.delays();
        std::printf("attempt %d: %s\n", turn, delays.describe().c_str());
        std::fflush(stdout);
        if (failures.empty()) {
            return;
        }
        if (!starved(delays)) {
            for (const auto& failure : failures) {
                reportAgain(failure, delays.describe() + ": the program, not the machine");
            }
            return;
        }
        if (turn == attempts) {
            for (const auto& failure : failures) {
                reportAgain(failure, delays.describe() + ": the machine, not the program");
            }
            ADD_FAILURE() << "the machine starved the sound threads in every one of " << attempts
                          << " attempts (the last: " << delays.describe() << ")";
            return;
        }
        std::printf(
            "attempt %d of %d: %zu failures while %s: the machine, not the program; "
            "again. The first:\n%s\n",
            turn, attempts, failures.size(), delays.describe().c_str(), failures.front().message());
        std::fflush(stdout);
    }
}

}  // namespace kestio::test
