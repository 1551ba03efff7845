#include "ops/operations.h"

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

// 32-bit host integer arithmetic: sums and products wrap rather than overflow, so that amounts
// near the ends of the integer range give a defined result.
int32_t WrappingAdd(int32_t x, int32_t y) {
    return static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(y));
}

int32_t WrappingMultiply(int32_t x, int32_t y) {
    return static_cast<int32_t>(static_cast<uint32_t>(x) * static_cast<uint32_t>(y));
}

// The pixel's gray value: green counts twice, the remainder of the quarter is dropped.
int GrayOf(int red, int green, int blue) {
    return (red + blue + 2 * green) >> 2;
}

// The component's distance from gray scaled by k / 255, the quotient truncated toward zero.
int SaturatedOf(int v, int gray, int32_t k) {
    const int32_t distance = WrappingMultiply(v - gray, k);
    return ClampComponent(gray + distance / 255);
}

} // namespace

REALpicture TransformPicture(REALpicture pic, double a, double b) {
    const auto custom = [a, b](int v) { return ClampComponent(TruncToInt32(v * a + b)); };
    return MapComponents(pic, custom, custom, custom);
}

REALpicture SaturationPicture(REALpicture pic, int32_t amount) {
    // 0 keeps the colours, -255 turns every pixel into its gray, 255 doubles each distance from
    // gray, and below -255 the colours are mirrored around gray.
    const int32_t k = WrappingAdd(amount, 255);
    auto saturate = [k](int& red, int& green, int& blue) {
        const int gray = GrayOf(red, green, blue);
        red = SaturatedOf(red, gray, k);
        green = SaturatedOf(green, gray, k);
        blue = SaturatedOf(blue, gray, k);
    };
    return TransformWholePicture(pic, saturate, Depends::WholePixel, simd::SaturationKernel(k));
}
