// Scrolling what the models of ops_driver_test.cpp leave out: separate mask pictures scrolled
// with the picture, and the legacy drawing library missing, partly missing or bound late.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "op_test_util.h"
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

} // namespace
