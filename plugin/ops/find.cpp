#include "ops/operations.h"

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/scans.h"

// Cost: every candidate position costs one test of its top-left pixel against the needle's
// top-left pixel (the key), made on the stored words of the haystack's layout group; only where
// the key matches is the rest of the needle compared, stopping at the first difference. On
// photographic content the key rarely matches and a verification rarely goes past its first few
// pixels, so the search costs about one comparison per candidate. The worst case is W x H x w x h
// comparisons for a W x H haystack and a w x h needle: a haystack of one colour searched for a
// needle of that colour whose last pixel differs verifies every candidate to its last pixel.

namespace {

// The colour of a stored word as 0xRRGGBB, for exact comparison across layouts.
template <LayoutGroup G> inline uint32_t ColorOf(uint32_t word) {
    int red, green, blue;
    Components<G>(word, red, green, blue);
    return (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) |
           static_cast<uint32_t>(blue);
}

// Whether the needle of w by h pixels lies in the haystack with its top-left pixel at (left,
// top); the needle's top-left pixel is already known to match. Stops at the first difference.
template <LayoutGroup HG, LayoutGroup NG>
bool MatchesAt(PictureReader& hay, PictureReader& needle, int32_t left, int32_t top, int32_t w,
               int32_t h) {
    const uint32_t* hayRow = hay.GetRow(top) + left;
    const uint32_t* needleRow = needle.GetRow(0);
    for (int32_t i = 1; i < w; ++i)
        if (ColorOf<HG>(hayRow[i]) != ColorOf<NG>(needleRow[i])) return false;
    for (int32_t j = 1; j < h; ++j) {
        hayRow = hay.GetRow(top + j) + left;
        needleRow = needle.GetRow(j);
        for (int32_t i = 0; i < w; ++i)
            if (ColorOf<HG>(hayRow[i]) != ColorOf<NG>(needleRow[i])) return false;
    }
    return true;
}

// The candidate walk for one pair of layout groups. The key test compares a stored word's colour
// bits with the key stored in the haystack's layout, which is the same as comparing the decoded
// colours.
template <LayoutGroup HG, LayoutGroup NG>
bool Search(PictureReader& hay, PictureReader& needle, int32_t rows, int32_t cols, int32_t& x,
            int32_t& y) {
    const int32_t w = needle.width, h = needle.height;
    const uint32_t key = ColorOf<NG>(needle.GetRow(0)[0]);
    const int red = static_cast<int>(key >> 16), green = static_cast<int>((key >> 8) & 0xFF),
              blue = static_cast<int>(key & 0xFF);
    const uint32_t colourBits = Stored<HG>(255, 255, 255) ^ Stored<HG>(0, 0, 0);
    const uint32_t keyWord = Stored<HG>(red, green, blue) & colourBits;
    // The key is looked for a vector at a time where the target has a loop for it, together with
    // the needle's second pixel when it has one: a candidate whose first two pixels differ from the
    // needle's is passed over exactly as its verification would pass it.
    const simd::FindFn vector = simd::FindWord();
    const bool withNext = w > 1;
    uint32_t nextWord = 0;
    if (withNext) {
        const uint32_t second = ColorOf<NG>(needle.GetRow(0)[1]);
        nextWord =
            Stored<HG>(static_cast<int>(second >> 16), static_cast<int>((second >> 8) & 0xFF),
                       static_cast<int>(second & 0xFF)) &
            colourBits;
    }
    for (int32_t top = 0; top < rows; ++top) {
        const uint32_t* row = hay.GetRow(top);
        for (int32_t left = 0; left < cols; ++left) {
            if (vector) {
                left = vector(row, left, cols, colourBits, keyWord, withNext, nextWord);
                if (left == cols) break;
            } else {
                if ((row[left] & colourBits) != keyWord) continue;
            }
            if (MatchesAt<HG, NG>(hay, needle, left, top, w, h)) {
                x = left;
                y = top;
                return true;
            }
        }
    }
    return false;
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

    const int32_t rows = hay.height + 1 - needle.height;
    if (rows < 1) return false;
    const int32_t cols = hay.width + 1 - needle.width;

    return WithLayoutGroup(hay.pixelType, [&](auto hg) {
        return WithLayoutGroup(needle.pixelType, [&](auto ng) {
            return Search<decltype(hg)::value, decltype(ng)::value>(hay, needle, rows, cols, x, y);
        });
    });
}
