// Pixel loops by layout group: the group of the pixel words is fixed at compile time, so each loop
// reads and stores the bytes of its layout directly, exactly as DecodePixel and EncodePixel read
// and store the types of the group.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "pixels/editor.h"

// The clipped rectangle an operation walks: columns x0 to x1 - 1 of rows y0 to y1 - 1.
struct PixelSpan {
    int32_t x0, y0, x1, y1;
};

enum class LayoutGroup {
    AlphaLast,  // types 1, 3, 5
    AlphaFirst, // types 2, 4, 6
    TrueColor,  // type 8
};

// The editors give only the types of the three groups.
inline LayoutGroup GroupOf(RBPixelType type) {
    if (IsAlphaFirstLayout(type)) return LayoutGroup::AlphaFirst;
    if (IsTrueColorLayout(type)) return LayoutGroup::TrueColor;
    return LayoutGroup::AlphaLast;
}

template <LayoutGroup G> using GroupTag = std::integral_constant<LayoutGroup, G>;

// Calls fn with a GroupTag for the group of type.
template <class Fn> decltype(auto) WithLayoutGroup(RBPixelType type, Fn&& fn) {
    if (IsAlphaFirstLayout(type)) return fn(GroupTag<LayoutGroup::AlphaFirst>{});
    if (IsTrueColorLayout(type)) return fn(GroupTag<LayoutGroup::TrueColor>{});
    return fn(GroupTag<LayoutGroup::AlphaLast>{});
}

// Calls fn with the GroupTags of a source and a destination type.
template <class Fn> decltype(auto) WithLayoutGroups(RBPixelType source, RBPixelType dest, Fn&& fn) {
    return WithLayoutGroup(
        source, [&](auto s) { return WithLayoutGroup(dest, [&](auto d) { return fn(s, d); }); });
}

// Bit positions of the components in a stored word of a known group, and the bits an opaque
// stored word has set besides its components.
template <LayoutGroup G> struct GroupBits;
template <> struct GroupBits<LayoutGroup::AlphaLast> {
    static constexpr unsigned red = 0, green = 8, blue = 16;
    static constexpr uint32_t opaque = 0xFF000000u;
};
template <> struct GroupBits<LayoutGroup::AlphaFirst> {
    static constexpr unsigned red = 8, green = 16, blue = 24;
    static constexpr uint32_t opaque = 0xFFu;
};
template <> struct GroupBits<LayoutGroup::TrueColor> {
    static constexpr unsigned red = 16, green = 8, blue = 0;
    static constexpr uint32_t opaque = 0;
};

// The bit positions and opaque bits of a known group, as values.
struct WordPlaces {
    unsigned red, green, blue;
    uint32_t opaque;
};

template <LayoutGroup G> constexpr WordPlaces PlacesOf() {
    using B = GroupBits<G>;
    return {B::red, B::green, B::blue, B::opaque};
}

// The bits of a word in the given places that hold red, green and blue.
constexpr uint32_t ColourBitsOf(WordPlaces places) {
    return (0xFFu << places.red) | (0xFFu << places.green) | (0xFFu << places.blue);
}

// The bits of a stored word of group G that hold red, green and blue.
template <LayoutGroup G> constexpr uint32_t ColourBits() {
    return ColourBitsOf(PlacesOf<G>());
}

// Red, green and blue of a stored word of a known group.
template <LayoutGroup G> inline uint32_t RedOf(uint32_t w) {
    return (w >> GroupBits<G>::red) & 0xFFu;
}
template <LayoutGroup G> inline uint32_t GreenOf(uint32_t w) {
    return (w >> GroupBits<G>::green) & 0xFFu;
}
template <LayoutGroup G> inline uint32_t BlueOf(uint32_t w) {
    return (w >> GroupBits<G>::blue) & 0xFFu;
}

// The opaque stored word of a colour (components in 0 to 255) in a known group: what EncodePixel
// stores for every type of the group.
template <LayoutGroup G> inline uint32_t Pack(uint32_t red, uint32_t green, uint32_t blue) {
    using B = GroupBits<G>;
    return B::opaque | (red << B::red) | (green << B::green) | (blue << B::blue);
}

// Red, green and blue of a stored word of group G, as ints. Alpha is not read.
template <LayoutGroup G> inline void Components(uint32_t w, int& red, int& green, int& blue) {
    red = static_cast<int>(RedOf<G>(w));
    green = static_cast<int>(GreenOf<G>(w));
    blue = static_cast<int>(BlueOf<G>(w));
}

// The opaque stored word of a colour (components in 0 to 255) in group G.
template <LayoutGroup G> inline uint32_t Stored(int red, int green, int blue) {
    return Pack<G>(static_cast<uint32_t>(red), static_cast<uint32_t>(green),
                   static_cast<uint32_t>(blue));
}

// Reads the rows of span one after another: rows above it are skipped, and row(pixels, y) is
// given each row's pixels (column x at pixels[x]); a false answer ends the walk, which then gives
// false. An empty span reads no row.
template <class Row> bool ReadSpanRows(PictureReader& reader, const PixelSpan& span, Row row) {
    if (span.x0 >= span.x1 || span.y0 >= span.y1) return true;
    for (int32_t y = 0; y < span.y0; ++y)
        reader.AddPixelRow();
    for (int32_t y = span.y0; y < span.y1; ++y) {
        if (!row(static_cast<const uint32_t*>(reader.rowPointer), y)) return false;
        reader.AddPixelRow();
    }
    return true;
}

// Whether the walk under way writes more bytes than the caches keep: vector loops then store its
// rows with streaming stores, which do not first read the lines they write, and leave the lines
// out of the caches. Measured on a 4096 x 4096 picture (64 MiB): InvertQRX and
// MergePictureQRX took 0.8 x the time with them; on a 1024 x 1024 picture (4 MiB), which stays in
// the caches, InvertQRX took 2 x the time, hence the bound. Each walk that writes a picture sets
// it at its start and clears it at its end. (Not thread-local: a module with thread-local storage
// that is unloaded trips LeakSanitizer's thread scan, and each Host loads and unloads its own copy
// of the module. Calls that overlapped on several threads could only choose the other store.)
inline std::atomic<bool> writingLargeOutput{false};
inline bool IsLargeOutput(int64_t width, int64_t rows) {
    return width * rows * 4 >= int64_t(16) << 20;
}

// Walks the rows of span on reader and writer in step: rows above it are skipped on both, and
// row(src, dst, n) is given the n pixels of the span in each source row and the same place in the
// destination row. When no row is walked the skipping would only move row pointers that are never
// used, so it is left out.
template <class Row>
void WalkSpanRowsInStep(PictureReader& reader, PictureWriter& writer, const PixelSpan& span,
                        Row row) {
    if (span.y0 >= span.y1) return;
    writingLargeOutput = IsLargeOutput(int64_t(span.x1) - span.x0, int64_t(span.y1) - span.y0);
    for (int32_t y = 0; y < span.y0; ++y) {
        writer.AddPixelRow();
        reader.AddPixelRow();
    }
    for (int32_t y = span.y0; y < span.y1; ++y) {
        if (span.x0 < span.x1)
            row(static_cast<const uint32_t*>(reader.rowPointer + span.x0),
                writer.rowPointer + span.x0, span.x1 - span.x0);
        writer.AddPixelRow();
        reader.AddPixelRow();
    }
    writingLargeOutput = false;
}
