// What the models of ops_driver_test.cpp leave out: the host's separate mask picture (HasMaskQRX,
// and scrolls that carry the mask along), and the legacy drawing library behind the scroll
// without wrap, missing in whole or in part, or bound late.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "models.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Image;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

constexpr int W = 7, H = 5;

Image img(const Ref& pic) {
    return pic.as<Picture>()->toImage();
}
// The picture's content equals want.
void expectContent(const Ref& pic, const Image& want) {
    EXPECT_EQ(model::differ(want, img(pic)), "");
}
Image moved(const Image& i, int dx, int dy, bool wrap = true) {
    return model::moved(i, dx, dy, wrap);
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
    const Image picBefore = img(pic), maskBefore = img(p->mask);
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {2, -1, true, false}), Value(editable));
    expectContent(p->mask, maskBefore);
    const Image picMid = img(pic);
    EXPECT_EQ(call(*host, pic, "ScrollQRX", {-3, 4, true, true}), Value(editable && maskEditable));
    expectContent(p->mask, maskEditable ? moved(maskBefore, -3, 4) : maskBefore);
    expectContent(pic, !maskEditable ? picMid : editable ? moved(picBefore, -1, 3) : picBefore);

    // Without wrap a desktop mask, a bitmap, is no offscreen world: the vertical scroll fails
    // before the picture moves, the horizontal one goes on. A mask without pixels is no obstacle.
    if (config.kind == qrx::HostKind::Desktop && !config.legacyPictures && editable) {
        const Image before = img(pic);
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {2, false, true}), Value(false));
        expectContent(pic, before);
        EXPECT_EQ(call(*host, pic, "ScrollHorizontalQRX", {2, true, true}), Value(true));
        expectContent(pic, moved(before, 2, 0));
        p->mask = host->newPicture(0, 0, false);
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {1, true, true}), Value(true));
        expectContent(pic, moved(before, 2, 1));
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
        const Image before = img(pic);
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {2, false, false}), Value(true));
        EXPECT_EQ(call(*host, pic, "ScrollHorizontalQRX", {-1, false, false}), Value(true));
        expectContent(pic, c.moves ? moved(before, -1, 2, false) : before);
        if (c.moves) continue;
        host->config().hideLegacyLibrary = false;
        host->config().frameworksFolder = "";
        host->config().hiddenLegacyFunctions.clear();
        EXPECT_EQ(call(*host, pic, "ScrollVerticalQRX", {1, false, false}), Value(true));
        expectContent(pic, moved(before, 0, 1, false)); // bound at the next call
    }
}

} // namespace
