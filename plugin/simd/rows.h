// The vector row loops, each compiled for every target (see targets.h). Each getter gives the
// active target's loop, or null when that target has none and the caller's scalar loop stands.
// Every loop gives exactly the words of the scalar loop of the layout groups it is called for.
#pragma once

#include <cstdint>

#include "pixels/layout_walk.h"

// The three tables of a component-wise transform.
struct ComponentTables {
    uint8_t red[256], green[256], blue[256];
};

namespace simd {

// Maps n words of the source places to the destination places: each component looked up in its
// table, the destination's opaque bits set and its other bits clear (what Pack gives).
using MapTablesFn = void (*)(const uint32_t* src, uint32_t* dst, int32_t n,
                             const ComponentTables& tables, WordPlaces from, WordPlaces to);
MapTablesFn MapRowThroughTables();

// The per-component maximum of two rows of the same places (what MergePictureQRX stores).
using MergeFn = void (*)(const uint32_t* a, const uint32_t* b, uint32_t* dst, int32_t n,
                         WordPlaces places);
MergeFn MergeRows();

// Red from one row, green from another and blue from a third, all of the same places (what
// CombinePicturesQRX stores).
using CombineFn = void (*)(const uint32_t* red, const uint32_t* green, const uint32_t* blue,
                           uint32_t* dst, int32_t n, WordPlaces places);
CombineFn CombineRows();

} // namespace simd
