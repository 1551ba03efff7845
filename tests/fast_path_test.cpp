// The fast-path switch (the picture operations and filters are held to their models at every level
// by ops_driver_test.cpp), and the runtime's pool of pixel storage.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bitmap_context.h"
#include "host_impl.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "qrx/pixel_buffer.h"
#include "support.h"

namespace {

using qrx::Color;
using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Image;
using qrx::MemoryBlock;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

// The bytes a value stands for: a picture's layout, size and words, a MemoryBlock's bytes, or
// the rendering of a scalar.
std::string contents(const Value& v) {
    if (!std::holds_alternative<Ref>(v)) return qrx::describe(v);
    const Ref& r = std::get<Ref>(v);
    if (const auto* block = r.as<MemoryBlock>())
        return std::string(block->bytes.begin(), block->bytes.end());
    if (const auto* str = r.as<qrx::String>()) return str->text();
    if (const auto* pic = r.as<Picture>()) {
        std::string out = std::to_string(pic->layout()) + ":" + std::to_string(pic->width()) + "x" +
                          std::to_string(pic->height()) + ":";
        for (int y = 0; y < pic->height(); ++y)
            for (int x = 0; x < pic->width(); ++x) {
                const uint32_t w = pic->word(x, y);
                out.append(reinterpret_cast<const char*>(&w), 4);
            }
        return out;
    }
    return qrx::describe(v);
}

class FastPathTest : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        host = std::make_unique<Host>(GetParam().config, QRX_TEST_PLUGIN_TESTABLE);
        useFastPaths =
            reinterpret_cast<void (*)(int)>(dlsym(host->impl().library, "QRXUseFastPaths"));
        ASSERT_NE(useFastPaths, nullptr);
    }
    void TearDown() override {
        if (useFastPaths) useFastPaths(kVectorLoops);
    }

    // The switch's levels: the general loops, the specialised scalar loops, and those with vector
    // instructions (where the processor has none, the scalar loops again).
    static constexpr int kGeneral = 0, kScalarLoops = 1, kVectorLoops = 2;

    std::unique_ptr<Host> host;
    void (*useFastPaths)(int) = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Hosts, FastPathTest, testing::ValuesIn(qrxtest::plainHostCases()),
                         qrxtest::caseName);
// The module that ships has no switch: the fast paths cannot be turned off there.
TEST(FastPathSwitch, OnlyTheTestModuleExportsIt) {
    auto shipped = qrxtest::loadHost();
    EXPECT_EQ(dlsym(shipped->impl().library, "QRXUseFastPaths"), nullptr);
}

// ---- the runtime's pool of pixel storage
// ---------------------------------------------------------

// A picture made on storage another picture gave back starts exactly as a fresh one: each pixel
// the host's fill, each row's padding 0.
TEST_P(FastPathTest, ReusedStorageStartsAsFreshStorage) {
    // The second size fills rows longer than the block the fill is copied in.
    for (auto [w, h] : {std::pair{37, 11}, std::pair{1100, 5}})
        for (bool alpha : {false, true}) {
            Ref fresh = host->newPicture(w, h, alpha);
            const std::string expected = contents(Value(fresh));
            fresh.reset();
            for (int round = 0; round < 3; ++round) {
                Ref used = host->newPicture(w, h, alpha);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        used.as<Picture>()->setWord(x, y,
                                                    0x9E3779B9u * uint32_t(x + w * y + round));
                if (auto* ctx = used.as<Picture>()->bitmapContext())
                    std::memset(ctx->data, 0xA5, ctx->bytesPerRow * ctx->height);
                used.reset();
                Ref again = host->newPicture(w, h, alpha);
                EXPECT_EQ(contents(Value(again)), expected) << "round " << round;
                // Every pixel holds the fill, as the first one does.
                int differing = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        differing +=
                            again.as<Picture>()->word(x, y) != again.as<Picture>()->word(0, 0);
                EXPECT_EQ(differing, 0) << w << " x " << h;
                if (auto* ctx = again.as<Picture>()->bitmapContext()) {
                    const auto* bytes = static_cast<const uint8_t*>(ctx->data);
                    for (size_t y = 0; y < ctx->height; ++y)
                        for (size_t i = ctx->width * 4; i < ctx->bytesPerRow; ++i)
                            EXPECT_EQ(bytes[y * ctx->bytesPerRow + i], 0) << "padding of row " << y;
                }
            }
        }
}

TEST(PixelPool, KeepsReleasedStorageForTheSameSizeUpToItsBound) {
    qrx::drainPixelPool();
    EXPECT_EQ(qrx::pixelPoolBytes(), 0u);
    const uint8_t* first = nullptr;
    {
        qrx::PixelBuffer a(4096);
        first = a.data();
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 1u);
    {
        qrx::PixelBuffer other(4100); // another size: not the kept buffer
        EXPECT_NE(other.data(), first);
        qrx::PixelBuffer same(4096);
        EXPECT_EQ(same.data(), first);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 0u);
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u + 4100u);
    {
        // Larger than the bound: freed at once, never kept.
        qrx::PixelBuffer huge(qrx::kPixelPoolBound + 1);
        huge.data()[0] = 1;
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u + 4100u);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 2u);
    // A release past the bound frees the buffer released longest ago (the 4096 bytes, released
    // before the 4100) until the pool fits again.
    { qrx::PixelBuffer big(qrx::kPixelPoolBound - 4100); }
    EXPECT_EQ(qrx::pixelPoolBytes(), qrx::kPixelPoolBound);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 2u);
    {
        qrx::PixelBuffer kept(4100);
        EXPECT_EQ(qrx::pixelPoolBytes(), qrx::kPixelPoolBound - 4100);
        qrx::PixelBuffer evicted(4096);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 1u);
    }
    qrx::PixelBuffer empty(0);
    EXPECT_EQ(empty.data(), nullptr);
    qrx::drainPixelPool();
    EXPECT_EQ(qrx::pixelPoolBytes(), 0u);
}

} // namespace
