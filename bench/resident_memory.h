#pragma once

#include <fstream>
#include <string>

namespace kestio::bench {

// Resident set size of this process in bytes (VmRSS).
inline double residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0.0;
            status >> kb;
            return kb * 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0.0;
}

}  // namespace kestio::bench
