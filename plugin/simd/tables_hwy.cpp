// Component tables applied to whole rows. With AVX-512 VBMI a 256-entry byte table is two byte
// permutes over 128 entries. On the other x86 targets it is sixteen byte shuffles over 16 entries
// each, on the components of four vectors of words gathered into one vector per component. NEON
// keeps the scalar loop. (A 32-bit gather at each entry on AVX2 measured no faster than the scalar
// loop here, AMD EPYC.)
#include "simd/rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/tables_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

using DI8 = hn::Repartition<int8_t, D32>;

// A 256-entry table as sixteen rows of 16 entries, for x86's byte shuffle, which gives 0 where
// the index's top bit is set and else the entry its low four bits pick. Index x is walked down
// by 16 eight times: the shuffle of row k sees a usable index exactly for k = 0 to x / 16 when x
// is below 128, so each row holds its entries xor the row before, and the xors over those rows
// leave row x / 16. The upper half does the same on x - 128, and x's top bit picks the half.
struct ShuffleTable {
    V8 low[8], high[8];
};

ShuffleTable MakeShuffleTable(const uint8_t* table) {
    const D8 d8;
    ShuffleTable t;
    for (int k = 0; k < 8; ++k) {
        HWY_ALIGN uint8_t low[16], high[16];
        for (int i = 0; i < 16; ++i) {
            const int at = k * 16 + i;
            low[i] = static_cast<uint8_t>(table[at] ^ (k > 0 ? table[at - 16] : 0));
            high[i] = static_cast<uint8_t>(table[128 + at] ^ (k > 0 ? table[112 + at] : 0));
        }
        t.low[k] = hn::LoadDup128(d8, low);
        t.high[k] = hn::LoadDup128(d8, high);
    }
    return t;
}

HWY_INLINE V8 LookupHalf(const V8 (&rows)[8], V8 index) {
    const V8 step = hn::Set(D8(), 16);
    V8 out = hn::TableLookupBytes(rows[0], index);
    for (int k = 1; k < 8; ++k) {
        index = hn::Sub(index, step);
        out = hn::Xor(out, hn::TableLookupBytes(rows[k], index));
    }
    return out;
}

HWY_INLINE V8 Lookup(const ShuffleTable& t, V8 x) {
    const DI8 di8;
    const V8 low = LookupHalf(t.low, x);
    const V8 high = LookupHalf(t.high, hn::Xor(x, hn::Set(D8(), 0x80)));
    return hn::BitCast(D8(), hn::IfNegativeThenElse(hn::BitCast(di8, x), hn::BitCast(di8, high),
                                                    hn::BitCast(di8, low)));
}

} // namespace

void MapTables(const uint32_t* src, uint32_t* dst, int32_t n, const ComponentTables& tables,
               WordPlaces from, WordPlaces to) {
    const ShuffleTable red = MakeShuffleTable(tables.red);
    const ShuffleTable green = MakeShuffleTable(tables.green);
    const ShuffleTable blue = MakeShuffleTable(tables.blue);
    MapPlanes(src, dst, n, from, to, [&](V8& r, V8& g, V8& b) {
        r = Lookup(red, r);
        g = Lookup(green, g);
        b = Lookup(blue, b);
    });
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

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
    // The x86 targets have this loop.
    static constexpr MapTablesFn table[kTargetCount] = {nullptr,
                                                        HWY_CHOOSE_SSE4(MapTables),
                                                        HWY_CHOOSE_AVX2(MapTables),
                                                        HWY_CHOOSE_AVX3(MapTables),
                                                        HWY_CHOOSE_AVX3_DL(MapTables),
                                                        nullptr,
                                                        nullptr,
                                                        nullptr};
    return Pick(table);
}

} // namespace simd
#endif
