// What the models of ops_driver_test.cpp leave out: the host's separate mask picture (HasMaskQRX,
// and scrolls that carry the mask along), and the legacy drawing library behind the scroll
// without wrap, missing in whole or in part, or bound late.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using Words = std::vector<uint32_t>;

constexpr int W = 7, H = 5;

Words wordsOf(const Ref& pic) {
    Words w;
    for (int y = 0; y < pic.as<Picture>()->height(); ++y)
        for (int x = 0; x < pic.as<Picture>()->width(); ++x)
            w.push_back(pic.as<Picture>()->word(x, y));
    return w;
}

// The words after a rotation by (dx, dy), or after a shift that leaves `fill` where nothing came.
Words moved(const Words& w, int dx, int dy, bool wrap = true, uint32_t fill = 0) {
    Words out(w.size(), fill);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int tx = x + dx, ty = y + dy;
            if (wrap)
                out[size_t((ty % H + H) % H) * W + size_t((tx % W + W) % W)] = w[size_t(y) * W + x];
            else if (tx >= 0 && tx < W && ty >= 0 && ty < H)
                out[size_t(ty) * W + size_t(tx)] = w[size_t(y) * W + x];
        }
    return out;
}

Value call(qrx::Host& host, const Ref& pic, const std::string& name, std::vector<Value> args) {
    qrx::CallResult r = qrxtest::auditedCall(host, pic, name, std::move(args));
    EXPECT_FALSE(r.exception);
    return r.result;
}

class SeparateMask : public testing::TestWithParam<qrxtest::HostCase> {};

// With scrollmask the mask moves first; a mask that cannot move stops the vertical scroll before
// the picture moves, but not the horizontal one. HasMaskQRX sees only the separate mask, and
// gives back the reference it was handed.
TEST_P(SeparateMask, MovesWithThePictureWhenAskedAndIsAllHasMaskSees) {
    const qrx::HostConfig& config = GetParam().config;
    auto host = qrxtest::loadHost(config);
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, GetParam().alpha, 3));
    Picture* p = pic.as<Picture>();
    EXPECT_EQ(call(*host, pic, "HasMaskQRX", {}), Value(false)) << "alpha is no separate mask";
    p->mask = host->pictureFromImage(qrxtest::patternImage(W, H, false, 9));
    const int maskRefs = p->mask->refCount();
    EXPECT_EQ(call(*host, pic, "HasMaskQRX", {}), Value(true));
    EXPECT_EQ(p->mask->refCount(), maskRefs);

    const bool editable = !(config.bitmapLockFails && !GetParam().alpha);
    const bool maskEditable = !config.bitmapLockFails;
    const Words picBefore = wordsOf(pic), maskBefore = wordsOf(p->mask);
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {2, -1, true, false}), Value(editable));
    EXPECT_EQ(wordsOf(p->mask), maskBefore) << "the mask moved without scrollmask";
    const Words picMid = wordsOf(pic);
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {-3, 4, true, true}), Value(editable && maskEditable));
    EXPECT_EQ(wordsOf(p->mask), maskEditable ? moved(maskBefore, -3, 4) : maskBefore);
    EXPECT_EQ(wordsOf(pic), !maskEditable ? picMid
                            : editable    ? moved(picBefore, -1, 3)
                                          : picBefore);

    // Without wrap a desktop mask, a bitmap, is no offscreen world: the vertical scroll fails
    // before the picture moves, the horizontal one goes on. A mask without pixels is no obstacle.
    if (config.kind == qrx::HostKind::Desktop && !config.legacyPictures && editable) {
        const Words before = wordsOf(pic);
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {2, false, true}), Value(false));
        EXPECT_EQ(wordsOf(pic), before);
        EXPECT_EQ(call(*host, pic, "ScrollHorizontalQRX", {2, true, true}), Value(true));
        EXPECT_EQ(wordsOf(pic), moved(before, 2, 0));
        p->mask = host->newPicture(0, 0, false);
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {1, true, true}), Value(true));
        EXPECT_EQ(wordsOf(pic), moved(before, 2, 1));
    }
    p->mask.reset();
    EXPECT_EQ(call(*host, pic, "HasMaskQRX", {}), Value(false));
}

INSTANTIATE_TEST_SUITE_P(AllHosts, SeparateMask, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// A host that keeps pictures as offscreen worlds scrolls without wrap through the legacy
// library, which leaves white where nothing came in; when the library or a call it needs is
// missing the scroll is a silent no-op, and the binding is tried again at the next call.
TEST(ScrollLegacy, MissingLibraryOrCallIsASilentNoOpTriedAgainLater) {
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
        qrx::HostConfig config;
        config.legacyPictures = true;
        config.plainLayout = 4;
        config.hideLegacyLibrary = c.hideLibrary;
        config.frameworksFolder = c.folder;
        config.hiddenLegacyFunctions = {c.hidden.begin(), c.hidden.end()};
        auto host = qrxtest::loadHost(config);
        Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, false, 6));
        const Words before = wordsOf(pic);
        const uint8_t white[4] = {255, 255, 255, 255};
        Ref probe = host->newPicture(1, 1, false);
        probe.as<Picture>()->setRgba(0, 0, white);
        const Words want =
            c.moves ? moved(before, -1, 2, false, probe.as<Picture>()->word(0, 0)) : before;
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {2, false, false}), Value(true));
        EXPECT_EQ(call(*host, pic, "ScrollHorizontalQRX", {-1, false, false}), Value(true));
        EXPECT_EQ(wordsOf(pic), want);
        if (c.moves) continue;
        host->config().hideLegacyLibrary = false;
        host->config().frameworksFolder = "";
        host->config().hiddenLegacyFunctions.clear();
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {1, false, false}), Value(true));
        EXPECT_EQ(wordsOf(pic)[W], before[0]) << "bound at the next call";
    }
}

} // namespace
