// The rectangle a filter object walks and the walk itself, shared by the two filter classes.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pixels/editor.h"

// Columns x0 to x1 - 1 of rows y0 to y1 - 1.
struct FilterRectangle {
    int32_t x0, y0, x1, y1;
};

// The rectangle of an object's MinX, MinY, MaxX, MaxY on a picture of W by H pixels: a right or
// bottom edge that is not above the left or top edge, or not inside the picture, means the
// picture's edge; negative left and top edges mean 0.
inline FilterRectangle ResolveFilterRectangle(int32_t minX, int32_t minY, int32_t maxX,
                                              int32_t maxY, int32_t W, int32_t H) {
    return {std::max(minX, 0), std::max(minY, 0), (maxX > minX && maxX < W) ? maxX : W,
            (maxY > minY && maxY < H) ? maxY : H};
}

// Walks the rectangle of reader and writer in step, handing each source pixel's colour to
// map(red, green, blue) to change in place and storing it in the writer's layout at the same
// position. Pixels outside the rectangle are not written.
template <class Map>
void WalkFilterRectangle(PictureReader& reader, PictureWriter& writer, const FilterRectangle& rect,
                         Map map) {
    // Rows above the rectangle are skipped on both editors; when no row is walked the skipping
    // would only move row pointers that are never used, so it is left out.
    if (rect.y0 >= rect.y1) return;
    for (int32_t y = 0; y < rect.y0; ++y) {
        writer.AddPixelRow();
        reader.AddPixelRow();
    }
    for (int32_t y = rect.y0; y < rect.y1; ++y) {
        if (rect.x0 < rect.x1) {
            const uint32_t* src = reader.rowPointer + rect.x0;
            uint32_t* dst = writer.rowPointer + rect.x0;
            for (int32_t x = rect.x0; x < rect.x1; ++x) {
                int red, green, blue;
                DecodePixel(reader.pixelType, src, red, green, blue);
                map(red, green, blue);
                EncodePixel(writer.pixelType, dst, red, green, blue);
            }
        }
        writer.AddPixelRow();
        reader.AddPixelRow();
    }
}
