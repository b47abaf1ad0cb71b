#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestio {

// The file name of a slot's thumbnail inside the package's "thumbnails" folder:
// "thumb_<bank>_<slot>.png" with both indices counted from 0. The name a slot is given when its
// picture is made; packages written before saves named pictures by content hold such files.
std::string thumbnailFileName(int bank, int slot);

// The name a save stores a slot's picture under: "thumb_<bank>_<slot>_<16 hex digits>.png",
// the digits a hash of the picture's bytes. A changed picture gets a new name, so a save writes
// it beside the file that the document on disk still names; an unchanged picture keeps its name
// and is not written again.
std::string thumbnailFileName(int bank, int slot, std::span<const std::uint8_t> png);

// Whether `name` is the name a save gives `png` (the form above, its digits the hash of these
// very bytes): a picture a save of ours wrote, not a file that only looks like one.
bool isNameOfContent(std::string_view name, std::span<const std::uint8_t> png);

// Whether a file of the "thumbnails" folder is a thumbnail of ours ("thumb_*.png", either form),
// or what was left of one whose write was cut short ("thumb_*.png.partial").
bool isThumbnailFileName(std::string_view name);

}  // namespace kestio
