// Tone and colour operations (brightness, contrast, custom transform, saturation, tint) through the
// host runtime, on every host configuration: each result pixel must equal a plain scalar
// reference of the operation's arithmetic, hand-worked values must come out exactly, the result
// must be a new opaque picture of the source's kind, and every call must leave a clean audit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Color;
using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;

using RGB = std::array<int, 3>;

// ---- Scalar reference, written from the arithmetic of each operation ----

// Truncation toward zero; every amount used below keeps values well inside 32 bits.
int32_t refTrunc(double x) {
    return static_cast<int32_t>(std::trunc(x));
}

int refClamp(int32_t t) {
    return t < 0 ? 0 : (t > 255 ? 255 : t);
}

int refAbsolute(int v, double b) {
    return refClamp(refTrunc(v + b));
}

struct RefLinear {
    double scale, offset;
    explicit RefLinear(double b)
        : scale(b < 0 ? (b + 255) / 255 : (255 - b) / 255), offset(b < 0 ? 0.0 : b) {}
};

// Low 8 bits of the two's complement value, no clamping.
int refLinearBrightness(int v, double b) {
    RefLinear m(b);
    return static_cast<int>(static_cast<uint32_t>(refTrunc(v * m.scale + m.offset)) % 256u);
}

double refContrasted(int v, double k) {
    return static_cast<double>(v - 127) * (k + 1) + 127;
}

int refContrast(int v, double k) {
    return refClamp(refTrunc(refContrasted(v, k)));
}

int refContrastAbs(int v, double k, double b) {
    return refClamp(refTrunc(refContrasted(v, k) + b));
}

int refContrastLin(int v, double k, double b) {
    RefLinear m(b);
    return refClamp(refTrunc(refContrasted(v, k) * m.scale + m.offset));
}

int refCustom(int v, double a, double b) {
    return refClamp(refTrunc(v * a + b));
}

// 32-bit wrapping of the host's integers.
int32_t wrap32(int64_t x) {
    return static_cast<int32_t>(static_cast<uint32_t>(x & 0xFFFFFFFF));
}

RGB refSaturation(RGB p, int32_t amount) {
    const int gray = (p[0] + p[2] + 2 * p[1]) / 4;
    const int32_t k = wrap32(int64_t(amount) + 255);
    RGB out;
    for (int i = 0; i < 3; ++i) {
        const int32_t d = wrap32(int64_t(p[i] - gray) * k);
        // Quotient toward zero, whatever the sign.
        const int64_t q = d < 0 ? -(-int64_t(d) / 255) : int64_t(d) / 255;
        out[i] = refClamp(static_cast<int32_t>(gray + q));
    }
    return out;
}

RGB refTint(RGB p, uint32_t grey, uint32_t sepia) {
    auto frac = [](uint32_t c, int shift) { return double((c >> shift) & 0xFF) / 255.0; };
    const double level = (p[0] * frac(grey, 16) + p[1] * frac(grey, 8)) + p[2] * frac(grey, 0);
    return {std::min(refTrunc(level * frac(sepia, 16)), 255),
            std::min(refTrunc(level * frac(sepia, 8)), 255),
            std::min(refTrunc(level * frac(sepia, 0)), 255)};
}

// Applies one scalar function per channel.
std::function<RGB(RGB)> perChannel(std::function<int(int, int)> f) {
    return [f](RGB p) { return RGB{f(p[0], 0), f(p[1], 1), f(p[2], 2)}; };
}

// ---- The operations, each with its reference ----

struct ToneCase {
    std::string label;
    std::string method;
    bool global; // a global method taking the source picture first
    std::vector<Value> args;
    std::function<RGB(RGB)> reference;
};

std::vector<ToneCase> toneCases() {
    std::vector<ToneCase> cases;
    auto add = [&](std::string label, std::string method, std::vector<Value> args,
                   std::function<RGB(RGB)> ref, bool global = false) {
        cases.push_back(
            {std::move(label), std::move(method), global, std::move(args), std::move(ref)});
    };

    for (double b : {0.0, 10.9, -10.5, 300.0, -300.0, 0.999}) {
        add("abs1_" + std::to_string(b), "ChangeBrightnessAbsoluteQRX", {b},
            perChannel([b](int v, int) { return refAbsolute(v, b); }));
    }
    {
        const double a[3] = {50, -0.5, 255.99};
        add("abs3", "ChangeBrightnessAbsoluteQRX", {a[0], a[1], a[2]},
            perChannel([a](int v, int c) { return refAbsolute(v, a[c]); }));
    }
    // Amounts beyond +-255 leave 0 to 255; only the low 8 bits are kept, and negative values are
    // truncated toward zero before their low bits are taken.
    for (double b :
         {0.0, 10.0, 128.0, -10.0, -128.0, -100.0, 255.0, -255.0, 300.0, -300.0, 777.25, -1000.5}) {
        add("lin1_" + std::to_string(b), "ChangeBrightnessLinearQRX", {b},
            perChannel([b](int v, int) { return refLinearBrightness(v, b); }));
    }
    {
        const double a[3] = {600, -555.5, 12.5};
        add("lin3", "ChangeBrightnessLinearQRX", {a[0], a[1], a[2]},
            perChannel([a](int v, int c) { return refLinearBrightness(v, a[c]); }));
    }
    for (double k : {0.0, 1.0, -0.5, -1.0, -2.5, 0.33}) {
        add("contrast1_" + std::to_string(k), "ChangeContrastQRX", {k},
            perChannel([k](int v, int) { return refContrast(v, k); }));
    }
    {
        const double k[3] = {1, -0.5, -3};
        add("contrast3", "ChangeContrastQRX", {k[0], k[1], k[2]},
            perChannel([k](int v, int c) { return refContrast(v, k[c]); }));
    }
    const std::array<std::array<double, 2>, 4> kb = {
        {{1, 10}, {-0.5, -20.5}, {0, -100}, {2.25, 37.75}}};
    for (auto [k, b] : kb) {
        const std::string tag = std::to_string(k) + "_" + std::to_string(b);
        add("cabs1_" + tag, "ChangeContrastBrightnessAbsoluteQRX", {k, b},
            perChannel([k, b](int v, int) { return refContrastAbs(v, k, b); }));
        add("clin1_" + tag, "ChangeContrastBrightnessLinearQRX", {k, b},
            perChannel([k, b](int v, int) { return refContrastLin(v, k, b); }));
    }
    {
        const double k[3] = {0.5, -0.25, 1.5}, b[3] = {-40, 40.5, 300};
        add("cabs3", "ChangeContrastBrightnessAbsoluteQRX", {k[0], k[1], k[2], b[0], b[1], b[2]},
            perChannel([k, b](int v, int c) { return refContrastAbs(v, k[c], b[c]); }));
        add("clin3", "ChangeContrastBrightnessLinearQRX", {k[0], k[1], k[2], b[0], b[1], b[2]},
            perChannel([k, b](int v, int c) { return refContrastLin(v, k[c], b[c]); }));
    }
    const std::array<std::array<double, 2>, 6> ab = {
        {{1, 0}, {-1, 255}, {0, 300}, {2, -0.5}, {0.37, 12.9}, {-0.5, 100.7}}};
    for (auto [a, b] : ab) {
        add("custom_" + std::to_string(a) + "_" + std::to_string(b), "ChangeCustomQRX", {a, b},
            perChannel([a, b](int v, int) { return refCustom(v, a, b); }));
    }
    for (int32_t amount : {0, -255, 255, -128, 100, -1, -300, -1000, 1000, 20000000}) {
        add("saturation_" + std::to_string(amount), "ChangeSaturationQRX", {amount},
            [amount](RGB p) { return refSaturation(p, amount); });
    }
    const std::array<std::array<uint32_t, 2>, 6> tints = {{{0x4C961D, 0xFFE6B4},
                                                           {0xFFFFFF, 0xFFFFFF},
                                                           {0xFFFFFF, 0xFF0000},
                                                           {0x000000, 0x123456},
                                                           {0x879135, 0x0AC8FF},
                                                           {0xFF4C961D, 0x80FFE6B4}}};
    for (auto [grey, sepia] : tints) {
        add(
            "tint_" + std::to_string(grey) + "_" + std::to_string(sepia), "TintPictureQRX",
            {Color{grey}, Color{sepia}}, [grey, sepia](RGB p) { return refTint(p, grey, sepia); },
            true);
    }
    return cases;
}

qrx::CallResult callTone(qrx::Host& host, const Ref& pic, const std::string& method, bool global,
                         std::vector<Value> args) {
    if (!global) return qrxtest::auditedCall(host, pic, method, std::move(args));
    args.insert(args.begin(), pic);
    return qrxtest::auditedGlobal(host, method, std::move(args));
}

// A small picture: chosen colours first (the extremes, the pivot and its neighbours, the pixels of
// the hand-worked examples), then random colours.
Image tonePicture(bool hasAlpha) {
    const RGB chosen[] = {{0, 0, 0},       {255, 255, 255}, {127, 127, 127}, {128, 128, 128},
                          {126, 127, 128}, {200, 100, 50},  {10, 20, 30},    {100, 100, 100},
                          {0, 128, 255},   {255, 0, 127},   {1, 254, 126},   {51, 85, 170},
                          {191, 188, 125}, {5, 129, 200},   {254, 1, 2},     {50, 200, 100}};
    Image img;
    img.width = 12;
    img.height = 6;
    img.hasAlpha = hasAlpha;
    img.rgba.resize(size_t(img.width) * img.height * 4);
    std::mt19937 rng(11);
    for (int i = 0; i < img.width * img.height; ++i) {
        uint8_t* p = img.pixel(i % img.width, i / img.width);
        for (int c = 0; c < 3; ++c)
            p[c] = i < int(std::size(chosen)) ? uint8_t(chosen[i][c]) : uint8_t(rng());
        p[3] = hasAlpha ? uint8_t(rng()) : 255;
    }
    return img;
}

RGB colourAt(const Image& img, int x, int y) {
    const uint8_t* p = img.pixel(x, y);
    return {p[0], p[1], p[2]};
}

std::string show(RGB p) {
    return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
           ")";
}

// Checks a result: a new picture of the source's size and kind, every pixel written (opaque)
// with the colour want(x, y).
void expectResult(const qrx::CallResult& r, const Ref& source, bool withAlpha,
                  const std::function<RGB(int, int)>& want) {
    ASSERT_FALSE(r.exception);
    ASSERT_TRUE(std::holds_alternative<Ref>(r.result)) << "nil result";
    auto* out = std::get<Ref>(r.result).as<Picture>();
    ASSERT_NE(out, nullptr);
    const auto* src = source.as<Picture>();
    ASSERT_NE(out, src) << "the result must be a new picture";
    ASSERT_EQ(out->width(), src->width());
    ASSERT_EQ(out->height(), src->height());
    EXPECT_EQ(out->hasAlpha(), withAlpha);
    int mismatches = 0;
    for (int y = 0; y < out->height() && mismatches < 5; ++y) {
        for (int x = 0; x < out->width() && mismatches < 5; ++x) {
            uint8_t got[4];
            out->rgba(x, y, got);
            const RGB expected = want(x, y);
            const RGB colour = {got[0], got[1], got[2]};
            if (colour != expected || (withAlpha && got[3] != 255)) {
                ++mismatches;
                ADD_FAILURE() << "pixel (" << x << "," << y << "): want " << show(expected)
                              << " opaque, got " << show(colour) << " alpha " << int(got[3]);
            }
        }
    }
}

class ToneOnHost : public testing::TestWithParam<std::tuple<HostCase, bool>> {};

TEST_P(ToneOnHost, EveryPixelFollowsTheArithmetic) {
    auto [hostCase, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(hostCase.config);
    Ref pic = host->pictureFromImage(tonePicture(withAlpha));
    ASSERT_TRUE(pic);
    // The picture as the host keeps it is the reference.
    const Image src = pic.as<Picture>()->toImage();

    for (const ToneCase& c : toneCases()) {
        SCOPED_TRACE(c.label);
        auto r = callTone(*host, pic, c.method, c.global, c.args);
        expectResult(r, pic, withAlpha,
                     [&](int x, int y) { return c.reference(colourAt(src, x, y)); });
    }
    EXPECT_EQ(pic.as<Picture>()->toImage().rgba, src.rgba) << "the source changed";
}

// Hand-worked values: each input colour must come out exactly as listed.
struct LiteralCase {
    std::string label;
    std::string method;
    bool global;
    std::vector<Value> args;
    std::vector<std::pair<RGB, RGB>> pixels; // input -> output
};

const std::vector<LiteralCase>& literalCases() {
    static const std::vector<LiteralCase> cases = {
        {"abs_10.9",
         "ChangeBrightnessAbsoluteQRX",
         false,
         {10.9},
         {{{100, 0, 250}, {110, 10, 255}}}},
        {"abs_-10.5", "ChangeBrightnessAbsoluteQRX", false, {-10.5}, {{{100, 5, 11}, {89, 0, 0}}}},
        {"abs_300",
         "ChangeBrightnessAbsoluteQRX",
         false,
         {300.0},
         {{{0, 1, 255}, {255, 255, 255}}}},
        {"abs_-300", "ChangeBrightnessAbsoluteQRX", false, {-300.0}, {{{0, 128, 255}, {0, 0, 0}}}},
        {"abs3",
         "ChangeBrightnessAbsoluteQRX",
         false,
         {50.0, 0.0, 0.0},
         {{{100, 100, 100}, {150, 100, 100}}}},
        {"lin_10",
         "ChangeBrightnessLinearQRX",
         false,
         {10.0},
         {{{0, 128, 254}, {10, 132, 254}}, {{255, 255, 255}, {255, 255, 255}}}},
        {"lin_128",
         "ChangeBrightnessLinearQRX",
         false,
         {128.0},
         {{{0, 128, 255}, {128, 191, 255}}}},
        {"lin_-10", "ChangeBrightnessLinearQRX", false, {-10.0}, {{{0, 128, 255}, {0, 122, 245}}}},
        {"lin_-128", "ChangeBrightnessLinearQRX", false, {-128.0}, {{{255, 128, 0}, {127, 63, 0}}}},
        {"lin_255", "ChangeBrightnessLinearQRX", false, {255.0}, {{{0, 77, 255}, {255, 255, 255}}}},
        {"lin_-255", "ChangeBrightnessLinearQRX", false, {-255.0}, {{{0, 77, 255}, {0, 0, 0}}}},
        // The scale is stored once: 51 * (155 / 255) is 30.999..., not 31.
        {"lin_-100",
         "ChangeBrightnessLinearQRX",
         false,
         {-100.0},
         {{{51, 102, 153}, {30, 61, 92}}}},
        // Beyond -255 the value is negative: -17.6 truncates to -17, stored as 239.
        {"lin_-300",
         "ChangeBrightnessLinearQRX",
         false,
         {-300.0},
         {{{100, 255, 0}, {239, 211, 0}}}},
        // Beyond 255: 0 maps to 300, stored as 44.
        {"lin_300", "ChangeBrightnessLinearQRX", false, {300.0}, {{{0, 255, 0}, {44, 255, 44}}}},
        {"contrast_1",
         "ChangeContrastQRX",
         false,
         {1.0},
         {{{0, 100, 127}, {0, 73, 127}}, {{200, 255, 128}, {255, 255, 129}}}},
        {"contrast_-0.5",
         "ChangeContrastQRX",
         false,
         {-0.5},
         {{{0, 100, 127}, {63, 113, 127}}, {{200, 255, 255}, {163, 191, 191}}}},
        {"contrast_-1", "ChangeContrastQRX", false, {-1.0}, {{{0, 200, 255}, {127, 127, 127}}}},
        {"contrast3",
         "ChangeContrastQRX",
         false,
         {1.0, 0.0, 0.0},
         {{{100, 100, 100}, {73, 100, 100}}}},
        {"cabs_1_10",
         "ChangeContrastBrightnessAbsoluteQRX",
         false,
         {1.0, 10.0},
         {{{0, 100, 127}, {0, 83, 137}}, {{200, 200, 200}, {255, 255, 255}}}},
        {"cabs_-0.5_-20.5",
         "ChangeContrastBrightnessAbsoluteQRX",
         false,
         {-0.5, -20.5},
         {{{0, 100, 127}, {43, 93, 106}}, {{255, 255, 255}, {170, 170, 170}}}},
        {"clin_1_10",
         "ChangeContrastBrightnessLinearQRX",
         false,
         {1.0, 10.0},
         {{{0, 100, 127}, {0, 80, 132}}, {{200, 200, 200}, {255, 255, 255}}}},
        {"clin_0_-100",
         "ChangeContrastBrightnessLinearQRX",
         false,
         {0.0, -100.0},
         {{{0, 100, 127}, {0, 60, 77}}, {{255, 255, 255}, {155, 155, 155}}}},
        {"custom_1_0", "ChangeCustomQRX", false, {1.0, 0.0}, {{{0, 77, 255}, {0, 77, 255}}}},
        {"custom_-1_255", "ChangeCustomQRX", false, {-1.0, 255.0}, {{{0, 77, 255}, {255, 178, 0}}}},
        {"custom_0_300", "ChangeCustomQRX", false, {0.0, 300.0}, {{{0, 77, 255}, {255, 255, 255}}}},
        {"custom_2_-0.5", "ChangeCustomQRX", false, {2.0, -0.5}, {{{100, 200, 0}, {199, 255, 0}}}},
        {"saturation_0",
         "ChangeSaturationQRX",
         false,
         {int32_t{0}},
         {{{200, 100, 50}, {200, 100, 50}}}},
        {"saturation_-255",
         "ChangeSaturationQRX",
         false,
         {int32_t{-255}},
         {{{200, 100, 50}, {112, 112, 112}}}},
        {"saturation_255",
         "ChangeSaturationQRX",
         false,
         {int32_t{255}},
         {{{200, 100, 50}, {255, 88, 0}}}},
        // -12 * 127 / 255 is -5.98: toward zero it is -5, not -6.
        {"saturation_-128",
         "ChangeSaturationQRX",
         false,
         {int32_t{-128}},
         {{{200, 100, 50}, {155, 107, 82}}, {{90, 90, 90}, {90, 90, 90}}}},
        {"tint_sepia",
         "TintPictureQRX",
         true,
         {Color{0x4C961D}, Color{0xFFE6B4}},
         {{{200, 100, 50}, {124, 111, 87}}, {{255, 255, 255}, {255, 230, 180}}}},
        {"tint_white_white",
         "TintPictureQRX",
         true,
         {Color{0xFFFFFF}, Color{0xFFFFFF}},
         {{{200, 100, 50}, {255, 255, 255}}}},
        {"tint_white_red",
         "TintPictureQRX",
         true,
         {Color{0xFFFFFF}, Color{0xFF0000}},
         {{{10, 20, 30}, {60, 0, 0}}}},
        {"tint_black",
         "TintPictureQRX",
         true,
         {Color{0}, Color{0xFFFFFF}},
         {{{255, 255, 255}, {0, 0, 0}}, {{10, 200, 30}, {0, 0, 0}}}},
        // Red and green are summed first: the level is 233.99999999999997, not 234.
        {"tint_order",
         "TintPictureQRX",
         true,
         {Color{0x879135}, Color{0xFFFFFF}},
         {{{191, 188, 125}, {233, 233, 233}}}},
    };
    return cases;
}

class ToneLiterals : public testing::TestWithParam<std::tuple<HostCase, bool>> {};

TEST_P(ToneLiterals, HandWorkedValues) {
    auto [hostCase, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(hostCase.config);
    for (const LiteralCase& c : literalCases()) {
        SCOPED_TRACE(c.label);
        Image img;
        img.width = int(c.pixels.size());
        img.height = 1;
        img.hasAlpha = withAlpha;
        for (auto& [in, out] : c.pixels)
            for (int v : {in[0], in[1], in[2], withAlpha ? 77 : 255})
                img.rgba.push_back(uint8_t(v));
        Ref pic = host->pictureFromImage(img);
        ASSERT_TRUE(pic);
        auto r = callTone(*host, pic, c.method, c.global, c.args);
        expectResult(r, pic, withAlpha, [&](int x, int) { return c.pixels[x].second; });
    }
}

std::vector<std::tuple<HostCase, bool>> allCases() {
    std::vector<std::tuple<HostCase, bool>> v;
    for (auto& c : qrxtest::plainHostCases())
        v.emplace_back(c, false);
    for (auto& c : qrxtest::alphaHostCases())
        v.emplace_back(c, true);
    return v;
}

std::string hostCaseName(const testing::TestParamInfo<std::tuple<HostCase, bool>>& info) {
    return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_alpha" : "_plain");
}

INSTANTIATE_TEST_SUITE_P(Tone, ToneOnHost, testing::ValuesIn(allCases()), hostCaseName);
INSTANTIATE_TEST_SUITE_P(Tone, ToneLiterals, testing::ValuesIn(allCases()), hostCaseName);

// A nil source gives nil, without an exception and without a leak.
TEST(Tone, TintOfNilIsNil) {
    auto host = qrxtest::loadHost();
    auto r = qrxtest::auditedGlobal(*host, "TintPictureQRX",
                                    {qrx::Nil{}, Color{0x4C961D}, Color{0xFFE6B4}});
    EXPECT_FALSE(r.exception);
    EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result));
}

// An alpha source on a host older than 2011.04 gets no writer: nil from every operation.
TEST(Tone, AlphaSourceOnOlderHostIsNil) {
    qrx::HostConfig config;
    config.version = 2011.03;
    auto host = qrxtest::loadHost(config);
    Ref pic = host->pictureFromImage(tonePicture(true));
    for (const ToneCase& c : toneCases()) {
        SCOPED_TRACE(c.label);
        auto r = callTone(*host, pic, c.method, c.global, c.args);
        EXPECT_FALSE(r.exception);
        EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result));
    }
}

// The tone methods of Picture arrive in their place among the inversion methods, each marked for
// console hosts, and the tint global with them.
TEST(Tone, RegisteredInOrderWithConsoleFlags) {
    const char* const order[] = {
        "ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double, "
        "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, "
        "BrightnessBlue as double) as picture",
        "ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double, "
        "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, "
        "BrightnessBlue as double) as picture",
        "ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture",
        "ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture",
        "ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double, "
        "BrightnessBlue as double) as picture",
        "ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double, "
        "BrightnessBlue as double) as picture",
        "ChangeBrightnessAbsoluteQRX(Brightness as double) as picture",
        "ChangeBrightnessLinearQRX(Brightness as double) as picture",
        "ChangeContrastQRX(Contrast as double) as picture",
        "ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as "
        "double) as picture",
        "ChangeCustomQRX(a as double, b as double) as picture",
        "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
        "InvertQRX as picture",
        "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as "
        "picture",
        "InvertGrayQRX as picture",
        "ChangeSaturationQRX(Amount as integer) as picture",
    };
    auto host = qrxtest::loadHost();
    const qrx::ClassInfo* cls = host->findClass("Picture");
    ASSERT_NE(cls, nullptr);
    std::vector<std::string> got;
    for (const qrx::MethodInfo& m : cls->extensions) {
        if (std::find(std::begin(order), std::end(order), m.decl.text) == std::end(order)) continue;
        got.push_back(m.decl.text);
        EXPECT_EQ(m.flags, 4u) << m.decl.text;
    }
    EXPECT_EQ(got, std::vector<std::string>(std::begin(order), std::end(order)));

    const std::string tint =
        "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as color) as picture";
    auto globals = host->globalOverloads("TintPictureQRX");
    ASSERT_EQ(globals.size(), 1u);
    EXPECT_EQ(globals[0]->decl.text, tint);
    EXPECT_EQ(globals[0]->flags, 4u);
}

} // namespace
