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

// Every component v becomes 255 - v.
PixelKernel<NoParams>::Fn InvertRows();

// Gray pixels inverted, others kept.
PixelKernel<NoParams>::Fn InvertGrayRows();

// Each component's distance from the pixel's gray (red + blue + 2 green) >> 2 multiplied by k,
// divided by 255 toward zero, added to the gray and clamped to 0 to 255. The loop takes |k|
// below 65536 only, where the product cannot wrap; for other factors fn is null.
struct SaturationParams {
    int32_t k;
};
PixelKernel<SaturationParams> SaturationKernel(int32_t k);

// level = (red * grey[0] + green * grey[1]) + blue * grey[2] in doubles, with each fraction a byte
// of the grey or the sepia colour (host colours) over 255; each component becomes
// min(trunc(level * sepia[i]), 255). The loop takes the floor in integers where that is exact.
struct TintParams {
    double grey[3], sepia[3];
    int32_t weight[3];
    uint32_t magic[3], inverse, bound;
    bool inDoubles;
};
PixelKernel<TintParams> TintKernel(uint32_t grey, uint32_t sepia);

// gray = (red * kR + green * kG + blue * kB) / 1024 toward zero; each component becomes
// gray + offset[i] clamped to 0 to 255. The loop takes weights of 16 bits (-32768 to 32767) only,
// where no product or sum wraps; for other weights fn is null. Any offset is exact.
struct SepiaParams {
    int32_t kR, kG, kB;
    int32_t offset[3];
};
PixelKernel<SepiaParams> SepiaKernel(const SepiaParams& params);

// Pixels of the search colour take the found colour; the others keep their own colour when
// keepOthers, else take the other colour. Colours are host colours (red in bits 16-23, green
// 8-15, blue 0-7).
struct ChooseParams {
    uint32_t search, found, other;
    bool keepOthers;
};
PixelKernel<ChooseParams>::Fn ChooseRows();

} // namespace simd
