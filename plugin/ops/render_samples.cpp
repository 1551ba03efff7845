#include "ops/render_samples.h"

#include <algorithm>
#include <cstring>

#include "host/helpers.h"
#include "host/services.h"
#include "ops/component.h"
#include "ops/operations.h"
#include "simd/samples.h"

uint32_t gOutLineColorR = 0;
uint32_t gOutLineColorG = 0;
uint32_t gOutLineColorB = 0;

namespace {

constexpr uint32_t kASCII = 0x600;
constexpr int kDefaultHeight = 500;
constexpr int kMaxSide = 32767;

// The signed value of sample i of the data, by format.
template <int Bits> inline int SampleValue(const unsigned char* data, int64_t i) {
    if constexpr (Bits == 7) {
        return static_cast<signed char>(data[i]);
    } else if constexpr (Bits == 8) {
        return static_cast<int>(data[i]) - 128;
    } else if constexpr (Bits == 15) {
        int16_t v;
        std::memcpy(&v, data + 2 * i, 2);
        return v;
    } else { // 16
        uint16_t v;
        std::memcpy(&v, data + 2 * i, 2);
        return static_cast<int>(v) - 32768;
    }
}

// The sums of the positive and of the negative samples start to end - 1 (a sample adds 0 to the
// sum it does not belong to). Samples are summed in 32-bit blocks of 65536, where no sum can
// overflow (65536 x 32768 is 2^31), and the blocks in 64 bits.
template <int Bits>
void SumSamples(const unsigned char* data, int64_t start, int64_t end, int64_t& P, int64_t& M) {
    constexpr int64_t kBlock = 65536;
    int64_t p = 0, m = 0;
    for (int64_t from = start; from < end; from += kBlock) {
        const int64_t to = std::min(end, from + kBlock);
        int32_t bp = 0, bm = 0;
        for (int64_t i = from; i < to; ++i) {
            const int32_t s = SampleValue<Bits>(data, i);
            bp += s >= 0 ? s : 0;
            bm += s < 0 ? s : 0;
        }
        p += bp;
        m += bm;
    }
    P = p;
    M = m;
}

// The sums through the active target's vector loop when it has one.
void SumSamples(int Bits, const unsigned char* data, int64_t start, int64_t end, int64_t& P,
                int64_t& M) {
    if (const simd::SumSamplesFn vector = simd::SampleSums())
        return vector(data, start, end, Bits, P, M);
    switch (Bits) {
    case 7:
        return SumSamples<7>(data, start, end, P, M);
    case 8:
        return SumSamples<8>(data, start, end, P, M);
    case 15:
        return SumSamples<15>(data, start, end, P, M);
    default:
        return SumSamples<16>(data, start, end, P, M);
    }
}

// The two envelope arrays of one rendering, freed on every path.
struct Envelopes {
    double* negative = nullptr;
    double* positive = nullptr;
    ~Envelopes() {
        FreeMemoryNow(negative);
        FreeMemoryNow(positive);
    }
};

// The row of an envelope value: value + mid truncated; out of range and NaN give INT32_MIN.
int32_t RowOf(double value, int mid) {
    return TruncToInt32(value + mid);
}

// Outline end rows are kept within 16 bits, the range the line routine computes in; rows that far
// out are outside every picture, so only the slope of a segment leaving the picture changes.
int32_t OutlineRow(int32_t y) {
    return std::clamp<int32_t>(y, -32768, 32767);
}

uint32_t* PixelAt(PictureWriter& writer, int x, int y) {
    return writer.GetRow(y) + x;
}

void FillBackground(PictureWriter& writer, unsigned int BackColor) {
    uint32_t word;
    if (!EncodePixel(writer.pixelType, static_cast<int>((BackColor >> 16) & 0xFF),
                     static_cast<int>((BackColor >> 8) & 0xFF), static_cast<int>(BackColor & 0xFF),
                     word))
        return;
    // The word is encoded once for the writer's layout; each row is then a straight fill.
    for (int y = 0; y < writer.height; ++y)
        std::fill_n(writer.GetRow(y), writer.width, word);
}

void DrawBar(PictureWriter& writer, int x, double value, int mid, uint32_t word) {
    const int32_t y = RowOf(value, mid);
    const int last = writer.height - 1;
    const int lo = std::clamp<int32_t>(std::min<int32_t>(mid, y), 0, last);
    const int hi = std::clamp<int32_t>(std::max<int32_t>(mid, y), 0, last);
    for (int row = lo; row <= hi; ++row)
        *PixelAt(writer, x, row) = word;
}

} // namespace

void DrawPixel(PictureWriter& writer, int x, int y, int weight) {
    if (x < 0 || y < 0 || x >= writer.width || y >= writer.height) return;
    uint32_t* at = PixelAt(writer, x, y);
    int r, g, b;
    if (!DecodePixel(writer.pixelType, *at, r, g, b)) return;
    const int k = 255 - weight;
    const int nr = (r * weight + static_cast<int>(gOutLineColorR) * k) / 255;
    const int ng = (g * weight + static_cast<int>(gOutLineColorG) * k) / 255;
    const int nb = (b * weight + static_cast<int>(gOutLineColorB) * k) / 255;
    EncodePixel(writer.pixelType, nr, ng, nb, *at);
}

void DrawWuLine(PictureWriter& writer, int X0, int Y0, int X1, int Y1, int /*baseWeight*/,
                int /*levels*/, unsigned short /*intensityBits*/) {
    WuLine(X0, Y0, X1, Y1, [&](int x, int y, int w) { DrawPixel(writer, x, y, w); });
}

REALpicture RenderSamples(REALmemoryBlock Samples, int SampleCount, int Smooth, int Width,
                          int Height, int outlinewidth, unsigned int BackColor,
                          unsigned int ForeColor, unsigned int OutLineColor, int Bits,
                          signed char AutoScale) {
    if (!Samples) {
        RaiseException("NilObjectException", "memoryblock is nil", kASCII);
        return nullptr;
    }
    gOutLineColorR = (OutLineColor >> 16) & 0xFF;
    gOutLineColorG = (OutLineColor >> 8) & 0xFF;
    gOutLineColorB = OutLineColor & 0xFF;
    if (Bits != 7 && Bits != 8 && Bits != 15 && Bits != 16) return nullptr;
    const int bytesPerSample = Bits <= 8 ? 1 : 2;

    // A sample count beyond the block is limited to the block's whole samples: nothing past the
    // block is ever read.
    const int64_t blockSamples =
        std::max<int32_t>(REALMemoryBlockGetSize(Samples), 0) / bytesPerSample;
    const int64_t N = SampleCount > 0 ? std::min<int64_t>(SampleCount, blockSamples) : blockSamples;
    const int64_t W = Width > 0 ? Width : N;
    const int H = Height > 0 ? Height : kDefaultHeight;

    const auto* data = static_cast<const unsigned char*>(REALMemoryBlockGetPtr(Samples));
    if (!data) return nullptr;
    // A size no picture can have fails here, before the columns are worked out for nothing.
    if (W < 1 || W > kMaxSide || H > kMaxSide) return nullptr;

    Envelopes env;
    env.negative = static_cast<double*>(AllocateClearMemory(W * int64_t{sizeof(double)}));
    env.positive = static_cast<double*>(AllocateClearMemory(W * int64_t{sizeof(double)}));
    if (!env.negative || !env.positive) return nullptr;

    // Per-column sums are 64-bit: no column can overflow them. A column without samples repeats
    // the envelope values of the column before it (0 for column 0), so a picture wider than its
    // samples shows steps instead of gaps, and smoothing treats it as an ordinary column; the peak
    // search skips it.
    double peak = 0;
    const double dW = static_cast<double>(W), dN = static_cast<double>(N);
    for (int64_t x = 0; x < W; ++x) {
        const auto start = static_cast<int64_t>(static_cast<double>(x) / dW * dN);
        const auto end = std::min(static_cast<int64_t>(static_cast<double>(x + 1) / dW * dN), N);
        const int64_t n = end - start;
        if (n <= 0) {
            env.negative[x] = x > 0 ? env.negative[x - 1] : 0.0;
            env.positive[x] = x > 0 ? env.positive[x - 1] : 0.0;
            continue;
        }
        int64_t P = 0, M = 0;
        SumSamples(Bits, data, start, end, P, M);
        env.negative[x] = static_cast<double>(M) / (static_cast<double>(n) * 0.5);
        env.positive[x] = static_cast<double>(P) / (static_cast<double>(n) * 0.5);
        peak = std::max({peak, env.positive[x], -env.negative[x]});
    }

    const double R = AutoScale ? 2 * peak : (Bits <= 8 ? 127.0 : 32767.0);

    // Smooth -1 would make the factor infinite; it is taken as no smoothing, like every value
    // below -1 (and like 1, whose factor 1 leaves the values as they are).
    double D = R;
    if (Smooth != -1) {
        const double alpha = 2.0 / (static_cast<double>(Smooth) + 1.0);
        if (alpha > 0) {
            for (double* V : {env.negative, env.positive}) {
                V[0] = V[0] * (1 - alpha) + V[0] * alpha;
                for (int64_t x = 1; x < W; ++x)
                    V[x] = V[x - 1] * (1 - alpha) + V[x] * alpha;
            }
            D = alpha * R + (1 - alpha) * R;
        }
    }

    // A divisor of 0 (AutoScale over samples that are all zero) scales every value to 0: the
    // picture shows the middle row only, as silence does without AutoScale.
    for (double* V : {env.negative, env.positive})
        for (int64_t x = 0; x < W; ++x)
            V[x] = D == 0 ? 0.0 : V[x] * H / D;

    PictureWriter writer;
    if (!writer.NewPictureWriter(static_cast<int>(W), H)) return nullptr;

    FillBackground(writer, BackColor);

    const int mid = H / 2;
    uint32_t foreWord;
    if (EncodePixel(writer.pixelType, static_cast<int>((ForeColor >> 16) & 0xFF),
                    static_cast<int>((ForeColor >> 8) & 0xFF), static_cast<int>(ForeColor & 0xFF),
                    foreWord)) {
        for (int x = 0; x < writer.width; ++x) {
            DrawBar(writer, x, env.negative[x], mid, foreWord);
            DrawBar(writer, x, env.positive[x], mid, foreWord);
        }
    }

    if (outlinewidth == 1) {
        int prevX = 0;
        int32_t prevN = mid, prevP = mid;
        for (int x = 0; x < writer.width; ++x) {
            const int32_t yN = OutlineRow(RowOf(env.negative[x], mid));
            DrawWuLine(writer, prevX, prevN, x, yN, 0, 256, 8);
            const int32_t yP = OutlineRow(RowOf(env.positive[x], mid));
            DrawWuLine(writer, prevX, prevP, x, yP, 0, 256, 8);
            prevX = x;
            prevN = yN;
            prevP = yP;
        }
    } else if (outlinewidth >= 2) {
        const int columns = writer.width;
        REALpicture result = writer.RenderPictureWriter();
        if (!result) return nullptr;
        REALgraphics g = REALGetPictureGraphics(result);
        if (!g) return result;
        SetGraphicsForeColor(g, OutLineColor);
        SetGraphicsPenHeight(g, outlinewidth);
        SetGraphicsPenWidth(g, outlinewidth);
        // The host's pen hangs below and to the right of the line; moving the line up and left by
        // half the pen centres it.
        const int32_t h = outlinewidth / 2;
        int32_t prevX = 0, prevN = mid, prevP = mid;
        for (int32_t x = 0; x < columns; ++x) {
            const int32_t yN = OutlineRow(RowOf(env.negative[x], mid));
            GraphicsDrawLine(g, prevX - h, prevN - h, x - h, yN - h);
            const int32_t yP = OutlineRow(RowOf(env.positive[x], mid));
            GraphicsDrawLine(g, prevX - h, prevP - h, x - h, yP - h);
            prevX = x;
            prevN = yN;
            prevP = yP;
        }
        REALUnlockObject(g);
        return result;
    }

    return writer.RenderPictureWriter();
}
