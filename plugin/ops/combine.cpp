#include "ops/combine.h"

#include <algorithm>
#include <cstdint>

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/rows.h"

// Both results are new opaque pictures without alpha; input alpha is never read. Readers left
// open on a failure path are released by their destructors.

REALpicture CombinePicturesQRX(REALpicture red, REALpicture blue, REALpicture green) {
    PictureReader redReader;
    if (!redReader.GetPictureReader(red)) return nullptr;
    PictureReader greenReader;
    if (!greenReader.GetPictureReader(green)) return nullptr;
    PictureReader blueReader;
    if (!blueReader.GetPictureReader(blue)) return nullptr;
    const int32_t W = redReader.width;
    const int32_t H = redReader.height;
    if (greenReader.width != W || blueReader.width != W || greenReader.height != H ||
        blueReader.height != H)
        return nullptr;

    PictureWriter writer;
    if (!writer.NewPictureWriter(W, H)) return nullptr;

    const simd::CombineFn combine = simd::CombineRows();
    WithSharedGroup(
        {redReader.pixelType, greenReader.pixelType, blueReader.pixelType, writer.pixelType},
        [&](auto group) {
            constexpr LayoutGroup G = decltype(group)::value;
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* r = redReader.rowPointer;
                const uint32_t* g = greenReader.rowPointer;
                const uint32_t* b = blueReader.rowPointer;
                uint32_t* dst = writer.rowPointer;
                if constexpr (G == LayoutGroup::Other) {
                    for (int32_t x = 0; x < W; ++x) {
                        int red1, green1, blue1, red2, green2, blue2, red3, green3, blue3;
                        DecodePixel(redReader.pixelType, r[x], red1, green1, blue1);
                        DecodePixel(greenReader.pixelType, g[x], red2, green2, blue2);
                        DecodePixel(blueReader.pixelType, b[x], red3, green3, blue3);
                        EncodePixel(writer.pixelType, red1, green2, blue3, dst[x]);
                    }
                } else if (combine != nullptr) {
                    combine(r, g, b, dst, W, PlacesOf<G>());
                } else {
                    for (int32_t x = 0; x < W; ++x)
                        dst[x] = Pack<G>(RedOf<G>(r[x]), GreenOf<G>(g[x]), BlueOf<G>(b[x]));
                }
                writer.AddPixelRow();
                redReader.AddPixelRow();
                greenReader.AddPixelRow();
                blueReader.AddPixelRow();
            }
        });
    return writer.RenderPictureWriter();
}

REALpicture MergePicture(REALpicture source1, REALpicture source2) {
    if (!source1 || !source2) return nullptr;
    PictureReader first;
    if (!first.GetPictureReader(source1)) return nullptr;
    PictureReader second;
    if (!second.GetPictureReader(source2)) return nullptr;
    const int32_t W = first.width;
    const int32_t H = first.height;
    if (second.width != W || second.height != H) return nullptr;

    PictureWriter writer;
    if (!writer.NewPictureWriter(W, H)) return nullptr;

    const simd::MergeFn merge = simd::MergeRows();
    WithSharedGroup({first.pixelType, second.pixelType, writer.pixelType}, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* a = first.rowPointer;
            const uint32_t* b = second.rowPointer;
            uint32_t* dst = writer.rowPointer;
            if constexpr (G == LayoutGroup::Other) {
                for (int32_t x = 0; x < W; ++x) {
                    int red1, green1, blue1, red2, green2, blue2;
                    DecodePixel(first.pixelType, a[x], red1, green1, blue1);
                    DecodePixel(second.pixelType, b[x], red2, green2, blue2);
                    EncodePixel(writer.pixelType, std::max(red1, red2), std::max(green1, green2),
                                std::max(blue1, blue2), dst[x]);
                }
            } else if (merge != nullptr) {
                merge(a, b, dst, W, PlacesOf<G>());
            } else {
                for (int32_t x = 0; x < W; ++x)
                    dst[x] = Pack<G>(std::max(RedOf<G>(a[x]), RedOf<G>(b[x])),
                                     std::max(GreenOf<G>(a[x]), GreenOf<G>(b[x])),
                                     std::max(BlueOf<G>(a[x]), BlueOf<G>(b[x])));
            }
            writer.AddPixelRow();
            first.AddPixelRow();
            second.AddPixelRow();
        }
    });
    return writer.RenderPictureWriter();
}
