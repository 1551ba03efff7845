// Pixel loops specialised by layout group: the group of the pixel words is fixed at compile time,
// so each loop reads and stores the bytes of its layout directly. Every specialised form gives
// exactly what DecodePixel and EncodePixel give for the editor's own type.
#pragma once

#include <cstdint>
#include <type_traits>

#include "pixels/editor.h"

enum class LayoutGroup {
    AlphaLast,  // types 1, 3, 5
    AlphaFirst, // types 2, 4, 6
    TrueColor,  // type 8
    Other,      // decoded and encoded through the editor's own type
};

inline LayoutGroup GroupOf(RBPixelType type) {
    if (IsAlphaLastLayout(type)) return LayoutGroup::AlphaLast;
    if (IsAlphaFirstLayout(type)) return LayoutGroup::AlphaFirst;
    if (IsTrueColorLayout(type)) return LayoutGroup::TrueColor;
    return LayoutGroup::Other;
}

template <LayoutGroup G> using GroupTag = std::integral_constant<LayoutGroup, G>;

// Calls fn with a GroupTag for the group of type.
template <class Fn> decltype(auto) WithLayoutGroup(RBPixelType type, Fn&& fn) {
    switch (GroupOf(type)) {
    case LayoutGroup::AlphaLast:
        return fn(GroupTag<LayoutGroup::AlphaLast>{});
    case LayoutGroup::AlphaFirst:
        return fn(GroupTag<LayoutGroup::AlphaFirst>{});
    case LayoutGroup::TrueColor:
        return fn(GroupTag<LayoutGroup::TrueColor>{});
    case LayoutGroup::Other:
        break;
    }
    return fn(GroupTag<LayoutGroup::Other>{});
}

// A type of the group that stands for all of it (Other keeps the editor's own).
template <LayoutGroup G> constexpr RBPixelType RepresentativeType(RBPixelType own) {
    if constexpr (G == LayoutGroup::AlphaLast)
        return kRBPixelAlphaLast;
    else if constexpr (G == LayoutGroup::AlphaFirst)
        return kRBPixelAlphaFirst;
    else if constexpr (G == LayoutGroup::TrueColor)
        return kRBPixelTrueColor;
    else
        return own;
}

// Red, green and blue of a stored word of group G (own: the editor's type). Alpha is not read.
template <LayoutGroup G>
inline void Components(RBPixelType own, uint32_t w, int& red, int& green, int& blue) {
    DecodePixel(RepresentativeType<G>(own), w, red, green, blue);
}

// The opaque stored word of a colour in group G; an unknown layout gives 0.
template <LayoutGroup G> inline uint32_t Stored(RBPixelType own, int red, int green, int blue) {
    uint32_t w = 0;
    EncodePixel(RepresentativeType<G>(own), red, green, blue, w);
    return w;
}
