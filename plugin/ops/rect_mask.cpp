#include "ops/operations.h"

#include <cstring>

#include "host/helpers.h"
#include "ops/skeleton.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"

namespace {

// A byte map of the picture with a frame of one byte on every side that stays 0, so neighbour
// tests at the picture's edges read the frame instead of leaving the map.
struct FramedMap {
    unsigned char* bytes;
    long long stride; // W + 2

    unsigned char& at(int32_t x, int32_t y) const { return bytes[(y + 1) * stride + (x + 1)]; }
};

bool RowHasColour(const FramedMap& m, int32_t y, int32_t left, int32_t right) {
    for (int32_t x = left; x <= right; ++x)
        if (m.at(x, y)) return true;
    return false;
}

bool ColumnHasColour(const FramedMap& m, int32_t x, int32_t top, int32_t bottom) {
    for (int32_t y = top; y <= bottom; ++y)
        if (m.at(x, y)) return true;
    return false;
}

// The index of the first byte that is not 0 from index from on, or end when there is none. Eight
// bytes are tested at a time; maps are mostly 0.
long long FirstSetByte(const unsigned char* bytes, long long from, long long end) {
    long long i = from;
    for (; i < end && (i & 7) != 0; ++i)
        if (bytes[i]) return i;
    for (; i + 8 <= end; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word) break;
    }
    for (; i < end; ++i)
        if (bytes[i]) return i;
    return end;
}

// Finds the areas of the colour map one by one and marks their rectangles in the rectangle map.
// Each search for the next area resumes at the first pixel of the last one instead of the
// top-left corner: every pixel before that one was already 0 when it was found, and covering an
// area only ever clears pixels, so the first pixel not 0 is the same as a search from the corner
// finds. The search runs over the map's bytes in order, frame included: the frame's bytes are 0,
// so the first byte not 0 is the first coloured pixel in row-major order. The cost is then the
// map's size once plus the areas' growth, however many areas there are.
void CoverAreas(const FramedMap& colour, const FramedMap& rect, int32_t H) {
    const long long end = (static_cast<long long>(H) + 1) * colour.stride;
    long long from = colour.stride + 1; // pixel (0, 0)
    for (;;) {
        from = FirstSetByte(colour.bytes, from, end);
        if (from >= end) return;
        const auto startY = static_cast<int32_t>(from / colour.stride - 1);
        const auto startX = static_cast<int32_t>(from % colour.stride - 1);

        int32_t top = startY, bottom = startY, left = startX, right = startX;
        bool moved = true;
        while (moved) {
            // Rows use the columns as the pass found them; columns use the rows as the row steps
            // left them.
            const int32_t passLeft = left, passRight = right;
            moved = false;
            if (RowHasColour(colour, top - 1, passLeft, passRight)) --top, moved = true;
            if (RowHasColour(colour, bottom + 1, passLeft, passRight)) ++bottom, moved = true;
            if (ColumnHasColour(colour, passLeft - 1, top, bottom)) --left, moved = true;
            if (ColumnHasColour(colour, passRight + 1, top, bottom)) ++right, moved = true;
        }
        const auto width = static_cast<size_t>(right - left + 1);
        for (int32_t y = top; y <= bottom; ++y) {
            std::memset(&colour.at(left, y), 0, width);
            std::memset(&rect.at(left, y), 1, width);
        }
    }
}

} // namespace

REALpicture ExtractColorRectangleMaskQRX(REALpicture pic, int32_t left, int32_t top, int32_t width,
                                         int32_t height) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const long long mapSize = (static_cast<long long>(W) + 2) * (static_cast<long long>(H) + 2);
    auto* colourBytes = static_cast<unsigned char*>(AllocateClearMemory(mapSize));
    auto* rectBytes = static_cast<unsigned char*>(AllocateClearMemory(mapSize));
    PictureWriter writer;
    if (!colourBytes || !rectBytes || !writer.NewPictureWriter(W, H)) {
        FreeMemoryNow(colourBytes);
        FreeMemoryNow(rectBytes);
        reader.clear();
        return nullptr;
    }
    const FramedMap colour{colourBytes, static_cast<long long>(W) + 2};
    const FramedMap rect{rectBytes, static_cast<long long>(W) + 2};

    const PixelSpan span = ResolveRectangle(left, top, width, height, W, H, OmittedWhen::Negative);
    const RBPixelType type = reader.pixelType;
    WithLayoutGroup(type, [&](auto group) {
        ReadSpanRows(reader, span, [&](const uint32_t* row, int32_t y) {
            for (int32_t x = span.x0; x < span.x1; ++x) {
                int r, g, b;
                Components<decltype(group)::value>(row[x], r, g, b);
                colour.at(x, y) = (r != g || g != b) ? 1 : 0;
            }
            return true;
        });
    });

    CoverAreas(colour, rect, H);

    uint32_t black = 0, white = 0;
    EncodePixel(writer.pixelType, 0, 0, 0, black);
    EncodePixel(writer.pixelType, 255, 255, 255, white);
    for (int32_t y = 0; y < H; ++y) {
        uint32_t* dst = writer.rowPointer;
        for (int32_t x = 0; x < W; ++x)
            dst[x] = rect.at(x, y) ? black : white;
        writer.AddPixelRow();
    }

    REALpicture result = writer.RenderPictureWriter();
    FreeMemoryNow(colourBytes);
    FreeMemoryNow(rectBytes);
    reader.clear();
    return result;
}

REALpicture ExtractColorRectangleMaskQRX2(REALpicture pic) {
    return ExtractColorRectangleMaskQRX(pic, 0, 0, -1, -1);
}
