// The skeleton shared by the single-source picture operations: a reader on the source, a writer
// on a new picture of its size, a clipped rectangle walked row by row, each pixel decoded,
// changed and encoded in the writer's layout.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pixels/editor.h"
#include "sdk/records.h"

// The clipped rectangle an operation walks: columns x0 to x1 - 1 of rows y0 to y1 - 1.
struct PixelSpan {
    int32_t x0, y0, x1, y1;
};

// Which width or height argument stands for the picture's own size.
enum class OmittedWhen { BelowOne, Negative };

// Clips the rectangle (left, top, width, height) to a picture of W by H pixels. An omitted width
// or height is replaced by the picture's, the rectangle still starting at left or top.
inline PixelSpan ResolveRectangle(int32_t left, int32_t top, int32_t width, int32_t height,
                                  int32_t W, int32_t H, OmittedWhen omitted) {
    auto isOmitted = [omitted](int32_t size) {
        return omitted == OmittedWhen::BelowOne ? size < 1 : size < 0;
    };
    const int32_t w = isOmitted(width) ? W : width;
    const int32_t h = isOmitted(height) ? H : height;
    // Host integers wrap: the sums are formed as 32-bit host arithmetic forms them.
    const auto right = static_cast<int32_t>(static_cast<uint32_t>(left) + static_cast<uint32_t>(w));
    const auto bottom = static_cast<int32_t>(static_cast<uint32_t>(top) + static_cast<uint32_t>(h));
    return {std::max(left, 0), std::max(top, 0), std::min(right, W), std::min(bottom, H)};
}

// The single-source skeleton over the rectangle (left, top, width, height) of pic. Each pixel is
// decoded and given to transform(red, green, blue), which changes the three components in place
// (to values in 0 to 255), and encoded in the writer's layout. Pixels outside the rectangle are
// not written. Per-call state (factors, offsets) travels in the transform's captures, computed
// once before the walk.
template <class Transform>
REALpicture TransformRectangle(REALpicture pic, int32_t left, int32_t top, int32_t width,
                               int32_t height, OmittedWhen omitted, Transform transform) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    const int32_t W = reader.width;
    const int32_t H = reader.height;

    PictureWriter writer;
    if (!writer.NewPictureWriter(reader)) {
        reader.clear();
        return nullptr;
    }

    const PixelSpan span = ResolveRectangle(left, top, width, height, W, H, omitted);
    // Rows above the rectangle are skipped; an empty walk needs no skipping (it would only move
    // row pointers that are never used).
    for (int32_t y = 0; y < span.y0 && span.y0 < span.y1; ++y) {
        writer.AddPixelRow();
        reader.AddPixelRow();
    }
    for (int32_t y = span.y0; y < span.y1; ++y) {
        if (span.x0 < span.x1) {
            const uint32_t* src = reader.rowPointer + span.x0;
            uint32_t* dst = writer.rowPointer + span.x0;
            for (int32_t x = span.x0; x < span.x1; ++x) {
                int red, green, blue;
                DecodePixel(reader.pixelType, src, red, green, blue);
                transform(red, green, blue);
                EncodePixel(writer.pixelType, dst, red, green, blue);
            }
        }
        writer.AddPixelRow();
        reader.AddPixelRow();
    }

    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}

// The skeleton over the whole of pic: every pixel of the result is written.
template <class Transform> REALpicture TransformWholePicture(REALpicture pic, Transform transform) {
    return TransformRectangle(pic, 0, 0, -1, -1, OmittedWhen::Negative, transform);
}
