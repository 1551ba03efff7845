// Component tables applied to whole rows, on the components of four vectors of words gathered
// into one byte vector per component. With AVX-512 VBMI a 256-entry byte table is two byte
// permutes over 128 entries; on AVX2 and AVX-512 it is sixteen byte shuffles over 16 entries
// each. SSE4 and NEON keep the scalar loop: at 16 bytes a vector the shuffles measured slower than
// it (AMD EPYC), and a 32-bit gather at each entry on AVX2 no faster.
#include "simd/rows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/tables_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#if HWY_TARGET == HWY_AVX3_DL
#include <immintrin.h>
#endif

HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

#if HWY_TARGET == HWY_AVX3_DL
// A 256-entry byte table in four registers of 64 entries.
struct Table {
    __m512i q0, q1, q2, q3;
};

Table MakeTable(const uint8_t* table) {
    return {_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
            _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

// The low seven bits of an index pick among 128 entries in each half, the top bit the half.
HWY_INLINE V8 Lookup(const Table& t, V8 index) {
    const __m512i low = _mm512_permutex2var_epi8(t.q0, index.raw, t.q1);
    const __m512i high = _mm512_permutex2var_epi8(t.q2, index.raw, t.q3);
    return V8{_mm512_mask_blend_epi8(_mm512_movepi8_mask(index.raw), low, high)};
}
#else
using DI8 = hn::Repartition<int8_t, D32>;

// A 256-entry table as sixteen rows of 16 entries, for x86's byte shuffle, which gives 0 where
// the index's top bit is set and else the entry its low four bits pick. Index x is walked down
// by 16 eight times: the shuffle of row k sees a usable index exactly for k = 0 to x / 16 when x
// is below 128, so each row holds its entries xor the row before, and the xors over those rows
// leave row x / 16. The upper half does the same on x - 128, and x's top bit picks the half.
struct Table {
    V8 low[8], high[8];
};

Table MakeTable(const uint8_t* table) {
    const D8 d8;
    Table t;
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

HWY_INLINE V8 Lookup(const Table& t, V8 x) {
    const DI8 di8;
    const V8 low = LookupHalf(t.low, x);
    const V8 high = LookupHalf(t.high, hn::Xor(x, hn::Set(D8(), 0x80)));
    return hn::BitCast(D8(), hn::IfNegativeThenElse(hn::BitCast(di8, x), hn::BitCast(di8, high),
                                                    hn::BitCast(di8, low)));
}
#endif

} // namespace

void MapTables(const uint32_t* src, uint32_t* dst, int32_t n, const ComponentTables& tables,
               WordPlaces from, WordPlaces to) {
    const Table red = MakeTable(tables.red);
    const Table green = MakeTable(tables.green);
    const Table blue = MakeTable(tables.blue);
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

#if HWY_ONCE
namespace simd {

MapTablesFn MapRowThroughTables() {
    // AVX2 and the AVX-512 targets have this loop.
    static constexpr MapTablesFn table[kTargetCount] = {nullptr,
                                                        nullptr,
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
