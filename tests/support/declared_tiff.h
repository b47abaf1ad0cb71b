#pragma once

#include <tiffio.h>

#include <cstdint>
#include <filesystem>

namespace kestio::test {

// Writes a TIFF whose header declares an 8-bit RGB picture of `width` x `height` in one strip,
// with a few bytes standing for that strip: a decoder that refuses from the header never
// reads further. False when libtiff could not write it.
inline bool writeTiffDeclaring(const std::filesystem::path& file, std::uint32_t width,
                               std::uint32_t height) {
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    if (!tif) {
        return false;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    char strip[16] = {};
    const bool written = TIFFWriteRawStrip(tif, 0, strip, sizeof strip) == tmsize_t(sizeof strip);
    TIFFClose(tif);
    return written;
}

}  // namespace kestio::test
