#include "ops/find.h"

#include "pixels/editor.h"

namespace {

// The colour of a stored word as 0xRRGGBB, for exact comparison across layouts.
uint32_t ColorOf(RBPixelType type, uint32_t word) {
    int red, green, blue;
    DecodePixel(type, word, red, green, blue);
    return (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) |
           static_cast<uint32_t>(blue);
}

// Whether the needle of w by h pixels lies in the haystack with its top-left pixel at (left,
// top); the needle's top-left pixel is already known to match. Stops at the first difference.
bool MatchesAt(PictureReader& hay, PictureReader& needle, int32_t left, int32_t top, int32_t w,
               int32_t h) {
    const uint32_t* hayRow = hay.GetRow(top) + left;
    const uint32_t* needleRow = needle.GetRow(0);
    for (int32_t i = 1; i < w; ++i)
        if (ColorOf(hay.pixelType, hayRow[i]) != ColorOf(needle.pixelType, needleRow[i]))
            return false;
    for (int32_t j = 1; j < h; ++j) {
        hayRow = hay.GetRow(top + j) + left;
        needleRow = needle.GetRow(j);
        for (int32_t i = 0; i < w; ++i)
            if (ColorOf(hay.pixelType, hayRow[i]) != ColorOf(needle.pixelType, needleRow[i]))
                return false;
    }
    return true;
}

} // namespace

bool FindPicture(REALpicture haystack, REALpicture pic, int32_t& x, int32_t& y) {
    // The outputs are set first, so they read 0 and 0 after every failure.
    x = 0;
    y = 0;
    PictureReader hay;
    if (!hay.GetPictureReader(haystack)) return false;
    PictureReader needle;
    if (!needle.GetPictureReader(pic)) return false;

    const int32_t w = needle.width;
    const int32_t h = needle.height;
    const uint32_t key = ColorOf(needle.pixelType, needle.GetRow(0)[0]);
    const int32_t rows = hay.height + 1 - h;
    if (rows < 1) return false;
    const int32_t cols = hay.width + 1 - w;

    for (int32_t top = 0; top < rows; ++top) {
        const uint32_t* row = hay.GetRow(top);
        for (int32_t left = 0; left < cols; ++left) {
            if (ColorOf(hay.pixelType, row[left]) != key) continue;
            if (MatchesAt(hay, needle, left, top, w, h)) {
                x = left;
                y = top;
                return true;
            }
        }
    }
    return false;
}
