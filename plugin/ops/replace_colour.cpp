#include "ops/replace_colour.h"

#include "ops/layout_walk.h"
#include "pixels/editor.h"

namespace {

struct Rgb {
    int red, green, blue;
};

Rgb Split(uint32_t colour) {
    return {static_cast<int>((colour >> 16) & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
            static_cast<int>(colour & 0xFF)};
}

uint32_t StoredColour(RBPixelType type, uint32_t colour) {
    const Rgb c = Split(colour);
    uint32_t w = 0;
    EncodePixel(type, c.red, c.green, c.blue, w);
    return w;
}

// Walks reader and writer row by row; store(x, red, green, blue, dst) writes one pixel.
template <class Store> void WalkPixels(PictureReader& reader, PictureWriter& writer, Store store) {
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType sourceType = reader.pixelType;
    WithLayoutGroup(sourceType, [&](auto group) {
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* src = reader.rowPointer;
            uint32_t* dst = writer.rowPointer;
            for (int32_t x = 0; x < W; ++x) {
                int r, g, b;
                Components<decltype(group)::value>(sourceType, src[x], r, g, b);
                dst[x] = store(r, g, b);
            }
            reader.AddPixelRow();
            writer.AddPixelRow();
        }
    });
}

} // namespace

REALpicture ReplaceColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader)) {
        reader.clear();
        return nullptr;
    }
    const Rgb search = Split(SearchColor);
    const RBPixelType destType = writer.pixelType;
    const uint32_t replacement = StoredColour(destType, ReplaceWithColor);
    WalkPixels(reader, writer, [&](int r, int g, int b) {
        if (r == search.red && g == search.green && b == search.blue) return replacement;
        uint32_t w = 0;
        EncodePixel(destType, r, g, b, w);
        return w;
    });
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}

REALpicture ExtractColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor,
                            uint32_t BackGroundColor) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader.width, reader.height)) {
        reader.clear();
        return nullptr;
    }
    const Rgb search = Split(SearchColor);
    const uint32_t replacement = StoredColour(writer.pixelType, ReplaceWithColor);
    const uint32_t background = StoredColour(writer.pixelType, BackGroundColor);
    WalkPixels(reader, writer, [&](int r, int g, int b) {
        return r == search.red && g == search.green && b == search.blue ? replacement : background;
    });
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}
