// Row helpers for the vector loops, compiled once per target: include it from a file compiled
// through hwy/foreach_target.h, after hwy/highway.h.
#if defined(QRX_SIMD_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QRX_SIMD_ROWS_INL_H_
#undef QRX_SIMD_ROWS_INL_H_
#else
#define QRX_SIMD_ROWS_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"
#include "pixels/layout_walk.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED

HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using D32 = hn::ScalableTag<uint32_t>;
using V32 = hn::Vec<D32>;
using DI32 = hn::ScalableTag<int32_t>;
using VI32 = hn::Vec<DI32>;
using D8 = hn::Repartition<uint8_t, D32>;
using V8 = hn::Vec<D8>;

// The first count words at p (fewer than a vector holds), the lanes past them zero. The words go
// through a buffer: a row may end at the end of its own allocation.
HWY_INLINE V32 LoadWords(const uint32_t* p, size_t count) {
    HWY_ALIGN uint32_t words[HWY_MAX_BYTES / 4] = {};
    std::memcpy(words, p, count * sizeof(uint32_t));
    return hn::Load(D32(), words);
}

// Stores the first count lanes of v at p, nothing past them.
HWY_INLINE void StoreWords(V32 v, uint32_t* p, size_t count) {
    HWY_ALIGN uint32_t words[HWY_MAX_BYTES / 4];
    hn::Store(v, D32(), words);
    std::memcpy(p, words, count * sizeof(uint32_t));
}

// dst[x] = fn(src[x]...) for the n words of the rows, a vector at a time.
template <class Fn, class... Src>
HWY_INLINE void MapWords(uint32_t* dst, int32_t n, const Fn& fn, const Src*... src) {
    const D32 d;
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    size_t x = 0;
    for (; x + N <= count; x += N)
        hn::StoreU(fn(hn::LoadU(d, src + x)...), d, dst + x);
    if (x < count) StoreWords(fn(LoadWords(src + x, count - x)...), dst + x, count - x);
}

// Component place (a bit position) of every lane's word.
HWY_INLINE V32 ComponentAt(V32 words, unsigned place) {
    return hn::And(hn::ShiftRightSame(words, static_cast<int>(place)), hn::Set(D32(), 0xFFu));
}

// Red, green and blue (0 to 255) in the places and with the opaque bits of a known group.
HWY_INLINE V32 PackWords(V32 red, V32 green, V32 blue, WordPlaces to) {
    const V32 packed = hn::Or(hn::Or(hn::ShiftLeftSame(red, static_cast<int>(to.red)),
                                     hn::ShiftLeftSame(green, static_cast<int>(to.green))),
                              hn::ShiftLeftSame(blue, static_cast<int>(to.blue)));
    return hn::Or(packed, hn::Set(D32(), to.opaque));
}

// A row of n words through a whole-pixel kernel: kernel(red, green, blue) changes the signed
// 32-bit components (0 to 255) of a vector of pixels in place, exactly as the scalar transform
// changes each one.
template <class Kernel>
HWY_INLINE void TransformWords(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from,
                               WordPlaces to, const Kernel& kernel) {
    const DI32 di;
    MapWords(
        dst, n,
        [&](V32 words) {
            VI32 red = hn::BitCast(di, ComponentAt(words, from.red));
            VI32 green = hn::BitCast(di, ComponentAt(words, from.green));
            VI32 blue = hn::BitCast(di, ComponentAt(words, from.blue));
            kernel(red, green, blue);
            const D32 d;
            return PackWords(hn::BitCast(d, red), hn::BitCast(d, green), hn::BitCast(d, blue), to);
        },
        src);
}

// Lanes clamped to 0 to 255.
HWY_INLINE VI32 ClampComponents(VI32 v) {
    const DI32 di;
    return hn::Min(hn::Max(v, hn::Zero(di)), hn::Set(di, 255));
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();

#endif
#endif
