// Waveform rendering beyond what ops_driver_test.cpp holds to its model: the line routine point by
// point, the outline pen of widths 2 and more as handed to the host (against a scalar reference of
// the envelopes), the runtime's rectangular-pen line drawing, and the 16-bit sums.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "host/entry.h"
#include "host/services.h"
#include "host_impl.h"
#include "ops/render_samples.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Color;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;

constexpr uint32_t kBack = 0x88B5C4, kFore = 0x274C5A, kLine = 0x203F4E;

// ---- Scalar reference of a rendering -------------------------------------------------------

struct RenderArgs {
    std::vector<uint8_t> block;
    int32_t sampleCount = 0, smooth = 1, width = 0, height = 0, outline = 0;
    uint32_t back = kBack, fore = kFore, line = kLine;
    int32_t bits = 8;
    bool autoScale = false;
};

struct Rendered {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB, top row first
    std::vector<std::array<int32_t, 4>> penLines;
    uint32_t& at(int x, int y) { return rgb[size_t(y) * width + x]; }
};

int32_t refRow(double v, int mid) {
    const double t = v + mid;
    if (std::isnan(t) || t <= -2147483649.0 || t >= 2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return int32_t(std::trunc(t));
}

int refSample(const std::vector<uint8_t>& b, int bits, size_t i) {
    if (bits == 7) return int8_t(b[i]);
    if (bits == 8) return int(b[i]) - 128;
    const int raw = b[2 * i] | (b[2 * i + 1] << 8); // x86: little-endian
    return bits == 15 ? int(int16_t(raw)) : raw - 32768;
}

std::optional<Rendered> refRender(const RenderArgs& a) {
    if (a.bits != 7 && a.bits != 8 && a.bits != 15 && a.bits != 16) return std::nullopt;
    const int bps = a.bits <= 8 ? 1 : 2;
    const int64_t inBlock = int64_t(a.block.size()) / bps;
    const int64_t N = a.sampleCount > 0 ? std::min<int64_t>(a.sampleCount, inBlock) : inBlock;
    const int64_t W = a.width > 0 ? a.width : N;
    const int H = a.height > 0 ? a.height : 500;
    if (W < 1 || W > 32767 || H > 32767) return std::nullopt;
    std::vector<double> neg(W), pos(W);
    double peak = 0;
    for (int64_t x = 0; x < W; ++x) {
        int64_t s = int64_t(double(x) / double(W) * double(N));
        int64_t e = int64_t(double(x + 1) / double(W) * double(N));
        if (e <= s) { // an empty column holds the previous values
            neg[x] = x ? neg[x - 1] : 0;
            pos[x] = x ? pos[x - 1] : 0;
            continue;
        }
        int64_t P = 0, M = 0;
        for (int64_t i = s; i < e; ++i) {
            int v = refSample(a.block, a.bits, size_t(i));
            (v >= 0 ? P : M) += v;
        }
        neg[x] = double(M) / (double(e - s) * 0.5);
        pos[x] = double(P) / (double(e - s) * 0.5);
        peak = std::max({peak, pos[x], -neg[x]});
    }
    const double R = a.autoScale ? 2 * peak : (a.bits <= 8 ? 127 : 32767);
    double D = R;
    const double alpha = a.smooth == -1 ? 0 : 2.0 / (a.smooth + 1.0);
    if (alpha > 0) {
        for (auto* v : {&neg, &pos}) {
            std::vector<double> src = *v;
            (*v)[0] = src[0] * (1 - alpha) + src[0] * alpha;
            for (int64_t x = 1; x < W; ++x)
                (*v)[x] = (*v)[x - 1] * (1 - alpha) + src[x] * alpha;
        }
        D = alpha * R + (1 - alpha) * R;
    }
    for (auto* v : {&neg, &pos})
        for (double& d : *v)
            d = D == 0 ? 0 : d * H / D;

    Rendered r;
    r.width = int(W);
    r.height = H;
    r.rgb.assign(size_t(W) * H, a.back & 0xFFFFFF);
    const int mid = H / 2;
    for (int x = 0; x < W; ++x)
        for (double v : {neg[x], pos[x]}) {
            int y = refRow(v, mid);
            int lo = std::clamp(std::min(mid, y), 0, H - 1),
                hi = std::clamp(std::max(mid, y), 0, H - 1);
            for (int row = lo; row <= hi; ++row)
                r.at(x, row) = a.fore & 0xFFFFFF;
        }
    auto outlineRow = [&](double v) { return std::clamp(refRow(v, mid), -32768, 32767); };
    if (a.outline == 1) {
        auto plot = [&](int x, int y, int w) {
            if (x < 0 || y < 0 || x >= r.width || y >= H) return;
            uint32_t& p = r.at(x, y);
            uint32_t out = 0;
            for (int sh : {16, 8, 0}) {
                int c = (p >> sh) & 0xFF, o = (a.line >> sh) & 0xFF;
                out |= uint32_t((c * w + o * (255 - w)) / 255) << sh;
            }
            p = out;
        };
        int px = 0, pn = mid, pp = mid;
        for (int x = 0; x < W; ++x) {
            int yn = outlineRow(neg[x]), yp = outlineRow(pos[x]);
            // The line routine itself is checked point by point against worked examples below.
            WuLine(px, pn, x, yn, plot);
            WuLine(px, pp, x, yp, plot);
            px = x, pn = yn, pp = yp;
        }
    } else if (a.outline >= 2) {
        const int h = a.outline / 2;
        int px = 0, pn = mid, pp = mid;
        for (int x = 0; x < W; ++x) {
            int yn = outlineRow(neg[x]), yp = outlineRow(pos[x]);
            r.penLines.push_back({px - h, pn - h, x - h, yn - h});
            r.penLines.push_back({px - h, pp - h, x - h, yp - h});
            px = x, pn = yn, pp = yp;
        }
    }
    return r;
}

// ---- Runs through the runtime --------------------------------------------------------------

std::vector<Value> argsOf(qrx::Host& host, const RenderArgs& a) {
    return {host.newMemoryBlock(a.block),
            a.sampleCount,
            a.smooth,
            a.width,
            a.height,
            a.outline,
            Color{a.back},
            Color{a.fore},
            Color{a.line},
            a.bits,
            a.autoScale};
}

// The picture's colours as 0xRRGGBB; every pixel must be opaque.
Rendered colorsOf(const Picture& pic) {
    Rendered r;
    r.width = pic.width();
    r.height = pic.height();
    r.rgb.resize(size_t(r.width) * r.height);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            uint8_t p[4];
            pic.rgba(x, y, p);
            EXPECT_EQ(p[3], 255) << "at " << x << "," << y;
            r.at(x, y) = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    return r;
}

Rendered renderThroughHost(qrx::Host& host, const RenderArgs& a) {
    qrx::CallResult res = qrxtest::auditedGlobal(host, "RenderSamplesQRX", argsOf(host, a));
    EXPECT_FALSE(res.exception);
    const Ref* ref = std::get_if<Ref>(&res.result);
    if (!ref || !*ref) {
        ADD_FAILURE() << "no picture";
        return {};
    }
    return colorsOf(*ref->as<Picture>());
}

void expectSamePixels(const Rendered& got, const Rendered& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    int shown = 0;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            if (got.rgb[size_t(y) * want.width + x] != want.rgb[size_t(y) * want.width + x] &&
                ++shown <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                              << got.rgb[size_t(y) * want.width + x] << " instead of "
                              << want.rgb[size_t(y) * want.width + x];
}

// A sine of the given period in samples, in the format of bits, amplitude as a fraction of full
// scale.
std::vector<uint8_t> sineBlock(int count, int bits, double period, double amplitude) {
    std::vector<uint8_t> b;
    for (int i = 0; i < count; ++i) {
        double s = std::sin(2 * M_PI * i / period) * amplitude;
        if (bits <= 8) {
            int v = int(std::lround(s * 127));
            b.push_back(uint8_t(bits == 8 ? v + 128 : v));
        } else {
            int v = int(std::lround(s * 32767));
            uint16_t w = uint16_t(bits == 16 ? v + 32768 : v);
            b.push_back(uint8_t(w));
            b.push_back(uint8_t(w >> 8));
        }
    }
    return b;
}

class RenderOnHost : public testing::TestWithParam<HostCase> {
  protected:
    void SetUp() override { host = qrxtest::loadHost(GetParam().config); }
    std::unique_ptr<qrx::Host> host;
};

TEST_P(RenderOnHost, PenOutlineOfAConstantSignalIsCentredOnTheEnvelopes) {
    // Every column holds the same samples, so each envelope is a horizontal line after a vertical
    // rise in column 0; a 3 pixel pen offset by 1 covers the rows y - 1 to y + 1.
    // The pen gets the whole line value; its top byte is no colour.
    RenderArgs a{
        .block = {}, .width = 20, .height = 101, .outline = 3, .line = 0xFF102030, .bits = 7};
    for (int i = 0; i < 40; ++i)
        a.block.push_back(i % 2 ? uint8_t(-40) : 40);
    Rendered got = renderThroughHost(*host, a);
    Rendered want = *refRender(a);
    // Two samples per column: envelopes +-40, scaled by 101 / 127.
    const int mid = 50, yn = refRow(-40.0 * 101 / 127, mid), yp = refRow(40.0 * 101 / 127, mid);
    ASSERT_EQ(yn, 18);
    ASSERT_EQ(yp, 81);
    auto pen = [&](int x0, int x1, int y0, int y1) {
        for (int y = std::max(y0, 0); y <= y1; ++y)
            for (int x = std::max(x0, 0); x <= std::min(x1, want.width - 1); ++x)
                want.at(x, y) = 0x102030;
    };
    // Column 0: vertical segments from the middle row, pen rows y - 1 .. y + 1, columns -1 .. 1.
    pen(-1, 1, yn - 1, mid + 1);
    pen(-1, 1, mid - 1, yp + 1);
    // Columns 0 to 19: horizontal segments.
    pen(-1, 20, yn - 1, yn + 1);
    pen(-1, 20, yp - 1, yp + 1);
    expectSamePixels(got, want);
}

INSTANTIATE_TEST_SUITE_P(Hosts, RenderOnHost, testing::ValuesIn(qrxtest::plainHostCases()),
                         qrxtest::caseName);

// ---- The line routine, point by point --------------------------------------------------------

using Points = std::vector<std::array<int, 3>>;

Points wuPoints(int x0, int y0, int x1, int y1) {
    Points pts;
    WuLine(x0, y0, x1, y1, [&](int x, int y, int w) { pts.push_back({x, y, w}); });
    return pts;
}

struct WuCase {
    const char* name;
    int x0, y0, x1, y1;
    Points want;
};

// A = 2 * 65536 / 5 = 26214; the accumulator runs 26214, 52428, 13106 (wrapped), 39320, giving
// the weights 102, 204, 51, 153 and their complements.
// clang-format off
const WuCase kWuCases[] = {
    {"XMajor", 0, 0, 5, 2,
     {{0, 0, 0}, {1, 0, 102}, {1, 1, 153}, {2, 0, 204}, {2, 1, 51},
      {3, 1, 51}, {3, 2, 204}, {4, 1, 153}, {4, 2, 102}, {5, 2, 0}}},
    {"XMajorLeftwards", 5, 0, 0, 2,
     {{5, 0, 0}, {4, 0, 102}, {4, 1, 153}, {3, 0, 204}, {3, 1, 51},
      {2, 1, 51}, {2, 2, 204}, {1, 1, 153}, {1, 2, 102}, {0, 2, 0}}},
    {"YMajorGivenBottomFirst", 2, 5, 0, 0,
     {{0, 0, 0}, {0, 1, 102}, {1, 1, 153}, {0, 2, 204}, {1, 2, 51},
      {1, 3, 51}, {2, 3, 204}, {1, 4, 153}, {2, 4, 102}, {2, 5, 0}}},
    {"Horizontal", 3, 4, 0, 4, {{3, 4, 0}, {2, 4, 0}, {1, 4, 0}, {0, 4, 0}}},
    {"Vertical", 1, 3, 1, 0, {{1, 0, 0}, {1, 1, 0}, {1, 2, 0}, {1, 3, 0}}},
    {"Diagonal", 0, 0, 3, 3, {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}}},
    {"AntiDiagonal", 3, 0, 0, 3, {{3, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 3, 0}}},
    {"SinglePoint", 2, 2, 2, 2, {{2, 2, 0}}},
};
// clang-format on

class WuLineCase : public testing::TestWithParam<WuCase> {};

TEST_P(WuLineCase, PlotsTheReferencePoints) {
    const WuCase& c = GetParam();
    EXPECT_EQ(wuPoints(c.x0, c.y0, c.x1, c.y1), c.want);
}

INSTANTIATE_TEST_SUITE_P(Lines, WuLineCase, testing::ValuesIn(kWuCases),
                         [](const testing::TestParamInfo<WuCase>& i) { return i.param.name; });

// ---- The plugin's outline pen, as handed to the host -----------------------------------------

// The statically linked plugin code, bound to a runtime host except for the line service, which
// this test records.
std::vector<std::array<int32_t, 4>>* gLinesHanded = nullptr;

void RecordLine(REALgraphics, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    gLinesHanded->push_back({x1, y1, x2, y2});
}

void* ResolveWithRecordedLines(const char* name) {
    if (std::string(name) == "RuntimeGraphicsDrawLine") return reinterpret_cast<void*>(RecordLine);
    return qrx::Host::resolver()(name);
}

class PluginCore : public testing::Test {
  protected:
    void SetUp() override {
        ResetPluginState();
        gResolver = ResolveWithRecordedLines;
        gHostVersion = 2019.1;
        gLinesHanded = &lines;
        host.makeCurrent();
    }
    void TearDown() override {
        ResetPluginState();
        gLinesHanded = nullptr;
    }
    REALmemoryBlock block(const Ref& r) { return static_cast<REALmemoryBlock>(r->handle()); }

    qrx::Host host;
    std::vector<std::array<int32_t, 4>> lines;
};

TEST_F(PluginCore, PenSegmentsAreOffsetByHalfThePen) {
    // Two 8-bit columns of one sample each: column 0 silent, column 1 at 127 + 128 = 255.
    // Height 24, mid 12; without AutoScale 254 * 24 / 127 = 48: row 60 (drawn clipped).
    const std::vector<uint8_t> bytes{128, 255};
    Ref mb = host.newMemoryBlock(bytes);
    for (int width : {2, 3, 4, 7}) {
        lines.clear();
        REALpicture pic = RenderSamples(block(mb), 0, 1, 0, 24, width, kBack, kFore, kLine, 8, 0);
        ASSERT_NE(pic, nullptr);
        const int32_t h = width / 2;
        const std::vector<std::array<int32_t, 4>> want{{-h, 12 - h, -h, 12 - h},
                                                       {-h, 12 - h, -h, 12 - h},
                                                       {-h, 12 - h, 1 - h, 12 - h},
                                                       {-h, 12 - h, 1 - h, 60 - h}};
        EXPECT_EQ(lines, want) << width;
        EXPECT_EQ(gOutLineColorR, 0x20u);
        EXPECT_EQ(gOutLineColorG, 0x3Fu);
        EXPECT_EQ(gOutLineColorB, 0x4Eu);
        REALUnlockObject(pic);
    }
    EXPECT_TRUE(host.audit().violations.empty());
}

TEST_F(PluginCore, PenSegmentsFollowTheReferenceAndWidthOneUsesNoPen) {
    RenderArgs a{
        .block = sineBlock(300, 15, 70, 0.9), .smooth = 3, .width = 60, .height = 40, .bits = 15};
    Ref mb = host.newMemoryBlock(a.block);
    for (int outline : {1, 3, 8}) {
        lines.clear();
        a.outline = outline;
        REALpicture pic = RenderSamples(block(mb), 0, a.smooth, a.width, a.height, outline, kBack,
                                        kFore, kLine, a.bits, 0);
        ASSERT_NE(pic, nullptr);
        EXPECT_EQ(lines, refRender(a)->penLines) << outline;
        REALUnlockObject(pic);
    }
}

TEST_F(PluginCore, OutlineColourIsKeptEvenWhenTheFormatIsRefused) {
    Ref mb = host.newMemoryBlock(std::vector<uint8_t>(16, 0));
    EXPECT_EQ(RenderSamples(block(mb), 0, 1, 0, 0, 1, 0, 0, 0xFFABCDEF, 12, 0), nullptr);
    EXPECT_EQ(gOutLineColorR, 0xABu);
    EXPECT_EQ(gOutLineColorG, 0xCDu);
    EXPECT_EQ(gOutLineColorB, 0xEFu);
}

TEST_F(PluginCore, TallPicturesWithoutAutoScaleWriteOnlyInsideThePicture) {
    // Full-scale 16-bit samples with Smooth 0 let the smoothed values grow far beyond 16 bits.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 64; ++i) {
        bytes.push_back(i % 4 < 2 ? 0xFF : 0x00);
        bytes.push_back(i % 4 < 2 ? 0xFF : 0x00);
    }
    Ref mb = host.newMemoryBlock(bytes);
    REALpicture pic = RenderSamples(block(mb), 0, 0, 64, 20000, 1, kBack, kFore, kLine, 16, 0);
    ASSERT_NE(pic, nullptr);
    EXPECT_TRUE(host.audit().violations.empty());
    REALUnlockObject(pic);
}

// ---- Runtime line drawing with a rectangular pen ---------------------------------------------

struct PenCase {
    const char* name;
    int32_t penWidth, penHeight, x1, y1, x2, y2;
    std::vector<std::array<int, 2>> points; // top-left corners of the pen
};

// clang-format off
const PenCase kPenCases[] = {
    {"Point", 1, 1, 2, 3, 2, 3, {{2, 3}}},
    {"HorizontalWidePen", 2, 1, 1, 1, 3, 1, {{1, 1}, {2, 1}, {3, 1}}},
    {"SteepDownLeft", 1, 1, 3, 0, 2, 3, {{3, 0}, {3, 1}, {2, 2}, {2, 3}}},
    {"ShallowUpward", 1, 1, 0, 2, 4, 0, {{0, 2}, {1, 1}, {2, 1}, {3, 0}, {4, 0}}},
    {"SquarePenFromOutside", 3, 2, -2, -1, 1, 2, {{-2, -1}, {-1, 0}, {0, 1}, {1, 2}}},
    {"FarOutsideEndPoint", 1, 1, 0, 0, 4, 2000000000, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}},
    {"NoPen", 0, 3, 0, 0, 4, 4, {}},
};
// clang-format on

class PenLine : public testing::TestWithParam<std::tuple<PenCase, HostCase>> {};

TEST_P(PenLine, FillsThePenRectangleAtEveryPointOfTheLine) {
    const auto& [c, hc] = GetParam();
    qrx::Host host(hc.config);
    Ref pic = host.newPicture(6, 6, false);
    auto* p = pic.as<Picture>();
    const uint8_t white[4] = {255, 255, 255, 255};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            p->setRgba(x, y, white);
    qrx::drawLine(*p, 0xAA123456u, c.penWidth, c.penHeight, c.x1, c.y1, c.x2, c.y2);
    std::vector<bool> inked(36, false);
    for (auto [px, py] : c.points)
        for (int y = py; y < py + c.penHeight; ++y)
            for (int x = px; x < px + c.penWidth; ++x)
                if (x >= 0 && y >= 0 && x < 6 && y < 6) inked[size_t(y) * 6 + x] = true;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            uint8_t got[4];
            p->rgba(x, y, got);
            const bool ink = inked[size_t(y) * 6 + x];
            EXPECT_EQ(got[0], ink ? 0x12 : 255) << x << "," << y;
            EXPECT_EQ(got[1], ink ? 0x34 : 255) << x << "," << y;
            EXPECT_EQ(got[2], ink ? 0x56 : 255) << x << "," << y;
            EXPECT_EQ(got[3], 255);
        }
}

INSTANTIATE_TEST_SUITE_P(Lines, PenLine,
                         testing::Combine(testing::ValuesIn(kPenCases),
                                          testing::Values(HostCase{"desktop", {}},
                                                          qrxtest::plainHostCases()[1],
                                                          qrxtest::plainHostCases().back())),
                         [](const testing::TestParamInfo<std::tuple<PenCase, HostCase>>& i) {
                             return std::string(std::get<0>(i.param).name) + "_" +
                                    std::get<1>(i.param).name;
                         });

// ---- 16-bit sums against 8-bit samples -------------------------------------------------------

// With AutoScale the picture depends on the samples only up to a power-of-two factor: 16-bit
// samples 256 times the 8-bit ones give exactly the same envelope values once scaled to the
// loudest column. The 16-bit formats are summed eight at a time and the 8-bit ones one by one,
// so the two must draw the same picture for every column length, including columns that end
// inside a group of eight and blocks longer than 65536 samples.
TEST(RenderSamplesSums, SixteenBitFormatsDrawWhatTheEightBitFormatsDraw) {
    std::unique_ptr<qrx::Host> host = qrxtest::loadHost();
    std::mt19937 rng(8);
    for (int n : {5, 8, 23, 1000, 70001, 200003}) {
        for (int width : {1, 7, 640}) {
            SCOPED_TRACE(testing::Message() << n << " samples, " << width << " columns");
            std::vector<int> s(static_cast<size_t>(n), 0);
            for (int& v : s)
                v = rng() % 4 == 0 ? (rng() % 2 ? 127 : -128) : int(rng() % 256) - 128;
            std::vector<uint8_t> b7, b8, b15, b16;
            for (int v : s) {
                b7.push_back(uint8_t(int8_t(v)));
                b8.push_back(uint8_t(v + 128));
                const auto w15 = uint16_t(int16_t(v * 256));
                const auto w16 = uint16_t(v * 256 + 32768);
                b15.insert(b15.end(), {uint8_t(w15), uint8_t(w15 >> 8)});
                b16.insert(b16.end(), {uint8_t(w16), uint8_t(w16 >> 8)});
            }
            auto render = [&](const std::vector<uint8_t>& bytes, int bits) {
                auto r = qrxtest::auditedGlobal(
                    *host, "RenderSamplesQRX",
                    {host->newMemoryBlock(bytes), int32_t(0), int32_t(3), int32_t(width),
                     int32_t(90), int32_t(1), qrx::Color{0xFFFFFF}, qrx::Color{0x3060C0},
                     qrx::Color{0x102030}, int32_t(bits), true});
                const Ref* pic = std::get_if<Ref>(&r.result);
                EXPECT_TRUE(pic && *pic);
                return pic && *pic ? pic->as<Picture>()->toImage().rgba : std::vector<uint8_t>{};
            };
            const std::vector<uint8_t> want = render(b7, 7);
            ASSERT_FALSE(want.empty());
            EXPECT_EQ(render(b8, 8), want);
            EXPECT_EQ(render(b15, 15), want);
            EXPECT_EQ(render(b16, 16), want);
        }
    }
}

} // namespace
