#include "ops/colourfulness.h"

#include "ops/layout_walk.h"
#include "pixels/editor.h"

namespace {

constexpr int kDarkBelow = 30;

bool Colourful(int r, int g, int b, int32_t t) {
    if (r < kDarkBelow && g < kDarkBelow && b < kDarkBelow) return false;
    const int greenRed = g - r;
    const int greenBlue = g - b;
    return greenRed > t || greenRed < -static_cast<long long>(t) || greenBlue > t ||
           greenBlue < -static_cast<long long>(t);
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
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* row = reader.GetRow(y);
            for (int32_t x = 0; x < W; ++x) {
                int r, g, b;
                Components<decltype(group)::value>(type, row[x], r, g, b);
                if (Colourful(r, g, b, threshold)) ++count;
            }
        }
    });
    // The pixel count is formed as a 32-bit product, as the host's integers are.
    const auto pixels = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
    return static_cast<double>(count) / static_cast<double>(pixels);
}
