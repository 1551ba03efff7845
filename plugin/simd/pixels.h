// Whole-pixel vector loops: each changes a row's pixels as one operation's scalar transform
// changes each pixel, with the operation's per-call values in its Params.
#pragma once

#include <cstdint>

#include "pixels/layout_walk.h"

namespace simd {

// A row loop of the active target and the values it needs; fn is null when the target has none.
template <class Params> struct PixelKernel {
    using Fn = void (*)(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from,
                        WordPlaces to, const Params& params);
    Fn fn = nullptr;
    Params params{};
};

struct NoParams {};

// Gray pixels inverted, others kept.
PixelKernel<NoParams>::Fn InvertGrayRows();

} // namespace simd
