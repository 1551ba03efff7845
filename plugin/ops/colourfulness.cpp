#include "ops/operations.h"

#include "pixels/editor.h"
#include "pixels/layout_walk.h"

#if QRX_HAS_VECTOR_LOOPS
#include "ops/scan_vectors.h"
#endif

namespace {

constexpr int kDarkBelow = 30;

bool Colourful(int r, int g, int b, int32_t t) {
    if (r < kDarkBelow && g < kDarkBelow && b < kDarkBelow) return false;
    const int greenRed = g - r;
    const int greenBlue = g - b;
    return greenRed > t || greenRed < -static_cast<long long>(t) || greenBlue > t ||
           greenBlue < -static_cast<long long>(t);
}

// No difference of two components leaves -255 to 255, so a threshold beyond -256 to 256 decides
// every pixel as the nearest of those two does; within them the comparisons fit an int.
int ClampedThreshold(int32_t t) {
    return t < -256 ? -256 : t > 256 ? 256 : t;
}

// Colourful without a branch: the same answer for the same pixel.
unsigned ColourfulBit(uint32_t r, uint32_t g, uint32_t b, int t) {
    const unsigned dark = (r < kDarkBelow) & (g < kDarkBelow) & (b < kDarkBelow);
    const int greenRed = static_cast<int>(g) - static_cast<int>(r);
    const int greenBlue = static_cast<int>(g) - static_cast<int>(b);
    const unsigned apart = (greenRed > t) | (greenRed < -t) | (greenBlue > t) | (greenBlue < -t);
    return apart & ~dark & 1u;
}

#if QRX_HAS_VECTOR_LOOPS

// The colourful test for 16 words of group G at a time. Green is the middle colour byte in
// every group, so the neighbour differences hold |green - red| and |green - blue| in the lowest
// two colour bytes. A pixel is apart when one of them exceeds t, which a non-zero byte after the
// saturating subtraction of t shows; with a negative t every pixel is apart (each difference is
// above t or below -t), and a t of 255 or more leaves none apart, as no difference exceeds 255.
// A pixel is not dark when one of its colour bytes exceeds 29.
struct VectorColourful {
    __m512i limit;     // t in every byte (0 when t is negative)
    __m512i pairBytes; // the bytes of the two differences with green
    __m512i colourBytes;
    __m512i darkLimit;  // 29 in every byte
    __mmask16 allApart; // every lane when t is negative
};

template <LayoutGroup G> QRX_AVX512 VectorColourful PrepareColourful(int t) {
    constexpr unsigned low = LowestColourByte<G>();
    const int limit = t < 0 ? 0 : t > 255 ? 255 : t;
    return {_mm512_set1_epi8(static_cast<char>(limit)),
            _mm512_set1_epi32(static_cast<int>(WordBytes(low, 2))),
            _mm512_set1_epi32(static_cast<int>(ColourBits<G>())), _mm512_set1_epi8(kDarkBelow - 1),
            static_cast<__mmask16>(t < 0 ? 0xFFFF : 0)};
}

QRX_AVX512 inline __mmask16 ColourfulLanes(const VectorColourful& c, __m512i words) {
    const __mmask16 apart =
        _mm512_test_epi32_mask(_mm512_subs_epu8(NeighbourDifferences(words), c.limit),
                               c.pairBytes) |
        c.allApart;
    const __mmask16 lit =
        _mm512_test_epi32_mask(_mm512_subs_epu8(words, c.darkLimit), c.colourBytes);
    return apart & lit;
}

// Lane counts are added one register at a time and summed at the end; no lane holds more than a
// picture's pixels, which fit 32 bits.
template <LayoutGroup G>
QRX_AVX512 int32_t CountColourfulVector(PictureReader& reader, int32_t W, int32_t H, int t) {
    const VectorColourful c = PrepareColourful<G>(t);
    const __m512i minusOne = _mm512_set1_epi32(-1);
    __m512i lanes = _mm512_setzero_si512();
    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* row = reader.GetRow(y);
        int32_t x = 0;
        for (; x + 16 <= W; x += 16)
            lanes = _mm512_mask_sub_epi32(lanes, ColourfulLanes(c, _mm512_loadu_si512(row + x)),
                                          lanes, minusOne);
        if (x < W) {
            const __mmask16 rest = TailLanes(W - x);
            lanes = _mm512_mask_sub_epi32(
                lanes, rest & ColourfulLanes(c, _mm512_maskz_loadu_epi32(rest, row + x)), lanes,
                minusOne);
        }
    }
    return static_cast<int32_t>(static_cast<uint32_t>(_mm512_reduce_add_epi32(lanes)));
}

#endif

} // namespace

double ColornessQRX(REALpicture pic, int32_t threshold) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return 0.0;
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType type = reader.pixelType;
    int32_t count = 0;
    WithLayoutGroup(type, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if constexpr (G == LayoutGroup::Other) {
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = reader.GetRow(y);
                for (int32_t x = 0; x < W; ++x) {
                    int r, g, b;
                    Components<G>(type, row[x], r, g, b);
                    if (Colourful(r, g, b, threshold)) ++count;
                }
            }
        } else {
            const int t = ClampedThreshold(threshold);
#if QRX_HAS_VECTOR_LOOPS
            if (ActiveVectorLevel() == VectorLevel::Avx512) {
                count = CountColourfulVector<G>(reader, W, H, t);
                return;
            }
#endif
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = reader.GetRow(y);
                unsigned inRow = 0;
                for (int32_t x = 0; x < W; ++x)
                    inRow +=
                        ColourfulBit(RedOf<G>(row[x]), GreenOf<G>(row[x]), BlueOf<G>(row[x]), t);
                count += static_cast<int32_t>(inRow);
            }
        }
    });
    // The pixel count is formed as a 32-bit product, as the host's integers are.
    const auto pixels = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
    return static_cast<double>(count) / static_cast<double>(pixels);
}
