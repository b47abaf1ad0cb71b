#pragma once

// The "data.json" coding of the show document and of single slots.
//
// Reading is lenient at the root (a missing or null member takes its default; the root member
// "banks" is required, and the root's own values must be of their types) and more so in slots:
// what a slot holds that this program cannot play is mended and reported as a DefaultedSlotValue,
// never refusing the document. Only the document's structure (not JSON, no banks, a bank without
// its name or slots, a slot that is no object) refuses it. Writing hands members over in a fixed
// order, leaves absent optional values out (never null), writes byte fields as Base64, Float fields
// in their shortest single-precision form and refuses non-finite numbers. Every failure throws
// ModelCodingError naming the key path. A document may hold at most 1000 banks, 10000 slots in a
// bank and 200000 slots in all (20 banks of the largest grid); larger ones fail before their slots
// are decoded. Writing refuses a grid or counts that reading would refuse, so what is written can
// be read.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/model_coding_error.h"
#include "model/project_data.h"
#include "model/slot_data.h"

namespace kestio {

// A slot member that reading mended: a value of the wrong type, or a missing member of a
// settings record, takes its fresh value; a text that names no value of its kind (as a newer or
// hand-edited document may hold) takes the member's default; a number beyond what the
// inspector can set takes the nearer bound; a jump target outside the project, and an out
// point before the in point, are dropped. The rest of the show is read as usual.
struct DefaultedSlotValue {
    std::size_t bank = 0;  // both counted from 0; both 0 for a slot coded on its own
    std::size_t slot = 0;
    std::string key;     // the member inside the slot: "postRollMode", "audioSettings.masterLevel"
    std::string found;   // its JSON text as the document held it, cut short; empty when missing
    std::string readAs;  // the value read instead ("freeze", "12"); empty when now absent
    bool operator==(const DefaultedSlotValue&) const = default;
};

// The document text, pretty-printed.
std::string encodeProject(const ProjectData& project);

// Writes the text encodeProject gives to `out`, slot by slot, so that it never exists whole in
// memory. Throws ModelCodingError as encodeProject does, possibly after part of the text is out.
void writeProject(const ProjectData& project, std::ostream& out);

// The largest document file read. Measured with the writer at the limits (200,000 slots): with
// fresh slots it writes 253 MB; with every member of every slot present (600-byte bookmarks,
// clip facts, eight channel levels, four MIDI bindings, names of 64 bytes) 664 MB. Larger
// files are refused before any of them is read.
inline constexpr std::uintmax_t kMaxDocumentBytes = std::uintmax_t(768) << 20;

// Checks the document in `file` with a streaming pass, before it is read whole: its size,
// nesting, string lengths, syntax and the counts of banks and slots, refused with the errors
// decodeProject would give. Memory stays small whatever the file holds. Throws
// ModelCodingError, or std::filesystem::filesystem_error when the file cannot be read.
void checkDocumentFile(const std::filesystem::path& file);

// Reads a whole document; any failure anywhere fails the whole document. Each slot is decoded
// from its own small tree as the parser reaches it: the tree of the whole document is never
// built. Of duplicate members the last one wins, except that the slots of a replaced "banks" or
// "slots" member still count against the limits. The slot members left at their defaults are
// added to `defaulted` (when given), in document order.
ProjectData decodeProject(std::string_view json,
                          std::vector<DefaultedSlotValue>* defaulted = nullptr);

// Reads the document in `file`: checkDocumentFile first, then the file is read in pieces as
// decodeProject reads text. Throws as both do.
ProjectData readProjectFile(const std::filesystem::path& file,
                            std::vector<DefaultedSlotValue>* defaulted = nullptr);

// One slot object. keyPath prefixes the key paths of errors ("banks[0].slots[3]"); empty for a
// slot coded on its own.
nlohmann::ordered_json encodeSlot(const SlotData& slot, const std::string& keyPath = {});
SlotData decodeSlot(const nlohmann::json& value, const std::string& keyPath = {},
                    std::vector<DefaultedSlotValue>* defaulted = nullptr);

}  // namespace kestio
