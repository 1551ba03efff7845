// The 3D lookup-table map, a vector of pixels at a time: the cells, tetrahedra and weights of the
// pixels in 32-bit lanes, then each pixel's four corners loaded whole (a node's three components
// are adjacent) and weighted in double lanes, red, green and blue side by side.
// Gathering each component of the corners instead (twelve gathers a pixel) is slower on the
// processors we measured (AMD Zen 3: 8.6 against 5.5 ns a pixel).
#include "simd/lut3d.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/lut3d_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

constexpr size_t kMaxWords = HWY_MAX_BYTES / 4;

// Offsets between neighbouring nodes on the red, green and blue axes.
constexpr int32_t kRedStride = kLut3DMapNodes * kLut3DMapNodes * 4;
constexpr int32_t kGreenStride = kLut3DMapNodes * 4;
constexpr int32_t kBlueStride = 4;

// v / 17 for every component value v (0 to 255) as a multiply and shift.
constexpr bool NodeByShiftHolds() {
    for (int v = 0; v < 256; ++v)
        if ((v * 241) >> 12 != v / 17) return false;
    return true;
}
static_assert(NodeByShiftHolds());

// A node's three components and its unused fourth entry in one vector, or in two of two lanes.
using D4 = hn::CappedTag<double, 4>;

// The weights of the tetrahedra by the positions of a colour in its cell (in seventeenths) from
// the largest down, ph >= pm >= pl, with fractions fh, fm, fl (each p / 17.0): 1 - fh and fh - fm
// at 2 * (ph * 17 + pm) of high, fm - fl and fl at 2 * (pm * 17 + pl) of low.
struct WeightTables {
    double high[2 * 17 * 17], low[2 * 17 * 17];
};
constexpr WeightTables MakeWeightTables() {
    WeightTables t{};
    for (int a = 0; a < 17; ++a)
        for (int b = 0; b < 17; ++b) {
            const double fa = a / 17.0, fb = b / 17.0;
            t.high[2 * (a * 17 + b)] = 1 - fa;
            t.high[2 * (a * 17 + b) + 1] = fa - fb;
            t.low[2 * (a * 17 + b)] = fa - fb;
            t.low[2 * (a * 17 + b) + 1] = fb;
        }
    return t;
}
alignas(64) constexpr WeightTables kWeights = MakeWeightTables();

// A pixel's four output lanes as integers: red, green, blue and one that is never used.
using DP = hn::FixedTag<int32_t, 4>;

// Lanes x on of the sums of one pixel: its corners p0 to p3 weighted by w0 to w3 and summed left to
// right, each clamped as ComponentByte does: a NaN fails the comparison with 0 and becomes 0, the
// top is cut at 255, the rest truncated.
template <class V>
HWY_INLINE auto SumAt(const double* p0, const double* p1, const double* p2, const double* p3, V w0,
                      V w1, V w2, V w3, size_t x) {
    const D4 d4;
    V sum = hn::Mul(w0, hn::Load(d4, p0 + x));
    sum = hn::Add(sum, hn::Mul(w1, hn::Load(d4, p1 + x)));
    sum = hn::Add(sum, hn::Mul(w2, hn::Load(d4, p2 + x)));
    sum = hn::Add(sum, hn::Mul(w3, hn::Load(d4, p3 + x)));
    sum = hn::IfThenElseZero(sum >= hn::Zero(d4), sum);
    return hn::DemoteTo(hn::Rebind<int32_t, D4>(), hn::Min(sum, hn::Set(d4, 255.0)));
}

// One pixel: its corners at offsets o[0], o[stride], o[2 * stride] and o[3 * stride] from nodes,
// its weights at w[0] of kWeights.high and w[stride] of kWeights.low.
template <class D>
HWY_INLINE hn::Vec<DP> MapPixel(D d4, const double* nodes, const int32_t* o, const int32_t* w,
                                size_t stride) {
    const double *p0 = nodes + o[0], *p1 = nodes + o[stride], *p2 = nodes + o[2 * stride],
                 *p3 = nodes + o[3 * stride];
    const double* high = kWeights.high + w[0];
    const double* low = kWeights.low + w[stride];
    const auto w0 = hn::Set(d4, high[0]), w1 = hn::Set(d4, high[1]), w2 = hn::Set(d4, low[0]),
               w3 = hn::Set(d4, low[1]);
    if constexpr (HWY_HAVE_SCALABLE) {
        // As many lanes as the vectors hold, known only when running.
        HWY_ALIGN int32_t lanes[4];
        for (size_t x = 0; x < 4; x += hn::Lanes(d4))
            hn::StoreU(SumAt(p0, p1, p2, p3, w0, w1, w2, w3, x), hn::Rebind<int32_t, D>(),
                       lanes + x);
        return hn::Load(DP(), lanes);
    } else if constexpr (hn::MaxLanes(d4) >= 4) {
        return SumAt(p0, p1, p2, p3, w0, w1, w2, w3, 0);
    } else {
        // Red and green, then blue and the unused lane.
        return hn::Combine(DP(), SumAt(p0, p1, p2, p3, w0, w1, w2, w3, 2),
                           SumAt(p0, p1, p2, p3, w0, w1, w2, w3, 0));
    }
}

} // namespace

void MapLut3D(const double* nodes, const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from,
              WordPlaces to) {
    const DI32 di;
    const D32 d;
    const VI32 top = hn::Set(di, 255);
    const size_t N = hn::Lanes(di);
    // The bytes of a pixel's lanes as a word of the destination places.
    const hn::Repartition<uint8_t, DP> du8;
    HWY_ALIGN uint8_t order[16];
    for (unsigned byte = 0; byte < 16; ++byte) {
        const unsigned place = byte * 8;
        order[byte] = place == to.red ? 0 : place == to.green ? 4 : place == to.blue ? 8 : 0x80;
    }
    const auto shuffle = hn::Load(du8, order);
    // A component's node, its position in the cell, and the offset of its upper node from its
    // lower one on the axis (none for 255, whose cell is node 15 alone).
    auto cell = [&](V32 words, unsigned place, int32_t stride, VI32& offset, VI32& position,
                    VI32& step) {
        const VI32 v = hn::BitCast(di, ComponentAt(words, place));
        const VI32 node = hn::ShiftRight<12>(hn::Mul(v, hn::Set(di, 241)));
        position = hn::Sub(v, hn::Mul(node, hn::Set(di, 17)));
        offset = hn::Mul(node, hn::Set(di, stride));
        step = hn::IfThenZeroElse(v == top, hn::Set(di, stride));
    };
    // A row goes a chunk of pixels at a time, in two passes. The first finds the corners and the
    // weights of every pixel of the chunk, a vector of pixels at a time. The second maps the pixels
    // one by one into a buffer, which then goes into the row a vector at a time (as streaming
    // stores when the output is large). Each pass depends only on what the one before it stored
    // long before, so the processor overlaps many pixels: a vector's corners found just before its
    // pixels kept about one vector in flight (4.9 against 4.1 ns a pixel, AMD Zen 3, AVX2). The
    // last vector of a row may take lanes past its end (zero words), whose pixels are not mapped.
    constexpr size_t kChunk = 256;
    static_assert(kChunk % kMaxWords == 0, "a chunk holds whole vectors");
    HWY_ALIGN int32_t offsets[4 * kChunk];
    HWY_ALIGN int32_t weights[2 * kChunk];
    auto corners = [&](V32 words, size_t x) {
        VI32 offR, offG, offB, r, g, b, stepR, stepG, stepB;
        cell(words, from.red, kRedStride, offR, r, stepR);
        cell(words, from.green, kGreenStride, offG, g, stepG);
        cell(words, from.blue, kBlueStride, offB, b, stepB);
        // The tetrahedron, by the tests of SumXYZ: the axis its second corner moves up and the
        // one its third corner leaves for the fourth.
        const auto rg = r > g, gb = g > b, rb = r > b, bg = b > g, br = b > r;
        const auto firstRed = hn::And(rg, hn::Or(gb, rb));
        const auto firstGreen = hn::Not(hn::Or(rg, bg));
        const auto lastGreen = hn::AndNot(gb, rg);
        const auto lastRed = hn::AndNot(rg, hn::Or(bg, br));
        const VI32 first =
            hn::IfThenElse(firstRed, stepR, hn::IfThenElse(firstGreen, stepG, stepB));
        const VI32 last = hn::IfThenElse(lastGreen, stepG, hn::IfThenElse(lastRed, stepR, stepB));
        const VI32 o0 = hn::Add(hn::Add(offR, offG), offB);
        const VI32 o3 = hn::Add(o0, hn::Add(hn::Add(stepR, stepG), stepB));
        hn::Store(o0, di, offsets + x);
        hn::Store(hn::Add(o0, first), di, offsets + kChunk + x);
        hn::Store(hn::Sub(o3, last), di, offsets + 2 * kChunk + x);
        hn::Store(o3, di, offsets + 3 * kChunk + x);
        // Whatever the tetrahedron, its fractions from the first axis to the last are the three
        // from the largest down.
        const VI32 high = hn::Max(r, hn::Max(g, b)), low = hn::Min(r, hn::Min(g, b));
        const VI32 middle = hn::Max(hn::Min(r, g), hn::Min(hn::Max(r, g), b));
        const VI32 seventeen = hn::Set(di, 17);
        hn::Store(hn::ShiftLeft<1>(hn::Add(hn::Mul(high, seventeen), middle)), di, weights + x);
        hn::Store(hn::ShiftLeft<1>(hn::Add(hn::Mul(middle, seventeen), low)), di,
                  weights + kChunk + x);
    };
    HWY_ALIGN uint32_t chunk[kChunk];
    const V32 opaque = hn::Set(d, to.opaque);
    const auto count = static_cast<size_t>(n);
    for (size_t start = 0; start < count; start += kChunk) {
        const size_t c = count - start < kChunk ? count - start : kChunk;
        for (size_t x = 0; x < c; x += N)
            corners(x + N <= c ? hn::LoadU(d, src + start + x) : LoadWords(src + start + x, c - x),
                    x);
        for (size_t i = 0; i < c; ++i) {
            const auto bytes = hn::TableLookupBytesOr0(
                hn::BitCast(du8, MapPixel(D4(), nodes, offsets + i, weights + i, kChunk)), shuffle);
            chunk[i] = hn::GetLane(hn::BitCast(hn::Rebind<uint32_t, DP>(), bytes));
        }
        MapWords(
            dst + start, static_cast<int32_t>(c), [&](V32 words) { return hn::Or(words, opaque); },
            chunk);
    }
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

QRX_SIMD_EXPORT(Lut3DFn, MapRowThroughLut3D, MapLut3D)

} // namespace simd
#endif
