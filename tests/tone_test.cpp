// Tone and colour operations (brightness, contrast, custom transform, saturation, tint) through the
// host runtime, on every host configuration: hand-worked values must come out exactly, the result
// must be a new opaque picture of the source's kind, the source stays untouched, and every call
// leaves a clean audit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "op_test_util.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using optest::RGB;
using qrx::Color;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

struct LiteralCase {
    std::string label;
    std::string method;
    bool global; // a global method taking the source picture first
    std::vector<Value> args;
    std::vector<std::pair<RGB, RGB>> pixels; // input -> output
};

// clang-format off
const std::vector<LiteralCase>& literalCases() {
    static const std::vector<LiteralCase> cases = {
        {"abs_10.9", "ChangeBrightnessAbsoluteQRX", false, {10.9}, {{{100, 0, 250}, {110, 10, 255}}}},
        {"abs_-10.5", "ChangeBrightnessAbsoluteQRX", false, {-10.5}, {{{100, 5, 11}, {89, 0, 0}}}},
        {"abs_300", "ChangeBrightnessAbsoluteQRX", false, {300.0}, {{{0, 1, 255}, {255, 255, 255}}}},
        {"abs_-300", "ChangeBrightnessAbsoluteQRX", false, {-300.0}, {{{0, 128, 255}, {0, 0, 0}}}},
        {"abs3", "ChangeBrightnessAbsoluteQRX", false, {50.0, 0.0, -0.5}, {{{100, 100, 100}, {150, 100, 99}}}},
        {"lin_10", "ChangeBrightnessLinearQRX", false, {10.0},
         {{{0, 128, 254}, {10, 132, 254}}, {{255, 255, 255}, {255, 255, 255}}}},
        {"lin_128", "ChangeBrightnessLinearQRX", false, {128.0}, {{{0, 128, 255}, {128, 191, 255}}}},
        {"lin_-10", "ChangeBrightnessLinearQRX", false, {-10.0}, {{{0, 128, 255}, {0, 122, 245}}}},
        {"lin_-128", "ChangeBrightnessLinearQRX", false, {-128.0}, {{{255, 128, 0}, {127, 63, 0}}}},
        {"lin_255", "ChangeBrightnessLinearQRX", false, {255.0}, {{{0, 77, 255}, {255, 255, 255}}}},
        {"lin_-255", "ChangeBrightnessLinearQRX", false, {-255.0}, {{{0, 77, 255}, {0, 0, 0}}}},
        // The scale is stored once: 51 * (155 / 255) is 30.999..., not 31.
        {"lin_-100", "ChangeBrightnessLinearQRX", false, {-100.0}, {{{51, 102, 153}, {30, 61, 92}}}},
        // Beyond -255 the value is negative: -17.6 truncates to -17, stored as 239.
        {"lin_-300", "ChangeBrightnessLinearQRX", false, {-300.0}, {{{100, 255, 0}, {239, 211, 0}}}},
        // Beyond 255: 0 maps to 300, stored as 44.
        {"lin_300", "ChangeBrightnessLinearQRX", false, {300.0}, {{{0, 255, 0}, {44, 255, 44}}}},
        {"lin3", "ChangeBrightnessLinearQRX", false, {10.0, -10.0, 300.0}, {{{0, 128, 0}, {10, 122, 44}}}},
        {"contrast_1", "ChangeContrastQRX", false, {1.0},
         {{{0, 100, 127}, {0, 73, 127}}, {{200, 255, 128}, {255, 255, 129}}}},
        {"contrast_-0.5", "ChangeContrastQRX", false, {-0.5},
         {{{0, 100, 127}, {63, 113, 127}}, {{200, 255, 255}, {163, 191, 191}}}},
        {"contrast_-1", "ChangeContrastQRX", false, {-1.0}, {{{0, 200, 255}, {127, 127, 127}}}},
        {"contrast3", "ChangeContrastQRX", false, {1.0, 0.0, -0.5}, {{{100, 100, 0}, {73, 100, 63}}}},
        {"cabs_1_10", "ChangeContrastBrightnessAbsoluteQRX", false, {1.0, 10.0},
         {{{0, 100, 127}, {0, 83, 137}}, {{200, 200, 200}, {255, 255, 255}}}},
        {"cabs_-0.5_-20.5", "ChangeContrastBrightnessAbsoluteQRX", false, {-0.5, -20.5},
         {{{0, 100, 127}, {43, 93, 106}}, {{255, 255, 255}, {170, 170, 170}}}},
        {"cabs3", "ChangeContrastBrightnessAbsoluteQRX", false, {1.0, -0.5, 0.0, 10.0, -20.5, 0.0},
         {{{100, 0, 50}, {83, 43, 50}}}},
        {"clin_1_10", "ChangeContrastBrightnessLinearQRX", false, {1.0, 10.0},
         {{{0, 100, 127}, {0, 80, 132}}, {{200, 200, 200}, {255, 255, 255}}}},
        {"clin_0_-100", "ChangeContrastBrightnessLinearQRX", false, {0.0, -100.0},
         {{{0, 100, 127}, {0, 60, 77}}, {{255, 255, 255}, {155, 155, 155}}}},
        {"clin3", "ChangeContrastBrightnessLinearQRX", false, {1.0, 0.0, 0.0, 10.0, -100.0, 0.0},
         {{{100, 100, 60}, {80, 60, 60}}}},
        {"custom_1_0", "ChangeCustomQRX", false, {1.0, 0.0}, {{{0, 77, 255}, {0, 77, 255}}}},
        {"custom_-1_255", "ChangeCustomQRX", false, {-1.0, 255.0}, {{{0, 77, 255}, {255, 178, 0}}}},
        {"custom_0_300", "ChangeCustomQRX", false, {0.0, 300.0}, {{{0, 77, 255}, {255, 255, 255}}}},
        {"custom_2_-0.5", "ChangeCustomQRX", false, {2.0, -0.5}, {{{100, 200, 0}, {199, 255, 0}}}},
        {"saturation_0", "ChangeSaturationQRX", false, {int32_t{0}}, {{{200, 100, 50}, {200, 100, 50}}}},
        {"saturation_-255", "ChangeSaturationQRX", false, {int32_t{-255}}, {{{200, 100, 50}, {112, 112, 112}}}},
        {"saturation_255", "ChangeSaturationQRX", false, {int32_t{255}}, {{{200, 100, 50}, {255, 88, 0}}}},
        // -12 * 127 / 255 is -5.98: toward zero it is -5, not -6.
        {"saturation_-128", "ChangeSaturationQRX", false, {int32_t{-128}},
         {{{200, 100, 50}, {155, 107, 82}}, {{90, 90, 90}, {90, 90, 90}}}},
        // The products are host integers: 192 * 20000255 wraps to a negative value.
        {"saturation_wraps", "ChangeSaturationQRX", false, {int32_t{20000000}}, {{{255, 0, 0}, {0, 0, 0}}}},
        {"tint_sepia", "TintPictureQRX", true, {Color{0x4C961D}, Color{0xFFE6B4}},
         {{{200, 100, 50}, {124, 111, 87}}, {{255, 255, 255}, {255, 230, 180}}}},
        // The colours' top bytes are no part of them.
        {"tint_top_bytes", "TintPictureQRX", true, {Color{0xFF4C961D}, Color{0x80FFE6B4}},
         {{{200, 100, 50}, {124, 111, 87}}}},
        {"tint_white_white", "TintPictureQRX", true, {Color{0xFFFFFF}, Color{0xFFFFFF}},
         {{{200, 100, 50}, {255, 255, 255}}}},
        {"tint_white_red", "TintPictureQRX", true, {Color{0xFFFFFF}, Color{0xFF0000}}, {{{10, 20, 30}, {60, 0, 0}}}},
        {"tint_black", "TintPictureQRX", true, {Color{0}, Color{0xFFFFFF}},
         {{{255, 255, 255}, {0, 0, 0}}, {{10, 200, 30}, {0, 0, 0}}}},
        // Red and green are summed first: the level is 233.99999999999997, not 234.
        {"tint_order", "TintPictureQRX", true, {Color{0x879135}, Color{0xFFFFFF}},
         {{{191, 188, 125}, {233, 233, 233}}}},
    };
    return cases;
}
// clang-format on

qrx::CallResult callTone(qrx::Host& host, const Ref& pic, const LiteralCase& c) {
    if (!c.global) return qrxtest::auditedCall(host, pic, c.method, c.args);
    std::vector<Value> args = c.args;
    args.insert(args.begin(), pic);
    return qrxtest::auditedGlobal(host, c.method, std::move(args));
}

class ToneOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(ToneOnHost, HandWorkedValues) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    for (const LiteralCase& c : literalCases()) {
        SCOPED_TRACE(c.label);
        std::vector<RGB> row;
        for (auto& [in, out] : c.pixels)
            row.push_back(in);
        Ref pic = host->pictureFromImage(optest::rowImage(row, withAlpha, 3));
        ASSERT_TRUE(pic);
        const qrx::Image before = pic.as<Picture>()->toImage();
        const qrx::CallResult r = callTone(*host, pic, c);
        const Picture* out = qrxtest::newResult(r, pic, withAlpha);
        ASSERT_NE(out, nullptr);
        for (int y = 0; y < out->height(); ++y)
            for (int x = 0; x < out->width(); ++x) {
                uint8_t p[4];
                out->rgba(x, y, p);
                EXPECT_EQ(optest::rgbAt(*out, x, y), c.pixels[size_t(x)].second) << x << "," << y;
                EXPECT_EQ(p[3], 255) << "every result pixel is opaque";
            }
        EXPECT_EQ(pic.as<Picture>()->toImage().rgba, before.rgba) << "the source changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Tone, ToneOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

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
    Ref pic = host->pictureFromImage(qrxtest::patternImage(5, 3, true));
    for (const LiteralCase& c : literalCases()) {
        SCOPED_TRACE(c.label);
        auto r = callTone(*host, pic, c);
        EXPECT_FALSE(r.exception);
        EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result));
    }
}

} // namespace
