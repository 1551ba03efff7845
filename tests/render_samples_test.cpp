// The waveform's anti-aliased line routine point by point against worked values, and the vector
// sample sums of every target over runs far longer than a 32-bit block (the rendering itself is
// held to its model by ops_driver_test.cpp).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "ops/render_samples.h"
#include "qrx/host.h"
#include "simd/samples.h"
#include "simd/targets.h"
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

// ---- Sample sums of every vector target ---------------------------------------------------------

// Samples 0 to end - 1 repeating one pattern of bytes, summed from sample start on.
struct SumCase {
    const char* name;
    int bits;
    std::vector<uint8_t> pattern; // whole samples, in the machine's (little-endian) order
    int64_t start, end;
    int64_t positive, negative;
};

// 1,100,000 samples of one extreme overflow a 32-bit lane of any vector up to 512 bits.
// clang-format off
const SumCase kSumCases[] = {
    {"Centred16Lowest", 16, {0x00, 0x00}, 0, 1100003, 0, -32768 * int64_t{1100003}},
    {"Centred16Highest", 16, {0xFF, 0xFF}, 5, 1100000, 32767 * int64_t{1099995}, 0},
    {"Signed16Both", 15, {0xFF, 0x7F, 0x00, 0x80}, 1, 1100001, 32767 * int64_t{550000}, -32768 * int64_t{550000}},
    {"Signed16Small", 15, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00}, 0, 7, 3, -2},
    {"Centred8Both", 8, {0xFF, 0x00, 0x80}, 2, 1100002, 127 * int64_t{366667}, -128 * int64_t{366666}},
    {"Signed8Both", 7, {0x7F, 0x80}, 0, 99, 127 * 50, -128 * 49},
    {"Signed8Lowest", 7, {0x80}, 0, 1100000, 0, -128 * int64_t{1100000}},
};
// clang-format on

class SampleSums : public testing::TestWithParam<SumCase> {};

TEST_P(SampleSums, EveryTargetAddsEverySample) {
    const SumCase& c = GetParam();
    const size_t size = c.pattern.size();
    std::vector<uint8_t> data(static_cast<size_t>(c.end) * (c.bits <= 8 ? 1 : 2));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = c.pattern[i % size];
    int tried = 0;
    for (int t = 1; t < simd::kTargetCount; ++t) {
        const auto target = static_cast<simd::Target>(t);
        if (!simd::Runs(target)) continue;
        ASSERT_TRUE(simd::Choose(simd::TargetName(target)));
        const simd::SumSamplesFn sums = simd::SampleSums();
        ASSERT_NE(sums, nullptr) << simd::TargetName(target);
        int64_t positive = -1, negative = 1;
        sums(data.data(), c.start, c.end, c.bits, positive, negative);
        EXPECT_EQ(positive, c.positive) << simd::TargetName(target);
        EXPECT_EQ(negative, c.negative) << simd::TargetName(target);
        ++tried;
    }
    simd::Choose("best");
    if (tried == 0) GTEST_SKIP() << "no vector target runs here";
}

INSTANTIATE_TEST_SUITE_P(Formats, SampleSums, testing::ValuesIn(kSumCases),
                         [](const testing::TestParamInfo<SumCase>& i) { return i.param.name; });

} // namespace
