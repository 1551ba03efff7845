#include "ops/colour_tests.h"

#include <cstdlib>

#include "ops/layout_walk.h"
#include "ops/skeleton.h"
#include "pixels/editor.h"

namespace {

// Walks the clipped rectangle and stops at the first pixel for which passes(red, green, blue) is
// false. No allocation.
template <class Test>
bool AllPixelsPass(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height,
                   Test passes) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return false;
    const PixelSpan span = ResolveRectangle(left, top, width, height, reader.width, reader.height,
                                            OmittedWhen::Negative);
    bool allPass = true;
    if (span.x0 < span.x1 && span.y0 < span.y1) {
        for (int32_t y = 0; y < span.y0; ++y)
            reader.AddPixelRow();
        const RBPixelType type = reader.pixelType;
        WithLayoutGroup(type, [&](auto group) {
            for (int32_t y = span.y0; y < span.y1; ++y) {
                const uint32_t* row = reader.rowPointer;
                for (int32_t x = span.x0; x < span.x1; ++x) {
                    int red, green, blue;
                    Components<decltype(group)::value>(type, row[x], red, green, blue);
                    if (!passes(red, green, blue)) {
                        allPass = false;
                        return;
                    }
                }
                reader.AddPixelRow();
            }
        });
    }
    reader.clear();
    return allPass;
}

} // namespace

bool isBlack(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass(pic, left, top, width, height, [](int red, int green, int blue) {
        return red == 0 && green == 0 && blue == 0;
    });
}

bool isBlack2(REALpicture pic) {
    return isBlack(pic, 0, 0, -1, -1);
}

bool isWhite(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height) {
    return AllPixelsPass(pic, left, top, width, height, [](int red, int green, int blue) {
        return red == 255 && green == 255 && blue == 255;
    });
}

bool isWhite2(REALpicture pic) {
    return isWhite(pic, 0, 0, -1, -1);
}

bool isGray(REALpicture pic, int32_t tolerance, int32_t left, int32_t top, int32_t width,
            int32_t height) {
    // The absolute value is taken in 64 bits: the most negative integer is a tolerance that
    // every pixel meets.
    const long long t = std::llabs(static_cast<long long>(tolerance));
    return AllPixelsPass(pic, left, top, width, height, [t](int red, int green, int blue) {
        return std::abs(red - green) <= t && std::abs(red - blue) <= t &&
               std::abs(green - blue) <= t;
    });
}

bool isGray2(REALpicture pic, int32_t tolerance) {
    return isGray(pic, tolerance, 0, 0, -1, -1);
}
