// A plain picture in memory: what files are read into and written from, independent of how a host
// keeps its pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace qrx {

// What a picture file carries besides its pixels, kept so that a result written from the picture
// can carry it on. Empty when the file had none.
struct ImageMetadata {
    std::vector<uint8_t> iccProfile; // an ICC colour profile, whole
    std::vector<uint8_t> exif;       // an EXIF block from its TIFF header on ("II*\0" or "MM\0*")

    bool empty() const { return iccProfile.empty() && exif.empty(); }
};

struct Image {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;     // whether the alpha bytes mean anything
    std::vector<uint8_t> rgba; // width * height pixels, bytes R G B A, top row first
    ImageMetadata metadata;    // read from and written to files; hosts keep pixels only

    uint8_t* pixel(int x, int y) { return rgba.data() + (size_t(y) * width + x) * 4; }
    const uint8_t* pixel(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

} // namespace qrx
