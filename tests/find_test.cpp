// Picture search on every host configuration: the first occurrence in row-major order against a
// brute-force search of the stored pictures, near misses, needles larger than the haystack, alpha
// ignored (a needle of the other alpha form is found), byref results set to 0 on every failure, a
// clean audit after every call, and qrx end to end.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>

#include "cli_util_test.h"
#include "host_impl.h"
#include "image_io.h"
#include "op_test_util.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Image;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;

struct Found {
    bool found;
    int32_t x, y;
};

// Calls FindPicture with x and y starting at values it must overwrite.
Found find(qrx::Host& host, const Ref& haystack, const Value& needle) {
    auto r = qrxtest::auditedCall(host, haystack, "FindPicture", {needle, 1234, -77});
    EXPECT_FALSE(r.exception);
    EXPECT_TRUE(std::holds_alternative<bool>(r.result));
    EXPECT_EQ(r.byRef.size(), 3u);
    if (r.byRef.size() != 3u || !std::holds_alternative<int32_t>(r.byRef[1]) ||
        !std::holds_alternative<int32_t>(r.byRef[2])) {
        ADD_FAILURE() << "x and y did not come back as integers";
        return {false, -1, -1};
    }
    return {std::get<bool>(r.result), std::get<int32_t>(r.byRef[1]), std::get<int32_t>(r.byRef[2])};
}

bool sameColour(const uint8_t* a, const uint8_t* b) {
    return std::memcmp(a, b, 3) == 0;
}

// Every candidate in row-major order, every pixel compared: what the search must report.
Found bruteForce(const Image& hay, const Image& needle) {
    for (int y = 0; y + needle.height <= hay.height; ++y)
        for (int x = 0; x + needle.width <= hay.width; ++x) {
            bool all = true;
            for (int j = 0; j < needle.height && all; ++j)
                for (int i = 0; i < needle.width && all; ++i)
                    all = sameColour(hay.pixel(x + i, y + j), needle.pixel(i, j));
            if (all) return {true, x, y};
        }
    return {false, 0, 0};
}

Image crop(const Image& img, int left, int top, int width, int height) {
    Image out;
    out.width = width;
    out.height = height;
    out.hasAlpha = img.hasAlpha;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = img.pixel(left + x, top + y);
            out.rgba.insert(out.rgba.end(), p, p + 4);
        }
    return out;
}

Image solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Image img;
    img.width = width;
    img.height = height;
    for (int i = 0; i < width * height; ++i)
        img.rgba.insert(img.rgba.end(), {r, g, b, 255});
    return img;
}

void expectFound(const Found& got, const Found& want) {
    EXPECT_EQ(got.found, want.found);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
}

constexpr int W = 41;
constexpr int H = 29;

struct NeedleCase {
    int left, top, width, height;
};

// Pieces of the haystack: corners, edges, the middle, single pixels, single rows and columns, the
// whole picture.
const NeedleCase kNeedles[] = {
    {0, 0, 5, 4},   {W - 6, H - 3, 6, 3}, {W - 7, 0, 7, 2},     {0, H - 5, 3, 5},
    {17, 11, 9, 8}, {3, 20, W - 3, 1},    {40, 2, 1, H - 2},    {0, 0, W, H},
    {20, 14, 1, 1}, {0, 0, 1, 1},         {W - 1, H - 1, 1, 1}, {1, 1, W - 1, H - 1},
};

class FindOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

TEST_P(FindOnHost, FirstOccurrenceOfPiecesOfTheHaystack) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    Ref hay = host->pictureFromImage(qrxtest::patternImage(W, H, withAlpha, 17));
    const Image hayImg = hay.as<Picture>()->toImage();
    for (const NeedleCase& n : kNeedles) {
        // The needle in the same layout and in the other one.
        for (bool needleAlpha : {withAlpha, !withAlpha}) {
            SCOPED_TRACE("needle " + std::to_string(n.width) + "x" + std::to_string(n.height) +
                         " from (" + std::to_string(n.left) + "," + std::to_string(n.top) + ")" +
                         (needleAlpha ? " alpha" : " plain"));
            Image piece = crop(hayImg, n.left, n.top, n.width, n.height);
            piece.hasAlpha = needleAlpha;
            // The other alpha form of the needle is opaque: alpha is never compared.
            if (needleAlpha != withAlpha)
                for (size_t i = 3; i < piece.rgba.size(); i += 4)
                    piece.rgba[i] = 255;
            Ref needle = host->pictureFromImage(piece);
            const Found want = bruteForce(hayImg, needle.as<Picture>()->toImage());
            ASSERT_TRUE(want.found);
            EXPECT_LE(want.y * W + want.x, n.top * W + n.left);
            expectFound(find(*host, hay, needle), want);
        }
    }
    EXPECT_EQ(hay.as<Picture>()->toImage().rgba, hayImg.rgba) << "the haystack was changed";
}

TEST_P(FindOnHost, FailuresLeaveZeros) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    Ref hay = host->pictureFromImage(qrxtest::patternImage(W, H, withAlpha, 19));
    const Image hayImg = hay.as<Picture>()->toImage();
    const Found none{false, 0, 0};

    expectFound(find(*host, hay, Nil{}), none);
    // One pixel wider, one pixel taller, both.
    for (auto [w, h] : {std::pair{W + 1, H}, std::pair{W, H + 1}, std::pair{W + 1, 1},
                        std::pair{1, H + 1}, std::pair{W + 5, H + 5}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        Ref big = host->pictureFromImage(qrxtest::patternImage(w, h, !withAlpha, 20));
        expectFound(find(*host, hay, big), none);
    }
    // The haystack's own size, one pixel different in colour: no occurrence.
    Image changed = hayImg;
    changed.pixel(W - 1, H - 1)[2] ^= 1;
    expectFound(find(*host, hay, host->pictureFromImage(changed)), none);
    // A colour that occurs nowhere in the haystack.
    uint8_t absent = 0;
    auto occurs = [&](uint8_t v) {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (sameColour(hayImg.pixel(x, y), std::array<uint8_t, 3>{v, 3, v}.data()))
                    return true;
        return false;
    };
    while (occurs(absent))
        ++absent;
    expectFound(find(*host, hay, host->pictureFromImage(solid(1, 1, absent, 3, absent))), none);
}

// Random needles cut from the haystack, some with their last pixel changed, over a band of few
// colours where the key matches often; needles with and without alpha. Each search runs with the
// scalar and with the vector key scan (the same where the processor has no vector loops).
TEST_P(FindOnHost, RandomNeedlesWithBothKeyScans) {
    auto host = std::make_unique<qrx::Host>(GetParam().config, QRX_TEST_PLUGIN_TESTABLE);
    auto useFastPaths =
        reinterpret_cast<void (*)(int)>(dlsym(host->impl().library, "QRXUseFastPaths"));
    ASSERT_NE(useFastPaths, nullptr);
    Image hay = qrxtest::patternImage(71, 47, GetParam().alpha, 9);
    for (int y = 30; y < 47; ++y)
        for (int x = 0; x < 71; ++x) {
            uint8_t* p = hay.pixel(x, y);
            p[0] = p[1] = uint8_t(((x / 3 + y) % 2) * 200);
            p[2] = 9;
        }
    Ref hayPic = host->pictureFromImage(hay);
    std::mt19937 rng(17);
    for (int level : {1, 2}) {
        useFastPaths(level);
        for (int i = 0; i < 40; ++i) {
            const int w = 1 + int(rng() % 6), h = 1 + int(rng() % 5);
            const int x0 = int(rng() % (71 - w + 1)), y0 = int(rng() % (47 - h + 1));
            Image needle = crop(hay, x0, y0, w, h);
            needle.hasAlpha = i % 2 == 0;
            for (size_t k = 3; k < needle.rgba.size(); k += 4)
                needle.rgba[k] = needle.hasAlpha ? 77 : 255;
            if (i % 3 == 1) needle.rgba[needle.rgba.size() - 2] ^= 1; // last pixel differs
            SCOPED_TRACE(testing::Message() << "level " << level << ", needle " << w << "x" << h
                                            << " from " << x0 << "," << y0);
            expectFound(find(*host, hayPic, host->pictureFromImage(needle)),
                        bruteForce(hay, needle));
        }
    }
    useFastPaths(2);
}

INSTANTIATE_TEST_SUITE_P(AllHosts, FindOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// ---- constructed haystacks -------------------------------------------------------------------

// A black haystack with coloured blocks painted into it.
struct Painter {
    Image img;
    Painter(int width, int height) : img(solid(width, height, 0, 0, 0)) {}
    void paint(const Image& block, int left, int top) {
        for (int y = 0; y < block.height; ++y)
            for (int x = 0; x < block.width; ++x)
                std::memcpy(img.pixel(left + x, top + y), block.pixel(x, y), 4);
    }
};

// A needle of 3 x 3 distinct colours.
Image distinctNeedle() {
    Image n;
    n.width = 3;
    n.height = 3;
    for (int i = 0; i < 9; ++i)
        n.rgba.insert(n.rgba.end(), {uint8_t(10 + i * 20), uint8_t(200 - i * 7), uint8_t(i), 255});
    return n;
}

TEST(FindExamples, TheEarlierRowWins) {
    for (const HostCase& c : qrxtest::plainHostCases()) {
        SCOPED_TRACE(c.name);
        auto host = qrxtest::loadHost(c.config);
        Painter p(50, 20);
        const Image needle = distinctNeedle();
        p.paint(needle, 5, 10);
        p.paint(needle, 30, 2);
        Ref hay = host->pictureFromImage(p.img);
        expectFound(find(*host, hay, host->pictureFromImage(needle)), {true, 30, 2});
    }
}

TEST(FindExamples, NearMissBeforeTheTrueMatch) {
    for (const HostCase& c : qrxtest::plainHostCases()) {
        SCOPED_TRACE(c.name);
        auto host = qrxtest::loadHost(c.config);
        Painter p(30, 20);
        const Image needle = distinctNeedle();
        // The first row and the first two pixels of the second row match; the last of the second
        // row does not. The true match follows in the same rows, further right.
        Image miss = needle;
        miss.pixel(2, 1)[0] ^= 0x40;
        p.paint(miss, 4, 6);
        p.paint(needle, 8, 6);
        // A second near miss whose last row differs, above the true match.
        Image late = needle;
        late.pixel(1, 2)[1] ^= 0x01;
        p.paint(late, 20, 1);
        Ref hay = host->pictureFromImage(p.img);
        expectFound(find(*host, hay, host->pictureFromImage(needle)), {true, 8, 6});
        // Overlapping candidates: a needle of one repeated colour in a run one longer than it.
        Painter q(12, 4);
        q.paint(solid(6, 2, 9, 9, 9), 3, 1);
        Ref hay2 = host->pictureFromImage(q.img);
        expectFound(find(*host, hay2, host->pictureFromImage(solid(5, 2, 9, 9, 9))), {true, 3, 1});
        expectFound(find(*host, hay2, host->pictureFromImage(solid(5, 3, 9, 9, 9))), {false, 0, 0});
    }
}

TEST(FindExamples, SelfAndOnePixelNeedles) {
    auto host = qrxtest::loadHost();
    Ref hay = host->pictureFromImage(qrxtest::patternImage(16, 9, false, 23));
    expectFound(find(*host, hay, hay), {true, 0, 0});
    const Image img = hay.as<Picture>()->toImage();
    // Each pixel's colour: found at the first pixel of that colour in row-major order.
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const uint8_t* p = img.pixel(x, y);
            Image one = solid(1, 1, p[0], p[1], p[2]);
            const Found want = bruteForce(img, one);
            ASSERT_LE(want.y * img.width + want.x, y * img.width + x);
            expectFound(find(*host, hay, host->pictureFromImage(one)), want);
        }
}

// ---- qrx end to end --------------------------------------------------------------------------

using nlohmann::json;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;

TEST(FindCli, PrintsFoundAndPosition) {
    ScratchDir dir;
    Painter p(30, 20);
    p.paint(distinctNeedle(), 11, 7);
    const std::string hayPath = (dir / "hay.png").string();
    const std::string needlePath = (dir / "needle.png").string();
    const std::string otherPath = (dir / "other.png").string();
    qrx::writeImage(hayPath, p.img);
    qrx::writeImage(needlePath, distinctNeedle());
    qrx::writeImage(otherPath, solid(2, 2, 255, 0, 0));

    auto r = runQrx({"call", "--on", hayPath, "FindPicture(" + needlePath + ", x, y)"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "result = true\nx = 11\ny = 7\n");

    r = runQrx({"call", "--on", hayPath, "FindPicture(" + otherPath + ", x, y)", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(json::parse(r.out),
              (json{{"result", false}, {"byref", {{"x", 0}, {"y", 0}}}, {"exception", nullptr}}));
}

} // namespace
