// The 3D lookup-table map of PictureLut3DQRX on whole rows, compiled for every target (see
// targets.h). The getter gives the active target's loop, or null when the caller's scalar loop
// stands.
#pragma once

#include <cstdint>

#include "pixels/layout_walk.h"

namespace simd {

// Nodes per axis that the map reads (0 to 15: 255 lies on node 15), each node's three components
// followed by an unused fourth, so that a node fills half a cache line: entry (r, g, b, x) is
// double ((r * 16 + g) * 16 + b) * 4 + x.
inline constexpr int kLut3DMapNodes = 16;

// Maps n words of the source places through the nodes (32-byte aligned) into words of the
// destination places, as PictureLut3DQRX's Run maps each pixel: the colour's cell on each axis
// (node v / 17, fraction (v - 17 * node) / 17.0, node 15 alone for 255), the tetrahedron its
// fractions pick, the four weighted corners summed left to right in double precision, then each sum
// clamped as ComponentByte does (NaN and below 0 give 0, above 255 gives 255, the rest truncated)
// and stored opaque.
using Lut3DFn = void (*)(const double* nodes, const uint32_t* src, uint32_t* dst, int32_t n,
                         WordPlaces from, WordPlaces to);
Lut3DFn MapRowThroughLut3D();

} // namespace simd
