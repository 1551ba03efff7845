#include "ops/operations.h"

#include "ops/skeleton.h"
#include "pixels/editor.h"
#include "simd/pixels.h"

namespace {

struct Rgb {
    int red, green, blue;
};

Rgb Split(uint32_t colour) {
    return {static_cast<int>((colour >> 16) & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
            static_cast<int>(colour & 0xFF)};
}

// Every pixel of reader into writer: a pixel of the search colour takes the found colour, any
// other keeps its own colour when keepOthers, else takes the other colour. The colours are
// stored opaque in the writer's layout. Releases the reader and gives the writer's picture.
REALpicture ChooseColours(PictureReader& reader, PictureWriter& writer,
                          const simd::ChooseParams& choice) {
    const Rgb search = Split(choice.search), found = Split(choice.found),
              other = Split(choice.other);
    auto choose = [&](int& r, int& g, int& b) {
        const bool match = r == search.red && g == search.green && b == search.blue;
        if (!match && choice.keepOthers) return;
        const Rgb& c = match ? found : other;
        r = c.red;
        g = c.green;
        b = c.blue;
    };
    TransformSpan(reader, writer, {0, 0, reader.width, reader.height}, choose, Depends::WholePixel,
                  simd::PixelKernel<simd::ChooseParams>{simd::ChooseRows(), choice});
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}

} // namespace

REALpicture ReplaceColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader)) return nullptr;
    return ChooseColours(reader, writer, {SearchColor, ReplaceWithColor, 0, true});
}

REALpicture ExtractColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor,
                            uint32_t BackGroundColor) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader.width, reader.height)) return nullptr;
    return ChooseColours(reader, writer, {SearchColor, ReplaceWithColor, BackGroundColor, false});
}
