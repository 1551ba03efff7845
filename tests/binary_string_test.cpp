// Binary picture strings: "PicturetoBinaryStringQRX" writes the PPIC header and the pixels byte for
// byte, "BinaryStringtoPictureQRX" reads them back opaque on any host, and every malformed string
// (short, inconsistent, oversized, truncated, random) gives nil without reading past its end.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;
using Bytes = std::vector<uint8_t>;

void putBE(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 24), b[at + 1] = uint8_t(v >> 16), b[at + 2] = uint8_t(v >> 8),
    b[at + 3] = uint8_t(v);
}

uint32_t getBE(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// A well-formed string for w by h pixels of the given bytes (3 per pixel), data at offset d.
Bytes makeString(int32_t w, int32_t h, const Bytes& pixels, uint32_t d = 40) {
    Bytes b(d, 0);
    b[0] = 'P', b[1] = 'P', b[2] = 'I', b[3] = 'C';
    b.insert(b.end(), pixels.begin(), pixels.end());
    putBE(b, 4, uint32_t(b.size()));
    putBE(b, 8, uint32_t(w));
    putBE(b, 12, uint32_t(h));
    putBE(b, 16, 32);
    putBE(b, 20, d);
    return b;
}

Bytes randomPixels(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = uint8_t(rng());
    return b;
}

Bytes stringBytes(const Value& v) {
    const Ref* r = std::get_if<Ref>(&v);
    if (!r || !*r) {
        ADD_FAILURE() << "no string";
        return {};
    }
    auto* s = r->as<qrx::String>();
    EXPECT_EQ(s->encoding, uint32_t(kREALTextEncodingRaw));
    auto span = s->bytes();
    return Bytes(span.begin(), span.end());
}

Bytes toString(qrx::Host& host, const Ref& pic) {
    return stringBytes(qrxtest::auditedGlobal(host, "PicturetoBinaryStringQRX", {pic}).result);
}

// The picture read from the bytes, or null.
Ref fromString(qrx::Host& host, const Bytes& bytes) {
    Ref s =
        host.newString(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       kREALTextEncodingRaw);
    qrx::CallResult r = qrxtest::auditedGlobal(host, "BinaryStringtoPictureQRX", {s});
    EXPECT_FALSE(r.exception);
    const Ref* p = std::get_if<Ref>(&r.result);
    return p ? *p : Ref();
}

// The stored red, green and blue of every pixel, rows from the top.
Bytes colorsOf(const Picture& pic) {
    Bytes out;
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) {
            uint8_t p[4];
            pic.rgba(x, y, p);
            out.insert(out.end(), p, p + 3);
        }
    return out;
}

void expectOpaque(const Picture& pic) {
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) {
            uint8_t p[4];
            pic.rgba(x, y, p);
            ASSERT_EQ(p[3], 255) << x << "," << y;
        }
}

class PpicOnHost : public testing::TestWithParam<HostCase> {
  protected:
    void SetUp() override { host = qrxtest::loadHost(GetParam().config); }
    bool alphaCase() const { return GetParam().alpha; }
    Ref picture(int w, int h, unsigned seed) {
        return host->pictureFromImage(qrxtest::patternImage(w, h, alphaCase(), seed));
    }
    std::unique_ptr<qrx::Host> host;
};

TEST_P(PpicOnHost, TheTwoPixelExampleByteForByte) {
    qrx::Image img;
    img.width = 2;
    img.height = 1;
    img.hasAlpha = alphaCase();
    img.rgba = {255, 0, 0, 255, 0, 0, 255, 255};
    const Bytes want{0x50, 0x50, 0x49, 0x43, 0, 0, 0, 0x2E, 0,    0, 0, 2, 0, 0,   0, 1,
                     0,    0,    0,    0x20, 0, 0, 0, 0x28, 0,    0, 0, 0, 0, 0,   0, 0,
                     0,    0,    0,    0,    0, 0, 0, 0,    0xFF, 0, 0, 0, 0, 0xFF};
    EXPECT_EQ(toString(*host, host->pictureFromImage(img)), want);
}

TEST_P(PpicOnHost, HeaderFieldsAndPixelsOfWrittenStrings) {
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {17, 5}, {1, 40}, {64, 33}}) {
        Ref pic = picture(w, h, unsigned(w * 100 + h));
        const Bytes s = toString(*host, pic);
        ASSERT_EQ(s.size(), size_t(40 + w * h * 3)) << w << "x" << h;
        EXPECT_EQ(Bytes(s.begin(), s.begin() + 4), (Bytes{'P', 'P', 'I', 'C'}));
        EXPECT_EQ(getBE(s, 4), uint32_t(s.size()));
        EXPECT_EQ(getBE(s, 8), uint32_t(w));
        EXPECT_EQ(getBE(s, 12), uint32_t(h));
        EXPECT_EQ(getBE(s, 16), 32u);
        EXPECT_EQ(getBE(s, 20), 40u);
        EXPECT_EQ(Bytes(s.begin() + 24, s.begin() + 40), Bytes(16, 0));
        EXPECT_EQ(Bytes(s.begin() + 40, s.end()), colorsOf(*pic.as<Picture>()));
    }
}

// 700 x 600 makes a string over 1 MiB, which the runtime keeps (and hands out) on pooled storage.
TEST_P(PpicOnHost, RoundTripKeepsColoursAndComesBackOpaque) {
    for (auto [w, h] : {std::pair{1, 1}, {5, 7}, {31, 9}, {700, 600}}) {
        Ref pic = picture(w, h, unsigned(w + h));
        Ref back = fromString(*host, toString(*host, pic));
        ASSERT_TRUE(back);
        auto* p = back.as<Picture>();
        EXPECT_EQ(p->width(), w);
        EXPECT_EQ(p->height(), h);
        EXPECT_FALSE(p->hasAlpha());
        EXPECT_EQ(colorsOf(*p), colorsOf(*pic.as<Picture>()));
        expectOpaque(*p);
    }
}

TEST_P(PpicOnHost, ReadsPixelsAsWrittenWithALongerHeaderAndIgnoredBytes) {
    const Bytes pixels = randomPixels(4 * 3 * 3, 9);
    for (uint32_t d : {40u, 48u, 100u}) {
        Bytes s = makeString(4, 3, pixels, d);
        // The constant and the reserved bytes are not looked at.
        s[16] = 0xDE, s[17] = 0xAD, s[19] = 0x01;
        for (size_t i = 24; i < 40; ++i)
            s[i] = uint8_t(i * 7);
        for (size_t i = 40; i < d; ++i)
            s[i] = 0xEE; // bytes of the longer header are skipped
        Ref pic = fromString(*host, s);
        ASSERT_TRUE(pic) << d;
        EXPECT_EQ(colorsOf(*pic.as<Picture>()), pixels) << d;
        expectOpaque(*pic.as<Picture>());
    }
}

TEST_P(PpicOnHost, MalformedStringsGiveNil) {
    const Bytes good = makeString(3, 2, randomPixels(18, 3));
    ASSERT_TRUE(fromString(*host, good));
    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    const std::vector<std::pair<std::string, Bytes>> bad{
        {"empty", {}},
        {"seven bytes", Bytes(good.begin(), good.begin() + 7)},
        {"length field one more", with([](Bytes& b) { putBE(b, 4, uint32_t(b.size() + 1)); })},
        {"length field one less", with([](Bytes& b) { putBE(b, 4, uint32_t(b.size() - 1)); })},
        {"byte appended", with([](Bytes& b) { b.push_back(0); })},
        {"lower-case magic",
         with([](Bytes& b) { b[0] = 0x70, b[1] = 0x70, b[2] = 0x69, b[3] = 0x63; })},
        {"zero width", makeString(0, 2, {})},
        {"zero height", makeString(3, 0, {})},
        {"negative width", makeString(-3, 2, randomPixels(18, 3))},
        {"negative height", makeString(3, -2, randomPixels(18, 3))},
        {"width 32768", makeString(32768, 1, randomPixels(32768 * 3, 4))},
        {"huge sizes in a short string", with([](Bytes& b) {
             putBE(b, 8, 32767);
             putBE(b, 12, 32767);
         })},
        {"sizes whose byte count wraps 32 bits", with([](Bytes& b) {
             putBE(b, 8, 0x5556); // 0x5556 * 0x3000 * 3 = 2^32 + 0x18000
             putBE(b, 12, 0x3000);
         })},
        {"data offset past the end", with([](Bytes& b) { putBE(b, 20, 0xFFFFFFF0u); })},
        {"data offset one too far", with([](Bytes& b) { putBE(b, 20, 41); })},
        {"pixels cut short", with([](Bytes& b) {
             b.pop_back();
             putBE(b, 4, uint32_t(b.size()));
         })},
    };
    for (const auto& [name, bytes] : bad)
        EXPECT_FALSE(fromString(*host, bytes)) << name;

    // Consistent but too short to hold the fields up to offset 23.
    for (size_t n = 8; n < 24; ++n) {
        Bytes b(good.begin(), good.begin() + long(n));
        putBE(b, 4, uint32_t(n));
        EXPECT_FALSE(fromString(*host, b)) << n << " bytes";
    }

    // A nil string.
    qrx::CallResult r = qrxtest::auditedGlobal(*host, "BinaryStringtoPictureQRX", {qrx::Nil{}});
    EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result));
    EXPECT_FALSE(r.exception);
}

// A picture with no rows or no columns gives the bare header carrying its W and H, wherever it is
// readable; where the bitmap lock is refused it is read through a copy, and no copy of an empty
// picture can be made, so there it gives nil.
TEST_P(PpicOnHost, PicturesWithNoPixelsGiveTheBareHeader) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 3}, {3, 0}, {0, 2}}) {
        Ref pic = picture(w, h, 1);
        qrx::CallResult r = qrxtest::auditedGlobal(*host, "PicturetoBinaryStringQRX", {pic});
        if (GetParam().config.bitmapLockFails && !alphaCase()) {
            EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result)) << w << "x" << h;
            continue;
        }
        const Bytes s = stringBytes(r.result);
        EXPECT_EQ(s, makeString(w, h, {})) << w << "x" << h;
    }
}

TEST_P(PpicOnHost, NilPictureGivesNil) {
    qrx::CallResult r =
        qrxtest::auditedGlobal(*host, "PicturetoBinaryStringQRX", {Value(qrx::Nil{})});
    EXPECT_TRUE(std::holds_alternative<qrx::Nil>(r.result));
    EXPECT_FALSE(r.exception);
}

TEST_P(PpicOnHost, RandomAndTruncatedStringsNeverReadPastTheirEnd) {
    std::mt19937 rng(11);
    const Bytes good = makeString(5, 4, randomPixels(60, 2));
    for (int i = 0; i < 200; ++i) {
        Bytes b;
        switch (i % 4) {
        case 0: // any bytes behind a valid magic
            b = randomPixels(rng() % 80, rng());
            if (b.size() >= 4) b[0] = 'P', b[1] = 'P', b[2] = 'I', b[3] = 'C';
            break;
        case 1: // a truncated string with its length field made to match
            b.assign(good.begin(), good.begin() + long(rng() % good.size()));
            if (b.size() >= 8) putBE(b, 4, uint32_t(b.size()));
            break;
        case 2: // one header word replaced by a random value
            b = good;
            putBE(b, 4 * (2 + rng() % 4), rng());
            break;
        default: // random sizes and offset, consistent length
            b = good;
            putBE(b, 8, rng() % 8);
            putBE(b, 12, rng() % 8);
            putBE(b, 20, rng() % 64);
            break;
        }
        Ref pic = fromString(*host, b);
        if (!pic) continue;
        // Whatever was accepted holds its pixels inside the string.
        auto* p = pic.as<Picture>();
        const uint64_t need = uint64_t(getBE(b, 20)) + uint64_t(p->width()) * p->height() * 3;
        EXPECT_LE(need, b.size());
        EXPECT_EQ(uint32_t(p->width()), getBE(b, 8));
        EXPECT_EQ(uint32_t(p->height()), getBE(b, 12));
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, PpicOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

} // namespace
