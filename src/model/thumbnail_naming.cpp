#include "model/thumbnail_naming.h"

namespace kestio {

std::string thumbnailFileName(int bank, int slot) {
    return "thumb_" + std::to_string(bank) + "_" + std::to_string(slot) + ".png";
}

}  // namespace kestio
