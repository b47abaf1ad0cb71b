#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace kestio::ui {

// A value a control reads and writes without owning it: the owner decides what a write means
// (store it, snap it, mark the project unsaved, tell the output). The control reads the value
// back after writing, so an owner that changes or refuses a write is shown as it decided.
template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;

    // A binding over a value of its own (for a control that nothing else observes, and tests).
    static Binding stored(T initial) {
        auto value = std::make_shared<T>(std::move(initial));
        return Binding{[value] { return *value; }, [value](T v) { *value = std::move(v); }};
    }
};

}  // namespace kestio::ui
