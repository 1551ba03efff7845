#include "ops/operations.h"

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/scans.h"

namespace {

using simd::kDarkBelow;

bool Colourful(int r, int g, int b, int32_t t) {
    if (r < kDarkBelow && g < kDarkBelow && b < kDarkBelow) return false;
    const int greenRed = g - r;
    const int greenBlue = g - b;
    return greenRed > t || greenRed < -static_cast<long long>(t) || greenBlue > t ||
           greenBlue < -static_cast<long long>(t);
}

// No difference of two components leaves -255 to 255, so a threshold beyond -256 to 256 decides
// every pixel as the nearest of those two does; within them the comparisons fit an int.
int ClampedThreshold(int32_t t) {
    return t < -256 ? -256 : t > 256 ? 256 : t;
}

// Colourful without a branch: the same answer for the same pixel.
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
    const RBPixelType type = reader.pixelType;
    int32_t count = 0;
    WithLayoutGroup(type, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if constexpr (G == LayoutGroup::Other) {
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = reader.GetRow(y);
                for (int32_t x = 0; x < W; ++x) {
                    int r, g, b;
                    Components<G>(type, row[x], r, g, b);
                    if (Colourful(r, g, b, threshold)) ++count;
                }
            }
        } else {
            const int t = ClampedThreshold(threshold);
            if (const simd::CountColourfulFn vector = simd::CountColourful()) {
                uint32_t total = 0;
                for (int32_t y = 0; y < H; ++y)
                    total += vector(reader.GetRow(y), W, PlacesOf<G>(), t);
                count = static_cast<int32_t>(total);
                return;
            }
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = reader.GetRow(y);
                unsigned inRow = 0;
                for (int32_t x = 0; x < W; ++x)
                    inRow +=
                        ColourfulBit(RedOf<G>(row[x]), GreenOf<G>(row[x]), BlueOf<G>(row[x]), t);
                count += static_cast<int32_t>(inRow);
            }
        }
    });
    // The pixel count is formed as a 32-bit product, as the host's integers are.
    const auto pixels = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
    return static_cast<double>(count) / static_cast<double>(pixels);
}
