#include "ops/vector_rows.h"

#if QRX_HAS_VECTOR_LOOPS

#include <cstring>

namespace {

// A 256-entry byte table in four registers of 64 entries.
struct Table256 {
    __m512i q0, q1, q2, q3;
};

QRX_AVX512 Table256 LoadTable(const uint8_t* table) {
    return {_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
            _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

// Each byte of index looked up in the table: the low seven bits pick among 128 entries in each
// half, the top bit picks the half.
QRX_AVX512 inline __m512i Lookup(const Table256& t, __m512i index) {
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
QRX_AVX512 __m512i ShuffleBetween(WordPlaces from, WordPlaces to) {
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

// The mapping of one register of words, with everything it needs prepared once per row.
struct TableMap {
    Table256 red, green, blue;
    bool sameTables, sameLayout;
    __m512i shuffle, opaque;
    __mmask64 redBytes, greenBytes, blueBytes;

    QRX_AVX512 __m512i operator()(__m512i words) const {
        if (!sameLayout) words = _mm512_shuffle_epi8(words, shuffle);
        __m512i out;
        if (sameTables) {
            out = _mm512_maskz_mov_epi8(redBytes | greenBytes | blueBytes, Lookup(red, words));
        } else {
            out = _mm512_maskz_mov_epi8(blueBytes, Lookup(blue, words));
            out = _mm512_mask_mov_epi8(out, greenBytes, Lookup(green, words));
            out = _mm512_mask_mov_epi8(out, redBytes, Lookup(red, words));
        }
        return _mm512_or_si512(out, opaque);
    }
};

} // namespace

QRX_AVX512 void MapRowThroughTablesVector(const uint32_t* src, uint32_t* dst, int32_t n,
                                          const ComponentTables& tables, WordPlaces from,
                                          WordPlaces to) {
    TableMap map;
    map.sameTables = std::memcmp(tables.red, tables.green, 256) == 0 &&
                     std::memcmp(tables.red, tables.blue, 256) == 0;
    map.red = LoadTable(tables.red);
    map.green = map.sameTables ? map.red : LoadTable(tables.green);
    map.blue = map.sameTables ? map.red : LoadTable(tables.blue);
    map.sameLayout = from.red == to.red && from.green == to.green && from.blue == to.blue;
    map.shuffle = ShuffleBetween(from, to);
    map.opaque = _mm512_set1_epi32(static_cast<int>(to.opaque));
    map.redBytes = BytesAt(to.red / 8);
    map.greenBytes = BytesAt(to.green / 8);
    map.blueBytes = BytesAt(to.blue / 8);

    int32_t x = 0;
    for (; x + 16 <= n; x += 16)
        _mm512_storeu_si512(dst + x, map(_mm512_loadu_si512(src + x)));
    if (x < n) {
        const auto rest = static_cast<__mmask16>((1u << (n - x)) - 1);
        _mm512_mask_storeu_epi32(dst + x, rest, map(_mm512_maskz_loadu_epi32(rest, src + x)));
    }
}

QRX_AVX512 void MergeRowsVector(const uint32_t* a, const uint32_t* b, uint32_t* dst, int32_t n,
                                WordPlaces places) {
    const __mmask64 colourBytes =
        BytesAt(places.red / 8) | BytesAt(places.green / 8) | BytesAt(places.blue / 8);
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(places.opaque));
    int32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m512i most = _mm512_max_epu8(_mm512_loadu_si512(a + x), _mm512_loadu_si512(b + x));
        _mm512_storeu_si512(dst + x,
                            _mm512_or_si512(_mm512_maskz_mov_epi8(colourBytes, most), opaque));
    }
    if (x < n) {
        const auto rest = static_cast<__mmask16>((1u << (n - x)) - 1);
        const __m512i most = _mm512_max_epu8(_mm512_maskz_loadu_epi32(rest, a + x),
                                             _mm512_maskz_loadu_epi32(rest, b + x));
        _mm512_mask_storeu_epi32(dst + x, rest,
                                 _mm512_or_si512(_mm512_maskz_mov_epi8(colourBytes, most), opaque));
    }
}

QRX_AVX512 void CombineRowsVector(const uint32_t* red, const uint32_t* green, const uint32_t* blue,
                                  uint32_t* dst, int32_t n, WordPlaces places) {
    const __mmask64 redBytes = BytesAt(places.red / 8);
    const __mmask64 greenBytes = BytesAt(places.green / 8);
    const __mmask64 blueBytes = BytesAt(places.blue / 8);
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(places.opaque));
    int32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m512i out = _mm512_maskz_mov_epi8(blueBytes, _mm512_loadu_si512(blue + x));
        out = _mm512_mask_mov_epi8(out, greenBytes, _mm512_loadu_si512(green + x));
        out = _mm512_mask_mov_epi8(out, redBytes, _mm512_loadu_si512(red + x));
        _mm512_storeu_si512(dst + x, _mm512_or_si512(out, opaque));
    }
    if (x < n) {
        const auto rest = static_cast<__mmask16>((1u << (n - x)) - 1);
        __m512i out = _mm512_maskz_mov_epi8(blueBytes, _mm512_maskz_loadu_epi32(rest, blue + x));
        out = _mm512_mask_mov_epi8(out, greenBytes, _mm512_maskz_loadu_epi32(rest, green + x));
        out = _mm512_mask_mov_epi8(out, redBytes, _mm512_maskz_loadu_epi32(rest, red + x));
        _mm512_mask_storeu_epi32(dst + x, rest, _mm512_or_si512(out, opaque));
    }
}

QRX_AVX512 int32_t FindWordVector(const uint32_t* row, int32_t from, int32_t to,
                                  uint32_t colourBits, uint32_t keyWord, bool withNext,
                                  uint32_t nextWord) {
    const __m512i bits = _mm512_set1_epi32(static_cast<int>(colourBits));
    const __m512i key = _mm512_set1_epi32(static_cast<int>(keyWord));
    const __m512i next = _mm512_set1_epi32(static_cast<int>(nextWord));
    int32_t x = from;
    for (; x + 16 <= to; x += 16) {
        __mmask16 hit =
            _mm512_cmpeq_epi32_mask(_mm512_and_si512(_mm512_loadu_si512(row + x), bits), key);
        if (hit && withNext)
            hit = _mm512_mask_cmpeq_epi32_mask(
                hit, _mm512_and_si512(_mm512_loadu_si512(row + x + 1), bits), next);
        if (hit) return x + __builtin_ctz(hit);
    }
    if (x < to) {
        const auto valid = static_cast<__mmask16>((1u << (to - x)) - 1);
        __mmask16 hit = _mm512_mask_cmpeq_epi32_mask(
            valid, _mm512_and_si512(_mm512_maskz_loadu_epi32(valid, row + x), bits), key);
        if (hit && withNext)
            hit = _mm512_mask_cmpeq_epi32_mask(
                hit, _mm512_and_si512(_mm512_maskz_loadu_epi32(hit, row + x + 1), bits), next);
        if (hit) return x + __builtin_ctz(hit);
    }
    return to;
}

#else

// Without vector instructions the same results, word by word.

namespace {

uint32_t Component(uint32_t w, unsigned place) {
    return (w >> place) & 0xFFu;
}

} // namespace
void MapRowThroughTablesVector(const uint32_t* src, uint32_t* dst, int32_t n,
                               const ComponentTables& tables, WordPlaces from, WordPlaces to) {
    for (int32_t x = 0; x < n; ++x) {
        const uint32_t w = src[x];
        dst[x] = to.opaque | uint32_t(tables.red[Component(w, from.red)]) << to.red |
                 uint32_t(tables.green[Component(w, from.green)]) << to.green |
                 uint32_t(tables.blue[Component(w, from.blue)]) << to.blue;
    }
}

void MergeRowsVector(const uint32_t* a, const uint32_t* b, uint32_t* dst, int32_t n,
                     WordPlaces places) {
    auto most = [&](int32_t x, unsigned place) {
        const uint32_t m = Component(a[x], place) > Component(b[x], place) ? Component(a[x], place)
                                                                           : Component(b[x], place);
        return m << place;
    };
    for (int32_t x = 0; x < n; ++x)
        dst[x] = places.opaque | most(x, places.red) | most(x, places.green) | most(x, places.blue);
}

int32_t FindWordVector(const uint32_t* row, int32_t from, int32_t to, uint32_t colourBits,
                       uint32_t keyWord, bool withNext, uint32_t nextWord) {
    while (from < to && ((row[from] & colourBits) != keyWord ||
                         (withNext && (row[from + 1] & colourBits) != nextWord)))
        ++from;
    return from;
}

void CombineRowsVector(const uint32_t* red, const uint32_t* green, const uint32_t* blue,
                       uint32_t* dst, int32_t n, WordPlaces places) {
    for (int32_t x = 0; x < n; ++x)
        dst[x] = places.opaque | (red[x] & 0xFFu << places.red) |
                 (green[x] & 0xFFu << places.green) | (blue[x] & 0xFFu << places.blue);
}

#endif
