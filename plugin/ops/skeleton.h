// The skeleton shared by the single-source picture operations: a reader on the source, a writer
// on a new picture of its size, a clipped rectangle walked row by row, each pixel decoded,
// changed and encoded in the writer's layout.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "sdk/records.h"
#include "simd/pixels.h"
#include "simd/rows.h"

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

// What a transform's results depend on. OwnComponent: the new red depends on the old red alone,
// green on green, blue on blue, so a walk may map each component through a 256-entry table made
// by calling the transform itself on the grays (v, v, v), once per call.
enum class Depends { WholePixel, OwnComponent };

template <class Transform> void FillComponentTables(ComponentTables& tables, Transform& transform) {
    for (int v = 0; v < 256; ++v) {
        int red = v, green = v, blue = v;
        transform(red, green, blue);
        tables.red[v] = static_cast<uint8_t>(red);
        tables.green[v] = static_cast<uint8_t>(green);
        tables.blue[v] = static_cast<uint8_t>(blue);
    }
}

// A row between two known groups, the transform called on every pixel.
template <LayoutGroup S, LayoutGroup D, class Transform>
void TransformRow(const uint32_t* src, uint32_t* dst, int32_t n, Transform& transform) {
    for (int32_t x = 0; x < n; ++x) {
        const uint32_t w = src[x];
        auto red = static_cast<int>(RedOf<S>(w));
        auto green = static_cast<int>(GreenOf<S>(w));
        auto blue = static_cast<int>(BlueOf<S>(w));
        transform(red, green, blue);
        dst[x] = Pack<D>(static_cast<uint32_t>(red), static_cast<uint32_t>(green),
                         static_cast<uint32_t>(blue));
    }
}

// Component tables as words of a known group: each entry its value at its component's place, the
// opaque bits in every red entry, so that a pixel is three lookups ored together.
struct WordTables {
    uint32_t red[256], green[256], blue[256];
};

// A row between two known groups, each component looked up in its table. Kept scalar: GCC's
// vectorizer makes the lookups a slow emulated gather (1.4 x the time of this loop).
template <LayoutGroup S>
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
void MapRowThroughTables(const uint32_t* src, uint32_t* dst, int32_t n, const WordTables& words) {
    // The components read as bytes (a word's bits 8k to 8k + 7 are its byte k in memory).
    static_assert(std::endian::native == std::endian::little);
    using B = GroupBits<S>;
    const auto* bytes = reinterpret_cast<const uint8_t*>(src);
    for (int32_t x = 0; x < n; ++x, bytes += 4)
        dst[x] = words.red[bytes[B::red / 8]] | words.green[bytes[B::green / 8]] |
                 words.blue[bytes[B::blue / 8]];
}

// Walks span of reader and writer in step, each component of a source pixel looked up in its table
// and the colour stored in the writer's layout at the same place: the target's table loop when it
// has one, else the scalar loop.
inline void MapSpanThroughTables(PictureReader& reader, PictureWriter& writer,
                                 const PixelSpan& span, const ComponentTables& tables) {
    WithLayoutGroups(reader.pixelType, writer.pixelType, [&](auto source, auto dest) {
        constexpr LayoutGroup S = decltype(source)::value;
        constexpr LayoutGroup D = decltype(dest)::value;
        const simd::MapTablesFn map = simd::MapRowThroughTables();
        WordTables words;
        if (!map)
            for (uint32_t v = 0; v < 256; ++v) {
                words.red[v] = Pack<D>(tables.red[v], 0, 0);
                words.green[v] = Pack<D>(0, tables.green[v], 0) & ColourBits<D>();
                words.blue[v] = Pack<D>(0, 0, tables.blue[v]) & ColourBits<D>();
            }
        WalkSpanRowsInStep(reader, writer, span,
                           [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                               if (map)
                                   map(src, dst, n, tables, PlacesOf<S>(), PlacesOf<D>());
                               else
                                   MapRowThroughTables<S>(src, dst, n, words);
                           });
    });
}

// Walks span of reader and writer in step, each source pixel's colour given to
// transform(red, green, blue) to change in place (to values in 0 to 255) and stored in the
// writer's layout at the same place. Pixels outside the span are not written. The vector kernel,
// when the target has one, stands for the transform; else a component-wise transform is mapped
// through tables made from it, and any other is called on every pixel.
template <class Transform, class Params = simd::NoParams>
void TransformSpan(PictureReader& reader, PictureWriter& writer, const PixelSpan& span,
                   Transform& transform, Depends depends,
                   const simd::PixelKernel<Params>& vector = {}) {
    if (vector.fn == nullptr && depends == Depends::OwnComponent) {
        ComponentTables tables;
        FillComponentTables(tables, transform);
        MapSpanThroughTables(reader, writer, span, tables);
        return;
    }
    WithLayoutGroups(reader.pixelType, writer.pixelType, [&](auto source, auto dest) {
        constexpr LayoutGroup S = decltype(source)::value;
        constexpr LayoutGroup D = decltype(dest)::value;
        WalkSpanRowsInStep(
            reader, writer, span, [&](const uint32_t* src, uint32_t* dst, int32_t n) {
                if (vector.fn != nullptr)
                    vector.fn(src, dst, n, PlacesOf<S>(), PlacesOf<D>(), vector.params);
                else
                    TransformRow<S, D>(src, dst, n, transform);
            });
    });
}

// The single-source skeleton over the rectangle (left, top, width, height) of pic. Each pixel is
// decoded and given to transform(red, green, blue), which changes the three components in place
// (to values in 0 to 255), and encoded in the writer's layout. Pixels outside the rectangle are
// not written. Per-call state (factors, offsets) travels in the transform's captures, computed
// once before the walk.
template <class Transform, class Params = simd::NoParams>
REALpicture TransformRectangle(REALpicture pic, int32_t left, int32_t top, int32_t width,
                               int32_t height, OmittedWhen omitted, Transform transform,
                               Depends depends = Depends::WholePixel,
                               const simd::PixelKernel<Params>& vector = {}) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader)) return nullptr;
    const PixelSpan span =
        ResolveRectangle(left, top, width, height, reader.width, reader.height, omitted);
    TransformSpan(reader, writer, span, transform, depends, vector);
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}

// The skeleton over the whole of pic: every pixel of the result is written.
template <class Transform, class Params = simd::NoParams>
REALpicture TransformWholePicture(REALpicture pic, Transform transform,
                                  Depends depends = Depends::WholePixel,
                                  const simd::PixelKernel<Params>& vector = {}) {
    return TransformRectangle(pic, 0, 0, -1, -1, OmittedWhen::Negative, transform, depends, vector);
}

// The whole of pic with each component mapped on its own: red(v), green(v) and blue(v) give the
// new value (0 to 255) of a component v. Each map is called only on 0 to 255, once per call, to
// fill the tables that the walk looks up.
template <class Map>
REALpicture MapComponents(REALpicture pic, const Map& red, const Map& green, const Map& blue) {
    return TransformWholePicture(
        pic,
        [&](int& r, int& g, int& b) {
            r = red(r);
            g = green(g);
            b = blue(b);
        },
        Depends::OwnComponent);
}
