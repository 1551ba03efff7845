// The rectangle mask of coloured areas: hand-drawn pictures against hand-drawn masks (diagonal
// neighbours, gaps, L shapes, absorption, the rectangle argument), a plain reference of the growth
// rules on pictures from a few sparse pixels to thousands of areas, every host configuration, clean
// audits.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "colour_test_util.h"
#include "ops/rect_mask.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

using Rows = std::vector<std::string>;

// '.' gray (a different gray per column), '#' black, 'W' white, 'c' a colour, 'r' another colour.
Image drawn(const Rows& rows, bool hasAlpha) {
    Image img =
        colourtest::filledImage(int(rows[0].size()), int(rows.size()), {0, 0, 0, 255}, hasAlpha);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const uint8_t g = uint8_t(40 + 9 * x + 3 * y);
            colourtest::RGBA c;
            switch (rows[y][x]) {
            case '#':
                c = {0, 0, 0, 255};
                break;
            case 'W':
                c = {255, 255, 255, 255};
                break;
            case 'c':
                c = {g, uint8_t(g + 1), g, 255};
                break;
            case 'r':
                c = {200, 10, 10, 60};
                break;
            default:
                c = {g, g, g, uint8_t(y * 20 + 1)};
            }
            colourtest::setPixel(img, x, y, c);
        }
    return img;
}

// '#' for a black mask pixel, '.' for white; anything else fails.
Rows maskOf(const Picture& p) {
    Rows rows;
    for (int y = 0; y < p.height(); ++y) {
        std::string row;
        for (int x = 0; x < p.width(); ++x) {
            uint8_t c[4];
            p.rgba(x, y, c);
            const bool black = c[0] == 0 && c[1] == 0 && c[2] == 0;
            const bool white = c[0] == 255 && c[1] == 255 && c[2] == 255;
            const bool opaque = !p.hasAlpha() || c[3] == 255;
            row += !opaque ? '?' : black ? '#' : white ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

struct MaskCase {
    const char* what;
    Rows picture;
    std::optional<std::array<int32_t, 4>> rect;
    Rows mask;
};

const MaskCase kMasks[] = {
    {"all gray, black and white", {"..#W.", "W#..#", ".W..."}, {}, {".....", ".....", "....."}},
    {"one pixel",
     {".......", ".......", ".....c.", "......."},
     {},
     {".......", ".......", ".....#.", "......."}},
    // Diagonal neighbours stay apart: each pass looks straight up, down and sideways only.
    {"diagonal", {".....", ".c...", "..c..", "....."}, {}, {".....", ".#...", "..#..", "....."}},
    {"gap", {".....", ".c.c.", "....."}, {}, {".....", ".#.#.", "....."}},
    {"no gap", {".....", ".ccc.", "....."}, {}, {".....", ".###.", "....."}},
    {"L shape",
     {"......", ".c....", ".c....", ".ccc..", "......"},
     {},
     {"......", ".###..", ".###..", ".###..", "......"}},
    // The first area grows to rows 1-3, columns 1-3; the later pixel at (2, 2)... is inside it.
    {"absorbed later area",
     {"......", ".c.c..", "..r...", ".ccc..", "......"},
     {},
     {"......", ".#.#..", ".###..", ".###..", "......"}},
    // A pixel inside the bounding box of an area, not touching it while growing, is absorbed.
    {"absorbed inside the box",
     {".......", ".ccccc.", ".c....c", ".c.r..c", ".ccccc.", "......."},
     {},
     {".......", ".######", ".######", ".######", ".######", "......."}},
    {"edges of the picture", {"c...c", ".....", "c...c"}, {}, {"#...#", ".....", "#...#"}},
    {"touching the frame", {"cc", "cc"}, {}, {"##", "##"}},
    {"rectangle 0,0,3,2 ignores the rest",
     {"c...c", ".c...", "c...c"},
     {{0, 0, 3, 2}},
     {"#....", ".#...", "....."}},
    {"rectangle rows 1 to 2 keep their rows",
     {"c.c..", ".c...", "c...c", "c...."},
     {{0, 1, 5, 2}},
     {".....", ".#...", "#...#", "....."}},
    {"zero width", {"c.c", "ccc"}, {{0, 0, 0, 5}}, {"...", "..."}},
    {"zero height", {"c.c", "ccc"}, {{0, 0, 5, 0}}, {"...", "..."}},
    {"omitted sizes keep the start", {"c.c", "ccc"}, {{1, 1, -1, -1}}, {"...", ".##"}},
    {"outside", {"c.c", "ccc"}, {{3, 0, 2, 2}}, {"...", "..."}},
};

class RectMaskOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

Rows callMask(qrx::Host& host, const Ref& pic, std::optional<std::array<int32_t, 4>> rect) {
    std::vector<Value> args;
    if (rect)
        for (int32_t a : *rect)
            args.push_back(a);
    auto r = qrxtest::auditedCall(host, pic, "ExtractColorRectangleMaskQRX", args);
    EXPECT_FALSE(r.exception);
    Ref out = std::get<Ref>(r.result);
    if (!out) return {};
    EXPECT_NE(out, pic);
    return maskOf(*out.as<Picture>());
}

TEST_P(RectMaskOnHost, HandDrawn) {
    const auto& [name, config, withAlpha] = GetParam();
    auto host = qrxtest::loadHost(config);
    for (const MaskCase& c : kMasks) {
        SCOPED_TRACE(c.what);
        Ref pic = host->pictureFromImage(drawn(c.picture, withAlpha));
        EXPECT_EQ(callMask(*host, pic, c.rect), c.mask);
        if (!c.rect) {
            EXPECT_EQ(callMask(*host, pic, std::array<int32_t, 4>{0, 0, -1, -1}), c.mask);
        }
    }
}

// The growth rules written out plainly, with bounds checks instead of a frame.
Rows referenceMask(const Image& img) {
    const int W = img.width, H = img.height;
    std::vector<std::vector<bool>> colour(H, std::vector<bool>(W)), rect = colour;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint8_t* p = img.pixel(x, y);
            colour[y][x] = !(p[0] == p[1] && p[1] == p[2]);
        }
    auto on = [&](int x, int y) { return x >= 0 && y >= 0 && x < W && y < H && colour[y][x]; };
    for (;;) {
        int sx = -1, sy = -1;
        for (int y = 0; y < H && sy < 0; ++y)
            for (int x = 0; x < W && sy < 0; ++x)
                if (colour[y][x]) sx = x, sy = y;
        if (sy < 0) break;
        int t = sy, b = sy, l = sx, r = sx;
        for (bool moved = true; moved;) {
            moved = false;
            const int l0 = l, r0 = r;
            bool up = false, down = false, left = false, right = false;
            for (int x = l0; x <= r0; ++x)
                up = up || on(x, t - 1), down = down || on(x, b + 1);
            if (up) --t;
            if (down) ++b;
            for (int y = t; y <= b; ++y)
                left = left || on(l0 - 1, y), right = right || on(r0 + 1, y);
            if (left) --l;
            if (right) ++r;
            moved = up || down || left || right;
        }
        for (int y = t; y <= b; ++y)
            for (int x = l; x <= r; ++x)
                colour[y][x] = false, rect[y][x] = true;
    }
    Rows rows;
    for (int y = 0; y < H; ++y) {
        std::string row;
        for (int x = 0; x < W; ++x)
            row += rect[y][x] ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

// A gray picture strewn with small coloured shapes: single pixels, diagonal pairs, L shapes and
// bars, some touching or overlapping, so areas merge, absorb and grow across earlier ones.
Image manyAreas(int W, int H, int shapes, bool hasAlpha, unsigned seed) {
    std::mt19937 rng(seed);
    Image img = colourtest::filledImage(W, H, {0, 0, 0, 255}, hasAlpha);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = img.pixel(x, y);
            p[0] = p[1] = p[2] = uint8_t(rng());
            p[3] = hasAlpha ? uint8_t(rng()) : 255;
        }
    auto colour = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < W && y < H)
            img.pixel(x, y)[rng() % 3] ^= uint8_t(1 + rng() % 255);
    };
    for (int i = 0; i < shapes; ++i) {
        const int x = int(rng() % W), y = int(rng() % H);
        switch (rng() % 4) {
        case 0:
            colour(x, y);
            break;
        case 1:
            colour(x, y);
            colour(x + 1, y + 1);
            break;
        case 2:
            for (int k = 0; k < 4; ++k)
                colour(x, y + k), colour(x + k, y + 3);
            break;
        default:
            for (int k = 0, length = 1 + int(rng() % 9); k < length; ++k)
                colour(x + k, y);
        }
    }
    return img;
}

// From a few sparse pixels to thousands of areas, and single rows and columns.
TEST_P(RectMaskOnHost, ManyAreasAgainstReference) {
    auto host = qrxtest::loadHost(GetParam().config);
    for (auto [w, h, shapes] :
         {std::array{25, 13, 12}, std::array{157, 93, 2500}, std::array{64, 301, 1200},
          std::array{200, 1, 60}, std::array{1, 120, 40}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " " << shapes);
        Ref pic =
            host->pictureFromImage(manyAreas(w, h, shapes, GetParam().alpha, unsigned(w * h)));
        EXPECT_EQ(callMask(*host, pic, std::nullopt), referenceMask(pic.as<Picture>()->toImage()));
    }
}

INSTANTIATE_TEST_SUITE_P(AllHosts, RectMaskOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

class RectMaskDirect : public colourtest::Direct {};

TEST_F(RectMaskDirect, NilPicture) {
    EXPECT_EQ(ExtractColorRectangleMaskQRX(nullptr, 0, 0, -1, -1), nullptr);
    EXPECT_EQ(ExtractColorRectangleMaskQRX2(nullptr), nullptr);
}

} // namespace
