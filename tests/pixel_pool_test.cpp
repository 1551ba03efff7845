// The runtime's pool of pixel storage (that reused storage starts as fresh storage shows in every
// unwritten pixel the driver compares), and the test module's fast-path switch, which the module
// that ships does not have.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "host_impl.h"
#include "qrx/host.h"
#include "qrx/pixel_buffer.h"
#include "support.h"

namespace {

TEST(FastPathSwitch, OnlyTheTestModuleExportsIt) {
    EXPECT_EQ(dlsym(qrxtest::loadHost()->impl().library, "QRXUseFastPaths"), nullptr);
    qrx::Host testable({}, QRX_TEST_PLUGIN_TESTABLE);
    EXPECT_NE(dlsym(testable.impl().library, "QRXUseFastPaths"), nullptr);
}

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
