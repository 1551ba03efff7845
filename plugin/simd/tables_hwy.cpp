// Component tables applied to whole rows. With AVX-512 VBMI a 256-entry byte table is two byte
// permutes over 128 entries. Other targets keep the scalar loop: a 32-bit gather at each entry on
// AVX2 measured no faster than it here (AMD EPYC), and SSE4 and NEON would gather a lane at a
// time.
#include "simd/rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/tables_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if HWY_TARGET == HWY_AVX3_DL
#include <immintrin.h>

#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

// A 256-entry byte table in four registers of 64 entries.
struct Table256 {
    __m512i q0, q1, q2, q3;
};

Table256 LoadTable(const uint8_t* table) {
    return {_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
            _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

// Each byte of index looked up in the table: the low seven bits pick among 128 entries in each
// half, the top bit picks the half.
inline __m512i Lookup(const Table256& t, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(t.q0, index, t.q1);
    const __m512i high = _mm512_permutex2var_epi8(t.q2, index, t.q3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// The bytes of a register, one bit each, that sit at byte place (0 to 3) of their word.
constexpr __mmask64 BytesAt(unsigned place) {
    return 0x1111111111111111ull << place;
}

// A byte shuffle (within each 128-bit lane) that moves each component of a source word to the
// byte its destination word keeps it in; the destination's other byte is left as whatever it
// picks and cleared afterwards.
__m512i ShuffleBetween(WordPlaces from, WordPlaces to) {
    alignas(64) uint8_t order[64];
    for (int i = 0; i < 64; ++i) {
        const unsigned word = static_cast<unsigned>(i % 16) / 4 * 4;
        const unsigned place = static_cast<unsigned>(i % 4) * 8;
        unsigned source = 0;
        if (place == to.red) source = from.red;
        if (place == to.green) source = from.green;
        if (place == to.blue) source = from.blue;
        order[i] = static_cast<uint8_t>(word + source / 8);
    }
    return _mm512_load_si512(order);
}

} // namespace

void MapTables(const uint32_t* src, uint32_t* dst, int32_t n, const ComponentTables& tables,
               WordPlaces from, WordPlaces to) {
    const bool sameTables = std::memcmp(tables.red, tables.green, 256) == 0 &&
                            std::memcmp(tables.red, tables.blue, 256) == 0;
    const Table256 red = LoadTable(tables.red);
    const Table256 green = sameTables ? red : LoadTable(tables.green);
    const Table256 blue = sameTables ? red : LoadTable(tables.blue);
    const bool sameLayout = from.red == to.red && from.green == to.green && from.blue == to.blue;
    const __m512i shuffle = ShuffleBetween(from, to);
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(to.opaque));
    const __mmask64 redBytes = BytesAt(to.red / 8);
    const __mmask64 greenBytes = BytesAt(to.green / 8);
    const __mmask64 blueBytes = BytesAt(to.blue / 8);
    const hn::ScalableTag<uint32_t> d;
    MapWords(
        dst, n,
        [&](hn::Vec<decltype(d)> v) {
            __m512i words = v.raw;
            if (!sameLayout) words = _mm512_shuffle_epi8(words, shuffle);
            __m512i out;
            if (sameTables) {
                out = _mm512_maskz_mov_epi8(redBytes | greenBytes | blueBytes, Lookup(red, words));
            } else {
                out = _mm512_maskz_mov_epi8(blueBytes, Lookup(blue, words));
                out = _mm512_mask_mov_epi8(out, greenBytes, Lookup(green, words));
                out = _mm512_mask_mov_epi8(out, redBytes, Lookup(red, words));
            }
            return hn::Vec<decltype(d)>{_mm512_or_si512(out, opaque)};
        },
        src);
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

MapTablesFn MapRowThroughTables() {
    // Only AVX-512 with VBMI has this loop.
    static constexpr MapTablesFn table[kTargetCount] = {
        nullptr, nullptr, nullptr, nullptr, HWY_CHOOSE_AVX3_DL(MapTables),
        nullptr, nullptr, nullptr};
    return Pick(table);
}

} // namespace simd
#endif
