// The waveform's anti-aliased line routine point by point against worked values (the rendering
// itself is held to its model by ops_driver_test.cpp).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "ops/render_samples.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Color;
using qrx::Picture;
using qrx::Ref;

// ---- The line routine, point by point --------------------------------------------------------

using Points = std::vector<std::array<int, 3>>;

Points wuPoints(int x0, int y0, int x1, int y1) {
    Points pts;
    WuLine(x0, y0, x1, y1, [&](int x, int y, int w) { pts.push_back({x, y, w}); });
    return pts;
}

struct WuCase {
    const char* name;
    int x0, y0, x1, y1;
    Points want;
};

// A = 2 * 65536 / 5 = 26214; the accumulator runs 26214, 52428, 13106 (wrapped), 39320, giving
// the weights 102, 204, 51, 153 and their complements.
// clang-format off
const WuCase kWuCases[] = {
    {"XMajor", 0, 0, 5, 2,
     {{0, 0, 0}, {1, 0, 102}, {1, 1, 153}, {2, 0, 204}, {2, 1, 51},
      {3, 1, 51}, {3, 2, 204}, {4, 1, 153}, {4, 2, 102}, {5, 2, 0}}},
    {"XMajorLeftwards", 5, 0, 0, 2,
     {{5, 0, 0}, {4, 0, 102}, {4, 1, 153}, {3, 0, 204}, {3, 1, 51},
      {2, 1, 51}, {2, 2, 204}, {1, 1, 153}, {1, 2, 102}, {0, 2, 0}}},
    {"YMajorGivenBottomFirst", 2, 5, 0, 0,
     {{0, 0, 0}, {0, 1, 102}, {1, 1, 153}, {0, 2, 204}, {1, 2, 51},
      {1, 3, 51}, {2, 3, 204}, {1, 4, 153}, {2, 4, 102}, {2, 5, 0}}},
    {"Horizontal", 3, 4, 0, 4, {{3, 4, 0}, {2, 4, 0}, {1, 4, 0}, {0, 4, 0}}},
    {"Diagonal", 0, 0, 3, 3, {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}}},
    {"SinglePoint", 2, 2, 2, 2, {{2, 2, 0}}},
};
// clang-format on

class WuLineCase : public testing::TestWithParam<WuCase> {};

TEST_P(WuLineCase, PlotsTheReferencePoints) {
    const WuCase& c = GetParam();
    EXPECT_EQ(wuPoints(c.x0, c.y0, c.x1, c.y1), c.want);
}

INSTANTIATE_TEST_SUITE_P(Lines, WuLineCase, testing::ValuesIn(kWuCases),
                         [](const testing::TestParamInfo<WuCase>& i) { return i.param.name; });

} // namespace
