#pragma once

#include <string>

namespace kestio {

// The file name of a slot's thumbnail inside the package's "thumbnails" folder:
// "thumb_<bank>_<slot>.png" with both indices counted from 0.
std::string thumbnailFileName(int bank, int slot);

}  // namespace kestio
