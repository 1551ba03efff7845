// The runtime's pool of pixel storage, and the test module's fast-path switch, which the module
// that ships does not have.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "bitmap_context.h"
#include "host_impl.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "qrx/pixel_buffer.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;

TEST(FastPathSwitch, OnlyTheTestModuleExportsIt) {
    EXPECT_EQ(dlsym(qrxtest::loadHost()->impl().library, "QRXUseFastPaths"), nullptr);
    qrx::Host testable({}, QRX_TEST_PLUGIN_TESTABLE);
    EXPECT_NE(dlsym(testable.impl().library, "QRXUseFastPaths"), nullptr);
}

class PixelPoolOnHost : public testing::TestWithParam<qrxtest::HostCase> {};

// A picture made on storage another picture gave back starts exactly as a fresh one: each pixel
// the host's fill, each row's padding 0. The second size fills rows longer than the block the
// fill is copied in.
TEST_P(PixelPoolOnHost, ReusedStorageStartsAsFreshStorage) {
    auto host = qrxtest::loadHost(GetParam().config);
    for (auto [w, h] : {std::pair{37, 11}, std::pair{1100, 5}})
        for (bool alpha : {false, true}) {
            const uint32_t fill = host->newPicture(1, 1, alpha).as<Picture>()->word(0, 0);
            for (int round = 0; round < 2; ++round) {
                Ref used = host->newPicture(w, h, alpha);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        used.as<Picture>()->setWord(x, y, 0x9E3779B9u * uint32_t(x + w * y + 1));
                if (auto* ctx = used.as<Picture>()->bitmapContext())
                    std::memset(ctx->data, 0xA5, ctx->bytesPerRow * ctx->height);
                used.reset();
                Ref again = host->newPicture(w, h, alpha);
                int differing = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        differing += again.as<Picture>()->word(x, y) != fill;
                if (auto* ctx = again.as<Picture>()->bitmapContext())
                    for (size_t y = 0; y < ctx->height; ++y)
                        for (size_t i = ctx->width * 4; i < ctx->bytesPerRow; ++i)
                            differing += static_cast<const uint8_t*>(
                                             ctx->data)[y * ctx->bytesPerRow + i] != 0;
                EXPECT_EQ(differing, 0) << w << " x " << h << (alpha ? " alpha" : "");
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Hosts, PixelPoolOnHost,
                         testing::Values(qrxtest::plainHostCases()[0], qrxtest::plainHostCases()[6],
                                         qrxtest::plainHostCases()[9]),
                         qrxtest::caseName);

// Released storage is kept for the same size, up to the pool's bound; a release past the bound
// frees the buffer released longest ago until the pool fits again.
TEST(PixelPool, KeepsReleasedStorageForTheSameSizeUpToItsBound) {
    qrx::drainPixelPool();
    const uint8_t* first = nullptr;
    {
        qrx::PixelBuffer a(4096);
        first = a.data();
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u);
    {
        qrx::PixelBuffer other(4100);
        EXPECT_NE(other.data(), first);
        qrx::PixelBuffer same(4096);
        EXPECT_EQ(same.data(), first);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 0u);
    }
    { qrx::PixelBuffer huge(qrx::kPixelPoolBound + 1); } // never kept
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u + 4100u);
    { qrx::PixelBuffer big(qrx::kPixelPoolBound - 4100); } // the 4096 bytes go
    EXPECT_EQ(qrx::pixelPoolBytes(), qrx::kPixelPoolBound);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 2u);
    {
        qrx::PixelBuffer kept(4100);
        qrx::PixelBuffer evicted(4096);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 1u);
    }
    EXPECT_EQ(qrx::PixelBuffer(0).data(), nullptr);
    qrx::drainPixelPool();
    EXPECT_EQ(qrx::pixelPoolBytes(), 0u);
}

} // namespace
