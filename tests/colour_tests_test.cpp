// Whether a picture or a rectangle of it is all black, white or gray, and how colourful it is, on
// every host configuration: hand-worked examples, the rectangle rules against a plain reference on
// random rectangles, early stops that must not skip a failing pixel, and clean audits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "colour_test_util.h"
#include "ops/colour_tests.h"
#include "ops/colourfulness.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using colourtest::filledImage;
using colourtest::RGBA;
using colourtest::setPixel;
using qrx::Image;
using qrx::Ref;
using qrx::Value;

enum class Kind { Black, White, Gray };

// The plain reference: the clipped rectangle, every pixel tested.
bool reference(const Image& img, Kind test, int32_t tolerance, int32_t left, int32_t top,
               int32_t width, int32_t height) {
    const long long w = width < 0 ? img.width : width;
    const long long h = height < 0 ? img.height : height;
    const long long right = std::min<long long>(left + w, img.width);
    const long long bottom = std::min<long long>(top + h, img.height);
    const long long t = std::llabs(static_cast<long long>(tolerance));
    for (long long y = std::max(top, 0); y < bottom; ++y)
        for (long long x = std::max(left, 0); x < right; ++x) {
            const uint8_t* p = img.pixel(int(x), int(y));
            const int r = p[0], g = p[1], b = p[2];
            bool ok = test == Kind::Black ? (r == 0 && g == 0 && b == 0)
                      : test == Kind::White
                          ? (r == 255 && g == 255 && b == 255)
                          : (std::abs(r - g) <= t && std::abs(r - b) <= t && std::abs(g - b) <= t);
            if (!ok) return false;
        }
    return true;
}

const char* methodOf(Kind t) {
    return t == Kind::Black ? "isBlackQRX" : t == Kind::White ? "isWhiteQRX" : "isGrayQRX";
}

bool call(qrx::Host& host, const Ref& pic, Kind test, std::optional<int32_t> tolerance,
          std::optional<std::array<int32_t, 4>> rect) {
    std::vector<Value> args;
    if (tolerance) args.push_back(*tolerance);
    if (rect)
        for (int32_t a : *rect)
            args.push_back(a);
    qrx::CallResult r = qrxtest::auditedCall(host, pic, methodOf(test), args);
    EXPECT_FALSE(r.exception);
    EXPECT_TRUE(std::holds_alternative<bool>(r.result));
    return std::holds_alternative<bool>(r.result) && std::get<bool>(r.result);
}

struct Example {
    const char* what;
    int width, height;
    RGBA fill;
    std::vector<std::pair<std::array<int, 2>, RGBA>> pixels; // (x, y) -> colour
    Kind test;
    std::optional<int32_t> tolerance; // isGray's; none for the short form without argument
    std::optional<std::array<int32_t, 4>> rect;
    bool expected;
};

const RGBA kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255};

// clang-format off
const Example kExamples[] = {
    {"black any alpha", 6, 4, {0, 0, 0, 0}, {{{1, 1}, {0, 0, 0, 255}}}, Kind::Black, {}, {}, true},
    {"one blue unit", 6, 4, kBlack, {{{5, 3}, {0, 0, 1, 255}}}, Kind::Black, {}, {}, false},
    {"white with 254", 6, 4, kWhite, {{{0, 2}, {255, 255, 254, 255}}}, Kind::White, {}, {}, false},
    {"all white", 6, 4, kWhite, {}, Kind::White, {}, {}, true},
    {"gray 0 on 129", 3, 3, {128, 128, 128, 255}, {{{1, 1}, {128, 128, 129, 255}}}, Kind::Gray, 0, {}, false},
    {"gray 1 on 129", 3, 3, {128, 128, 128, 255}, {{{1, 1}, {128, 128, 129, 255}}}, Kind::Gray, 1, {}, true},
    {"gray -1 on 129", 3, 3, {128, 128, 128, 255}, {{{1, 1}, {128, 128, 129, 255}}}, Kind::Gray, -1, {}, true},
    {"gray short form default 0", 3, 3, {128, 128, 128, 255}, {{{2, 2}, {128, 128, 129, 255}}}, Kind::Gray, std::nullopt, {}, false},
    {"gray 10 red-blue 20", 2, 2, {9, 9, 9, 255}, {{{0, 0}, {100, 110, 120, 255}}}, Kind::Gray, 10, {}, false},
    {"gray 10 within", 2, 2, {9, 9, 9, 255}, {{{0, 0}, {100, 110, 105, 255}}}, Kind::Gray, 10, {}, true},
    {"gray -10 red-blue 20", 2, 2, {9, 9, 9, 255}, {{{0, 0}, {100, 110, 120, 255}}}, Kind::Gray, -10, {}, false},
    {"empty rectangle", 4, 4, {1, 2, 3, 255}, {}, Kind::Black, {}, {{0, 0, 0, 0}}, true},
    {"zero height", 4, 4, {1, 2, 3, 255}, {}, Kind::White, {}, {{0, 0, 4, 0}}, true},
    {"gray empty", 4, 4, {1, 2, 3, 255}, {}, Kind::Gray, 0, {{0, 0, 0, 3}}, true},
    {"whole by -1", 4, 4, kBlack, {{{3, 3}, {1, 0, 0, 255}}}, Kind::Black, {}, {{0, 0, -1, -1}}, false},
    {"top beyond", 4, 4, {1, 2, 3, 255}, {}, Kind::Black, {}, {{0, 4, -1, -1}}, true},
    {"left beyond", 4, 4, {1, 2, 3, 255}, {}, Kind::Black, {}, {{4, 0, -1, -1}}, true},
    // Columns 0 to 89 of row 0 only: the last ten columns and row 1 are not tested.
    {"omitted width keeps start", 100, 2, kWhite, {{{90, 0}, kBlack}, {{99, 0}, kBlack}, {{0, 1}, kBlack}}, Kind::White, {}, {{-10, 0, -1, 1}}, true},
    {"omitted width, column 89", 100, 2, kWhite, {{{89, 0}, kBlack}}, Kind::White, {}, {{-10, 0, -1, 1}}, false},
    {"inside 5..14 only", 20, 20, kBlack, {{{4, 5}, kWhite}, {{15, 14}, kWhite}, {{5, 4}, kWhite}, {{14, 15}, kWhite}}, Kind::Black, {}, {{5, 5, 10, 10}}, true},
    {"inside corner 14,14", 20, 20, kBlack, {{{14, 14}, kWhite}}, Kind::Black, {}, {{5, 5, 10, 10}}, false},
    // Early stop: the only failing pixel is the last one of the walk.
    {"last pixel fails", 7, 5, kWhite, {{{6, 4}, {255, 0, 255, 255}}}, Kind::White, {}, {}, false},
    {"last pixel of rectangle fails", 9, 9, kBlack, {{{6, 6}, {0, 9, 0, 255}}}, Kind::Black, {}, {{2, 2, 5, 5}}, false},
};
// clang-format on

class ColourTestsOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(ColourTestsOnHost, Examples) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    for (const Example& e : kExamples) {
        SCOPED_TRACE(e.what);
        Image img = filledImage(e.width, e.height, e.fill, withAlpha);
        for (auto& [at, c] : e.pixels)
            setPixel(img, at[0], at[1], c);
        Ref pic = host->pictureFromImage(img);
        ASSERT_TRUE(pic);
        EXPECT_EQ(call(*host, pic, e.test, e.tolerance, e.rect), e.expected);
    }
}

// Random rectangles, some partly or wholly outside, some with omitted or zero sizes, against the
// reference, on pictures that are nearly all of one kind with a few failing pixels.
TEST_P(ColourTestsOnHost, RectanglesAgainstReference) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    std::mt19937 rng(11);
    const int W = 23, H = 17;
    const struct {
        Kind test;
        RGBA base;
    } kinds[] = {{Kind::Black, {0, 0, 0, 255}},
                 {Kind::White, {255, 255, 255, 255}},
                 {Kind::Gray, {90, 92, 91, 255}}};
    int trues = 0, falses = 0;
    for (auto& kind : kinds) {
        Image img = filledImage(W, H, kind.base, withAlpha);
        for (int i = 0; i < 4; ++i)
            setPixel(img, int(rng() % W), int(rng() % H), {7, 3, 200, 255});
        for (int y = 0; y < H; ++y)
            img.pixel(y % W, y)[3] = withAlpha ? uint8_t((y * 15) | 1) : 255;
        Ref pic = host->pictureFromImage(img);
        img = pic.as<qrx::Picture>()->toImage();
        auto pick = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
        for (int i = 0; i < 60; ++i) {
            std::array<int32_t, 4> r{pick(-8, W + 2), pick(-8, H + 2), pick(-2, W), pick(-2, H)};
            const int32_t tol = pick(-3, 3);
            const bool want = reference(img, kind.test, tol, r[0], r[1], r[2], r[3]);
            SCOPED_TRACE(std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                         std::to_string(r[2]) + "," + std::to_string(r[3]) + " tol " +
                         std::to_string(tol));
            EXPECT_EQ(call(*host, pic, kind.test,
                           kind.test == Kind::Gray ? std::optional<int32_t>(tol) : std::nullopt, r),
                      want);
            (want ? trues : falses)++;
        }
        EXPECT_EQ(call(*host, pic, kind.test,
                       kind.test == Kind::Gray ? std::optional<int32_t>(1) : std::nullopt, {}),
                  reference(img, kind.test, 1, 0, 0, -1, -1));
    }
    // Both answers occur, so the comparison says something.
    EXPECT_GT(trues, 10);
    EXPECT_GT(falses, 10);
}

// ---- Colourfulness ----

struct ColournessCase {
    const char* what;
    RGBA colour;
    std::optional<int32_t> threshold; // none: the default
    double expected;
};

const ColournessCase kColourness[] = {
    {"gray", {120, 120, 120, 255}, {}, 0.0},
    {"black", {0, 0, 0, 255}, {}, 0.0},
    {"dark 29", {29, 0, 29, 255}, {}, 0.0},
    {"30 is not dark", {30, 0, 30, 255}, {}, 1.0},
    {"dark even with any threshold", {29, 0, 29, 255}, -5, 0.0},
    {"green reference within 10", {100, 110, 120, 255}, {}, 0.0},
    {"green reference within 10 given", {100, 110, 120, 255}, 10, 0.0},
    {"green 11 above", {100, 111, 100, 255}, {}, 1.0},
    {"green 11 above, threshold 11", {100, 111, 100, 255}, 11, 0.0},
    {"red blue only, threshold 0", {100, 100, 101, 255}, 0, 1.0},
    {"red equals blue equals green, threshold 0", {100, 100, 100, 255}, 0, 0.0},
    {"red and blue differ but not from green", {90, 100, 110, 255}, 10, 0.0},
    {"negative threshold counts gray", {100, 100, 100, 255}, -1, 1.0},
    {"negative threshold skips dark", {10, 10, 10, 255}, -1, 0.0},
    {"green below red", {140, 100, 100, 255}, 39, 1.0},
    {"green below red by exactly t", {140, 100, 100, 255}, 40, 0.0},
};

class ColournessOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(ColournessOnHost, CasesAndFraction) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    for (const ColournessCase& c : kColourness) {
        SCOPED_TRACE(c.what);
        Ref pic = host->pictureFromImage(filledImage(5, 3, c.colour, withAlpha));
        std::vector<Value> args;
        if (c.threshold) args.push_back(*c.threshold);
        auto r = qrxtest::auditedCall(*host, pic, "ColornessQRX", args);
        ASSERT_TRUE(std::holds_alternative<double>(r.result));
        EXPECT_EQ(std::get<double>(r.result), c.expected);
    }
    // One colourful pixel of four, and three of seven.
    Image img = filledImage(2, 2, {50, 50, 50, 255}, withAlpha);
    setPixel(img, 1, 0, {50, 70, 50, 17});
    Ref pic = host->pictureFromImage(img);
    EXPECT_EQ(std::get<double>(qrxtest::auditedCall(*host, pic, "ColornessQRX", {}).result), 0.25);
    Image row = filledImage(7, 1, {200, 200, 200, 255}, withAlpha);
    for (int x : {0, 3, 6})
        setPixel(row, x, 0, {200, 180, 200, 255});
    pic = host->pictureFromImage(row);
    EXPECT_EQ(std::get<double>(qrxtest::auditedCall(*host, pic, "ColornessQRX", {}).result),
              3.0 / 7.0);
}

INSTANTIATE_TEST_SUITE_P(AllHosts, ColourTestsOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);
INSTANTIATE_TEST_SUITE_P(AllHosts, ColournessOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// A nil picture answers false from every test and 0.0 for colourfulness.
class ColourTestsDirect : public colourtest::Direct {};

TEST_F(ColourTestsDirect, NilPicture) {
    EXPECT_FALSE(isBlack(nullptr, 0, 0, 0, 0));
    EXPECT_FALSE(isBlack2(nullptr));
    EXPECT_FALSE(isWhite(nullptr, 0, 0, -1, -1));
    EXPECT_FALSE(isWhite2(nullptr));
    EXPECT_FALSE(isGray(nullptr, 255, 0, 0, 0, 0));
    EXPECT_FALSE(isGray2(nullptr, 255));
    EXPECT_EQ(ColornessQRX(nullptr, 10), 0.0);
}

// The most negative tolerance is met by every pixel, not undone by a wrapped absolute value.
TEST_F(ColourTestsDirect, MostNegativeTolerance) {
    Ref pic = host->pictureFromImage(filledImage(3, 2, {0, 128, 255, 255}));
    auto* handle = static_cast<REALpicture>(pic->handle());
    EXPECT_TRUE(isGray2(handle, INT32_MIN));
    EXPECT_FALSE(isGray2(handle, 254));
    EXPECT_TRUE(isGray2(handle, 255));
}

} // namespace
