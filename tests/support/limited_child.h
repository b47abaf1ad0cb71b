#pragma once

// Runs a piece of test code in a forked child whose address space and processor time are
// limited, so that a case that should stay small fails the test when it does not, instead
// of taking the machine's memory.

#include <sys/resource.h>

#include <fstream>
#include <functional>

#include "platform/storage/forked_child.h"

namespace kestio::test {

// True in builds with AddressSanitizer, which reserves terabytes of address space up front:
// there an address-space limit would stop every allocation, so only the processor time is
// limited and the case still runs.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceIsReserved = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceIsReserved = true;
#else
inline constexpr bool kAddressSpaceIsReserved = false;
#endif
#else
inline constexpr bool kAddressSpaceIsReserved = false;
#endif

// One child of runLimited() below, killed after `cpuSeconds` plus a minute of wall time.
inline ChildResult runLimitedOnce(long long extraBytes, int cpuSeconds,
                                  const std::function<void()>& body) {
    return runInChildFor(std::chrono::seconds(cpuSeconds + 60), [&] {
        if (!kAddressSpaceIsReserved) {
            long long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t bytes = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + rlim_t(extraBytes);
            const rlimit space{bytes, bytes};
            setrlimit(RLIMIT_AS, &space);
        }
        const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds) + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        body();
    });
}

// Calls `body` in a child allowed `extraBytes` of address space beyond what it inherits from
// the test process and `cpuSeconds` of processor time. The child exits 0 when body returns,
// 1 when it throws, and is killed (SIGSEGV/SIGABRT from a failed allocation, SIGXCPU) when
// it goes past its limits.
//
// A child can block for good on a lock that another thread of the test process held at the fork
// (the sanitizers' allocators are prone to it), using no processor time: one that has not ended
// after `cpuSeconds` plus a minute of wall time is killed and the case run once more in a new
// child; a second such child is reported as killed by SIGKILL, so the test fails, never hangs.
inline ChildResult runLimited(long long extraBytes, int cpuSeconds,
                              const std::function<void()>& body) {
    ChildResult result = runLimitedOnce(extraBytes, cpuSeconds, body);
    if (result.hung) {
        result = runLimitedOnce(extraBytes, cpuSeconds, body);
    }
    return result;
}

}  // namespace kestio::test
