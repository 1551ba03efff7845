// Whole-pixel transforms on 32-bit lanes: each component of a vector of pixels changed exactly as
// the operation's scalar transform changes it.
#include "simd/pixels.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/pixels_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {

// The stored word of a host colour (red in bits 16-23, green 8-15, blue 0-7) in the given places.
HWY_INLINE uint32_t WordOf(uint32_t colour, WordPlaces places) {
    return places.opaque | (((colour >> 16) & 0xFFu) << places.red) |
           (((colour >> 8) & 0xFFu) << places.green) | ((colour & 0xFFu) << places.blue);
}

// Calls fn(repack), where repack(words) gives the words' colour in the destination places with
// its opaque bits, as Pack does: a mask when the places are the same, shifts when they differ.
template <class Fn> HWY_INLINE void WithRepack(WordPlaces from, WordPlaces to, const Fn& fn) {
    const D32 d;
    if (from.red == to.red && from.green == to.green && from.blue == to.blue) {
        const V32 colour = hn::Set(d, ColourBitsOf(from));
        const V32 opaque = hn::Set(d, to.opaque);
        fn([&](V32 words) { return hn::Or(hn::And(words, colour), opaque); });
    } else {
        fn([&](V32 words) {
            return PackWords(ComponentAt(words, from.red), ComponentAt(words, from.green),
                             ComponentAt(words, from.blue), to);
        });
    }
}

void Invert(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
            const NoParams&) {
    // 255 - v is v with its eight bits flipped.
    WithRepack(from, to, [&](const auto& repack) {
        MapWords(
            dst, n, [&](V32 words) { return repack(hn::Not(words)); }, src);
    });
}

void InvertGray(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
                const NoParams&) {
    WithRepack(from, to, [&](const auto& repack) {
        MapWords(
            dst, n,
            [&](V32 words) {
                const V32 red = ComponentAt(words, from.red);
                const auto gray = hn::And(hn::Eq(red, ComponentAt(words, from.green)),
                                          hn::Eq(red, ComponentAt(words, from.blue)));
                return repack(hn::IfThenElse(gray, hn::Not(words), words));
            },
            src);
    });
}

// Saturation in 16-bit lanes, for |k| below 65536 only: no product wraps then, and a magnitude
// |v - gray| * |k| is formed exactly from its low and high halves, capped at 255 * 256 (a
// quotient beyond +-256 clamps as +-256 does), where floor(m / 255) is (m * 0x8081) >> 23.
void Saturation(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
                const SaturationParams& params) {
    const int32_t k = params.k;
    using D16 = hn::Repartition<uint16_t, D32>;
    using DI16 = hn::Repartition<int16_t, D32>;
    const D16 d16;
    const DI16 di16;
    const auto magnitude = hn::Set(d16, static_cast<uint16_t>(k < 0 ? -k : k));
    const auto flip = hn::Set(di16, static_cast<int16_t>(k < 0 ? -1 : 0));
    const auto cap = hn::Set(d16, 255 * 256), by255 = hn::Set(d16, 0x8081);
    const auto low = hn::Set(d16, 0x00FF);
    MapPlanes(src, dst, n, from, to, [&](V8& red, V8& green, V8& blue) {
        // The even and the odd bytes of a plane as 16-bit lanes, and back.
        auto even = [&](V8 v) { return hn::BitCast(di16, hn::And(hn::BitCast(d16, v), low)); };
        auto odd = [&](V8 v) { return hn::BitCast(di16, hn::ShiftRight<8>(hn::BitCast(d16, v))); };
        auto bytes = [&](auto evens, auto odds) {
            return hn::BitCast(
                D8(), hn::Or(hn::BitCast(d16, evens), hn::ShiftLeft<8>(hn::BitCast(d16, odds))));
        };
        auto saturate = [&](auto& r, auto& g, auto& b) {
            const auto gray = hn::ShiftRight<2>(hn::Add(hn::Add(r, b), hn::ShiftLeft<1>(g)));
            auto component = [&](auto v) {
                const auto distance = hn::Sub(v, gray);
                const auto size = hn::BitCast(d16, hn::Abs(distance));
                const auto high = hn::MulHigh(size, magnitude);
                const auto product = hn::Or(hn::Mul(size, magnitude),
                                            hn::VecFromMask(d16, hn::Ne(high, hn::Zero(d16))));
                const auto q = hn::ShiftRight<7>(hn::MulHigh(hn::Min(product, cap), by255));
                const auto sign = hn::Xor(hn::BroadcastSignBit(distance), flip);
                const auto quotient = hn::Sub(hn::Xor(hn::BitCast(di16, q), sign), sign);
                return hn::Min(hn::Max(hn::Add(gray, quotient), hn::Zero(di16)),
                               hn::Set(di16, 255));
            };
            r = component(r);
            g = component(g);
            b = component(b);
        };
        auto r0 = even(red), g0 = even(green), b0 = even(blue);
        auto r1 = odd(red), g1 = odd(green), b1 = odd(blue);
        saturate(r0, g0, b0);
        saturate(r1, g1, b1);
        red = bytes(r0, r1);
        green = bytes(g0, g1);
        blue = bytes(b0, b1);
    });
}

using DF64 = hn::Repartition<double, DI32>;
using DH32 = hn::Rebind<int32_t, DF64>;

// A 16-bit value for each byte of a word, in the 16-bit lanes of the even bytes (0 and 2) and of
// the odd bytes (1 and 3).
using DI16 = hn::Repartition<int16_t, D32>;
struct BytePairs {
    hn::Vec<DI16> even, odd;
};
HWY_INLINE BytePairs PairsOf(const int32_t (&value)[4]) {
    auto pairOf = [&](int32_t low, int32_t high) {
        return hn::BitCast(DI16(), hn::Set(D32(), (static_cast<uint32_t>(low) & 0xFFFFu) |
                                                      (static_cast<uint32_t>(high) << 16)));
    };
    return {pairOf(value[0], value[2]), pairOf(value[1], value[3])};
}

// Weights of 16 bits for the component bytes of a word in the given places (the byte that is not
// a component weighing 0), paired as WeightedSum takes them.
HWY_INLINE BytePairs WeightsOf(WordPlaces from, int32_t red, int32_t green, int32_t blue) {
    int32_t weight[4] = {};
    weight[from.red / 8] = red;
    weight[from.green / 8] = green;
    weight[from.blue / 8] = blue;
    return PairsOf(weight);
}

// Each word's bytes times their weights, summed in 32 bits: the even bytes (0 and 2) and the odd
// bytes (1 and 3) as 16-bit lanes, multiplied and added pairwise.
HWY_INLINE VI32 WeightedSum(V32 words, const BytePairs& weights) {
    const DI32 di;
    const DI16 d16;
    const V32 bytes = hn::Set(D32(), 0x00FF00FFu);
    VI32 odd = hn::Zero(di);
    const VI32 sum = hn::ReorderWidenMulAccumulate(di, hn::BitCast(d16, hn::And(words, bytes)),
                                                   weights.even, hn::Zero(di), odd);
    return hn::RearrangeToOddPlusEven(
        hn::ReorderWidenMulAccumulate(
            di, hn::BitCast(d16, hn::And(hn::ShiftRight<8>(words), bytes)), weights.odd, sum, odd),
        odd);
}

// With the colours' bytes, a component's exact value is N * s / 65025, where N is the weighted
// sum of red, green and blue by the grey colour's bytes and s the sepia colour's byte. Its floor
// is exactly what the doubles give unless N * s is a multiple of 65025, where their rounding may
// fall one short (and where N is 0 every product is an exact 0). So the floor is taken in
// integers, as (N * magic) >> 34, and a vector with a lane where N * s may be such a multiple
// takes the doubles: N is then a multiple of 65025 / gcd(s, 65025), so of the greatest common
// divisor of those steps, which is odd; for N other than 0 that is N * inverse - 1 <= bound, with
// inverse the divisor's inverse modulo 2^32.
void Tint(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
          const TintParams& given) {
    const TintParams params = given; // a copy, which no store to dst can change
    const D32 d;
    const hn::Repartition<uint64_t, D32> d64;
    const DI32 di;
    const DF64 df;
    const DH32 dh;
    const BytePairs weights = WeightsOf(from, params.weight[0], params.weight[1], params.weight[2]);
    // The doubles, half a vector of components per vector of doubles.
    auto inDoubles = [&](V32 words) {
        auto level = [&](auto half) {
            auto term = [&](unsigned place, double grey) {
                const VI32 v = hn::BitCast(di, ComponentAt(words, place));
                return hn::Mul(hn::PromoteTo(df, half(v)), hn::Set(df, grey));
            };
            return hn::Add(
                hn::Add(term(from.red, params.grey[0]), term(from.green, params.grey[1])),
                term(from.blue, params.grey[2]));
        };
        const auto lower = level([&](VI32 v) { return hn::LowerHalf(dh, v); });
        const auto upper = level([&](VI32 v) { return hn::UpperHalf(dh, v); });
        // A level is at most 765 and a fraction at most 1, so the conversion never clamps.
        auto tinted = [&](double sepia) {
            const auto f = hn::Set(df, sepia);
            return hn::BitCast(d, hn::Min(hn::Combine(di, hn::DemoteTo(dh, hn::Mul(upper, f)),
                                                      hn::DemoteTo(dh, hn::Mul(lower, f))),
                                          hn::Set(di, 255)));
        };
        return PackWords(tinted(params.sepia[0]), tinted(params.sepia[1]), tinted(params.sepia[2]),
                         to);
    };
    const V32 inverse = hn::Set(d, params.inverse), bound = hn::Set(d, params.bound);
    const V32 magicRed = hn::Set(d, params.magic[0]), magicGreen = hn::Set(d, params.magic[1]),
              magicBlue = hn::Set(d, params.magic[2]);
    if (params.inDoubles) {
        MapWords(dst, n, inDoubles, src);
        return;
    }
    MapWords(
        dst, n,
        [&](V32 words) {
            const V32 sum = hn::BitCast(d, WeightedSum(words, weights));
            const V32 x = hn::Sub(hn::Mul(sum, inverse), hn::Set(d, 1u));
            if (!hn::AllFalse(d, hn::Eq(hn::Min(x, bound), x))) return inDoubles(words);
            // 64-bit products of the even lanes and of the odd ones moved down: a shift of 34
            // leaves an even lane's quotient in its lane, a shift of 2 an odd lane's in its own.
            auto floor = [&](V32 magic) {
                const auto even = hn::ShiftRight<34>(hn::MulEven(sum, magic));
                const auto odd = hn::ShiftRight<2>(
                    hn::MulEven(hn::BitCast(d, hn::ShiftRight<32>(hn::BitCast(d64, sum))), magic));
                return hn::Min(hn::OddEven(hn::BitCast(d, odd), hn::BitCast(d, even)),
                               hn::Set(d, 255u));
            };
            return PackWords(floor(magicRed), floor(magicGreen), floor(magicBlue), to);
        },
        src);
}

void Sepia(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
           const SepiaParams& params) {
    // No product or sum wraps with weights of 16 bits, and the gray fits in 16 bits (at most
    // 3 * 255 * 32768 / 1024 in size).
    const BytePairs weights = WeightsOf(from, params.kR, params.kG, params.kB);
    const DI32 di;
    const DI16 d16;
    // Each byte of the destination word as gray + its offset, saturated to 16 bits (which clamps
    // as the full sum would, the gray being smaller than 24576), then clamped to 0 to 255: the
    // even bytes (0 and 2) and the odd bytes (1 and 3) in 16-bit lanes. An opaque byte is 255
    // whatever the gray, any other byte 0.
    int32_t offset[4];
    for (unsigned byte = 0; byte < 4; ++byte) {
        const unsigned place = 8 * byte;
        const int32_t o = place == to.red                ? params.offset[0]
                          : place == to.green            ? params.offset[1]
                          : place == to.blue             ? params.offset[2]
                          : (to.opaque >> place) & 0xFFu ? INT16_MAX
                                                         : INT16_MIN;
        offset[byte] = std::clamp<int32_t>(o, INT16_MIN, INT16_MAX);
    }
    const BytePairs offsets = PairsOf(offset);
    const auto top = hn::Set(d16, 255);
    auto clamp = [&](auto v) { return hn::Min(hn::Max(v, hn::Zero(d16)), top); };
    MapWords(
        dst, n,
        [&](V32 words) {
            const VI32 sum = WeightedSum(words, weights);
            // Division by 1024 toward zero: negative sums are raised by 1023 before the shift.
            const VI32 gray = hn::ShiftRight<10>(
                hn::Add(sum, hn::And(hn::ShiftRight<31>(sum), hn::Set(di, 1023))));
            // The gray in both 16-bit halves of its lane.
            const auto grays = hn::BitCast(
                d16, hn::Or(hn::ShiftLeft<16>(gray), hn::And(gray, hn::Set(di, 0xFFFF))));
            const auto low = clamp(hn::SaturatedAdd(grays, offsets.even));
            const auto high = clamp(hn::SaturatedAdd(grays, offsets.odd));
            return hn::BitCast(D32(), hn::Or(low, hn::ShiftLeft<8>(high)));
        },
        src);
}

void Choose(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
            const ChooseParams& params) {
    const D32 d;
    const uint32_t colourBits = ColourBitsOf(from);
    const V32 colour = hn::Set(d, colourBits);
    const V32 key = hn::Set(d, WordOf(params.search, from) & colourBits);
    const V32 found = hn::Set(d, WordOf(params.found, to));
    const V32 other = hn::Set(d, WordOf(params.other, to));
    auto hit = [&](V32 words) { return hn::Eq(hn::And(words, colour), key); };
    if (!params.keepOthers) {
        MapWords(
            dst, n, [&](V32 words) { return hn::IfThenElse(hit(words), found, other); }, src);
        return;
    }
    WithRepack(from, to, [&](const auto& repack) {
        MapWords(
            dst, n, [&](V32 words) { return hn::IfThenElse(hit(words), found, repack(words)); },
            src);
    });
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

QRX_SIMD_EXPORT(PixelKernel<NoParams>::Fn, InvertRows, Invert)
QRX_SIMD_EXPORT(PixelKernel<NoParams>::Fn, InvertGrayRows, InvertGray)
QRX_SIMD_EXPORT(PixelKernel<ChooseParams>::Fn, ChooseRows, Choose)

namespace {
QRX_SIMD_EXPORT(PixelKernel<SaturationParams>::Fn, SaturationRows, Saturation)
QRX_SIMD_EXPORT(PixelKernel<SepiaParams>::Fn, SepiaRows, Sepia)
QRX_SIMD_EXPORT(PixelKernel<TintParams>::Fn, TintRows, Tint)

bool Fits16(int32_t v) {
    return v == static_cast<int16_t>(v);
}
} // namespace

PixelKernel<SaturationParams> SaturationKernel(int32_t k) {
    // The 16-bit lanes hold |k| up to 65535.
    return {k > -65536 && k < 65536 ? SaturationRows() : nullptr, {k}};
}

PixelKernel<TintParams> TintKernel(uint32_t grey, uint32_t sepia) {
    auto byte = [](uint32_t colour, int i) { return (colour >> (16 - 8 * i)) & 0xFFu; };
    TintParams p{};
    uint32_t steps = 0; // the greatest common divisor of the steps 65025 / gcd(s, 65025)
    for (int i = 0; i < 3; ++i) {
        const uint32_t s = byte(sepia, i);
        p.weight[i] = static_cast<int32_t>(byte(grey, i));
        p.grey[i] = p.weight[i] / 255.0;
        p.sepia[i] = s / 255.0;
        // (N * magic) >> 34 falls short of N * s / 65025 by less than 3 * 65025 / 2^34 for every
        // N up to 3 * 65025, and a quotient that is no integer clears one by 1 / 65025 at least.
        p.magic[i] = static_cast<uint32_t>((uint64_t{s} << 34) / 65025);
        if (s) steps = std::gcd(steps, 65025 / std::gcd(s, 65025u));
    }
    // Newton's iteration; with every s 0 the inverse is 0 and no lane is in doubt.
    p.inverse = steps;
    for (int k = 0; k < 4; ++k)
        p.inverse *= 2 - steps * p.inverse;
    p.bound = (steps ? UINT32_MAX / steps : UINT32_MAX) - 1;
    // N is a multiple of the grey colour's bytes' greatest common divisor. Colours that put more
    // than one pixel in 32 in doubt (a grey base of a third, say) are tinted in doubles throughout.
    const uint32_t greyBytes = std::gcd(std::gcd(byte(grey, 0), byte(grey, 1)), byte(grey, 2));
    p.inDoubles = steps && 32 * std::gcd(greyBytes, steps) > steps;
    return {TintRows(), p};
}

PixelKernel<SepiaParams> SepiaKernel(const SepiaParams& params) {
    return {Fits16(params.kR) && Fits16(params.kG) && Fits16(params.kB) ? SepiaRows() : nullptr,
            params};
}

} // namespace simd
#endif
