#pragma once

// Small helpers shared by the "data.json" coding tests.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "model/model_coding_error.h"

namespace kestio::test {

inline std::string readTestDocument(const std::string& name) {
    std::ifstream in(std::string(KESTIO_MODEL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A document whose first bank holds the given slot objects (JSON text, comma-separated).
inline std::string documentWithSlots(const std::string& slots) {
    return R"({"banks": [{"name": "B", "slots": [)" + slots + "]}]}";
}

// The key path of the ModelCodingError that `action` throws; a test failure if it throws nothing
// or anything else.
inline std::string failingKeyPath(const std::function<void()>& action) {
    try {
        action();
    } catch (const ModelCodingError& error) {
        return error.keyPath();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected exception: " << error.what();
        return "<other exception>";
    }
    ADD_FAILURE() << "nothing was thrown";
    return "<no error>";
}

}  // namespace kestio::test
