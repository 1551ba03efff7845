#include "ops/binary_string.h"

#include <algorithm>
#include <cstdint>

#include "host/helpers.h"
#include "pixels/editor.h"
#include "pixels/fast_paths.h"
#include "pixels/layout_walk.h"

#if QRX_HAS_VECTOR_LOOPS
#include "pixels/vector_intrinsics.h"
#endif

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

// One row of W words to red, green, blue bytes, through the general decoding (Other) or the
// places of a known group.
template <LayoutGroup G>
unsigned char* WordsToBytes(RBPixelType type, const uint32_t* src, int32_t W, unsigned char* out) {
    if constexpr (G == LayoutGroup::Other) {
        for (int32_t x = 0; x < W; ++x) {
            int red, green, blue;
            DecodePixel(type, src[x], red, green, blue);
            *out++ = static_cast<unsigned char>(red);
            *out++ = static_cast<unsigned char>(green);
            *out++ = static_cast<unsigned char>(blue);
        }
    } else {
        for (int32_t x = 0; x < W; ++x) {
            const uint32_t w = src[x];
            out[0] = static_cast<unsigned char>(RedOf<G>(w));
            out[1] = static_cast<unsigned char>(GreenOf<G>(w));
            out[2] = static_cast<unsigned char>(BlueOf<G>(w));
            out += 3;
        }
    }
    return out;
}

// One row of W pixels of red, green, blue bytes to words of the writer's type.
template <LayoutGroup G>
void BytesToWords(RBPixelType type, const unsigned char* in, int32_t W, uint32_t* dst) {
    if constexpr (G == LayoutGroup::Other) {
        for (int32_t x = 0; x < W; ++x, in += 3)
            EncodePixel(type, dst, in[0], in[1], in[2]);
    } else {
        for (int32_t x = 0; x < W; ++x, in += 3)
            dst[x] = Pack<G>(in[0], in[1], in[2]);
    }
}

#if QRX_HAS_VECTOR_LOOPS
// Byte permutes between 16 words and their 48 red, green, blue bytes: byte 3j + c of the bytes is
// byte place[c] / 8 of word j.
QRX_AVX512 __m512i BytesOfWordsIndex(WordPlaces places) {
    alignas(64) unsigned char index[64] = {};
    const unsigned shift[3] = {places.red / 8, places.green / 8, places.blue / 8};
    for (unsigned j = 0; j < 16; ++j)
        for (unsigned c = 0; c < 3; ++c)
            index[3 * j + c] = static_cast<unsigned char>(4 * j + shift[c]);
    return _mm512_load_si512(index);
}

QRX_AVX512 __m512i WordsOfBytesIndex(WordPlaces places) {
    alignas(64) unsigned char index[64] = {};
    const unsigned shift[3] = {places.red / 8, places.green / 8, places.blue / 8};
    for (unsigned j = 0; j < 16; ++j)
        for (unsigned c = 0; c < 3; ++c)
            index[4 * j + shift[c]] = static_cast<unsigned char>(3 * j + c);
    return _mm512_load_si512(index);
}

// The first W - W % 16 pixels of a row; gives how many it did.
QRX_AVX512 int32_t WordsToBytesVector(const uint32_t* src, int32_t W, unsigned char* out,
                                      WordPlaces places) {
    const __m512i index = BytesOfWordsIndex(places);
    const __mmask64 bytes48 = (__mmask64{1} << 48) - 1;
    int32_t x = 0;
    for (; x + 16 <= W; x += 16, out += 48) {
        const __m512i words = _mm512_loadu_si512(src + x);
        _mm512_mask_storeu_epi8(out, bytes48, _mm512_permutexvar_epi8(index, words));
    }
    return x;
}

QRX_AVX512 int32_t BytesToWordsVector(const unsigned char* in, int32_t W, uint32_t* dst,
                                      WordPlaces places) {
    const __m512i index = WordsOfBytesIndex(places);
    const uint32_t colour =
        (0xFFu << places.red) | (0xFFu << places.green) | (0xFFu << places.blue);
    const __m512i keep = _mm512_set1_epi32(static_cast<int>(colour));
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(places.opaque));
    int32_t x = 0;
    for (; x + 16 <= W; x += 16, in += 48) {
        // The 48 bytes as a 32-byte and a 16-byte load: a masked load is much slower here.
        const __m512i bytes = _mm512_inserti64x4(
            _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in))),
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32))), 1);
        const __m512i words = _mm512_permutexvar_epi8(index, bytes);
        _mm512_storeu_si512(dst + x, _mm512_or_si512(_mm512_and_si512(words, keep), opaque));
    }
    return x;
}
#endif

// Whether the rows of group G take the vector loops.
template <LayoutGroup G> bool VectorRows() {
#if QRX_HAS_VECTOR_LOOPS
    return G != LayoutGroup::Other && ActiveVectorLevel() == VectorLevel::Avx512;
#else
    return false;
#endif
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
        const bool vector = VectorRows<G>();
        unsigned char* out = buffer + kHeaderSize;
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* src = reader.rowPointer;
            int32_t done = 0;
#if QRX_HAS_VECTOR_LOOPS
            if constexpr (G != LayoutGroup::Other)
                if (vector) done = WordsToBytesVector(src, W, out, PlacesOf<G>());
#endif
            out = WordsToBytes<G>(reader.pixelType, src + done, W - done, out + 3 * done);
            reader.AddPixelRow();
        }
        (void)vector;
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
        const bool vector = VectorRows<G>();
        const unsigned char* row = s + D;
        for (int32_t y = 0; y < H; ++y) {
            uint32_t* dst = writer.rowPointer;
            int32_t done = 0;
#if QRX_HAS_VECTOR_LOOPS
            if constexpr (G != LayoutGroup::Other)
                if (vector) done = BytesToWordsVector(row, W, dst, PlacesOf<G>());
#endif
            BytesToWords<G>(writer.pixelType, row + 3 * done, W - done, dst + done);
            row += rowBytes;
            writer.AddPixelRow();
        }
        (void)vector;
    });
    return writer.RenderPictureWriter();
}
