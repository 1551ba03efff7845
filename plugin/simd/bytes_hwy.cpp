// Words to packed red, green, blue bytes and back, a vector at a time. Within each 128-bit block a
// byte shuffle moves between four words and their twelve packed bytes; across blocks a shuffle of
// 32-bit lanes gathers the three packed lanes of every block to the front of the vector, or
// spreads consecutive packed lanes three to a block. A vector covers N words and 3N packed bytes
// but its loads and stores take 4N bytes: the main loops run while all 4N lie within the row (a
// store's last quarter is written again by the next one), and the rest goes through a buffer.
#include "simd/bytes.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/bytes_hwy.cpp"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "simd/rows-inl.h"
#include "simd/targets.h"

#if QRX_SIMD_DISPATCHED
HWY_BEFORE_NAMESPACE();
namespace simd {
namespace HWY_NAMESPACE {
namespace {

// The byte shuffle of a block between four words and their packed bytes: byte 3j + c of the
// packed bytes is byte at[c] of word j (c: red, green, blue); bytes indexed 0x80 are 0.
V8 BlockOrder(WordPlaces places, bool toWords) {
    const unsigned at[3] = {places.red / 8, places.green / 8, places.blue / 8};
    HWY_ALIGN uint8_t order[16];
    std::memset(order, 0x80, 16);
    for (unsigned j = 0; j < 4; ++j)
        for (unsigned c = 0; c < 3; ++c)
            if (toWords)
                order[4 * j + at[c]] = static_cast<uint8_t>(3 * j + c);
            else
                order[3 * j + c] = static_cast<uint8_t>(4 * j + at[c]);
    return hn::LoadDup128(D8(), order);
}

// The lane shuffle from lane[j] for lanes j < N.
template <class Lane> auto LaneOrder(Lane lane) {
    const D32 d;
    HWY_ALIGN int32_t order[HWY_MAX_BYTES / 4];
    for (size_t j = 0; j < hn::Lanes(d); ++j)
        order[j] = static_cast<int32_t>(lane(j));
    return hn::SetTableIndices(d, order);
}

} // namespace

void WordsToBytes(const uint32_t* src, int32_t n, uint8_t* out, WordPlaces places) {
    const D32 d;
    const D8 d8;
    const size_t N = hn::Lanes(d), count = static_cast<size_t>(n);
    const V8 order = BlockOrder(places, false);
    const auto gather = LaneOrder([&](size_t j) { return j < N / 4 * 3 ? j / 3 * 4 + j % 3 : 0; });
    const auto pack = [&](V32 words) {
        const V32 packed = hn::BitCast(d, hn::TableLookupBytesOr0(hn::BitCast(d8, words), order));
        return hn::BitCast(d8, N > 4 ? hn::TableLookupLanes(packed, gather) : packed);
    };
    size_t x = 0;
    for (; 3 * x + 4 * N <= 3 * count; x += N)
        hn::StoreU(pack(hn::LoadU(d, src + x)), d8, out + 3 * x);
    for (; x < count; x += N) {
        const size_t k = HWY_MIN(N, count - x);
        HWY_ALIGN uint8_t bytes[HWY_MAX_BYTES];
        hn::Store(pack(LoadWords(src + x, k)), d8, bytes);
        std::memcpy(out + 3 * x, bytes, 3 * k);
    }
}

void BytesToWords(const uint8_t* in, int32_t n, uint32_t* dst, WordPlaces places) {
    const D32 d;
    const D8 d8;
    const size_t N = hn::Lanes(d), count = static_cast<size_t>(n);
    const V8 order = BlockOrder(places, true);
    const auto spread = LaneOrder([](size_t j) { return j / 4 * 3 + (j % 4 < 2 ? j % 4 : 2); });
    const V32 opaque = hn::Set(d, places.opaque);
    const auto unpack = [&](V8 bytes) {
        const V32 packed = hn::BitCast(d, bytes);
        const V8 spreadBytes =
            hn::BitCast(d8, N > 4 ? hn::TableLookupLanes(packed, spread) : packed);
        return hn::Or(hn::BitCast(d, hn::TableLookupBytesOr0(spreadBytes, order)), opaque);
    };
    size_t x = 0;
    for (; 3 * x + 4 * N <= 3 * count; x += N)
        hn::StoreU(unpack(hn::LoadU(d8, in + 3 * x)), d, dst + x);
    for (; x < count; x += N) {
        const size_t k = HWY_MIN(N, count - x);
        HWY_ALIGN uint8_t bytes[HWY_MAX_BYTES] = {};
        std::memcpy(bytes, in + 3 * x, 3 * k);
        StoreWords(unpack(hn::Load(d8, bytes)), dst + x, k);
    }
}

} // namespace HWY_NAMESPACE
} // namespace simd
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace simd {

QRX_SIMD_EXPORT(WordsToBytesFn, WordsToRgbBytes, WordsToBytes)

QRX_SIMD_EXPORT(BytesToWordsFn, RgbBytesToWords, BytesToWords)

} // namespace simd
#endif
