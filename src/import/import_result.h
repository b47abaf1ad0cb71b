#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "import/import_error.h"
#include "model/model_enums.h"
#include "model/settings_records.h"

namespace kestio {

// What importing a media file gives a slot. A plain value: neither stored nor compared.
struct ImportResult {
    std::filesystem::path url;                          // the file, as passed to the import
    std::optional<std::vector<std::uint8_t>> bookmark;  // absent when none could be made
    MediaType mediaType = MediaType::video;
    ClipInfo clipInfo;
    std::optional<std::vector<std::uint8_t>> thumbnail;  // PNG, when the import made one
    std::optional<std::vector<float>> waveformData;      // peaks, when the import made them
    std::string name;                                    // the file name without its extension
};

// The answer of every import operation: success or a reasoned failure.
using ImportOutcome = std::variant<ImportResult, ImportError>;

// Receives an import's answer on the main thread.
using ImportCompletion = std::function<void(ImportOutcome)>;

}  // namespace kestio
