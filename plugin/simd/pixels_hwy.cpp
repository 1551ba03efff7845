// Whole-pixel transforms on 32-bit lanes: each component of a vector of pixels changed exactly as
// the operation's scalar transform changes it.
#include "simd/pixels.h"

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

// The bits of a word in the given places that hold red, green and blue.
HWY_INLINE uint32_t ColourBitsOf(WordPlaces places) {
    return (0xFFu << places.red) | (0xFFu << places.green) | (0xFFu << places.blue);
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
    const DI32 di;
    TransformWords(src, dst, n, from, to, [&](VI32& red, VI32& green, VI32& blue) {
        const auto gray = hn::And(hn::Eq(red, green), hn::Eq(green, blue));
        const VI32 white = hn::Set(di, 255);
        red = hn::IfThenElse(gray, hn::Sub(white, red), red);
        green = hn::IfThenElse(gray, hn::Sub(white, green), green);
        blue = hn::IfThenElse(gray, hn::Sub(white, blue), blue);
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

// The tint's doubles: half a vector of components per vector of doubles.
using DF64 = hn::Repartition<double, DI32>;
using VF64 = hn::Vec<DF64>;
using DH32 = hn::Rebind<int32_t, DF64>;

HWY_INLINE VF64 TintLevel(hn::Vec<DH32> red, hn::Vec<DH32> green, hn::Vec<DH32> blue,
                          const TintParams& params) {
    const DF64 df;
    const VF64 rg = hn::Add(hn::Mul(hn::PromoteTo(df, red), hn::Set(df, params.grey[0])),
                            hn::Mul(hn::PromoteTo(df, green), hn::Set(df, params.grey[1])));
    return hn::Add(rg, hn::Mul(hn::PromoteTo(df, blue), hn::Set(df, params.grey[2])));
}

// A level is at most 765 and a fraction at most 1, so the truncating conversion never clamps.
HWY_INLINE VI32 Tinted(VF64 lower, VF64 upper, double fraction) {
    const DF64 df;
    const DH32 dh;
    const DI32 di;
    const VF64 f = hn::Set(df, fraction);
    return hn::Min(
        hn::Combine(di, hn::DemoteTo(dh, hn::Mul(upper, f)), hn::DemoteTo(dh, hn::Mul(lower, f))),
        hn::Set(di, 255));
}

void Tint(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
          const TintParams& params) {
    const DH32 dh;
    TransformWords(src, dst, n, from, to, [&](VI32& red, VI32& green, VI32& blue) {
        const VF64 lower = TintLevel(hn::LowerHalf(dh, red), hn::LowerHalf(dh, green),
                                     hn::LowerHalf(dh, blue), params);
        const VF64 upper = TintLevel(hn::UpperHalf(dh, red), hn::UpperHalf(dh, green),
                                     hn::UpperHalf(dh, blue), params);
        red = Tinted(lower, upper, params.sepia[0]);
        green = Tinted(lower, upper, params.sepia[1]);
        blue = Tinted(lower, upper, params.sepia[2]);
    });
}

void Sepia(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from, WordPlaces to,
           const SepiaParams& params) {
    const DI32 di;
    // No product or sum wraps with weights of 16 bits, and the sum is two pairwise products of the
    // word's even bytes (0 and 2) and odd bytes (1 and 3) as 16-bit lanes, the byte that is not
    // a component weighing 0.
    int32_t weight[4] = {};
    weight[from.red / 8] = params.kR;
    weight[from.green / 8] = params.kG;
    weight[from.blue / 8] = params.kB;
    const D32 d;
    const hn::Repartition<int16_t, D32> d16;
    auto pairOf = [&](int32_t low, int32_t high) {
        return hn::BitCast(d16, hn::Set(d, (static_cast<uint32_t>(low) & 0xFFFFu) |
                                               (static_cast<uint32_t>(high) << 16)));
    };
    const auto evenWeights = pairOf(weight[0], weight[2]);
    const auto oddWeights = pairOf(weight[1], weight[3]);
    const V32 bytes = hn::Set(d, 0x00FF00FFu);
    MapWords(
        dst, n,
        [&](V32 words) {
            VI32 odd = hn::Zero(di);
            VI32 sum = hn::ReorderWidenMulAccumulate(di, hn::BitCast(d16, hn::And(words, bytes)),
                                                     evenWeights, hn::Zero(di), odd);
            sum = hn::ReorderWidenMulAccumulate(
                di, hn::BitCast(d16, hn::And(hn::ShiftRight<8>(words), bytes)), oddWeights, sum,
                odd);
            sum = hn::RearrangeToOddPlusEven(sum, odd);
            // Division by 1024 toward zero: negative sums are raised by 1023 before the shift.
            const VI32 gray = hn::ShiftRight<10>(
                hn::Add(sum, hn::And(hn::ShiftRight<31>(sum), hn::Set(di, 1023))));
            auto tone = [&](int32_t offset) {
                return hn::BitCast(d, ClampComponents(hn::Add(gray, hn::Set(di, offset))));
            };
            return PackWords(tone(params.offset[0]), tone(params.offset[1]), tone(params.offset[2]),
                             to);
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
QRX_SIMD_EXPORT(PixelKernel<TintParams>::Fn, TintRows, Tint)
QRX_SIMD_EXPORT(PixelKernel<ChooseParams>::Fn, ChooseRows, Choose)

namespace {
QRX_SIMD_EXPORT(PixelKernel<SaturationParams>::Fn, SaturationRows, Saturation)
QRX_SIMD_EXPORT(PixelKernel<SepiaParams>::Fn, SepiaRows, Sepia)

bool Fits16(int32_t v) {
    return v == static_cast<int16_t>(v);
}
} // namespace

PixelKernel<SaturationParams> SaturationKernel(int32_t k) {
    // The 16-bit lanes hold |k| up to 65535.
    return {k > -65536 && k < 65536 ? SaturationRows() : nullptr, {k}};
}

PixelKernel<SepiaParams> SepiaKernel(const SepiaParams& params) {
    return {Fits16(params.kR) && Fits16(params.kG) && Fits16(params.kB) ? SepiaRows() : nullptr,
            params};
}

} // namespace simd
#endif
