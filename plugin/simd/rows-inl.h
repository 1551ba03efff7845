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
#include <type_traits>

#include "hwy/cache_control.h"
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

// Whether full vectors are stored at dst with streaming stores: the walk writes a large output,
// into no row it reads, and dst is aligned for whole vectors (other rows are stored as usual).
template <class... Src> HWY_INLINE bool Streams(const uint32_t* dst, const Src*... src) {
    return writingLargeOutput && ((static_cast<const void*>(src) != dst) && ...) &&
           reinterpret_cast<uintptr_t>(dst) % (hn::Lanes(D32()) * sizeof(uint32_t)) == 0;
}

// Stores v at p, streamed when kStream.
template <bool kStream> HWY_INLINE void Store(V32 v, uint32_t* p) {
    if constexpr (kStream)
        hn::Stream(v, D32(), p);
    else
        hn::StoreU(v, D32(), p);
}

// body(std::true_type()) when stream, then the streamed stores made visible, else
// body(std::false_type()): a row loop chooses its stores once, not at every vector.
template <class Body> HWY_INLINE void WithStores(bool stream, const Body& body) {
    if (stream) {
        body(std::true_type());
        hwy::FlushStream();
    } else {
        body(std::false_type());
    }
}

// dst[x] = fn(src[x]...) for the n words of the rows, a vector at a time.
template <class Fn, class... Src>
HWY_INLINE void MapWords(uint32_t* dst, int32_t n, const Fn& fn, const Src*... src) {
    const D32 d;
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    size_t x = 0;
    WithStores(Streams(dst, src...), [&](auto stream) {
        for (; x + N <= count; x += N)
            Store<decltype(stream)::value>(fn(hn::LoadU(d, src + x)...), dst + x);
    });
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

// Byte shuffles and interleaves act within each 128-bit block on every target.
namespace planes {

using D64 = hn::Repartition<uint64_t, D32>;

// Byte shuffles within each block of four words: Gather puts the red bytes of the four words in
// the block's first word, green in the second and blue in the third; Spread puts them back in the
// places of the destination, its other bytes taken from the block's (zero) fourth word.
HWY_INLINE V8 Gather(WordPlaces from) {
    HWY_ALIGN uint8_t order[16];
    const unsigned places[4] = {from.red, from.green, from.blue, from.red};
    for (unsigned i = 0; i < 16; ++i)
        order[i] = static_cast<uint8_t>(i % 4 * 4 + places[i / 4] / 8);
    return hn::LoadDup128(D8(), order);
}

HWY_INLINE V8 Spread(WordPlaces to) {
    HWY_ALIGN uint8_t order[16];
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned word = i / 4, place = i % 4 * 8;
        unsigned component = 3;
        if (place == to.red) component = 0;
        if (place == to.green) component = 1;
        if (place == to.blue) component = 2;
        order[i] = static_cast<uint8_t>(component * 4 + word);
    }
    return hn::LoadDup128(D8(), order);
}

// The four words of a block of each of a, b, c and d transposed: word w of a block of the result
// r holds word r of the blocks of a, b, c and d (in that order). Its own inverse.
HWY_INLINE void Transpose(V32& a, V32& b, V32& c, V32& d) {
    const D32 d32;
    const D64 d64;
    const auto t0 = hn::BitCast(d64, hn::InterleaveLower(d32, a, b));
    const auto t1 = hn::BitCast(d64, hn::InterleaveUpper(d32, a, b));
    const auto t2 = hn::BitCast(d64, hn::InterleaveLower(d32, c, d));
    const auto t3 = hn::BitCast(d64, hn::InterleaveUpper(d32, c, d));
    a = hn::BitCast(d32, hn::InterleaveLower(d64, t0, t2));
    b = hn::BitCast(d32, hn::InterleaveUpper(d64, t0, t2));
    c = hn::BitCast(d32, hn::InterleaveLower(d64, t1, t3));
    d = hn::BitCast(d32, hn::InterleaveUpper(d64, t1, t3));
}

} // namespace planes

// dst[x] from src[x] for the n words of the rows, four vectors of words at a time as component
// planes: fn(red, green, blue) is given one byte vector per component, holding that component of
// each of the pixels (in an order of their own), and changes them in place. The destination word
// gets each component in its places, the opaque bits set and its other bits clear (as Pack).
template <class Fn>
HWY_INLINE void MapPlanes(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from,
                          WordPlaces to, const Fn& fn) {
    const D32 d32;
    const D8 d8;
    const V8 gather = planes::Gather(from), spread = planes::Spread(to);
    const V32 opaque = hn::Set(d32, to.opaque);
    const size_t N = hn::Lanes(d32);
    auto words = [&](const uint32_t* in, uint32_t* out, auto stream) {
        V32 v[4];
        for (size_t i = 0; i < 4; ++i)
            v[i] = hn::BitCast(
                d32, hn::TableLookupBytes(hn::BitCast(d8, hn::LoadU(d32, in + i * N)), gather));
        planes::Transpose(v[0], v[1], v[2], v[3]);
        V8 red = hn::BitCast(d8, v[0]), green = hn::BitCast(d8, v[1]), blue = hn::BitCast(d8, v[2]);
        fn(red, green, blue);
        v[0] = hn::BitCast(d32, red);
        v[1] = hn::BitCast(d32, green);
        v[2] = hn::BitCast(d32, blue);
        v[3] = hn::Zero(d32);
        planes::Transpose(v[0], v[1], v[2], v[3]);
        for (size_t i = 0; i < 4; ++i) {
            const V8 placed = hn::TableLookupBytes(hn::BitCast(d8, v[i]), spread);
            Store<decltype(stream)::value>(hn::Or(hn::BitCast(d32, placed), opaque), out + i * N);
        }
    };
    const size_t count = static_cast<size_t>(n);
    size_t x = 0;
    WithStores(Streams(dst, src), [&](auto stream) {
        for (; x + 4 * N <= count; x += 4 * N)
            words(src + x, dst + x, stream);
    });
    if (x < count) {
        // The last words through a buffer: a row may end at the end of its own allocation.
        constexpr size_t kMost = 4 * HWY_MAX_BYTES / sizeof(uint32_t);
        HWY_ALIGN uint32_t in[kMost] = {}, out[kMost];
        std::memcpy(in, src + x, (count - x) * sizeof(uint32_t));
        words(in, out, std::false_type());
        std::memcpy(dst + x, out, (count - x) * sizeof(uint32_t));
    }
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();

#endif
#endif
