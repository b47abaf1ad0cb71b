#include "model/model_coding_error.h"

#include <utility>

namespace kestio {

namespace {

std::string describe(const std::string& keyPath, const std::string& reason) {
    return keyPath.empty() ? reason : keyPath + ": " + reason;
}

}  // namespace

ModelCodingError::ModelCodingError(std::string keyPath, std::string reason)
    : std::runtime_error(describe(keyPath, reason)),
      keyPath_(std::move(keyPath)),
      reason_(std::move(reason)) {}

ModelCodingError::ModelCodingError(std::string reason, TextPlace place)
    : ModelCodingError(std::string(), std::move(reason)) {
    place_ = place;
}

}  // namespace kestio
