#include "ops/operations.h"

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/scans.h"

namespace {

using simd::kDarkBelow;

// No difference of two components leaves -255 to 255, so a threshold beyond -256 to 256 decides
// every pixel as the nearest of those two does; within them the comparisons fit an int.
int ClampedThreshold(int32_t t) {
    return t < -256 ? -256 : t > 256 ? 256 : t;
}

// Whether a pixel is colourful: not dark, and green more than t above or below red or blue.
unsigned ColourfulBit(uint32_t r, uint32_t g, uint32_t b, int t) {
    const unsigned dark = (r < kDarkBelow) & (g < kDarkBelow) & (b < kDarkBelow);
    const int greenRed = static_cast<int>(g) - static_cast<int>(r);
    const int greenBlue = static_cast<int>(g) - static_cast<int>(b);
    const unsigned apart = (greenRed > t) | (greenRed < -t) | (greenBlue > t) | (greenBlue < -t);
    return apart & ~dark & 1u;
}

} // namespace

double ColornessQRX(REALpicture pic, int32_t threshold) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return 0.0;
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const int t = ClampedThreshold(threshold);
    uint32_t count = 0;
    WithLayoutGroup(reader.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        const simd::CountColourfulFn vector = simd::CountColourful();
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* row = reader.GetRow(y);
            if (vector) {
                count += vector(row, W, PlacesOf<G>(), t);
                continue;
            }
            for (int32_t x = 0; x < W; ++x)
                count += ColourfulBit(RedOf<G>(row[x]), GreenOf<G>(row[x]), BlueOf<G>(row[x]), t);
        }
    });
    // The pixel count is formed as a 32-bit product, as the host's integers are.
    const auto pixels = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
    return static_cast<double>(static_cast<int32_t>(count)) / static_cast<double>(pixels);
}
