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

using D8 = hn::Repartition<uint8_t, D32>;
using V8 = hn::Vec<D8>;

// The bit place of the lowest colour component. Green is the middle colour byte in every known
// group, so the colour bytes are this one and the two above it.
unsigned LowestPlace(WordPlaces places) {
    const unsigned low = places.red < places.blue ? places.red : places.blue;
    return low < places.green ? low : places.green;
}

uint32_t ColourBitsOf(WordPlaces places) {
    return (0xFFu << places.red) | (0xFFu << places.green) | (0xFFu << places.blue);
}

// |a - b| of every unsigned byte.
HWY_INLINE V8 AbsDiffBytes(V8 a, V8 b) {
    return hn::Sub(hn::Max(a, b), hn::Min(a, b));
}

// Bits that show the words failing test K, before they are masked by the test's bits: black
// fails on any colour bit set, white on any clear. Gray fails where the largest component exceeds
// the smallest by more than the limit, which leaves a non-zero lowest colour byte: there the
// byte and the two above it are the three components.
template <ColourTest K> HWY_INLINE V32 Failing(V32 words, V8 limit) {
    if constexpr (K == ColourTest::Black) {
        return words;
    } else if constexpr (K == ColourTest::White) {
        return hn::Not(words);
    } else {
        const D8 d8;
        const V8 low = hn::BitCast(d8, words);
        const V8 middle = hn::BitCast(d8, hn::ShiftRight<8>(words));
        const V8 high = hn::BitCast(d8, hn::ShiftRight<16>(words));
        const V8 range =
            hn::Sub(hn::Max(hn::Max(low, middle), high), hn::Min(hn::Min(low, middle), high));
        return hn::BitCast(D32(), hn::SaturatedSub(range, limit));
    }
}

// Whether all n words pass test K. Four vectors are tested between two looks at the answer; the
// answer is the same as stopping at the first failing word.
template <ColourTest K> bool Passes(const uint32_t* row, int32_t n, WordPlaces places, int limit) {
    const D32 d;
    const V8 lim = hn::Set(D8(), static_cast<uint8_t>(limit));
    const V32 bits =
        hn::Set(d, K == ColourTest::Gray ? 0xFFu << LowestPlace(places) : ColourBitsOf(places));
    const auto none = [&](V32 failing) {
        return hn::AllTrue(d, hn::Eq(hn::And(failing, bits), hn::Zero(d)));
    };
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    size_t x = 0;
    for (; x + 4 * N <= count; x += 4 * N) {
        const V32 a = hn::Or(Failing<K>(hn::LoadU(d, row + x), lim),
                             Failing<K>(hn::LoadU(d, row + x + N), lim));
        const V32 b = hn::Or(Failing<K>(hn::LoadU(d, row + x + 2 * N), lim),
                             Failing<K>(hn::LoadU(d, row + x + 3 * N), lim));
        if (!none(hn::Or(a, b))) return false;
    }
    for (; x + N <= count; x += N)
        if (!none(Failing<K>(hn::LoadU(d, row + x), lim))) return false;
    if (x == count) return true;
    // The row's last vector when it has one (the words tested again have passed), else the words
    // through a buffer with the lanes past the row cleared.
    if (count >= N) return none(Failing<K>(hn::LoadU(d, row + count - N), lim));
    return none(hn::IfThenElseZero(hn::FirstN(d, count), Failing<K>(LoadWords(row, count), lim)));
}

// How many of n words hit: hit(words) gives the mask of the lanes to count. A lane counts at most
// n / Lanes words of the row, which fits its 32 bits.
template <class Hit> HWY_INLINE uint32_t CountHits(const uint32_t* row, int32_t n, const Hit& hit) {
    const D32 d;
    const auto count = static_cast<size_t>(n);
    const size_t N = hn::Lanes(d);
    V32 lanes = hn::Zero(d);
    size_t x = 0;
    for (; x + N <= count; x += N)
        lanes = hn::Sub(lanes, hn::VecFromMask(d, hit(hn::LoadU(d, row + x))));
    if (x < count) {
        // The row's last vector without the lanes already counted, else the words through a
        // buffer without the lanes past the row.
        const size_t rest = count - x;
        const auto last =
            count >= N ? hn::AndNot(hn::FirstN(d, N - rest), hit(hn::LoadU(d, row + count - N)))
                       : hn::And(hn::FirstN(d, rest), hit(LoadWords(row, rest)));
        lanes = hn::Sub(lanes, hn::VecFromMask(d, last));
    }
    return hn::GetLane(hn::SumOfLanes(d, lanes));
}

uint32_t CountEqual(const uint32_t* row, int32_t n, uint32_t colourBits, uint32_t want) {
    const D32 d;
    const V32 bits = hn::Set(d, colourBits);
    const V32 wanted = hn::Set(d, want);
    return CountHits(row, n, [&](V32 words) { return hn::Eq(hn::And(words, bits), wanted); });
}

// A pixel is apart when the difference of green with its lower or upper colour byte (the lowest
// two bytes of the neighbour differences) exceeds t, which a non-zero byte after the saturating
// subtraction of t shows; with a negative t every pixel is apart, and with t of 255 or more none
// is. It is not dark when some colour byte exceeds kDarkBelow - 1.
uint32_t CountColourfulWords(const uint32_t* row, int32_t n, WordPlaces places, int t) {
    const D32 d;
    const D8 d8;
    const V8 limit = hn::Set(d8, static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t));
    const V8 dark = hn::Set(d8, static_cast<uint8_t>(kDarkBelow - 1));
    const V32 pair = hn::Set(d, 0xFFFFu << LowestPlace(places));
    const V32 colour = hn::Set(d, ColourBitsOf(places));
    const V32 allApart = hn::Set(d, t < 0 ? 1u : 0u);
    return CountHits(row, n, [&](V32 words) {
        const V8 bytes = hn::BitCast(d8, words);
        const V8 near = AbsDiffBytes(bytes, hn::BitCast(d8, hn::ShiftRight<8>(words)));
        const V32 apart =
            hn::Or(hn::And(hn::BitCast(d, hn::SaturatedSub(near, limit)), pair), allApart);
        const V32 lit = hn::And(hn::BitCast(d, hn::SaturatedSub(bytes, dark)), colour);
        return hn::Ne(hn::Min(apart, lit), hn::Zero(d));
    });
}

int32_t Find(const uint32_t* row, int32_t from, int32_t to, uint32_t colourBits, uint32_t keyWord,
             bool withNext, uint32_t nextWord) {
    const D32 d;
    const V32 bits = hn::Set(d, colourBits);
    const V32 key = hn::Set(d, keyWord);
    const V32 next = hn::Set(d, nextWord);
    const auto N = static_cast<int32_t>(hn::Lanes(d));
    for (int32_t x = from; x < to; x += N) {
        const int32_t count = to - x < N ? to - x : N;
        const bool full = count == N;
        const V32 words = full ? hn::LoadU(d, row + x) : LoadWords(row + x, size_t(count));
        auto hit = hn::And(hn::Eq(hn::And(words, bits), key), hn::FirstN(d, size_t(count)));
        if (withNext && !hn::AllFalse(d, hit)) {
            const V32 after =
                full ? hn::LoadU(d, row + x + 1) : LoadWords(row + x + 1, size_t(count));
            hit = hn::And(hit, hn::Eq(hn::And(after, bits), next));
        }
        const intptr_t first = hn::FindFirstTrue(d, hit);
        if (first >= 0) return x + static_cast<int32_t>(first);
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

CountWordsFn CountWords() {
    static constexpr CountWordsFn table[kTargetCount] = QRX_SIMD_TABLE(CountEqual);
    return Pick(table);
}

CountColourfulFn CountColourful() {
    static constexpr CountColourfulFn table[kTargetCount] = QRX_SIMD_TABLE(CountColourfulWords);
    return Pick(table);
}

FindFn FindWord() {
    static constexpr FindFn table[kTargetCount] = QRX_SIMD_TABLE(Find);
    return Pick(table);
}

} // namespace simd
#endif
