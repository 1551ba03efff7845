// Setup shared by the picture operation tests: pictures built from listed colours.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace optest {

using RGB = std::array<int, 3>;

// A picture holding the given row of colours `rows` times over (so that row strides matter);
// alpha is `alpha` where the picture has an alpha channel.
inline qrx::Image rowImage(const std::vector<RGB>& row, bool hasAlpha, int rows = 1,
                           uint8_t alpha = 77) {
    qrx::Image img;
    img.width = int(row.size());
    img.height = rows;
    img.hasAlpha = hasAlpha;
    for (int y = 0; y < rows; ++y)
        for (const RGB& c : row)
            for (int v : {c[0], c[1], c[2], hasAlpha ? int(alpha) : 255})
                img.rgba.push_back(uint8_t(v));
    return img;
}

inline RGB rgbAt(const qrx::Picture& pic, int x, int y) {
    uint8_t p[4];
    pic.rgba(x, y, p);
    return {p[0], p[1], p[2]};
}

} // namespace optest
