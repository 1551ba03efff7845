// Sums of the positive and of the negative audio samples, a vector at a time. Samples become
// signed lanes (centred formats by flipping the top bit), and their positive and negative parts
// are split by a maximum and a minimum with 0.
#include "simd/samples.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/samples_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

// Calls add(s) with the signed samples from to to - 1 of lane type D, a vector at a time, the top
// bit of each flipped by flip; lanes past to are 0. Nothing past sample to - 1 is read.
template <class D, class Add>
void ForSamples(D d, const uint8_t* data, int64_t from, int64_t to, hn::TFromD<D> flip,
                const Add& add) {
    const hn::Repartition<uint8_t, D> d8;
    constexpr size_t kSize = sizeof(hn::TFromD<D>);
    const auto top = hn::Set(d, flip);
    const auto N = static_cast<int64_t>(hn::Lanes(d));
    int64_t i = from;
    for (; i + N <= to; i += N)
        add(hn::Xor(hn::BitCast(d, hn::LoadU(d8, data + kSize * i)), top));
    if (i < to) {
        HWY_ALIGN uint8_t bytes[HWY_MAX_BYTES] = {};
        std::memcpy(bytes, data + kSize * i, kSize * static_cast<size_t>(to - i));
        const auto s = hn::Xor(hn::BitCast(d, hn::Load(d8, bytes)), top);
        add(hn::IfThenElseZero(hn::FirstN(d, static_cast<size_t>(to - i)), s));
    }
}

// Bytes: the positive parts (0 to 127) and the negative parts' magnitudes (0 to 128, the byte
// -128 negated reads as 128 unsigned) summed eight at a time into 64-bit lanes.
void SumBytes(const uint8_t* data, int64_t start, int64_t end, bool centred, int64_t& P,
              int64_t& M) {
    const hn::ScalableTag<int8_t> d;
    const hn::RebindToUnsigned<decltype(d)> du;
    const hn::Repartition<uint64_t, decltype(d)> d64;
    const auto zero = hn::Zero(d);
    auto plus = hn::Zero(d64), minus = hn::Zero(d64);
    ForSamples(
        d, data, start, end, centred ? int8_t(-128) : int8_t(0), [&](hn::Vec<decltype(d)> s) {
            plus = hn::Add(plus, hn::SumsOf8(hn::BitCast(du, hn::Max(s, zero))));
            minus = hn::Add(minus, hn::SumsOf8(hn::BitCast(du, hn::Sub(zero, hn::Min(s, zero)))));
        });
    P = static_cast<int64_t>(hn::GetLane(hn::SumOfLanes(d64, plus)));
    M = -static_cast<int64_t>(hn::GetLane(hn::SumOfLanes(d64, minus)));
}

// 16-bit samples: pairs added into 32-bit lanes, in blocks of 65536 samples, where no lane can
// overflow (65536 x -32768 is -2^31); the blocks are added in 64 bits.
void SumWords(const uint8_t* data, int64_t start, int64_t end, bool centred, int64_t& P,
              int64_t& M) {
    constexpr int64_t kBlock = 65536;
    const hn::ScalableTag<int16_t> d;
    const hn::Repartition<int32_t, decltype(d)> d32;
    const auto zero = hn::Zero(d), one = hn::Set(d, 1);
    int64_t p = 0, m = 0;
    for (int64_t from = start; from < end; from += kBlock) {
        auto plus = hn::Zero(d32), plus1 = plus, minus = plus, minus1 = plus;
        ForSamples(d, data, from, end - from < kBlock ? end : from + kBlock,
                   centred ? int16_t(-32768) : int16_t(0), [&](hn::Vec<decltype(d)> s) {
                       plus =
                           hn::ReorderWidenMulAccumulate(d32, hn::Max(s, zero), one, plus, plus1);
                       minus =
                           hn::ReorderWidenMulAccumulate(d32, hn::Min(s, zero), one, minus, minus1);
                   });
        p += hn::GetLane(hn::SumOfLanes(d32, hn::Add(plus, plus1)));
        m += hn::GetLane(hn::SumOfLanes(d32, hn::Add(minus, minus1)));
    }
    P = p;
    M = m;
}

} // namespace

void SumSamples(const uint8_t* data, int64_t start, int64_t end, int bits, int64_t& positive,
                int64_t& negative) {
    if (bits <= 8)
        SumBytes(data, start, end, bits == 8, positive, negative);
    else
        SumWords(data, start, end, bits == 16, positive, negative);
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

QRX_SIMD_EXPORT(SumSamplesFn, SampleSums, SumSamples)

} // namespace simd
#endif
