#pragma once

// A system bus of the test's own (a private dbus-daemon, stopped with the object) that this
// process's RealtimeKit questions go to while it lives (DBUS_SYSTEM_BUS_ADDRESS), and on it,
// where asked, a RealtimeKit of the test's: it records each question and grants it as
// RealtimeKit does, scheduling the thread under the round-robin policy (where this process may;
// it answers with the system's refusal otherwise), and only to a process whose real-time CPU
// time is limited to what it allows.

#include <QThread>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/temporary_folder.h"

namespace kestio::test {

class PrivateSystemBus {
  public:
    PrivateSystemBus();
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    // Empty while the bus runs, else why it could not start.
    const std::string& failure() const { return failure_; }

    struct Question {
        uint64_t process = 0;
        uint64_t thread = 0;
        uint32_t priority = 0;
        uint64_t realTimeLimit = 0;  // the process's RLIMIT_RTTIME (hard) when it asked
        bool granted = false;
    };
    // Puts a RealtimeKit on the bus; false (and failure() says why) when it could not.
    bool serveRealtimeKit();
    std::vector<Question> questions() const;

    // The most real-time CPU time the fake allows, in microseconds (as RealtimeKit's default).
    static constexpr uint64_t kRealTimeMicros = 200000;

    class Kit;

  private:
    TemporaryFolder folder_;
    std::unique_ptr<BackgroundProcess> daemon_;
    std::string address_;
    std::optional<std::string> previousAddress_;
    std::string failure_;
    QThread thread_;  // where the fake answers
    Kit* kit_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Question> questions_;
};

}  // namespace kestio::test
