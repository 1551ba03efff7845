// Read-only row scans: colour tests, counts and the search's key test, a vector at a time.
#include "simd/scans.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/scans_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

using D16 = hn::Repartition<uint16_t, D32>;
using V16 = hn::Vec<D16>;

// A byte shuffle (within each 128-bit block) that puts in the red byte of each word its green, in
// the green byte its blue and in the blue byte its red; the other byte stays.
V8 RotateColours(WordPlaces places) {
    const D8 d8;
    uint32_t order = 0x03020100u;
    const auto put = [&](unsigned place, unsigned from) {
        order = (order & ~(0xFFu << place)) | (from / 8) << place;
    };
    put(places.red, places.green);
    put(places.green, places.blue);
    put(places.blue, places.red);
    const V8 wordStarts = hn::And(hn::Iota(d8, 0), hn::Set(d8, uint8_t{12}));
    return hn::Add(wordStarts, hn::BitCast(d8, hn::Set(D32(), order)));
}

// Bytes that show how far words are from passing test K, to be masked by the colour bits and
// reduced by the test's limit (0 but for gray): black fails on any colour bit set, white on any
// clear. Gray fails when two components are more than the limit apart: the colour bytes set
// against their rotation give the three differences.
template <ColourTest K> HWY_INLINE V8 Excess(V32 words, V8 rotate) {
    const D8 d8;
    const V8 bytes = hn::BitCast(d8, words);
    if constexpr (K == ColourTest::Black) {
        return bytes;
    } else if constexpr (K == ColourTest::White) {
        return hn::Not(bytes);
    } else {
        const V8 next = hn::TableLookupBytes(bytes, rotate);
        return hn::Sub(hn::Max(bytes, next), hn::Min(bytes, next));
    }
}

// Whether all n words pass test K. The excess of kBlock vectors, their bytewise maximum, is looked
// at once: the answer is the same as stopping at the first failing word.
constexpr size_t kBlock = 8;

template <ColourTest K> bool Passes(const uint32_t* row, int32_t n, WordPlaces places, int limit) {
    const D32 d;
    const D8 d8;
    const V8 lim = hn::Set(d8, static_cast<uint8_t>(K == ColourTest::Gray ? limit : 0));
    const V8 rotate = K == ColourTest::Gray ? RotateColours(places) : hn::Zero(d8);
    const V32 bits = hn::Set(d, ColourBitsOf(places));
    const auto none = [&](V8 excess) {
        const V32 over = hn::BitCast(d, hn::SaturatedSub(excess, lim));
        return hn::AllTrue(d, hn::Eq(hn::And(over, bits), hn::Zero(d)));
    };
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    size_t x = 0;
    for (; x + kBlock * N <= count; x += kBlock * N) {
        V8 most = Excess<K>(hn::LoadU(d, row + x), rotate);
        for (size_t i = 1; i < kBlock; ++i)
            most = hn::Max(most, Excess<K>(hn::LoadU(d, row + x + i * N), rotate));
        if (!none(most)) return false;
    }
    for (; x + N <= count; x += N)
        if (!none(Excess<K>(hn::LoadU(d, row + x), rotate))) return false;
    if (x == count) return true;
    // The row's last vector when it has one (the words tested again have passed), else the words
    // through a buffer with the lanes past the row cleared.
    if (count >= N) return none(Excess<K>(hn::LoadU(d, row + count - N), rotate));
    const V32 excess = hn::BitCast(d, Excess<K>(LoadWords(row, count), rotate));
    return none(hn::BitCast(d8, hn::IfThenElseZero(hn::FirstN(d, count), excess)));
}

// How many words of a row marks(words) marks: all ones in the 16-bit half of the word that kHigh
// picks. Counted in 16-bit lanes, emptied into 32-bit lanes every 65535 vectors.
template <bool kHigh, class Marks>
HWY_INLINE uint32_t CountMarked(const uint32_t* row, int32_t n, const Marks& marks) {
    const D32 d;
    const D16 d16;
    V32 total = hn::Zero(d);
    const auto empty = [&](V16 lanes) {
        const V32 both = hn::BitCast(d, lanes);
        total =
            hn::Add(total, kHigh ? hn::ShiftRight<16>(both) : hn::And(both, hn::Set(d, 0xFFFFu)));
    };
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    size_t x = 0;
    while (x + N <= count) {
        const size_t end = x + N * ((count - x) / N < 65535 ? (count - x) / N : 65535);
        V16 lanes = hn::Zero(d16);
#pragma GCC unroll 4
        for (; x < end; x += N)
            lanes = hn::Sub(lanes, marks(hn::LoadU(d, row + x)));
        empty(lanes);
    }
    if (x < count) {
        // The row's last vector without the words already counted, else the words through a
        // buffer without the lanes past the row.
        const size_t rest = count - x;
        const bool whole = count >= N;
        const V32 words = whole ? hn::LoadU(d, row + count - N) : LoadWords(row, rest);
        const auto valid = whole ? hn::Not(hn::FirstN(d, N - rest)) : hn::FirstN(d, rest);
        const V32 marked = hn::IfThenElseZero(valid, hn::BitCast(d, marks(words)));
        empty(hn::Sub(hn::Zero(d16), hn::BitCast(d16, marked)));
    }
    return hn::GetLane(hn::SumOfLanes(d, total));
}

uint32_t CountEqual(const uint32_t* row, int32_t n, uint32_t colourBits, uint32_t want) {
    const D32 d;
    const V32 bits = hn::Set(d, colourBits);
    const V32 wanted = hn::Set(d, want);
    return CountMarked<false>(row, n, [&](V32 words) {
        return hn::BitCast(D16(), hn::VecFromMask(d, hn::Eq(hn::And(words, bits), wanted)));
    });
}

// Colourful words whose colour bytes are bytes 1 to 3 (kHigh) or 0 to 2; kAllApart when t is
// negative (every pixel is then apart). Each word is set against itself moved a byte, so that in
// one 16-bit half green meets its lower and its upper colour byte. A pixel is apart when one of
// those differences exceeds t, which a non-zero byte after the saturating subtraction of t shows
// (with t of 255 or more none is), and not dark when one of the two bytes' maxima, which cover the
// three components, exceeds kDarkBelow - 1. The words that are not colourful are counted.
template <bool kHigh, bool kAllApart>
uint32_t CountColourfulIn(const uint32_t* row, int32_t n, int t) {
    const D8 d8;
    const D16 d16;
    const V8 limit = hn::Set(d8, static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t));
    const V8 dark = hn::Set(d8, static_cast<uint8_t>(kDarkBelow - 1));
    const uint32_t misses = CountMarked<kHigh>(row, n, [&](V32 words) {
        const V8 bytes = hn::BitCast(d8, words);
        const V8 other =
            hn::BitCast(d8, kHigh ? hn::ShiftLeft<8>(words) : hn::ShiftRight<8>(words));
        const V8 most = hn::Max(bytes, other);
        V16 colourful = hn::BitCast(d16, hn::SaturatedSub(most, dark));
        if constexpr (!kAllApart) {
            const V8 apart = hn::SaturatedSub(hn::Sub(most, hn::Min(bytes, other)), limit);
            colourful = hn::Min(hn::BitCast(d16, apart), colourful);
        }
        return hn::VecFromMask(d16, hn::Eq(colourful, hn::Zero(d16)));
    });
    return static_cast<uint32_t>(n) - misses;
}

uint32_t CountColourfulWords(const uint32_t* row, int32_t n, WordPlaces places, int t) {
    const bool high = places.green == 16;
    if (t < 0)
        return high ? CountColourfulIn<true, true>(row, n, t)
                    : CountColourfulIn<false, true>(row, n, t);
    return high ? CountColourfulIn<true, false>(row, n, t)
                : CountColourfulIn<false, false>(row, n, t);
}

// Whole vectors of candidates are passed over on the key alone; the last ones go through buffers
// (the words after them too, row[to] the last, when withNext).
int32_t Find(const uint32_t* row, int32_t from, int32_t to, uint32_t colourBits, uint32_t keyWord,
             bool withNext, uint32_t nextWord) {
    const D32 d;
    const V32 bits = hn::Set(d, colourBits);
    const V32 key = hn::Set(d, keyWord);
    const V32 next = hn::Set(d, nextWord);
    const auto N = static_cast<int32_t>(hn::Lanes(d));
    const auto first = [&](int32_t x, hn::Mask<D32> hit, V32 after) {
        if (withNext) hit = hn::And(hit, hn::Eq(hn::And(after, bits), next));
        const intptr_t at = hn::FindFirstTrue(d, hit);
        return at < 0 ? -1 : x + static_cast<int32_t>(at);
    };
    int32_t x = from;
    for (; x + N <= to; x += N) {
        const auto hit = hn::Eq(hn::And(hn::LoadU(d, row + x), bits), key);
        if (hn::AllFalse(d, hit)) continue;
        if (const int32_t at = first(x, hit, withNext ? hn::LoadU(d, row + x + 1) : key); at >= 0)
            return at;
    }
    if (x < to) {
        const auto count = static_cast<size_t>(to - x);
        const auto hit =
            hn::And(hn::Eq(hn::And(LoadWords(row + x, count), bits), key), hn::FirstN(d, count));
        const V32 after = withNext ? LoadWords(row + x + 1, count) : key;
        if (const int32_t at = first(x, hit, after); at >= 0) return at;
    }
    return to;
}

} // namespace
} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

RowTestFn RowPasses(ColourTest test) {
    static constexpr RowTestFn black[kTargetCount] = QRX_SIMD_TABLE(Passes<ColourTest::Black>);
    static constexpr RowTestFn white[kTargetCount] = QRX_SIMD_TABLE(Passes<ColourTest::White>);
    static constexpr RowTestFn gray[kTargetCount] = QRX_SIMD_TABLE(Passes<ColourTest::Gray>);
    return Pick(test == ColourTest::Black ? black : test == ColourTest::White ? white : gray);
}

QRX_SIMD_EXPORT(CountWordsFn, CountWords, CountEqual)

QRX_SIMD_EXPORT(CountColourfulFn, CountColourful, CountColourfulWords)

QRX_SIMD_EXPORT(FindFn, FindWord, Find)

} // namespace simd
#endif
