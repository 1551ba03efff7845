// Channel replacement, combining three channel pictures and merging two pictures, on every host
// configuration: colours against a per-pixel reference, size rules, nil arguments (the only
// exception is the channel methods' own, also as qrx reports it), and a clean audit after every
// call.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
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

constexpr int W = 37;
constexpr int H = 23;

struct ChannelMethod {
    const char* name;
    int component; // 0 red, 1 green, 2 blue
};

constexpr ChannelMethod kChannelMethods[] = {
    {"ReplaceRedChannelQRX", 0},
    {"ReplaceGreenChannelQRX", 1},
    {"ReplaceBlueChannelQRX", 2},
};

// An image of one colour.
Image solid(int width, int height, std::array<uint8_t, 3> rgb, bool hasAlpha = false,
            uint8_t alpha = 255) {
    Image img;
    img.width = width;
    img.height = height;
    img.hasAlpha = hasAlpha;
    for (int i = 0; i < width * height; ++i)
        img.rgba.insert(img.rgba.end(), {rgb[0], rgb[1], rgb[2], alpha});
    return img;
}

// The picture as the host keeps it (a console keeps 7 bits of alpha).
Image stored(const Ref& pic) {
    return pic.as<Picture>()->toImage();
}

// Compares every pixel of out with want(x, y): red, green and blue, and an opaque alpha.
void expectColours(const Picture& out, int width, int height,
                   const std::function<std::array<uint8_t, 3>(int, int)>& want) {
    ASSERT_EQ(out.width(), width);
    ASSERT_EQ(out.height(), height);
    EXPECT_FALSE(out.hasAlpha());
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t got[4];
            out.rgba(x, y, got);
            const std::array<uint8_t, 3> w = want(x, y);
            if ((std::memcmp(got, w.data(), 3) != 0 || got[3] != 255) && wrong++ < 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << int(got[0]) << ","
                              << int(got[1]) << "," << int(got[2]) << "," << int(got[3]) << " want "
                              << int(w[0]) << "," << int(w[1]) << "," << int(w[2]) << ",255";
        }
    EXPECT_EQ(wrong, 0);
}

std::array<uint8_t, 3> rgbOf(const Image& img, int x, int y) {
    const uint8_t* p = img.pixel(x, y);
    return {p[0], p[1], p[2]};
}

// ---- on every host configuration --------------------------------------------------------------

// Host configuration, and whether the first picture has an alpha channel (the others alternate,
// so pictures of different layouts meet in one call).
class ChannelsOnHost : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        const auto& [name, config, withAlpha] = GetParam();
        alpha = withAlpha;
        host = qrxtest::loadHost(config);
    }
    Ref picture(int width, int height, bool hasAlpha, unsigned seed) {
        Ref pic = host->pictureFromImage(qrxtest::patternImage(width, height, hasAlpha, seed));
        EXPECT_TRUE(pic);
        return pic;
    }
    std::unique_ptr<qrx::Host> host;
    bool alpha = false;
};

TEST_P(ChannelsOnHost, ReplaceTakesOneComponentFromTheChannelPicture) {
    Ref src = picture(W, H, alpha, 11);
    // Equal size with the other alpha form, larger with each: the top-left W x H area is used.
    const std::pair<int, int> channelSizes[] = {{W, H}, {W + 9, H}, {W, H + 4}, {2 * W, 2 * H}};
    for (auto [cw, ch] : channelSizes) {
        for (bool channelAlpha : {!alpha, alpha}) {
            Ref channel = picture(cw, ch, channelAlpha, 29 + cw + ch);
            const Image srcImg = stored(src), chImg = stored(channel);
            for (const ChannelMethod& m : kChannelMethods) {
                SCOPED_TRACE(std::string(m.name) + " channel " + std::to_string(cw) + "x" +
                             std::to_string(ch) + (channelAlpha ? " alpha" : " plain"));
                auto r = qrxtest::auditedCall(*host, src, m.name, {channel});
                const Picture* out = qrxtest::newResult(r, src, false);
                ASSERT_NE(out, nullptr);
                expectColours(*out, W, H, [&](int x, int y) {
                    auto c = rgbOf(srcImg, x, y);
                    c[m.component] = chImg.pixel(x, y)[m.component];
                    return c;
                });
                EXPECT_EQ(stored(src).rgba, srcImg.rgba) << "the source was changed";
                EXPECT_EQ(stored(channel).rgba, chImg.rgba) << "the channel picture was changed";
            }
        }
    }
}

TEST_P(ChannelsOnHost, ReplaceRefusesASmallerChannelPicture) {
    Ref src = picture(W, H, alpha, 3);
    for (auto [cw, ch] : {std::pair{W - 1, H}, std::pair{W, H - 1}, std::pair{1, 1},
                          std::pair{W + 5, H - 1}, std::pair{W - 1, H + 5}}) {
        Ref channel = picture(cw, ch, !alpha, 4);
        for (const ChannelMethod& m : kChannelMethods) {
            SCOPED_TRACE(std::string(m.name) + " " + std::to_string(cw) + "x" + std::to_string(ch));
            auto r = qrxtest::auditedCall(*host, src, m.name, {channel});
            EXPECT_FALSE(r.exception);
            EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
        }
    }
}

TEST_P(ChannelsOnHost, ReplaceWithANilChannelRaises) {
    Ref src = picture(W, H, alpha, 5);
    for (const ChannelMethod& m : kChannelMethods) {
        SCOPED_TRACE(m.name);
        auto r = qrxtest::auditedCall(*host, src, m.name, {Nil{}});
        ASSERT_TRUE(r.exception);
        EXPECT_EQ(r.exception->className, "NilObjectException");
        EXPECT_EQ(r.exception->message, "The channel picture is nil.");
        EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
    }
}

TEST_P(ChannelsOnHost, CombineFeedsEachComponentFromItsNamedParameter) {
    // Parameters are red, blue, green: three different pictures show which feeds what.
    Ref red = picture(W, H, alpha, 41);
    Ref blue = picture(W, H, !alpha, 42);
    Ref green = picture(W, H, alpha, 43);
    const Image r = stored(red), g = stored(green), b = stored(blue);
    auto res = qrxtest::auditedGlobal(*host, "CombinePicturesQRX", {red, blue, green});
    const Picture* out = qrxtest::newResult(res, red, false);
    ASSERT_NE(out, nullptr);
    expectColours(*out, W, H, [&](int x, int y) {
        return std::array<uint8_t, 3>{r.pixel(x, y)[0], g.pixel(x, y)[1], b.pixel(x, y)[2]};
    });
    EXPECT_EQ(stored(red).rgba, r.rgba);
    EXPECT_EQ(stored(green).rgba, g.rgba);
    EXPECT_EQ(stored(blue).rgba, b.rgba);

    // One picture in all three places: an opaque copy of it.
    auto same = qrxtest::auditedGlobal(*host, "CombinePicturesQRX", {red, red, red});
    ASSERT_NE(qrxtest::newResult(same, red, false), nullptr);
    expectColours(*qrxtest::newResult(same, red, false), W, H,
                  [&](int x, int y) { return rgbOf(r, x, y); });
}

TEST_P(ChannelsOnHost, MergeKeepsTheLargerOfEachComponent) {
    Ref first = picture(W, H, alpha, 51);
    Ref second = picture(W, H, !alpha, 52);
    const Image a = stored(first), b = stored(second);
    auto res = qrxtest::auditedGlobal(*host, "MergePictureQRX", {first, second});
    const Picture* out = qrxtest::newResult(res, first, false);
    ASSERT_NE(out, nullptr);
    expectColours(*out, W, H, [&](int x, int y) {
        std::array<uint8_t, 3> c;
        for (int i = 0; i < 3; ++i)
            c[i] = std::max(a.pixel(x, y)[i], b.pixel(x, y)[i]);
        return c;
    });
    EXPECT_EQ(stored(first).rgba, a.rgba);
    EXPECT_EQ(stored(second).rgba, b.rgba);

    // With itself, with black: an opaque copy; with white: white.
    Ref black = host->pictureFromImage(solid(W, H, {0, 0, 0}));
    Ref white = host->pictureFromImage(solid(W, H, {255, 255, 255}));
    for (const Ref& other : {first, black}) {
        auto copy = qrxtest::auditedGlobal(*host, "MergePictureQRX", {first, other});
        ASSERT_NE(qrxtest::newResult(copy, first, false), nullptr);
        expectColours(*qrxtest::newResult(copy, first, false), W, H,
                      [&](int x, int y) { return rgbOf(a, x, y); });
    }
    auto w = qrxtest::auditedGlobal(*host, "MergePictureQRX", {white, first});
    ASSERT_NE(qrxtest::newResult(w, first, false), nullptr);
    expectColours(*qrxtest::newResult(w, first, false), W, H, [](int, int) {
        return std::array<uint8_t, 3>{255, 255, 255};
    });
}

TEST_P(ChannelsOnHost, CombineAndMergeRefuseNilAndUnequalSizes) {
    Ref p = picture(W, H, alpha, 61);
    Ref q = picture(W, H, !alpha, 62);
    Ref wider = picture(W + 1, H, alpha, 63);
    Ref taller = picture(W, H + 1, !alpha, 64);
    const std::vector<std::vector<Value>> combineArgs = {
        {Nil{}, p, q},  {p, Nil{}, q},  {p, q, Nil{}},          {Nil{}, Nil{}, Nil{}},
        {wider, p, q},  {p, wider, q},  {p, q, wider},          {taller, p, q},
        {p, taller, q}, {p, q, taller}, {wider, wider, taller},
    };
    for (size_t i = 0; i < combineArgs.size(); ++i) {
        SCOPED_TRACE("CombinePicturesQRX case " + std::to_string(i));
        auto r = qrxtest::auditedGlobal(*host, "CombinePicturesQRX", combineArgs[i]);
        EXPECT_FALSE(r.exception);
        EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
    }
    const std::vector<std::vector<Value>> mergeArgs = {
        {p, Nil{}}, {Nil{}, p}, {Nil{}, Nil{}}, {p, wider}, {wider, p}, {taller, q}, {q, taller},
    };
    for (size_t i = 0; i < mergeArgs.size(); ++i) {
        SCOPED_TRACE("MergePictureQRX case " + std::to_string(i));
        auto r = qrxtest::auditedGlobal(*host, "MergePictureQRX", mergeArgs[i]);
        EXPECT_FALSE(r.exception);
        EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
    }
}

INSTANTIATE_TEST_SUITE_P(AllHosts, ChannelsOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// Replacing a channel of a picture by its own gives an opaque copy, also where it is transparent.
TEST(ChannelExamples, OwnChannelGivesAnOpaqueCopy) {
    for (const HostCase& c : qrxtest::alphaHostCases()) {
        SCOPED_TRACE(c.name);
        auto host = qrxtest::loadHost(c.config);
        Ref pic = host->pictureFromImage(solid(5, 4, {30, 60, 90}, true, 0));
        const Image img = stored(pic);
        for (const ChannelMethod& m : kChannelMethods) {
            auto r = qrxtest::auditedCall(*host, pic, m.name, {pic});
            ASSERT_NE(qrxtest::newResult(r, pic, false), nullptr) << m.name;
            expectColours(*qrxtest::newResult(r, pic, false), 5, 4,
                          [&](int x, int y) { return rgbOf(img, x, y); });
        }
    }
}

// A host never calls a method on nil, so the functions are called here directly, as registered:
// the nil channel picture is reported even when the source is nil too; a nil source with a
// channel picture gives nil quietly.
TEST(ChannelExamples, NilSourceCalledDirectly) {
    auto host = qrxtest::loadHost();
    Ref channel = host->pictureFromImage(solid(3, 3, {1, 2, 3}));
    using Fn = REALpicture (*)(REALpicture, REALpicture);
    for (const ChannelMethod& m : kChannelMethods) {
        SCOPED_TRACE(m.name);
        auto overloads = host->overloads("Picture", m.name);
        ASSERT_EQ(overloads.size(), 1u);
        auto fn = reinterpret_cast<Fn>(overloads[0]->function);
        const qrx::Audit before = host->audit();

        host->makeCurrent();
        host->impl().pendingException.reset();
        EXPECT_EQ(fn(nullptr, nullptr), nullptr);
        Ref raised = std::move(host->impl().pendingException);
        ASSERT_TRUE(raised);
        EXPECT_EQ(raised->className(), "NilObjectException");
        ASSERT_NE(raised.as<qrx::Instance>(), nullptr);
        EXPECT_EQ(raised.as<qrx::Instance>()->message, "The channel picture is nil.");
        raised.reset();

        EXPECT_EQ(fn(nullptr, static_cast<REALpicture>(channel->handle())), nullptr);
        EXPECT_FALSE(host->impl().pendingException);

        const qrx::Audit after = host->audit();
        EXPECT_EQ(after.liveObjects, before.liveObjects);
        EXPECT_EQ(after.references, before.references);
        qrxtest::expectQuiet(*host);
    }
}

// ---- qrx end to end --------------------------------------------------------------------------

using qrxclitest::runQrx;
using qrxclitest::ScratchDir;

TEST(ChannelsCli, NilChannelExitsWithOneAndPrintsTheException) {
    ScratchDir dir;
    const std::string aPath = (dir / "a.png").string(), outPath = (dir / "out.png").string();
    qrx::writeImage(aPath, qrxtest::patternImage(6, 5, false, 73));
    auto r = runQrx({"call", "--on", aPath, "ReplaceBlueChannelQRX(nil)", "-o", outPath});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("NilObjectException: The channel picture is nil."), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(outPath));
}

} // namespace
