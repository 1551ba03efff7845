// Embedded masks set from a gray picture and read back, both conventions, masks that are nil,
// smaller or read through a copy, the host's separate mask, on every host configuration with a
// clean audit after every call (the getter alone is held to its model by ops_driver_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli_util_test.h"
#include "image_io.h"
#include "op_test_util.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

constexpr int W = 9;
constexpr int H = 6;

// The alpha a stored word carries in its layout: the high byte for 1, 3, 5, the low byte for
// 2, 4, 6, and for records the 7-bit field widened to 8 bits.
int storedAlpha(uint32_t layout, uint32_t w) {
    switch (layout) {
    case 1:
    case 3:
    case 5:
        return int(w >> 24);
    case 2:
    case 4:
    case 6:
        return int(w & 0xFF);
    default: {
        int a = int((w >> 24) & 0x7F);
        return (a << 1) | (a & 1);
    }
    }
}

// The word without its alpha.
uint32_t colourBits(uint32_t layout, uint32_t w) {
    switch (layout) {
    case 1:
    case 3:
    case 5:
        return w & 0x00FFFFFF;
    case 2:
    case 4:
    case 6:
        return w & 0xFFFFFF00;
    default:
        return w & 0x80FFFFFF;
    }
}

std::vector<uint32_t> wordsOf(const Ref& pic) {
    auto* p = pic.as<Picture>();
    std::vector<uint32_t> w;
    for (int y = 0; y < p->height(); ++y)
        for (int x = 0; x < p->width(); ++x)
            w.push_back(p->word(x, y));
    return w;
}

// A gray picture whose gray at (x, y) is gray(x, y).
template <class F> Ref grayPicture(qrx::Host& host, int width, int height, F gray) {
    Image img;
    img.width = width;
    img.height = height;
    img.rgba.resize(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = img.pixel(x, y);
            p[0] = p[1] = p[2] = uint8_t(gray(x, y));
            p[3] = 255;
        }
    return host.pictureFromImage(img);
}

Ref getMask(qrx::Host& host, const Ref& pic, bool swap) {
    qrx::CallResult r = qrxtest::auditedCall(host, pic, "EmbeddedMaskQRX", {swap});
    EXPECT_FALSE(r.exception);
    return std::holds_alternative<Ref>(r.result) ? std::get<Ref>(r.result) : Ref();
}

// Assigns mask with the audit checked: no reference gained or lost but the argument's.
void setMask(qrx::Host& host, const Ref& pic, bool swap, Value mask) {
    const Value keep = mask;
    const bool isRef = std::holds_alternative<Ref>(mask) && std::get<Ref>(mask);
    qrx::Audit before = host.audit();
    qrx::CallResult r = host.assign(pic, "EmbeddedMaskQRX", {swap}, std::move(mask));
    qrx::Audit after = host.audit();
    EXPECT_FALSE(r.exception);
    EXPECT_EQ(after.liveObjects, before.liveObjects) << "objects leaked";
    EXPECT_EQ(after.references, before.references - (isRef ? 1 : 0)) << "references leaked";
    qrxtest::expectQuiet(host);
}

// The gray of every pixel of a mask picture, checking that it is gray.
std::vector<int> grays(const Ref& mask) {
    auto* m = mask.as<Picture>();
    std::vector<int> g;
    for (int y = 0; y < m->height(); ++y)
        for (int x = 0; x < m->width(); ++x) {
            uint8_t p[4];
            m->rgba(x, y, p);
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "not gray at " << x << "," << y;
            g.push_back(p[0]);
        }
    return g;
}

class MaskOnHost : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        host = qrxtest::loadHost(GetParam().config);
        pic = host->pictureFromImage(qrxtest::patternImage(W, H, GetParam().alpha, 21));
        layout = pic.as<Picture>()->layout();
        // A plain desktop picture that refuses its bitmap is read through a copy.
        throughCopy = GetParam().config.bitmapLockFails && !GetParam().alpha;
    }
    std::unique_ptr<qrx::Host> host;
    Ref pic;
    uint32_t layout = 0;
    bool throughCopy = false;
};

TEST_P(MaskOnHost, SetterAndGetterAreInverse) {
    const std::vector<uint32_t> before = wordsOf(pic);
    Ref m = grayPicture(*host, W, H, [](int x, int y) { return (x * 37 + y * 101 + 3) % 256; });
    std::vector<int> mg;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            mg.push_back((x * 37 + y * 101 + 3) % 256);
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swap" : "no swap");
        setMask(*host, pic, swap, m);
        const std::vector<uint32_t> after = wordsOf(pic);
        if (throughCopy) {
            EXPECT_EQ(after, before) << "the copy was changed, not the picture";
            continue;
        }
        for (size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(colourBits(layout, after[i]), colourBits(layout, before[i])) << i;
            const int v = swap ? 255 - mg[i] : mg[i];
            // Records keep 7 bits: the value is halved and widened back.
            const int want = layout == 8 ? ((v >> 1) << 1) | ((v >> 1) & 1) : v;
            ASSERT_EQ(storedAlpha(layout, after[i]), want) << i;
        }
        Ref back = getMask(*host, pic, swap);
        ASSERT_TRUE(back);
        std::vector<int> g = grays(back);
        for (size_t i = 0; i < g.size(); ++i) {
            const int v = swap ? 255 - mg[i] : mg[i];
            const int want = layout == 8 ? ((v >> 1) << 1) | ((v >> 1) & 1) : v;
            ASSERT_EQ(g[i], swap ? 255 - want : want) << i;
        }
    }
}

TEST_P(MaskOnHost, ConventionsOfSwap) {
    struct Case {
        int gray;
        bool setSwap, getSwap;
        int expected;
    };
    const Case cases[] = {
        {128, false, false, 128}, {128, true, true, 128},   {128, false, true, 127},
        {128, true, false, 127},  {255, false, false, 255}, {0, true, false, 255},
        {0, false, true, 255},    {255, true, true, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.gray) + (c.setSwap ? " set swapped" : "") +
                     (c.getSwap ? " read swapped" : ""));
        Ref m = grayPicture(*host, W, H, [&](int, int) { return c.gray; });
        setMask(*host, pic, c.setSwap, m);
        Ref back = getMask(*host, pic, c.getSwap);
        ASSERT_TRUE(back);
        if (throughCopy) continue;
        for (int g : grays(back))
            ASSERT_EQ(g, c.expected);
    }
}

TEST_P(MaskOnHost, NilOrSmallerMask) {
    const std::vector<uint32_t> before = wordsOf(pic);
    setMask(*host, pic, false, qrx::Nil{});
    setMask(*host, pic, true, qrx::Nil{});
    EXPECT_EQ(wordsOf(pic), before);

    // A mask two columns narrower and one row lower: the pixels it does not cover stay.
    Ref small = grayPicture(*host, W - 2, H - 1, [](int, int) { return 200; });
    setMask(*host, pic, false, small);
    const std::vector<uint32_t> after = wordsOf(pic);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * W + x;
            const bool covered = x < W - 2 && y < H - 1 && !throughCopy;
            if (!covered) {
                EXPECT_EQ(after[i], before[i]) << x << "," << y;
            } else {
                EXPECT_EQ(colourBits(layout, after[i]), colourBits(layout, before[i]));
                EXPECT_EQ(storedAlpha(layout, after[i]), 200); // 100 in 7 bits widens back to 200
            }
        }
}

INSTANTIATE_TEST_SUITE_P(AllHosts, MaskOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

TEST(Masks, HasMaskReportsOnlyTheSeparateMask) {
    for (qrx::HostKind kind : {qrx::HostKind::Desktop, qrx::HostKind::Console}) {
        qrx::HostConfig config = qrxtest::ofKind(kind);
        auto host = qrxtest::loadHost(config);
        Ref pic = host->pictureFromImage(qrxtest::patternImage(5, 5, true, 2));
        auto hasMask = [&] {
            qrx::CallResult r = qrxtest::auditedCall(*host, pic, "HasMaskQRX", {});
            return std::get<bool>(r.result);
        };
        EXPECT_FALSE(hasMask()) << "alpha in the pixels is no separate mask";
        pic.as<Picture>()->mask = host->newPicture(5, 5, false);
        const int maskRefs = pic.as<Picture>()->mask->refCount();
        EXPECT_TRUE(hasMask());
        EXPECT_EQ(pic.as<Picture>()->mask->refCount(), maskRefs);
        pic.as<Picture>()->mask.reset();
        EXPECT_FALSE(hasMask());
    }
}

TEST(MasksCli, AssignedMaskIsWritten) {
    using namespace qrxclitest;
    ScratchDir dir;
    const std::string in = (dir / "p.png").string(), mask = (dir / "mask.png").string(),
                      out = (dir / "out.png").string();
    Image src = qrxtest::patternImage(12, 7, true, 5);
    qrx::writeImage(in, src);
    Image m;
    m.width = 12;
    m.height = 7;
    m.rgba.resize(12 * 7 * 4);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 12; ++x) {
            uint8_t* p = m.pixel(x, y);
            p[0] = p[1] = p[2] = uint8_t(x * 20 + y);
            p[3] = 255;
        }
    qrx::writeImage(mask, m);
    auto r = runQrx({"call", "--on", in, "EmbeddedMaskQRX(false) = " + mask, "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    Image got = qrx::readImage(out);
    ASSERT_EQ(got.width, 12);
    ASSERT_EQ(got.height, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 12; ++x) {
            EXPECT_EQ(got.pixel(x, y)[3], m.pixel(x, y)[0]) << x << "," << y;
            EXPECT_TRUE(std::equal(got.pixel(x, y), got.pixel(x, y) + 3, src.pixel(x, y)));
        }

    r = runQrx({"call", "--on", out, "EmbeddedMaskQRX(true)", "-o", mask});
    ASSERT_EQ(r.code, 0) << r.err;
    Image back = qrx::readImage(mask);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(back.pixel(x, y)[0], 255 - m.pixel(x, y)[0]);

    r = runQrx({"call", "--on", in, "HasMaskQRX"});
    EXPECT_EQ(r.out, "result = false\n");
}

} // namespace
