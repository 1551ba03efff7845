#include "ops/counting.h"

#include <initializer_list>

#include "host/helpers.h"
#include "host/services.h"
#include "ops/layout_walk.h"
#include "pixels/editor.h"

int32_t CountColorQRX(REALpicture pic, uint32_t col) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return 0;
    const int wantRed = static_cast<int>((col >> 16) & 0xFF);
    const int wantGreen = static_cast<int>((col >> 8) & 0xFF);
    const int wantBlue = static_cast<int>(col & 0xFF);
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType type = reader.pixelType;
    uint32_t found = 0;
    WithLayoutGroup(type, [&](auto group) {
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* row = reader.rowPointer;
            constexpr LayoutGroup G = decltype(group)::value;
            if constexpr (G == LayoutGroup::Other) {
                for (int32_t x = 0; x < W; ++x) {
                    int r, g, b;
                    Components<G>(type, row[x], r, g, b);
                    if (r == wantRed && g == wantGreen && b == wantBlue) ++found;
                }
            } else {
                // The colour bits of each word compared with the wanted colour's, without a
                // branch per pixel.
                const uint32_t want =
                    Pack<G>(static_cast<uint32_t>(wantRed), static_cast<uint32_t>(wantGreen),
                            static_cast<uint32_t>(wantBlue)) &
                    ColourBits<G>();
                uint32_t inRow = 0;
                for (int32_t x = 0; x < W; ++x)
                    inRow += (row[x] & ColourBits<G>()) == want;
                found += inRow;
            }
            reader.AddPixelRow();
        }
    });
    reader.clear();
    return static_cast<int32_t>(found);
}

namespace {

// Counters kept apart so that neighbouring pixels of one value do not wait on each other's
// increments; they are summed into the blocks at the end, so the counts are the same.
constexpr int kHistogramLanes = 4;

struct LaneHistograms {
    uint32_t red[kHistogramLanes][256];
    uint32_t green[kHistogramLanes][256];
    uint32_t blue[kHistogramLanes][256];
};

template <LayoutGroup G>
void CountIntoHistograms(PictureReader& reader, int32_t W, int32_t H, uint32_t* first,
                         uint32_t* second, uint32_t* third) {
    LaneHistograms lanes{};
    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* row = reader.rowPointer;
        int32_t x = 0;
        for (; x + kHistogramLanes <= W; x += kHistogramLanes)
            for (int lane = 0; lane < kHistogramLanes; ++lane) {
                const uint32_t w = row[x + lane];
                ++lanes.red[lane][RedOf<G>(w)];
                ++lanes.green[lane][GreenOf<G>(w)];
                ++lanes.blue[lane][BlueOf<G>(w)];
            }
        for (; x < W; ++x) {
            const uint32_t w = row[x];
            ++lanes.red[0][RedOf<G>(w)];
            ++lanes.green[0][GreenOf<G>(w)];
            ++lanes.blue[0][BlueOf<G>(w)];
        }
        reader.AddPixelRow();
    }
    // Each block counter wraps as the host's 32-bit counters do.
    for (int v = 0; v < 256; ++v)
        for (int lane = 0; lane < kHistogramLanes; ++lane) {
            first[v] += lanes.red[lane][v];
            second[v] += lanes.green[lane][v];
            third[v] += lanes.blue[lane][v];
        }
}

} // namespace

void CountColorsQRX(REALpicture pic, REALmemoryBlock& red, REALmemoryBlock& blue,
                    REALmemoryBlock& green, int32_t& count) {
    // Blocks made here start zero-filled and go to the caller, who owns their reference.
    for (REALmemoryBlock* block : {&red, &blue, &green})
        if (!*block) *block = REALNewMemoryBlock(kHistogramBlockSize);
    if (!red || !blue || !green) {
        count = -1;
        return;
    }
    // A block shorter than a histogram is not written at all (nothing outside a block is ever
    // touched): the call fails as an unreadable picture does, with count -1.
    for (REALmemoryBlock block : {red, blue, green}) {
        if (REALMemoryBlockGetSize(block) < kHistogramBlockSize || !REALMemoryBlockGetPtr(block)) {
            count = -1;
            return;
        }
    }
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) {
        count = -1;
        return;
    }
    // Counters are in the processor's own byte order.
    auto* first = static_cast<uint32_t*>(REALMemoryBlockGetPtr(red));
    auto* second = static_cast<uint32_t*>(REALMemoryBlockGetPtr(blue));
    auto* third = static_cast<uint32_t*>(REALMemoryBlockGetPtr(green));
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    const RBPixelType type = reader.pixelType;
    WithLayoutGroup(type, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if constexpr (G == LayoutGroup::Other) {
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = reader.rowPointer;
                for (int32_t x = 0; x < W; ++x) {
                    int r, g, b;
                    Components<G>(type, row[x], r, g, b);
                    ++first[r];
                    ++second[g];
                    ++third[b];
                }
                reader.AddPixelRow();
            }
        } else {
            CountIntoHistograms<G>(reader, W, H, first, second, third);
        }
    });
    count = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
}

namespace {

template <LayoutGroup S, LayoutGroup D>
void MapRows(PictureReader& reader, PictureWriter& writer, int32_t W, int32_t H,
             const unsigned char* redTable, const unsigned char* greenTable,
             const unsigned char* blueTable) {
    const RBPixelType sourceType = reader.pixelType;
    const RBPixelType destType = writer.pixelType;
    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* src = reader.rowPointer;
        uint32_t* dst = writer.rowPointer;
        for (int32_t x = 0; x < W; ++x) {
            int r, g, b;
            Components<S>(sourceType, src[x], r, g, b);
            dst[x] = Stored<D>(destType, redTable[r], greenTable[g], blueTable[b]);
        }
        reader.AddPixelRow();
        writer.AddPixelRow();
    }
}

} // namespace

REALpicture TransformColorsQRX(REALpicture pic, REALmemoryBlock red, REALmemoryBlock blue,
                               REALmemoryBlock green, REALpicture dest) {
    const char* nilMessage = !pic     ? "picture is nil"
                             : !red   ? "red memoryblock is nil"
                             : !green ? "green memoryblock is nil"
                             : !blue  ? "blue memoryblock is nil"
                                      : nullptr;
    if (nilMessage) {
        RaiseException("NilObjectException", nilMessage, kREALTextEncodingASCII);
        return nullptr;
    }
    const rbData redTable(red, 0, 0);
    const rbData greenTable(green, 0, 0);
    const rbData blueTable(blue, 0, 0);
    // A table shorter than 256 bytes is never read past its end: the call gives nil, as for a
    // table without data.
    for (const rbData* table : {&redTable, &greenTable, &blueTable})
        if (!table->data || table->size < static_cast<uint32_t>(kTableSize)) return nullptr;

    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    PictureWriter writer;
    if (!writer.NewPictureWriter(dest, W, H)) {
        reader.clear();
        return nullptr;
    }
    WithLayoutGroup(reader.pixelType, [&](auto source) {
        WithLayoutGroup(writer.pixelType, [&](auto destination) {
            MapRows<decltype(source)::value, decltype(destination)::value>(
                reader, writer, W, H, redTable.data, greenTable.data, blueTable.data);
        });
    });
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}
