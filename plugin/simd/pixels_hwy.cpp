// Whole-pixel transforms on 32-bit lanes: each component of a vector of pixels changed exactly as
// the operation's scalar transform changes it.
#include "simd/pixels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/pixels_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {

void InvertGray(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
                const NoParams&) {
    const DI32 di;
    TransformWords(src, dst, n, from, to, [&](VI32& red, VI32& green, VI32& blue) {
        const auto gray = hn::And(hn::Eq(red, green), hn::Eq(green, blue));
        const VI32 white = hn::Set(di, 255);
        red = hn::IfThenElse(gray, hn::Sub(white, red), red);
        green = hn::IfThenElse(gray, hn::Sub(white, green), green);
        blue = hn::IfThenElse(gray, hn::Sub(white, blue), blue);
    });
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

PixelKernel<NoParams>::Fn InvertGrayRows() {
    static constexpr PixelKernel<NoParams>::Fn table[kTargetCount] = QRX_SIMD_TABLE(InvertGray);
    return Pick(table);
}

} // namespace simd
#endif
