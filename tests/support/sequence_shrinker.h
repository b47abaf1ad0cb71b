#pragma once

// Delta debugging of a failing sequence: drops chunks of it, halving their size, while what is
// left still fails, until no single element can be dropped. `fails` runs a candidate.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

namespace kestio::test {

template <typename T>
std::vector<T> shrinkSequence(std::vector<T> failing,
                              const std::function<bool(const std::vector<T>&)>& fails) {
    std::size_t chunk = std::max<std::size_t>(1, failing.size() / 2);
    while (!failing.empty()) {
        bool dropped = false;
        for (std::size_t at = 0; at < failing.size();) {
            std::vector<T> candidate(failing.begin(), failing.begin() + std::ptrdiff_t(at));
            const std::size_t end = std::min(failing.size(), at + chunk);
            candidate.insert(candidate.end(), failing.begin() + std::ptrdiff_t(end), failing.end());
            if (fails(candidate)) {
                failing = std::move(candidate);
                dropped = true;
            } else {
                at += chunk;
            }
        }
        if (chunk == 1 && !dropped) {
            break;
        }
        chunk = std::max<std::size_t>(1, dropped ? chunk : chunk / 2);
    }
    return failing;
}

}  // namespace kestio::test
