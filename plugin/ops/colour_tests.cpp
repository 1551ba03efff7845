#include "ops/operations.h"

#include <algorithm>
#include <cstdlib>

#include "ops/skeleton.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"

#if QRX_HAS_VECTOR_LOOPS
#include "ops/scan_vectors.h"
#endif

namespace {

// Pixels tested between two looks at the answer: a block is tested whole, without a branch per
// pixel, and the walk stops after the first block with a failing pixel. The answer is the same as
// stopping at the pixel itself.
constexpr int32_t kTestBlock = 256;

enum class TestKind { Black, White, Gray };

// Whether a pixel passes test K; limit is the largest difference allowed between two components
// by the gray test (0 to 255).
template <TestKind K> inline bool Passes(int limit, int red, int green, int blue) {
    if constexpr (K == TestKind::Black)
        return (red | green | blue) == 0;
    else if constexpr (K == TestKind::White)
        return (red & green & blue) == 255;
    else
        return (std::abs(red - green) <= limit) & (std::abs(red - blue) <= limit) &
               (std::abs(green - blue) <= limit);
}

#if QRX_HAS_VECTOR_LOOPS

// What the vector test of a group needs, prepared once per call.
struct VectorTest {
    __m512i colourBits;    // the colour bits of every word
    __m512i limit;         // the largest allowed difference in every byte
    __m512i neighbourBits; // the bytes of the red-green and green-blue (or blue-green, green-red)
                           // differences in NeighbourDifferences
    __m512i farBits;       // the byte of the red-blue difference in FarDifferences
};

template <LayoutGroup G> QRX_AVX512 VectorTest PrepareVectorTest(int limit) {
    constexpr unsigned low = LowestColourByte<G>();
    return {_mm512_set1_epi32(static_cast<int>(ColourBits<G>())),
            _mm512_set1_epi8(static_cast<char>(limit)),
            _mm512_set1_epi32(static_cast<int>(WordBytes(low, 2))),
            _mm512_set1_epi32(static_cast<int>(WordBytes(low, 1)))};
}

// Bits set in the lanes of the words that fail the test, and only there.
template <TestKind K> QRX_AVX512 inline __m512i FailingBits(const VectorTest& t, __m512i words) {
    if constexpr (K == TestKind::Black) {
        return _mm512_and_si512(words, t.colourBits);
    } else if constexpr (K == TestKind::White) {
        return _mm512_andnot_si512(words, t.colourBits);
    } else {
        // A difference above the limit leaves a non-zero byte after the saturating subtraction.
        const __m512i near = _mm512_subs_epu8(NeighbourDifferences(words), t.limit);
        const __m512i far = _mm512_subs_epu8(FarDifferences(words), t.limit);
        return _mm512_or_si512(_mm512_and_si512(near, t.neighbourBits),
                               _mm512_and_si512(far, t.farBits));
    }
}

// Whether all n words pass: four registers are tested between two looks at the answer.
template <TestKind K>
QRX_AVX512 bool RowPassesVector(const VectorTest& t, const uint32_t* px, int32_t n) {
    int32_t x = 0;
    for (; x + 64 <= n; x += 64) {
        const __m512i a = FailingBits<K>(t, _mm512_loadu_si512(px + x));
        const __m512i b = FailingBits<K>(t, _mm512_loadu_si512(px + x + 16));
        const __m512i c = FailingBits<K>(t, _mm512_loadu_si512(px + x + 32));
        const __m512i d = FailingBits<K>(t, _mm512_loadu_si512(px + x + 48));
        const __m512i any = _mm512_or_si512(_mm512_or_si512(a, b), _mm512_or_si512(c, d));
        if (_mm512_test_epi32_mask(any, any)) return false;
    }
    for (; x + 16 <= n; x += 16) {
        const __m512i bad = FailingBits<K>(t, _mm512_loadu_si512(px + x));
        if (_mm512_test_epi32_mask(bad, bad)) return false;
    }
    if (x < n) {
        const __mmask16 rest = TailLanes(n - x);
        const __m512i bad = FailingBits<K>(t, _mm512_maskz_loadu_epi32(rest, px + x));
        if (_mm512_mask_test_epi32_mask(rest, bad, bad)) return false;
    }
    return true;
}

template <TestKind K, LayoutGroup G>
QRX_AVX512 bool SpanPassesVector(PictureReader& reader, const PixelSpan& span, int limit) {
    const VectorTest t = PrepareVectorTest<G>(limit);
    const int32_t n = span.x1 - span.x0;
    return ReadSpanRows(reader, span, [&](const uint32_t* row, int32_t) {
        return RowPassesVector<K>(t, row + span.x0, n);
    });
}

#endif

// Walks the clipped rectangle and stops once a pixel that fails the test has been seen. No
// allocation.
template <TestKind K>
bool AllPixelsPass(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height,
                   int limit = 0) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return false;
    const PixelSpan span = ResolveRectangle(left, top, width, height, reader.width, reader.height,
                                            OmittedWhen::Negative);
    const RBPixelType type = reader.pixelType;
    const bool allPass = WithLayoutGroup(type, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if constexpr (G == LayoutGroup::Other) {
            return ReadSpanRows(reader, span, [&](const uint32_t* row, int32_t) {
                for (int32_t x = span.x0; x < span.x1; ++x) {
                    int red, green, blue;
                    Components<G>(type, row[x], red, green, blue);
                    if (!Passes<K>(limit, red, green, blue)) return false;
                }
                return true;
            });
        } else {
#if QRX_HAS_VECTOR_LOOPS
            if (ActiveVectorLevel() == VectorLevel::Avx512)
                return SpanPassesVector<K, G>(reader, span, limit);
#endif
            return ReadSpanRows(reader, span, [&](const uint32_t* row, int32_t) {
                for (int32_t x = span.x0; x < span.x1; x += kTestBlock) {
                    const int32_t end = x + std::min(kTestBlock, span.x1 - x);
                    unsigned failed = 0;
                    for (int32_t i = x; i < end; ++i)
                        failed |= Passes<K>(limit, static_cast<int>(RedOf<G>(row[i])),
                                            static_cast<int>(GreenOf<G>(row[i])),
                                            static_cast<int>(BlueOf<G>(row[i])))
                                      ? 0u
                                      : 1u;
                    if (failed) return false;
                }
                return true;
            });
        }
    });
    reader.clear();
    return allPass;
}

} // namespace

bool isBlack(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass<TestKind::Black>(pic, left, top, width, height);
}

bool isBlack2(REALpicture pic) {
    return isBlack(pic, 0, 0, -1, -1);
}

bool isWhite(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass<TestKind::White>(pic, left, top, width, height);
}

bool isWhite2(REALpicture pic) {
    return isWhite(pic, 0, 0, -1, -1);
}

bool isGray(REALpicture pic, int32_t tolerance, int32_t left, int32_t top, int32_t width,
            int32_t height) {
    // The absolute value is taken in 64 bits: the most negative integer is a tolerance that
    // every pixel meets.
    const long long t = std::llabs(static_cast<long long>(tolerance));
    // No two components differ by more than 255: any larger tolerance acts as 255.
    const int limit = static_cast<int>(std::min(t, 255LL));
    return AllPixelsPass<TestKind::Gray>(pic, left, top, width, height, limit);
}

bool isGray2(REALpicture pic, int32_t tolerance) {
    return isGray(pic, tolerance, 0, 0, -1, -1);
}
