// Host pictures in both forms and every layout: stored words, strides, fills, round trips, and
// Graphics.DrawPicture between any two of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "bitmap_context.h"
#include "qrx/host.h"
#include "sdk/services.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Image;
using qrx::Picture;
using qrx::PictureForm;
using qrx::Ref;

using qrxtest::ofKind;
using qrxtest::service;

// How a picture is kept: host kind, layout for the bitmap, alpha channel, row padding.
struct Form {
    const char* name;
    HostKind kind;
    uint32_t layout;
    bool alpha;
    int padding;
};

const Form kForms[] = {
    {"bitmap1", HostKind::Desktop, 1, false, 0}, {"bitmap2", HostKind::Desktop, 2, false, 4},
    {"bitmap3", HostKind::Desktop, 3, false, 0}, {"bitmap4", HostKind::Desktop, 4, false, 12},
    {"bitmap5", HostKind::Desktop, 5, false, 0}, {"bitmap6", HostKind::Desktop, 6, false, 3},
    {"bitmap1a", HostKind::Desktop, 1, true, 0}, {"bitmap2a", HostKind::Desktop, 2, true, 8},
    {"console", HostKind::Console, 0, false, 0}, {"console_a", HostKind::Console, 0, true, 0},
    {"web", HostKind::Web, 0, false, 0},         {"web_a", HostKind::Web, 0, true, 0},
};

// Makes a picture in the given form on host (which may be of any kind).
Ref makePicture(Host& host, const Form& f, int w, int h) {
    HostConfig saved = host.config();
    host.config().kind = f.kind;
    host.config().rowPadding = f.padding;
    if (f.alpha)
        host.config().alphaLayout = f.layout ? f.layout : 1;
    else
        host.config().plainLayout = f.layout ? f.layout : 3;
    Ref r = host.newPicture(w, h, f.alpha);
    host.config() = saved;
    return r;
}

// Pixels whose alpha survives a 7-bit store (a widened 7-bit value).
Image randomImage(int w, int h, bool alpha, unsigned seed) {
    Image img;
    img.width = w, img.height = h, img.hasAlpha = alpha;
    img.rgba.resize(size_t(w) * h * 4);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < img.rgba.size(); i += 4) {
        for (int c = 0; c < 3; ++c)
            img.rgba[i + c] = uint8_t(rng());
        unsigned a = rng() & 0x7F;
        img.rgba[i + 3] = alpha ? uint8_t(a << 1 | (a & 1)) : 255;
    }
    return img;
}

class PictureForms : public testing::TestWithParam<Form> {};

// A new picture holds the configured fill; what is written reads back exactly.
TEST_P(PictureForms, FillAndRoundTrip) {
    const Form& f = GetParam();
    Host host;
    const uint8_t plain[4] = {10, 20, 30, 255}, alpha[4] = {40, 50, 60, 0};
    std::memcpy(host.config().plainFill, plain, 4);
    std::memcpy(host.config().alphaFill, alpha, 4);
    const uint8_t* want = f.alpha ? alpha : plain;
    for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{32, 17}}) {
        Ref pic = makePicture(host, f, w, h);
        Image img = pic.as<Picture>()->toImage();
        EXPECT_EQ(std::tuple(img.width, img.height, img.hasAlpha), std::tuple(w, h, f.alpha));
        for (size_t i = 0; i < img.rgba.size(); ++i)
            ASSERT_EQ(img.rgba[i], want[i % 4]) << i;
        img = randomImage(w, h, f.alpha, unsigned(w * 100 + h));
        pic.as<Picture>()->fromImage(img);
        EXPECT_EQ(pic.as<Picture>()->toImage().rgba, img.rgba) << w << "x" << h;
    }
    EXPECT_THROW(makePicture(host, f, 2, 2).as<Picture>()->fromImage(randomImage(3, 2, false, 1)),
                 std::invalid_argument);
}

TEST_P(PictureForms, GeometryAndStoreAsDescribed) {
    const Form& f = GetParam();
    Host host;
    const int w = 5, h = 4;
    Ref ref = makePicture(host, f, w, h);
    Picture& p = *ref.as<Picture>();
    bool bitmap = f.kind == HostKind::Desktop;
    EXPECT_EQ(p.form(), bitmap ? PictureForm::Bitmap : PictureForm::Record);
    EXPECT_EQ(p.layout(), bitmap ? f.layout : 8u);
    EXPECT_EQ(p.bytesPerRow(), bitmap ? w * 4 + f.padding : w * 4);
    const uint8_t px[4] = {0x11, 0x22, 0x33, 0x44};
    p.setRgba(3, 2, px);
    uint8_t bytes[4];
    if (bitmap) {
        CGBitmapContext* ctx = p.bitmapContext();
        ASSERT_NE(ctx, nullptr);
        EXPECT_EQ(p.trueColorImage(), nullptr);
        EXPECT_EQ(std::tuple(CGBitmapContextGetBitsPerPixel(ctx), CGBitmapContextGetWidth(ctx),
                             CGBitmapContextGetHeight(ctx), CGBitmapContextGetBytesPerRow(ctx),
                             uint32_t(CGBitmapContextGetAlphaInfo(ctx))),
                  std::tuple(32u, size_t(w), size_t(h), size_t(p.bytesPerRow()), f.layout));
        auto* base = static_cast<uint8_t*>(CGBitmapContextGetData(ctx));
        std::memcpy(bytes, base + 2 * p.bytesPerRow() + 3 * 4, 4);
        // Alpha last (1, 3, 5): R G B A; alpha first (2, 4, 6): A R G B.
        const uint8_t last[4] = {0x11, 0x22, 0x33, 0x44}, first[4] = {0x44, 0x11, 0x22, 0x33};
        EXPECT_EQ(0, std::memcmp(bytes, f.layout % 2 ? last : first, 4));
    } else {
        REALtrueColorImage* rec = p.trueColorImage();
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(p.bitmapContext(), nullptr);
        EXPECT_EQ(std::tuple(rec->paletteRowTable, rec->width, rec->height, rec->isTrueColor != 0),
                  std::tuple(nullptr, w, h, true));
        ASSERT_NE(rec->rowTable, nullptr);
        std::memcpy(bytes, rec->rowTable[2] + 3, 4);
        // B G R, then alpha 0x44 kept as the 7-bit transparency (255 - 0x44) >> 1.
        const uint8_t want[4] = {0x33, 0x22, 0x11, 0x5D};
        EXPECT_EQ(0, std::memcmp(bytes, want, 4));
        // Rows are allocated one by one: every row address comes from the table.
        for (int y = 0; y < h; ++y) {
            rec->rowTable[y][0] = 0x00010203u + uint32_t(y);
            EXPECT_EQ(p.word(0, y), 0x00010203u + uint32_t(y));
        }
    }
    uint8_t back[4];
    p.rgba(3, 2, back);
    const uint8_t wantBack[4] = {0x11, 0x22, 0x33, 0x44}; // 0x44 survives the 7-bit store
    EXPECT_EQ(0, std::memcmp(back, wantBack, 4));
    EXPECT_THROW(p.word(w, 0), std::out_of_range);
    EXPECT_THROW(p.word(0, -1), std::out_of_range);
}

INSTANTIATE_TEST_SUITE_P(AllForms, PictureForms, testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

// A record keeps a 7-bit transparency in bits 24-30: top byte 0 is opaque.
TEST(RecordAlpha, SevenBitTransparencyWidenedToEightBitAlpha) {
    Host host(ofKind(HostKind::Console));
    Ref ref = host.newPicture(1, 1, true);
    Picture& p = *ref.as<Picture>();
    const std::pair<uint32_t, uint8_t> cases[] = {
        {0, 255}, {1, 252}, {0x40, 127}, {0x7F, 0}, {0x3F, 128}};
    for (auto [bits, alpha] : cases) {
        p.setWord(0, 0, bits << 24 | 0x00A0B0C0);
        uint8_t got[4];
        p.rgba(0, 0, got);
        EXPECT_EQ(got[3], alpha) << bits;
        EXPECT_EQ(got[0], 0xA0);
        EXPECT_EQ(got[2], 0xC0);
    }
    // Opaque stores a top byte of 0, transparent 0x7F; bit 31 stays clear.
    const uint8_t opaque[4] = {1, 2, 3, 255}, clear[4] = {1, 2, 3, 0};
    p.setRgba(0, 0, opaque);
    EXPECT_EQ(p.word(0, 0), 0x00010203u);
    p.setRgba(0, 0, clear);
    EXPECT_EQ(p.word(0, 0), 0x7F010203u);
}

// ---- DrawPicture ------------------------------------------------------------------------------

// A call of Graphics.DrawPicture from a 4x2 source into a 4x3 destination, and for each
// destination pixel, row by row, the source pixel it takes ("xy") or ".." where it keeps its fill.
struct DrawCall {
    const char* name;
    int32_t x, y, w, h, sx, sy, sw, sh;
    const char* expect;
};

const DrawCall kDraws[] = {
    {"whole_default_size", 0, 0, 4, 2, 0, 0, -10000, -10000, "00102030 01112131 ........"},
    {"shifted_and_clipped", 2, 1, 4, 2, 0, 0, 4, 2, "........ ....0010 ....0111"},
    {"negative_origin", -1, -1, 4, 2, 0, 0, 4, 2, "112131.. ........ ........"},
    {"scaled_up_one_pixel", 0, 0, 2, 3, 3, 1, 1, 1, "3131.... 3131.... 3131...."},
    {"scaled_up_double", 0, 0, 4, 2, 0, 0, 2, 1, "00001010 00001010 ........"},
    {"scaled_down_half", 1, 1, 2, 1, 0, 0, 4, 2, "........ ..0020.. ........"},
    {"source_rect_partly_outside", 0, 0, 4, 1, 2, 0, 4, 1, "2030.... ........ ........"},
    {"empty_destination", 0, 0, 0, 2, 0, 0, 4, 2, "........ ........ ........"},
    {"outside_destination", 4, 0, 4, 2, 0, 0, 4, 2, "........ ........ ........"},
};

class DrawBetweenForms : public testing::TestWithParam<std::tuple<Form, Form>> {};

TEST_P(DrawBetweenForms, EveryRectangleRule) {
    auto [srcForm, dstForm] = GetParam();
    Host host;
    host.makeCurrent();
    const uint8_t fill[4] = {200, 201, 202, 203};
    std::memcpy(host.config().plainFill, fill, 4);
    std::memcpy(host.config().alphaFill, fill, 4);
    auto sourcePixel = [](int sx, int sy, uint8_t out[4]) {
        int i = sy * 4 + sx;
        out[0] = uint8_t(10 + i), out[1] = uint8_t(40 + i), out[2] = uint8_t(90 + i);
        uint8_t a = uint8_t(i * 9 + 1); // a widened 7-bit value survives a record exactly
        out[3] = uint8_t(a << 1 | (a & 1));
    };
    Ref src = makePicture(host, srcForm, 4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t p[4];
            sourcePixel(x, y, p);
            src.as<Picture>()->setRgba(x, y, p);
        }
    auto graphicsOf = service<rbsvc::PictureGraphics>("pluginPictureGraphicsGetter");
    auto load = service<rbsvc::LoadObjectMethod>("REALLoadObjectMethod");
    using Draw = void (*)(REALgraphics, REALpicture, int32_t, int32_t, int32_t, int32_t, int32_t,
                          int32_t, int32_t, int32_t);
    for (const DrawCall& c : kDraws) {
        SCOPED_TRACE(c.name);
        Ref dst = makePicture(host, dstForm, 4, 3);
        REALgraphics g = graphicsOf(static_cast<REALpicture>(dst->handle()));
        ASSERT_NE(g, nullptr);
        auto draw = reinterpret_cast<Draw>(
            load(reinterpret_cast<REALobject>(g),
                 "DrawPicture(Image as Picture, x as Integer, y as Integer, w as Integer, h as "
                 "Integer, sx as Integer = 0, sy as Integer = 0, sw as Integer = -10000, sh as "
                 "Integer = -10000)"));
        ASSERT_NE(draw, nullptr);
        draw(g, static_cast<REALpicture>(src->handle()), c.x, c.y, c.w, c.h, c.sx, c.sy, c.sw,
             c.sh);
        service<rbsvc::LockObject>("REALUnlockObject")(reinterpret_cast<REALobject>(g));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                uint8_t want[4], got[4];
                const char* e = c.expect + y * 9 + x * 2;
                if (*e == '.') {
                    std::memcpy(want, fill, 4);
                } else {
                    sourcePixel(e[0] - '0', e[1] - '0', want);
                    if (!srcForm.alpha || !dstForm.alpha) want[3] = 255;
                }
                dst.as<Picture>()->rgba(x, y, got);
                // Every alpha used here survives a record's 7-bit store exactly.
                EXPECT_EQ(0, std::memcmp(want, got, 4))
                    << "(" << x << "," << y << ") want " << int(want[0]) << "," << int(want[3])
                    << " got " << int(got[0]) << "," << int(got[3]);
            }
    }
    EXPECT_EQ(host.audit().liveObjects, 1u); // only the source
    EXPECT_TRUE(host.audit().violations.empty());
}

std::vector<std::tuple<Form, Form>> formPairs() {
    std::vector<std::tuple<Form, Form>> v;
    const int picks[] = {0, 3, 5, 6, 7, 8, 9};
    for (int a : picks)
        for (int b : picks)
            v.emplace_back(kForms[a], kForms[b]);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Pairs, DrawBetweenForms, testing::ValuesIn(formPairs()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_to_" +
                                    std::get<1>(info.param).name;
                         });

TEST(DrawPicture, IntoItselfReadsTheOriginal) {
    Host host;
    host.makeCurrent();
    Ref pic = host.newPicture(4, 1, false);
    for (int x = 0; x < 4; ++x) {
        const uint8_t p[4] = {uint8_t(x), 0, 0, 255};
        pic.as<Picture>()->setRgba(x, 0, p);
    }
    REALgraphics g = service<rbsvc::PictureGraphics>("pluginPictureGraphicsGetter")(
        static_cast<REALpicture>(pic->handle()));
    // Shift right by one: every pixel must come from the original, not a copied one.
    qrx::Ref graphics = qrx::Ref::adopt(host.fromHandle(g));
    ASSERT_TRUE(graphics);
    auto r =
        host.call(graphics, "DrawPicture", {pic, int32_t(1), int32_t(0), int32_t(4), int32_t(1)});
    EXPECT_FALSE(r.exception);
    const uint8_t want[4] = {0, 0, 1, 2};
    for (int x = 0; x < 4; ++x) {
        uint8_t got[4];
        pic.as<Picture>()->rgba(x, 0, got);
        EXPECT_EQ(got[0], want[x]) << x;
    }
}

} // namespace
