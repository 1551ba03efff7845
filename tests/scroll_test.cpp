// Scrolling in place: wrapped rotations that keep every stored word, legacy scrolls of offscreen
// worlds through the drawing library (and their silent absence), separate masks, every host
// configuration, and a clean audit after every call.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_util_test.h"
#include "host/services.h"
#include "image_io.h"
#include "op_test_util.h"
#include "ops/scroll.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;
using qrx::Value;

constexpr int W = 7;
constexpr int H = 5;

using Words = std::vector<uint32_t>;

Words wordsOf(const Ref& pic) {
    auto* p = pic.as<Picture>();
    Words w;
    for (int y = 0; y < p->height(); ++y)
        for (int x = 0; x < p->width(); ++x)
            w.push_back(p->word(x, y));
    return w;
}

int mod(long long a, int n) {
    return int(((a % n) + n) % n);
}

// The words after rotating by (dx, dy): the word at (x, y) ends at (x + dx, y + dy) modulo the
// size.
Words rotated(const Words& w, int width, int height, long long dx, long long dy) {
    Words out(w.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out[size_t(mod(y + dy, height)) * width + mod(x + dx, width)] =
                w[size_t(y) * width + x];
    return out;
}

bool call(qrx::Host& host, const Ref& pic, const std::string& name, std::vector<Value> args) {
    qrx::CallResult r = qrxtest::auditedCall(host, pic, name, std::move(args));
    EXPECT_FALSE(r.exception);
    EXPECT_TRUE(std::holds_alternative<bool>(r.result));
    return std::holds_alternative<bool>(r.result) && std::get<bool>(r.result);
}

const int32_t kDeltas[] = {0,       1,       -1,     2,         -2,         3,           H,
                           -H,      H + 1,   -H - 1, 3 * H + 2, -3 * H - 2, 65536,       -65536,
                           INT_MAX, INT_MIN, W,      -W,        W + 3,      -(2 * W) - 1};

class ScrollOnHost : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        host = qrxtest::loadHost(GetParam().config);
        pic = host->pictureFromImage(qrxtest::patternImage(W, H, GetParam().alpha, 3));
        // Writing in place needs the picture's own rows; a plain desktop picture that refuses its
        // bitmap cannot be edited.
        editable = !(GetParam().config.bitmapLockFails && !GetParam().alpha);
    }
    std::unique_ptr<qrx::Host> host;
    Ref pic;
    bool editable = true;
};

// A vertical scroll of a picture that cannot be edited fails unless it is by 0; a horizontal
// one always reports success.
TEST_P(ScrollOnHost, WrapRotatesRowsAndColumns) {
    for (bool vertical : {true, false})
        for (int32_t d : kDeltas) {
            SCOPED_TRACE((vertical ? "vertical " : "horizontal ") + std::to_string(d));
            Words before = wordsOf(pic);
            bool ok = call(*host, pic, vertical ? "ScrollVerticalQRX" : "ScrollHorizontalQRX",
                           {d, true, false});
            EXPECT_EQ(ok, editable || d == 0 || !vertical);
            EXPECT_EQ(wordsOf(pic), !editable  ? before
                                    : vertical ? rotated(before, W, H, 0, d)
                                               : rotated(before, W, H, d, 0));
        }
}

TEST_P(ScrollOnHost, BothWaysAndBackRestoresEveryWord) {
    const Words original = wordsOf(pic);
    const int32_t pairs[][2] = {{1, 1}, {-3, 2}, {6, -4}, {100, -1001}, {INT_MIN, INT_MAX}};
    for (auto [dx, dy] : pairs) {
        SCOPED_TRACE(std::to_string(dx) + "," + std::to_string(dy));
        EXPECT_EQ(call(*host, pic, "ScrollQRX", {dx, dy, true, false}), editable);
        EXPECT_EQ(wordsOf(pic), editable ? rotated(original, W, H, dx, dy) : original);
        // INT_MIN cannot be negated: undo with the opposite shift modulo the size instead.
        const int32_t ux = dx == INT_MIN ? -mod(dx, W) : -dx;
        const int32_t uy = -dy;
        EXPECT_EQ(call(*host, pic, "ScrollQRX", {ux, uy, true, false}), editable);
        EXPECT_EQ(wordsOf(pic), original);
    }
}

TEST_P(ScrollOnHost, WithoutWrapNothingMovesOutsideAnOffscreenWorld) {
    // Desktop pictures kept as bitmaps and console records are no offscreen worlds.
    const Words before = wordsOf(pic);
    for (int32_t d : {1, -2, 65536}) {
        EXPECT_FALSE(call(*host, pic, "ScrollVerticalQRX", {d, false, false}));
        EXPECT_TRUE(call(*host, pic, "ScrollHorizontalQRX", {d, false, false}));
        EXPECT_FALSE(call(*host, pic, "ScrollQRX", {d, d, false, true}));
    }
    EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {0, false, false}));
    EXPECT_EQ(wordsOf(pic), before);
}

TEST_P(ScrollOnHost, MaskScrollsWithThePictureWhenAsked) {
    auto* p = pic.as<Picture>();
    p->mask = host->pictureFromImage(qrxtest::patternImage(W, H, false, 9));
    const Words picBefore = wordsOf(pic), maskBefore = wordsOf(p->mask);
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {2, -1, true, false}), editable);
    EXPECT_EQ(wordsOf(p->mask), maskBefore) << "mask moved without scrollmask";
    const Words picMid = wordsOf(pic);
    const bool maskEditable = !GetParam().config.bitmapLockFails;
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {-3, 4, true, true}), editable && maskEditable);
    EXPECT_EQ(wordsOf(p->mask), maskEditable ? rotated(maskBefore, W, H, -3, 4) : maskBefore);
    if (maskEditable)
        EXPECT_EQ(wordsOf(pic), editable ? rotated(picBefore, W, H, -1, 3) : picBefore);
    else
        EXPECT_EQ(wordsOf(pic), picMid);
}

// A mask that cannot be scrolled stops the vertical scroll before the picture moves, but not the
// horizontal one; a picture without a mask scrolls as without scrollmask.
TEST(ScrollMask, FailingMaskStopsOnlyTheVerticalScroll) {
    for (qrx::HostKind kind : {qrx::HostKind::Desktop, qrx::HostKind::Console}) {
        qrx::HostConfig config = qrxtest::ofKind(kind);
        auto host = qrxtest::loadHost(config);
        Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, false, 12));
        const Words before = wordsOf(pic);
        EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {1, true, true}));
        EXPECT_EQ(wordsOf(pic), rotated(before, W, H, 0, 1));
        EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {-1, true, true}));

        // A nil-sized mask: nothing to scroll, which counts as done.
        pic.as<Picture>()->mask = host->newPicture(0, 0, false);
        EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {2, true, true}));
        EXPECT_EQ(wordsOf(pic), rotated(before, W, H, 0, 2));
        EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {-2, true, true}));

        // Without wrap the desktop mask, a bitmap, is no offscreen world: the scroll fails.
        pic.as<Picture>()->mask = host->pictureFromImage(qrxtest::patternImage(W, H, false, 13));
        EXPECT_FALSE(call(*host, pic, "ScrollVerticalQRX", {2, false, true}));
        EXPECT_EQ(wordsOf(pic), before);
        EXPECT_TRUE(call(*host, pic, "ScrollHorizontalQRX", {2, true, true}));
        EXPECT_EQ(wordsOf(pic), rotated(before, W, H, 2, 0));
    }
}

INSTANTIATE_TEST_SUITE_P(AllHosts, ScrollOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// On a host that keeps pictures as offscreen worlds, the scroll without wrap moves the content
// and the uncovered band becomes white.
qrx::HostConfig legacyHost() {
    qrx::HostConfig c;
    c.legacyPictures = true;
    c.plainLayout = 4;
    return c;
}

// Expected words after a non-wrapping scroll by (dx, dy) (16-bit values): white where nothing
// came in.
Words shifted(const Words& w, int width, int height, int dx, int dy, uint32_t white) {
    Words out(w.size(), white);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int sx = x - dx, sy = y - dy;
            if (sx >= 0 && sx < width && sy >= 0 && sy < height)
                out[size_t(y) * width + x] = w[size_t(sy) * width + sx];
        }
    return out;
}

TEST(ScrollLegacy, WithoutWrapMovesTheOffscreenWorld) {
    auto host = qrxtest::loadHost(legacyHost());
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, false, 4));
    auto* p = pic.as<Picture>();
    const uint8_t whiteRgba[4] = {255, 255, 255, 255};
    p->mask = host->newPicture(W, H, false);
    p->mask.as<Picture>()->setRgba(0, 0, whiteRgba);
    const uint32_t white = p->mask.as<Picture>()->word(0, 0);
    p->mask.as<Picture>()->setWord(0, 0, 0x12345678);

    struct Case {
        const char* method;
        int32_t dx, dy;       // as passed
        int expectX, expectY; // as scrolled: the low 16 bits
        bool result;
    };
    const Case cases[] = {
        {"ScrollVerticalQRX", 0, 1, 0, 1, true},
        {"ScrollVerticalQRX", 0, -2, 0, -2, true},
        {"ScrollVerticalQRX", 0, 0, 0, 0, true},
        {"ScrollVerticalQRX", 0, 65536, 0, 0, true},
        {"ScrollVerticalQRX", 0, 65537, 0, 1, true},
        {"ScrollVerticalQRX", 0, H + 2, 0, H + 2, true},
        {"ScrollHorizontalQRX", 3, 0, 3, 0, true},
        {"ScrollHorizontalQRX", -1, 0, -1, 0, true},
        {"ScrollHorizontalQRX", -65536, 0, 0, 0, true},
        {"ScrollHorizontalQRX", -W, 0, -W, 0, true},
        {"ScrollQRX", 2, -1, 2, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.dx) + "," +
                     std::to_string(c.dy));
        p->fromImage(qrxtest::patternImage(W, H, false, 5));
        const Words before = wordsOf(pic), maskBefore = wordsOf(p->mask);
        std::vector<Value> args;
        const std::string m = c.method;
        if (m == "ScrollQRX")
            args = {c.dx, c.dy, false, true};
        else
            args = {m == "ScrollVerticalQRX" ? c.dy : c.dx, false, true};
        EXPECT_EQ(call(*host, pic, c.method, args), c.result);
        EXPECT_EQ(wordsOf(pic), shifted(before, W, H, c.expectX, c.expectY, white));
        // The mask is scrolled the same way (scrollmask).
        EXPECT_EQ(wordsOf(p->mask), shifted(maskBefore, W, H, c.expectX, c.expectY, white));
    }
}

TEST(ScrollLegacy, MissingLibraryOrCallIsASilentNoOp) {
    struct Case {
        const char* name;
        bool hideLibrary;
        const char* folder; // empty: the usual one
        std::vector<std::string> hidden;
        bool moves;
    };
    const Case cases[] = {
        {"library hidden", true, "", {}, false},
        {"empty frameworks folder", false, "/nonexistent-frameworks", {}, false},
        {"ScrollRect hidden", false, "", {"ScrollRect"}, false},
        {"SetGWorld hidden", false, "", {"SetGWorld"}, false},
        {"NewRgn hidden", false, "", {"NewRgn", "DisposeRgn"}, true},
        {"GetGWorld hidden", false, "", {"GetGWorld"}, true},
        {"nothing hidden", false, "", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qrx::HostConfig config = legacyHost();
        config.hideLegacyLibrary = c.hideLibrary;
        config.frameworksFolder = c.folder;
        config.hiddenLegacyFunctions = {c.hidden.begin(), c.hidden.end()};
        auto host = qrxtest::loadHost(config);
        Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, false, 6));
        const Words before = wordsOf(pic);
        const uint8_t whiteRgba[4] = {255, 255, 255, 255};
        Ref probe = host->newPicture(1, 1, false);
        probe.as<Picture>()->setRgba(0, 0, whiteRgba);
        const uint32_t white = probe.as<Picture>()->word(0, 0);
        EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {2, false, false}));
        EXPECT_TRUE(call(*host, pic, "ScrollHorizontalQRX", {-1, false, false}));
        EXPECT_EQ(wordsOf(pic), c.moves ? shifted(before, W, H, -1, 2, white) : before);
    }
}

TEST(ScrollLegacy, BindingIsTriedAgainAfterAMiss) {
    qrx::HostConfig config = legacyHost();
    config.hideLegacyLibrary = true;
    auto host = qrxtest::loadHost(config);
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, false, 8));
    const Words before = wordsOf(pic);
    EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {1, false, false}));
    EXPECT_EQ(wordsOf(pic), before);
    host->config().hideLegacyLibrary = false;
    host->config().hiddenLegacyFunctions = {"ScrollRect"};
    EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {1, false, false}));
    EXPECT_EQ(wordsOf(pic), before);
    host->config().hiddenLegacyFunctions.clear();
    EXPECT_TRUE(call(*host, pic, "ScrollVerticalQRX", {1, false, false}));
    EXPECT_NE(wordsOf(pic), before);
    EXPECT_EQ(wordsOf(pic)[W], before[0]);
}

TEST(ScrollLegacy, WrapStillMovesRawWords) {
    auto host = qrxtest::loadHost(legacyHost());
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, true, 2));
    const Words before = wordsOf(pic);
    EXPECT_TRUE(call(*host, pic, "ScrollQRX", {-2, 3, true, true}));
    EXPECT_EQ(wordsOf(pic), rotated(before, W, H, -2, 3));
}

// Called directly: a nil picture and the reduction of a shift.
TEST(Scroll, NilPictureAndShiftReduction) {
    ResetPluginState();
    EXPECT_TRUE(ScrollVerticalQRX(nullptr, 0, 1, 1));
    EXPECT_FALSE(ScrollVerticalQRX(nullptr, 3, 1, 1));
    EXPECT_FALSE(ScrollVerticalQRX(nullptr, 3, 0, 1));
    EXPECT_TRUE(ScrollHorizontalQRX(nullptr, 3, 1, 1));
    EXPECT_TRUE(ScrollHorizontalQRX(nullptr, 3, 0, 0));
    EXPECT_FALSE(ScrollQRX(nullptr, 1, 1, 1, 0));
    EXPECT_TRUE(ScrollQRX(nullptr, 1, 0, 1, 0));

    struct Case {
        int32_t delta, length, shift;
    };
    const Case cases[] = {{1, 3, 1},  {-1, 3, 2}, {2, 3, 2},  {3, 3, 0},        {-3, 3, 0},
                          {4, 3, 1},  {2, 4, 2},  {-2, 4, 2}, {3, 4, -1},       {1, 1, 0},
                          {-7, 1, 0}, {5, 2, 1},  {-5, 2, 1}, {INT_MIN, 7, -2}, {INT_MAX, 7, 1}};
    for (const Case& c : cases) {
        const int32_t s = ReduceShift(c.delta, c.length);
        EXPECT_EQ(s, c.shift) << c.delta << " over " << c.length;
        EXPECT_EQ(mod((long long)c.delta - s, c.length), 0);
        EXPECT_GT(s, -(c.length / 2) - (c.length == 1 ? 1 : 0));
        EXPECT_LE(s, c.length - c.length / 2);
    }
}

TEST(ScrollCli, ScrolledPictureIsWritten) {
    using namespace qrxclitest;
    ScratchDir dir;
    const std::string in = (dir / "p.pam").string(), out = (dir / "out.pam").string();
    qrx::Image src = qrxtest::patternImage(20, 9, false, 11);
    qrx::writeImage(in, src);
    auto r = runQrx({"call", "--on", in, "ScrollHorizontalQRX(-3, true, false)", "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "result = true\n");
    qrx::Image got = qrx::readImage(out);
    ASSERT_EQ(got.width, 20);
    ASSERT_EQ(got.height, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_TRUE(
                std::equal(src.pixel(x, y), src.pixel(x, y) + 4, got.pixel(mod(x - 3, 20), y)))
                << x << "," << y;
    // Without wrap on a bitmap picture the vertical scroll reports false and the picture stays.
    r = runQrx({"call", "--on", in, "ScrollVerticalQRX(5, false, false)", "-o", out});
    EXPECT_EQ(r.out, "result = false\n");
    EXPECT_EQ(qrx::readImage(out).rgba, src.rgba);
}

} // namespace
