#include "ops/operations.h"

#include <algorithm>

#include "ops/component.h"
#include "ops/skeleton.h"

REALpicture TintPicture(REALpicture source, uint32_t GreyBase, uint32_t SepiaBase) {
    // The fractions are the colours' bytes over 255.
    const auto kernel = simd::TintKernel(GreyBase, SepiaBase);
    const double* grey = kernel.params.grey;
    const double* sepia = kernel.params.sepia;
    // Every term is non-negative, so only the upper end needs a clamp.
    auto tinted = [](double level, double fraction) {
        return std::min(TruncToInt32(level * fraction), 255);
    };
    auto tint = [&](int& red, int& green, int& blue) {
        // Red and green are summed first, then blue is added.
        const double level = (red * grey[0] + green * grey[1]) + blue * grey[2];
        red = tinted(level, sepia[0]);
        green = tinted(level, sepia[1]);
        blue = tinted(level, sepia[2]);
    };
    return TransformWholePicture(source, tint, Depends::WholePixel, kernel);
}
