// The rectangle a filter object walks and the walk itself, shared by the two filter classes.
#pragma once

#include <algorithm>
#include <cstdint>

#include "ops/skeleton.h"
#include "pixels/editor.h"

// Columns x0 to x1 - 1 of rows y0 to y1 - 1.
using FilterRectangle = PixelSpan;

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
// The vector kernel, when the active target has one, stands for map between known groups.
template <class Map, class Params = simd::NoParams>
void WalkFilterRectangle(PictureReader& reader, PictureWriter& writer, const FilterRectangle& rect,
                         Map map, const simd::PixelKernel<Params>& vector = {}) {
    TransformSpan(reader, writer, rect, map, Depends::WholePixel, vector);
}
