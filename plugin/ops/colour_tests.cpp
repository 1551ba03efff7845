#include "ops/operations.h"

#include <algorithm>
#include <cstdlib>

#include "ops/skeleton.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/scans.h"

namespace {

// Pixels tested between two looks at the answer: a block is tested whole, without a branch per
// pixel, and the walk stops after the first block with a failing pixel. The answer is the same as
// stopping at the pixel itself.
constexpr int32_t kTestBlock = 256;

using simd::ColourTest;

// Whether a pixel passes test K; limit is the largest difference allowed between two components
// by the gray test (0 to 255).
template <ColourTest K> inline bool Passes(int limit, int red, int green, int blue) {
    if constexpr (K == ColourTest::Black)
        return (red | green | blue) == 0;
    else if constexpr (K == ColourTest::White)
        return (red & green & blue) == 255;
    else
        return (std::abs(red - green) <= limit) & (std::abs(red - blue) <= limit) &
               (std::abs(green - blue) <= limit);
}

// Walks the clipped rectangle and stops once a pixel that fails the test has been seen. No
// allocation.
template <ColourTest K>
bool AllPixelsPass(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height,
                   int limit = 0) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return false;
    const PixelSpan span = ResolveRectangle(left, top, width, height, reader.width, reader.height,
                                            OmittedWhen::Negative);
    const bool allPass = WithLayoutGroup(reader.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if (const simd::RowTestFn vector = simd::RowPasses(K))
            return ReadSpanRows(reader, span, [&](const uint32_t* row, int32_t) {
                return vector(row + span.x0, span.x1 - span.x0, PlacesOf<G>(), limit);
            });
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
    });
    reader.clear();
    return allPass;
}

} // namespace

bool isBlack(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass<ColourTest::Black>(pic, left, top, width, height);
}

bool isBlack2(REALpicture pic) {
    return isBlack(pic, 0, 0, -1, -1);
}

bool isWhite(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass<ColourTest::White>(pic, left, top, width, height);
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
    return AllPixelsPass<ColourTest::Gray>(pic, left, top, width, height, limit);
}

bool isGray2(REALpicture pic, int32_t tolerance) {
    return isGray(pic, tolerance, 0, 0, -1, -1);
}
