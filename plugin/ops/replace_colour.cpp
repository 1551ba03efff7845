#include "ops/replace_colour.h"

#include <type_traits>

#include "ops/vector_rows.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"

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
// A vector form (see vector_rows.h) is taken for the known groups where the vector level allows.
template <class Store, class VectorForm = NoVectorForm>
void WalkPixels(PictureReader& reader, PictureWriter& writer, Store store,
                const VectorForm& vector = {}) {
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType sourceType = reader.pixelType;
    WithLayoutGroups(sourceType, writer.pixelType, [&](auto source, auto dest) {
        constexpr LayoutGroup S = decltype(source)::value;
        constexpr LayoutGroup D = decltype(dest)::value;
        if constexpr (!std::is_same_v<VectorForm, NoVectorForm> && S != LayoutGroup::Other &&
                      D != LayoutGroup::Other) {
            if (ActiveVectorLevel() == VectorLevel::Avx512) {
                for (int32_t y = 0; y < H; ++y) {
                    TransformRowVector(reader.rowPointer, writer.rowPointer, W, PlacesOf<S>(),
                                       PlacesOf<D>(), vector);
                    reader.AddPixelRow();
                    writer.AddPixelRow();
                }
                return;
            }
        }
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* src = reader.rowPointer;
            uint32_t* dst = writer.rowPointer;
            for (int32_t x = 0; x < W; ++x) {
                int r, g, b;
                Components<decltype(source)::value>(sourceType, src[x], r, g, b);
                dst[x] = store(dest, r, g, b);
            }
            reader.AddPixelRow();
            writer.AddPixelRow();
        }
    });
}

#if QRX_HAS_VECTOR_LOOPS
// 16 pixels: those of the search colour take the found colour, the others the other colour, or
// keep their own when there is none.
struct ChooseLanes {
    Rgb search, found, other;
    bool keepOthers;

    QRX_AVX512 void operator()(__m512i& red, __m512i& green, __m512i& blue) const {
        const __mmask16 hit = _mm512_cmpeq_epi32_mask(red, _mm512_set1_epi32(search.red)) &
                              _mm512_cmpeq_epi32_mask(green, _mm512_set1_epi32(search.green)) &
                              _mm512_cmpeq_epi32_mask(blue, _mm512_set1_epi32(search.blue));
        if (!keepOthers) {
            red = _mm512_set1_epi32(other.red);
            green = _mm512_set1_epi32(other.green);
            blue = _mm512_set1_epi32(other.blue);
        }
        red = _mm512_mask_mov_epi32(red, hit, _mm512_set1_epi32(found.red));
        green = _mm512_mask_mov_epi32(green, hit, _mm512_set1_epi32(found.green));
        blue = _mm512_mask_mov_epi32(blue, hit, _mm512_set1_epi32(found.blue));
    }
};
#endif

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
        const uint32_t w = Stored<decltype(dest)::value>(destType, r, g, b);
        const bool found = (r == search.red) & (g == search.green) & (b == search.blue);
        return found ? replacement : w;
    };
#if QRX_HAS_VECTOR_LOOPS
    WalkPixels(reader, writer, store,
               ChooseLanes{search, Split(ReplaceWithColor), Rgb{0, 0, 0}, true});
#else
    WalkPixels(reader, writer, store);
#endif
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
#if QRX_HAS_VECTOR_LOOPS
    WalkPixels(reader, writer, store,
               ChooseLanes{search, Split(ReplaceWithColor), Split(BackGroundColor), false});
#else
    WalkPixels(reader, writer, store);
#endif
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}
