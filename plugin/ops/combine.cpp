#include "ops/combine.h"

#include <algorithm>
#include <cstdint>

#include "ops/layout_walk.h"
#include "pixels/editor.h"

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

    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* r = redReader.rowPointer;
        const uint32_t* g = greenReader.rowPointer;
        const uint32_t* b = blueReader.rowPointer;
        uint32_t* dst = writer.rowPointer;
        if (FastPathsEnabled()) {
            for (int32_t x = 0; x < W; x += kPixelBlock) {
                const int32_t n = std::min(kPixelBlock, W - x);
                ComponentBlock first, second, third;
                DecodeBlock(redReader.pixelType, r + x, n, first);
                DecodeBlock(greenReader.pixelType, g + x, n, second);
                DecodeBlock(blueReader.pixelType, b + x, n, third);
                EncodeBlock(writer.pixelType, first.red, second.green, third.blue, n, dst + x);
            }
        } else {
            for (int32_t x = 0; x < W; ++x) {
                int red1, green1, blue1, red2, green2, blue2, red3, green3, blue3;
                DecodePixel(redReader.pixelType, r[x], red1, green1, blue1);
                DecodePixel(greenReader.pixelType, g[x], red2, green2, blue2);
                DecodePixel(blueReader.pixelType, b[x], red3, green3, blue3);
                EncodePixel(writer.pixelType, red1, green2, blue3, dst[x]);
            }
        }
        writer.AddPixelRow();
        redReader.AddPixelRow();
        greenReader.AddPixelRow();
        blueReader.AddPixelRow();
    }
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

    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* a = first.rowPointer;
        const uint32_t* b = second.rowPointer;
        uint32_t* dst = writer.rowPointer;
        if (FastPathsEnabled()) {
            for (int32_t x = 0; x < W; x += kPixelBlock) {
                const int32_t n = std::min(kPixelBlock, W - x);
                ComponentBlock one, two;
                DecodeBlock(first.pixelType, a + x, n, one);
                DecodeBlock(second.pixelType, b + x, n, two);
                for (int32_t i = 0; i < n; ++i) {
                    one.red[i] = std::max(one.red[i], two.red[i]);
                    one.green[i] = std::max(one.green[i], two.green[i]);
                    one.blue[i] = std::max(one.blue[i], two.blue[i]);
                }
                EncodeBlock(writer.pixelType, one.red, one.green, one.blue, n, dst + x);
            }
        } else {
            for (int32_t x = 0; x < W; ++x) {
                int red1, green1, blue1, red2, green2, blue2;
                DecodePixel(first.pixelType, a[x], red1, green1, blue1);
                DecodePixel(second.pixelType, b[x], red2, green2, blue2);
                EncodePixel(writer.pixelType, std::max(red1, red2), std::max(green1, green2),
                            std::max(blue1, blue2), dst[x]);
            }
        }
        writer.AddPixelRow();
        first.AddPixelRow();
        second.AddPixelRow();
    }
    return writer.RenderPictureWriter();
}
