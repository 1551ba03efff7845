// Rows made from two or three source rows of the same places: merge and combine.
#include "simd/rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/two_source_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {

void Merge(const uint32_t* a, const uint32_t* b, uint32_t* dst, int32_t n, WordPlaces places) {
    const D32 d;
    const D8 d8;
    const V32 colour = hn::Set(d, ColourBitsOf(places));
    const V32 opaque = hn::Set(d, places.opaque);
    MapWords(
        dst, n,
        [&](V32 x, V32 y) {
            const V32 most = hn::BitCast(d, hn::Max(hn::BitCast(d8, x), hn::BitCast(d8, y)));
            return hn::Or(hn::And(most, colour), opaque);
        },
        a, b);
}

void Combine(const uint32_t* red, const uint32_t* green, const uint32_t* blue, uint32_t* dst,
             int32_t n, WordPlaces places) {
    const D32 d;
    const V32 redBits = hn::Set(d, 0xFFu << places.red);
    const V32 greenBits = hn::Set(d, 0xFFu << places.green);
    const V32 blueBits = hn::Set(d, 0xFFu << places.blue);
    const V32 opaque = hn::Set(d, places.opaque);
    MapWords(
        dst, n,
        [&](V32 r, V32 g, V32 b) {
            return hn::Or(hn::Or(hn::And(r, redBits), hn::And(g, greenBits)),
                          hn::Or(hn::And(b, blueBits), opaque));
        },
        red, green, blue);
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

QRX_SIMD_EXPORT(MergeFn, MergeRows, Merge)

QRX_SIMD_EXPORT(CombineFn, CombineRows, Combine)

} // namespace simd
#endif
