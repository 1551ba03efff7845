// A plain picture in memory: what files are read into and written from, independent of how a host
// keeps its pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace qrx {

struct Image {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;     // whether the alpha bytes mean anything
    std::vector<uint8_t> rgba; // width * height pixels, bytes R G B A, top row first

    uint8_t* pixel(int x, int y) { return rgba.data() + (size_t(y) * width + x) * 4; }
    const uint8_t* pixel(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

} // namespace qrx
