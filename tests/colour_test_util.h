// Helpers shared by the colour analysis tests: small pictures drawn pixel by pixel, and the plugin
// bound directly to a runtime host for calls the runtime cannot make (a nil picture).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/entry.h"
#include "host/services.h"
#include "op_test_util.h"
#include "qrx/host.h"
#include "support.h"

namespace colourtest {

using RGBA = std::array<uint8_t, 4>;

inline qrx::Image filledImage(int width, int height, RGBA fill, bool hasAlpha = false) {
    qrx::Image img;
    img.width = width;
    img.height = height;
    img.hasAlpha = hasAlpha;
    img.rgba.resize(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < 4; ++i)
                img.pixel(x, y)[i] = fill[i];
    return img;
}

inline void setPixel(qrx::Image& img, int x, int y, RGBA c) {
    for (int i = 0; i < 4; ++i)
        img.pixel(x, y)[i] = c[i];
}

// The plugin code linked into the tests, bound to a runtime host as loading would bind it.
class Direct : public testing::Test {
  protected:
    void SetUp() override {
        ResetPluginState();
        host = std::make_unique<qrx::Host>(qrx::HostConfig{});
        host->makeCurrent();
        gResolver = qrx::Host::resolver();
        gHostVersion = host->config().version.value_or(0.0);
        baseline = host->audit();
    }
    void TearDown() override {
        qrxtest::expectQuiet(*host);
        EXPECT_EQ(host->audit().liveObjects, baseline.liveObjects) << "objects left alive";
        EXPECT_EQ(host->audit().references, baseline.references) << "references left";
        ResetPluginState();
    }
    std::unique_ptr<qrx::Host> host;
    qrx::Audit baseline;
};

} // namespace colourtest
