// Replacing one exact colour and extracting it as a two-colour picture, on every host
// configuration: every pixel against a plain reference, hand-worked examples, opaque results,
// the source untouched, clean audits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "colour_test_util.h"
#include "ops/replace_colour.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using colourtest::filledImage;
using colourtest::RGBA;
using colourtest::setPixel;
using qrx::Color;
using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

RGBA rgbOf(uint32_t c) {
    return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255};
}

struct Case {
    const char* method;
    uint32_t search, replace, background; // background unused by ReplaceColorQRX
};

const Case kCases[] = {
    {"ReplaceColorQRX", 0x0A141E, 0xFF8000, 0},
    {"ReplaceColorQRX", 0xFF0A141E, 0x00FF00, 0}, // top byte of the search colour ignored
    {"ReplaceColorQRX", 0x0A141E, 0x0A141E, 0},   // a fully opaque copy
    {"ReplaceColorQRX", 0x123456, 0x000000, 0},   // no pixel of that colour
    {"ExtractColorQRX", 0x0A141E, 0xFFFFFF, 0x000000},
    {"ExtractColorQRX", 0x7F0A141E, 0x102030, 0xA0B0C0},
    {"ExtractColorQRX", 0x123456, 0xFFFFFF, 0x336699}, // all background
};

class ReplaceOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(ReplaceOnHost, AgainstReference) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    Image img = qrxtest::patternImage(19, 11, withAlpha, 12);
    // Pixels of the search colour at several alphas, and near misses.
    for (auto [x, y] : {std::pair{0, 0}, {18, 10}, {3, 7}, {9, 4}})
        setPixel(img, x, y, {10, 20, 30, uint8_t(x * 13 + 1)});
    setPixel(img, 1, 0, {10, 20, 31, 255});
    setPixel(img, 2, 0, {11, 20, 30, 255});
    setPixel(img, 3, 0, {10, 21, 30, 255});
    Ref pic = host->pictureFromImage(img);
    const Image src = pic.as<Picture>()->toImage();
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.search));
        std::vector<Value> args = {Color{c.search}, Color{c.replace}};
        const bool extract = std::string(c.method) == "ExtractColorQRX";
        if (extract) args.push_back(Color{c.background});
        // The copy keeps the source's kind; the extracted picture has no alpha channel.
        const qrx::CallResult r = qrxtest::auditedCall(*host, pic, c.method, args);
        const Picture* p = qrxtest::newResult(r, pic, !extract && withAlpha);
        ASSERT_NE(p, nullptr);
        int mismatches = 0, matched = 0;
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x) {
                const uint8_t* s = src.pixel(x, y);
                const bool match =
                    (uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2]) == (c.search & 0xFFFFFF);
                matched += match;
                RGBA want = match     ? rgbOf(c.replace)
                            : extract ? rgbOf(c.background)
                                      : RGBA{s[0], s[1], s[2], 255};
                uint8_t got[4];
                p->rgba(x, y, got);
                if (std::memcmp(want.data(), got, p->hasAlpha() ? 4 : 3) != 0 && ++mismatches <= 3)
                    ADD_FAILURE() << "(" << x << "," << y << ") got " << int(got[0]) << ","
                                  << int(got[1]) << "," << int(got[2]) << "," << int(got[3]);
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(matched, (c.search & 0xFFFFFF) == 0x0A141E ? 4 : 0);
    }
    EXPECT_EQ(pic.as<Picture>()->toImage().rgba, src.rgba) << "the source changed";
}

INSTANTIATE_TEST_SUITE_P(AllHosts, ReplaceOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

class ReplaceDirect : public colourtest::Direct {};

TEST_F(ReplaceDirect, NilPicture) {
    EXPECT_EQ(ReplaceColorQRX(nullptr, 0, 0), nullptr);
    EXPECT_EQ(ExtractColorQRX(nullptr, 0, 0, 0), nullptr);
}

} // namespace
