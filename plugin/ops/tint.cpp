#include "ops/operations.h"

#include <algorithm>

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

// One component of a host colour (red in bits 16-23, green 8-15, blue 0-7; the top byte is not a
// component) as a fraction of 255.
struct ColorFractions {
    double red, green, blue;
};

ColorFractions FractionsOf(uint32_t color) {
    return {((color >> 16) & 0xFFu) / 255.0, ((color >> 8) & 0xFFu) / 255.0,
            (color & 0xFFu) / 255.0};
}

// Every term is non-negative, so only the upper end needs a clamp.
int TintedOf(double level, double fraction) {
    return std::min(TruncToInt32(level * fraction), 255);
}

} // namespace

REALpicture TintPicture(REALpicture source, uint32_t GreyBase, uint32_t SepiaBase) {
    const ColorFractions grey = FractionsOf(GreyBase);
    const ColorFractions sepia = FractionsOf(SepiaBase);
    auto tint = [&](int& red, int& green, int& blue) {
        // Red and green are summed first, then blue is added.
        const double level = (red * grey.red + green * grey.green) + blue * grey.blue;
        red = TintedOf(level, sepia.red);
        green = TintedOf(level, sepia.green);
        blue = TintedOf(level, sepia.blue);
    };
    const simd::TintParams params{{grey.red, grey.green, grey.blue},
                                  {sepia.red, sepia.green, sepia.blue}};
    return TransformWholePicture(source, tint, Depends::WholePixel,
                                 simd::PixelKernel<simd::TintParams>{simd::TintRows(), params});
}
