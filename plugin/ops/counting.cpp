#include "ops/operations.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "host/helpers.h"
#include "host/services.h"
#include "ops/skeleton.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"
#include "simd/rows.h"
#include "simd/scans.h"

int32_t CountColorQRX(REALpicture pic, uint32_t col) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return 0;
    const int wantRed = static_cast<int>((col >> 16) & 0xFF);
    const int wantGreen = static_cast<int>((col >> 8) & 0xFF);
    const int wantBlue = static_cast<int>(col & 0xFF);
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    uint32_t found = 0;
    WithLayoutGroup(reader.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        // The colour bits of each word compared with the wanted colour's, without a branch per
        // pixel.
        const uint32_t want =
            Pack<G>(static_cast<uint32_t>(wantRed), static_cast<uint32_t>(wantGreen),
                    static_cast<uint32_t>(wantBlue)) &
            ColourBits<G>();
        const simd::CountWordsFn vector = simd::CountWords();
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* row = reader.rowPointer;
            if (vector) {
                found += vector(row, W, ColourBits<G>(), want);
            } else {
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

// Counts straight into the blocks, each counter wrapping as the host's 32-bit counters do.
template <LayoutGroup G>
void CountIntoHistograms(PictureReader& reader, int32_t W, int32_t H, uint32_t* first,
                         uint32_t* second, uint32_t* third) {
    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* row = reader.rowPointer;
        for (int32_t x = 0; x < W; ++x) {
            const uint32_t w = row[x];
            ++first[RedOf<G>(w)];
            ++second[GreenOf<G>(w)];
            ++third[BlueOf<G>(w)];
        }
        reader.AddPixelRow();
    }
}

// Neighbouring pixels count their highest colour byte in different sets.
constexpr int kLoneSets = 4;

// Pictures from this many pixels on are counted through a table of component pairs.
constexpr int64_t kPairCountingFrom = 1 << 16;

// Counts with two increments per pixel instead of three: the lowest two colour bytes of a word
// (red and green, or blue and green in type 8) together index one of 65536 pair counters, the
// highest colour byte one of 256 counters (kLoneSets sets, for neighbouring pixels). Afterwards
// each pair counter is added to the counter of its low component and to that of its green, so every
// histogram counter receives exactly the pixels whose component has its value: the same sums,
// wrapping in 32 bits as the block counters do. The pair table is one allocation per call;
// false when it cannot be made, and nothing is counted then.
template <LayoutGroup G>
bool CountThroughPairs(PictureReader& reader, int32_t W, int32_t H, uint32_t* first,
                       uint32_t* second, uint32_t* third) {
    std::unique_ptr<uint32_t[]> pairs(new (std::nothrow) uint32_t[65536]());
    if (!pairs) return false;
    uint32_t lone[kLoneSets][256] = {};
    using B = GroupBits<G>;
    constexpr unsigned low = std::min(B::red, B::blue);
    constexpr unsigned high = std::max(B::red, B::blue);
    static_assert(B::green == low + 8 && high == low + 16, "green is the middle colour byte");
    uint32_t* pairCounts = pairs.get();
    auto count = [&](uint32_t w, int set) {
        ++pairCounts[(w >> low) & 0xFFFFu];
        ++lone[set][(w >> high) & 0xFFu];
    };
    for (int32_t y = 0; y < H; ++y) {
        const uint32_t* row = reader.rowPointer;
        int32_t x = 0;
        for (; x + kLoneSets <= W; x += kLoneSets)
            for (int k = 0; k < kLoneSets; ++k)
                count(row[x + k], k);
        for (; x < W; ++x)
            count(row[x], 0);
        reader.AddPixelRow();
    }
    // Red goes to the first block and blue to the third, whichever of them is the low byte.
    uint32_t* lowCounts = B::red == low ? first : third;
    uint32_t* highCounts = B::red == low ? third : first;
    for (int g = 0; g < 256; ++g) {
        const uint32_t* line = pairCounts + 256 * g;
        uint32_t withGreen = 0;
        for (int v = 0; v < 256; ++v) {
            lowCounts[v] += line[v];
            withGreen += line[v];
        }
        second[g] += withGreen;
    }
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < kLoneSets; ++k)
            highCounts[v] += lone[k][v];
    return true;
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
    WithLayoutGroup(reader.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        if (static_cast<int64_t>(W) * H < kPairCountingFrom ||
            !CountThroughPairs<G>(reader, W, H, first, second, third))
            CountIntoHistograms<G>(reader, W, H, first, second, third);
    });
    count = static_cast<int32_t>(static_cast<uint32_t>(W) * static_cast<uint32_t>(H));
    reader.clear();
}

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
    if (!writer.NewPictureWriter(dest, W, H)) return nullptr;
    ComponentTables tables;
    std::memcpy(tables.red, redTable.data, kTableSize);
    std::memcpy(tables.green, greenTable.data, kTableSize);
    std::memcpy(tables.blue, blueTable.data, kTableSize);
    MapSpanThroughTables(reader, writer, {0, 0, W, H}, tables);
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}
