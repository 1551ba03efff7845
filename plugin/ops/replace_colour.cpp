#include "ops/operations.h"

#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/pixels.h"

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

// Walks reader and writer row by row; store(dest, red, green, blue) gives the stored word of one
// pixel, dest the GroupTag of the writer's layout group.
// The choice's vector loop stands for store when the target has one.
template <class Store>
void WalkPixels(PictureReader& reader, PictureWriter& writer, Store store,
                const simd::ChooseParams& choice) {
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType sourceType = reader.pixelType;
    WithLayoutGroups(sourceType, writer.pixelType, [&](auto source, auto dest) {
        constexpr LayoutGroup S = decltype(source)::value;
        constexpr LayoutGroup D = decltype(dest)::value;
        if (const auto choose = simd::ChooseRows()) {
            for (int32_t y = 0; y < H; ++y) {
                choose(reader.rowPointer, writer.rowPointer, W, PlacesOf<S>(), PlacesOf<D>(),
                       choice);
                reader.AddPixelRow();
                writer.AddPixelRow();
            }
            return;
        }
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* src = reader.rowPointer;
            uint32_t* dst = writer.rowPointer;
            for (int32_t x = 0; x < W; ++x) {
                int r, g, b;
                Components<decltype(source)::value>(src[x], r, g, b);
                dst[x] = store(dest, r, g, b);
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
    auto store = [&](auto dest, int r, int g, int b) {
        const uint32_t w = Stored<decltype(dest)::value>(r, g, b);
        const bool found = (r == search.red) & (g == search.green) & (b == search.blue);
        return found ? replacement : w;
    };
    WalkPixels(reader, writer, store, {SearchColor, ReplaceWithColor, 0, true});
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
    auto store = [&](auto, int r, int g, int b) {
        return r == search.red && g == search.green && b == search.blue ? replacement : background;
    };
    WalkPixels(reader, writer, store, {SearchColor, ReplaceWithColor, BackGroundColor, false});
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}
