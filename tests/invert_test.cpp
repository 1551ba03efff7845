// Inversion, whole picture and rectangles, on every host configuration and pixel layout: the same
// logical picture must give the same colours everywhere, pixels outside the rectangle must not be
// written, and every call must leave a clean audit.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "op_test_util.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

constexpr int W = 100;
constexpr int H = 40;
constexpr uint8_t kPlainFill[4] = {7, 77, 177, 255};
constexpr uint8_t kAlphaFill[4] = {9, 99, 199, 0};

struct Rect {
    int x0, y0, x1, y1;
};

struct InvertCase {
    const char* method;
    std::optional<std::array<int32_t, 4>> args; // none: the no-argument overload
    Rect expected;                              // pixels written; empty when x0 >= x1
    bool grayOnly;
};

const InvertCase kCases[] = {
    {"InvertQRX", std::nullopt, {0, 0, W, H}, false},
    {"InvertQRX", {{0, 0, 0, 0}}, {0, 0, W, H}, false},
    {"InvertQRX", {{-10, 0, 20, 1}}, {0, 0, 10, 1}, false},
    {"InvertQRX", {{-10, 0, 0, 1}}, {0, 0, 90, 1}, false},
    {"InvertQRX", {{5, 5, 10, 10}}, {5, 5, 15, 15}, false},
    {"InvertQRX", {{10, -5, -3, 0}}, {10, 0, W, 35}, false},
    {"InvertQRX", {{95, 35, 50, 50}}, {95, 35, W, H}, false},
    {"InvertQRX", {{W, 0, 5, 5}}, {0, 0, 0, 0}, false},
    {"InvertQRX", {{0, H, 5, 5}}, {0, 0, 0, 0}, false},
    {"InvertQRX", {{-50, -50, 20, 20}}, {0, 0, 0, 0}, false},
    {"InvertGrayQRX", std::nullopt, {0, 0, W, H}, true},
    {"InvertGrayQRX", {{0, 0, 0, 0}}, {0, 0, 0, 0}, true},
    {"InvertGrayQRX", {{0, 0, -1, -1}}, {0, 0, W, H}, true},
    {"InvertGrayQRX", {{-10, 0, 20, 1}}, {0, 0, 10, 1}, true},
    {"InvertGrayQRX", {{-10, 0, -1, 1}}, {0, 0, 90, 1}, true},
    {"InvertGrayQRX", {{5, 5, 10, 0}}, {0, 0, 0, 0}, true},
    {"InvertGrayQRX", {{20, 10, 1, 1}}, {20, 10, 21, 11}, true},
};

bool inside(const Rect& r, int x, int y) {
    return x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1;
}

// What the result must hold at (x, y): the transformed source inside the rectangle (opaque),
// the new picture's fill outside it.
void expectedPixel(const InvertCase& c, const Image& src, int x, int y, const uint8_t fill[4],
                   uint8_t out[4]) {
    if (!inside(c.expected, x, y)) {
        std::memcpy(out, fill, 4);
        return;
    }
    const uint8_t* s = src.pixel(x, y);
    bool gray = s[0] == s[1] && s[1] == s[2];
    for (int i = 0; i < 3; ++i)
        out[i] = (!c.grayOnly || gray) ? uint8_t(255 - s[i]) : s[i];
    out[3] = 255;
}

class InvertOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(InvertOnHost, RectangleRulesAndColours) {
    const bool withAlpha = GetParam().alpha;
    qrx::HostConfig config = GetParam().config;
    std::memcpy(config.plainFill, kPlainFill, 4);
    std::memcpy(config.alphaFill, kAlphaFill, 4);
    auto host = qrxtest::loadHost(config);
    Image src = qrxtest::patternImage(W, H, withAlpha, 7);
    Ref pic = host->pictureFromImage(src);
    ASSERT_TRUE(pic);
    // The picture as the host keeps it (console alpha has 7 bits) is the reference.
    src = pic.as<Picture>()->toImage();

    for (const InvertCase& c : kCases) {
        SCOPED_TRACE(std::string(c.method) + (c.args ? "(" + std::to_string((*c.args)[0]) + "," +
                                                           std::to_string((*c.args)[1]) + "," +
                                                           std::to_string((*c.args)[2]) + "," +
                                                           std::to_string((*c.args)[3]) + ")"
                                                     : ""));
        std::vector<Value> args;
        if (c.args)
            for (int32_t a : *c.args)
                args.push_back(a);
        const qrx::CallResult r = qrxtest::auditedCall(*host, pic, c.method, args);
        const Picture* out = qrxtest::newResult(r, pic, withAlpha);
        ASSERT_NE(out, nullptr);
        const uint8_t* fill = withAlpha ? kAlphaFill : kPlainFill;
        int mismatches = 0;
        for (int y = 0; y < H && mismatches < 5; ++y) {
            for (int x = 0; x < W && mismatches < 5; ++x) {
                uint8_t want[4], got[4];
                expectedPixel(c, src, x, y, fill, want);
                out->rgba(x, y, got);
                // Without an alpha channel the alpha byte may be padding: compare colours only.
                int n = withAlpha ? 4 : 3;
                if (std::memcmp(want, got, n) != 0) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel (" << x << "," << y << "): want " << int(want[0]) << ","
                                  << int(want[1]) << "," << int(want[2]) << "," << int(want[3])
                                  << " got " << int(got[0]) << "," << int(got[1]) << ","
                                  << int(got[2]) << "," << int(got[3]);
                }
            }
        }
    }
    // The source is untouched.
    EXPECT_EQ(pic.as<Picture>()->toImage().rgba, src.rgba);
}

INSTANTIATE_TEST_SUITE_P(AllHosts, InvertOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

TEST(Invert, GrayExamples) {
    auto host = qrxtest::loadHost();
    Image img;
    img.width = 3;
    img.height = 1;
    img.rgba = {128, 128, 128, 255, 0, 0, 0, 255, 128, 128, 129, 255};
    Ref pic = host->pictureFromImage(img);
    auto r = qrxtest::auditedCall(*host, pic, "InvertGrayQRX", {});
    Image out = std::get<Ref>(r.result).as<Picture>()->toImage();
    const uint8_t want[3][3] = {{127, 127, 127}, {255, 255, 255}, {128, 128, 129}};
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(0, std::memcmp(out.pixel(x, 0), want[x], 3)) << x;
}

// A writer for a source with an alpha channel needs a host of 2011.04 or later; below it the
// operation gives nil, without an exception and without a leak.
TEST(Invert, AlphaSourceNeedsHost201104) {
    for (double version : {2011.03, 2011.04}) {
        qrx::HostConfig config;
        config.version = version;
        auto host = qrxtest::loadHost(config);
        Ref pic = host->pictureFromImage(qrxtest::patternImage(8, 8, true));
        auto r = qrxtest::auditedCall(*host, pic, "InvertQRX", {});
        EXPECT_FALSE(r.exception);
        EXPECT_EQ(std::holds_alternative<Ref>(r.result), version >= 2011.04) << version;
    }
}

} // namespace
