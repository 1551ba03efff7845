#include "ops/operations.h"

#include <algorithm>
#include <cstdint>

#include "pixels/row_walk.h"
#include "simd/rows.h"

// Both results are new opaque pictures without alpha; input alpha is never read. Readers left
// open on a failure path are released by their destructors.

REALpicture CombinePicturesQRX(REALpicture red, REALpicture blue, REALpicture green) {
    RowWalk<3> walk;
    if (!walk.Read({red, green, blue})) return nullptr;
    const int32_t W = walk.readers[0].width;
    const int32_t H = walk.readers[0].height;
    for (const PictureReader& reader : walk.readers)
        if (reader.width != W || reader.height != H) return nullptr;
    if (!walk.writer.NewPictureWriter(W, H)) return nullptr;

    const simd::CombineFn combine = simd::CombineRows();
    walk.Rows(W, H, [&](auto group, uint32_t* dst, int32_t n, const auto& src) {
        constexpr LayoutGroup G = decltype(group)::value;
        if (combine != nullptr) return combine(src[0], src[1], src[2], dst, n, PlacesOf<G>());
        for (int32_t x = 0; x < n; ++x)
            dst[x] = Pack<G>(RedOf<G>(src[0][x]), GreenOf<G>(src[1][x]), BlueOf<G>(src[2][x]));
    });
    return walk.writer.RenderPictureWriter();
}

REALpicture MergePicture(REALpicture source1, REALpicture source2) {
    if (!source1 || !source2) return nullptr;
    RowWalk<2> walk;
    if (!walk.Read({source1, source2})) return nullptr;
    const int32_t W = walk.readers[0].width;
    const int32_t H = walk.readers[0].height;
    if (walk.readers[1].width != W || walk.readers[1].height != H) return nullptr;
    if (!walk.writer.NewPictureWriter(W, H)) return nullptr;

    const simd::MergeFn merge = simd::MergeRows();
    walk.Rows(W, H, [&](auto group, uint32_t* dst, int32_t n, const auto& src) {
        constexpr LayoutGroup G = decltype(group)::value;
        if (merge != nullptr) return merge(src[0], src[1], dst, n, PlacesOf<G>());
        const uint32_t *a = src[0], *b = src[1];
        for (int32_t x = 0; x < n; ++x)
            dst[x] = Pack<G>(std::max(RedOf<G>(a[x]), RedOf<G>(b[x])),
                             std::max(GreenOf<G>(a[x]), GreenOf<G>(b[x])),
                             std::max(BlueOf<G>(a[x]), BlueOf<G>(b[x])));
    });
    return walk.writer.RenderPictureWriter();
}
