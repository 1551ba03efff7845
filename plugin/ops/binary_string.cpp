#include "ops/operations.h"

#include <algorithm>
#include <cstdint>

#include "host/helpers.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"

#include "simd/bytes.h"

namespace {

constexpr uint32_t kRawBytes = 0xFFFF;
constexpr unsigned char kMagic[4] = {0x50, 0x50, 0x49, 0x43};
constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kConstant = 32;
constexpr int64_t kMaxLength = 0x7FFFFFFF;

void PutBigEndian(unsigned char* at, uint32_t v) {
    at[0] = static_cast<unsigned char>(v >> 24);
    at[1] = static_cast<unsigned char>(v >> 16);
    at[2] = static_cast<unsigned char>(v >> 8);
    at[3] = static_cast<unsigned char>(v);
}

uint32_t GetBigEndian(const unsigned char* at) {
    return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
           (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

// One row of W words of group G to red, green, blue bytes.
template <LayoutGroup G> void WordsToBytes(const uint32_t* src, int32_t W, unsigned char* out) {
    for (int32_t x = 0; x < W; ++x, out += 3) {
        out[0] = static_cast<unsigned char>(RedOf<G>(src[x]));
        out[1] = static_cast<unsigned char>(GreenOf<G>(src[x]));
        out[2] = static_cast<unsigned char>(BlueOf<G>(src[x]));
    }
}

// One row of W pixels of red, green, blue bytes to words of group G.
template <LayoutGroup G> void BytesToWords(const unsigned char* in, int32_t W, uint32_t* dst) {
    for (int32_t x = 0; x < W; ++x, in += 3)
        dst[x] = Pack<G>(in[0], in[1], in[2]);
}

} // namespace

REALstring PicturetoBinaryString(REALpicture p) {
    PictureReader reader;
    if (!reader.GetPictureReader(p)) return nullptr;
    const int32_t W = reader.width;
    const int32_t H = reader.height;
    // The length is formed in 64 bits: a picture whose string would not fit the signed 32-bit
    // length (up to 2147483647 bytes) is refused rather than written with a wrapped length. A
    // picture with no rows or no columns gives the bare 40-byte header with its W and H.
    const int64_t L = static_cast<int64_t>(W) * H * 3 + kHeaderSize;
    if (W < 0 || H < 0 || L > kMaxLength) return nullptr;
    auto* buffer = static_cast<unsigned char*>(AllocateClearMemory(L));
    if (!buffer) return nullptr;

    std::copy(kMagic, kMagic + 4, buffer);
    PutBigEndian(buffer + 4, static_cast<uint32_t>(L));
    PutBigEndian(buffer + 8, static_cast<uint32_t>(W));
    PutBigEndian(buffer + 12, static_cast<uint32_t>(H));
    PutBigEndian(buffer + 16, kConstant);
    PutBigEndian(buffer + 20, kHeaderSize);

    WithLayoutGroup(reader.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        const simd::WordsToBytesFn vector = simd::WordsToRgbBytes();
        unsigned char* out = buffer + kHeaderSize;
        for (int32_t y = 0; y < H; ++y, out += 3 * static_cast<int64_t>(W)) {
            if (vector)
                vector(reader.rowPointer, W, out, PlacesOf<G>());
            else
                WordsToBytes<G>(reader.rowPointer, W, out);
            reader.AddPixelRow();
        }
    });

    REALstring result = REALBuildUnicodeString(buffer, L, kRawBytes);
    FreeMemoryNow(buffer);
    reader.clear();
    return result;
}

// Besides the magic, the length, and the width and height the new picture must have, a string
// is refused (nil) when it is too short for the fields up to offset 23, or when its pixel data,
// from the data offset on, would reach past its end: nothing beyond the string is read.
REALpicture BinaryStringtoPicture(REALstring data) {
    rbData bytes(data);
    const unsigned char* s = bytes.data;
    const int64_t N = s ? bytes.size : 0;
    if (N < 8) return nullptr;
    if (s[0] != kMagic[0] || s[1] != kMagic[1] || s[2] != kMagic[2] || s[3] != kMagic[3])
        return nullptr;
    if (GetBigEndian(s + 4) != static_cast<uint64_t>(N)) return nullptr;
    if (N < 24) return nullptr;
    const auto W = static_cast<int32_t>(GetBigEndian(s + 8));
    const auto H = static_cast<int32_t>(GetBigEndian(s + 12));
    const int64_t D = GetBigEndian(s + 20);

    if (W < 1 || W > 32767 || H < 1 || H > 32767) return nullptr;
    const int64_t rowBytes = static_cast<int64_t>(W) * 3;
    if (D + rowBytes * H > N) return nullptr;

    PictureWriter writer;
    if (!writer.NewPictureWriter(W, H)) return nullptr;

    WithLayoutGroup(writer.pixelType, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        const simd::BytesToWordsFn vector = simd::RgbBytesToWords();
        const unsigned char* row = s + D;
        for (int32_t y = 0; y < H; ++y, row += rowBytes) {
            if (vector)
                vector(row, W, writer.rowPointer, PlacesOf<G>());
            else
                BytesToWords<G>(row, W, writer.rowPointer);
            writer.AddPixelRow();
        }
    });
    return writer.RenderPictureWriter();
}
