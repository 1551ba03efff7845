// Reading .cube files and resampling them onto the lookup filter's grid.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "cli_util_test.h"
#include "cube.h"

namespace {

using qrx::cli::Cube;
using qrx::cli::CubeError;
using qrx::cli::curveTables;
using qrx::cli::kLutLastNode;
using qrx::cli::kLutNodes;
using qrx::cli::lutIndex;
using qrx::cli::lutTable;
using qrx::cli::parseCube;
using qrxclitest::operator<<;

using qrxclitest::cubeText;
using qrxclitest::num;
using qrxclitest::Rgb;
using Fn3 = std::function<Rgb(double, double, double)>;

Rgb identity(double r, double g, double b) {
    return {r, g, b};
}

// Multilinear in each output, with different coefficients per axis, so trilinear interpolation
// reproduces it and an exchanged axis shows; nodes 16 and 17 repeat node 15.
Rgb multilinear(double r, double g, double b) {
    return {0.1 + 0.7 * r + 0.05 * g - 0.02 * b + 0.1 * r * g, 0.9 * g - 0.2 * r * b + 0.15 * b,
            1.0 - 0.5 * b + 0.25 * r - 0.125 * r * g * b};
}

// A cube of size n resampled: node k stands for the fraction k / 15, nodes 16 and 17 repeat 15.
class CubeSizes : public testing::TestWithParam<int> {};

TEST_P(CubeSizes, MultilinearGradeIsReproducedAtTheNodeFractions) {
    const int n = GetParam();
    std::vector<double> table = lutTable(parseCube(cubeText(n, multilinear), "grade.cube"));
    for (int r = 0; r < kLutNodes; ++r)
        for (int g = 0; g < kLutNodes; ++g)
            for (int b = 0; b < kLutNodes; ++b) {
                Rgb want = multilinear(std::min(r, 15) / 15.0, std::min(g, 15) / 15.0,
                                       std::min(b, 15) / 15.0);
                for (int x = 0; x < 3; ++x)
                    ASSERT_NEAR(table[lutIndex(r, g, b, x)], want[size_t(x)] * 255.0, 1e-9)
                        << "size " << n << " node " << r << "," << g << "," << b << " x " << x;
            }
}

TEST_P(CubeSizes, CornerNodesTakeTheFileCornersUnchanged) {
    // Random contents: whatever the interior, node 0 and node 15 of each axis fall on the first
    // and last points of the file exactly.
    const int n = GetParam();
    std::mt19937 rng{unsigned(n)};
    std::uniform_real_distribution<double> dist(-0.25, 1.25);
    std::vector<Rgb> points(size_t(n) * n * n);
    for (Rgb& p : points)
        p = {dist(rng), dist(rng), dist(rng)};
    std::string text = "LUT_3D_SIZE " + std::to_string(n) + "\n";
    for (const Rgb& p : points)
        text += num(p[0]) + " " + num(p[1]) + " " + num(p[2]) + "\n";
    Cube cube = parseCube(text, "random.cube");
    std::vector<double> table = lutTable(cube);
    for (int corner = 0; corner < 8; ++corner) {
        const int r = corner & 1 ? 15 : 0, g = corner & 2 ? 15 : 0, b = corner & 4 ? 15 : 0;
        const int fr = r ? n - 1 : 0, fg = g ? n - 1 : 0, fb = b ? n - 1 : 0;
        const Rgb& p = points[(size_t(fb) * n + size_t(fg)) * n + size_t(fr)];
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(table[lutIndex(r, g, b, x)], p[size_t(x)] * 255.0) << "corner " << corner;
            EXPECT_EQ(table[lutIndex(r ? 17 : 0, g ? 16 : 0, b, x)], p[size_t(x)] * 255.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CubeSizes, testing::Values(2, 16, 17, 33),
                         [](const testing::TestParamInfo<int>& i) {
                             return "size" + std::to_string(i.param);
                         });

TEST(CubeResampling, SixteenPointsAreTakenWithoutInterpolation) {
    // Values a blend of neighbours would change: node k must hold exactly point k times 255.
    std::mt19937 rng(16);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<Rgb> points(16 * 16 * 16);
    std::string text = "LUT_3D_SIZE 16\n";
    for (Rgb& p : points) {
        p = {dist(rng), dist(rng), dist(rng)};
        text += num(p[0]) + " " + num(p[1]) + " " + num(p[2]) + "\n";
    }
    std::vector<double> table = lutTable(parseCube(text, "exact.cube"));
    for (int r = 0; r < 16; ++r)
        for (int g = 0; g < 16; ++g)
            for (int b = 0; b < 16; ++b)
                for (int x = 0; x < 3; ++x)
                    ASSERT_EQ(table[lutIndex(r, g, b, x)],
                              points[size_t((b * 16 + g) * 16 + r)][size_t(x)] * 255.0);
}

TEST(CubeResampling, SixteenPointIdentityIsTheExactIdentityTable) {
    std::vector<double> table = lutTable(parseCube(cubeText(16, identity), "id16.cube"));
    for (int k = 0; k < kLutNodes; ++k) {
        const double want = 17.0 * std::min(k, kLutLastNode);
        EXPECT_EQ(table[lutIndex(k, 3, 9, 0)], want) << k;
        EXPECT_EQ(table[lutIndex(3, k, 9, 1)], want) << k;
        EXPECT_EQ(table[lutIndex(9, 3, k, 2)], want) << k;
    }
}

TEST(CubeResampling, ValuesBetweenPointsAreInterpolated) {
    // Size 4 along red only varies: points 0, 1, 2, 3 hold 0, 0.2, 0.9, 1.0. Node 5 lies at
    // position 1 (5 * 3 / 15), node 7 at 1.4, node 12 at 2.4.
    std::string text = "LUT_3D_SIZE 4\n";
    const double red[4] = {0.0, 0.2, 0.9, 1.0};
    for (int i = 0; i < 16; ++i)
        for (int r = 0; r < 4; ++r)
            text += num(red[r]) + " 0 0\n";
    std::vector<double> table = lutTable(parseCube(text, "steps.cube"));
    const struct {
        int node;
        double want;
    } cases[] = {{0, 0.0}, {5, 0.2}, {7, 0.2 + 0.4 * 0.7}, {12, 0.9 + 0.4 * 0.1}, {15, 1.0}};
    for (const auto& c : cases)
        for (int g : {0, 8, 17})
            EXPECT_NEAR(table[lutIndex(c.node, g, 4, 0)], c.want * 255.0, 1e-9) << c.node;
}

TEST(CubeResampling, DomainLocatesTheNodesInputs) {
    // A cube over the input domain 0 to 2 whose outputs equal its inputs: node k is the input
    // k / 15, which lies inside that domain, so its table value is k / 15 * 255 = 17 k.
    std::string header = "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\n";
    auto doubled = [](double r, double g, double b) { return Rgb{2 * r, 2 * g, 2 * b}; };
    Cube wide = parseCube(cubeText(17, doubled, header), "wide.cube");
    EXPECT_EQ(wide.domainMin, (Rgb{0, 0, 0}));
    EXPECT_EQ(wide.domainMax, (Rgb{2, 2, 2}));
    std::vector<double> table = lutTable(wide);
    for (int k = 0; k <= 15; ++k)
        EXPECT_NEAR(table[lutIndex(k, 15 - k, 0, 0)], 17.0 * k, 1e-9) << k;

    // A domain 0.5 to 1 on red: inputs below 0.5 take the domain's lower end (the file's first
    // point), the others are spread over the whole axis. Identity outputs over that domain.
    auto half = [](double r, double g, double b) { return Rgb{0.5 + 0.5 * r, g, b}; };
    Cube upper =
        parseCube(cubeText(17, half, "DOMAIN_MIN 0.5 0 0\nDOMAIN_MAX 1 1 1\n"), "upper.cube");
    table = lutTable(upper);
    for (int k = 0; k <= 15; ++k)
        EXPECT_NEAR(table[lutIndex(k, 3, 9, 0)], std::max(17.0 * k, 127.5), 1e-9) << k;

    Cube range = parseCube(cubeText(2, identity, "LUT_3D_INPUT_RANGE 0.5 4\n"), "range.cube");
    EXPECT_EQ(range.domainMin, (Rgb{0.5, 0.5, 0.5}));
    EXPECT_EQ(range.domainMax, (Rgb{4, 4, 4}));
}

TEST(CubeReading, AcceptsCommentsTitleBlankLinesCrlfAndNumberForms) {
    std::string text = "\xEF\xBB\xBF# made by hand\r\n"
                       "TITLE \"Warm # not a comment\"\r\n"
                       "\r\n"
                       "  LUT_3D_SIZE\t2   # two points\r\n"
                       "DOMAIN_MIN 0 0 0\r\n"
                       "DOMAIN_MAX 1 1 1\r\n"
                       "\r\n"
                       "0 0 0\r\n"
                       "+1.0 0 0\r\n"
                       "# between data lines\r\n"
                       "0 1e0 .0\r\n"
                       "1 1 0\r\n"
                       "\t0 0 1\r\n"
                       "1 0 1\r\n"
                       "0 1 1\r\n"
                       "1.0 1.0 -2.5E-1 # last";
    Cube cube = parseCube(text, "warm.cube");
    EXPECT_EQ(cube.title, "Warm # not a comment");
    EXPECT_EQ(cube.size3D, 2);
    EXPECT_EQ(cube.size1D, 0);
    ASSERT_EQ(cube.data.size(), 8u);
    EXPECT_EQ(cube.data[1], (Rgb{1, 0, 0}));
    EXPECT_EQ(cube.data[2], (Rgb{0, 1, 0}));
    EXPECT_EQ(cube.data[4], (Rgb{0, 0, 1}));
    EXPECT_EQ(cube.data[7], (Rgb{1, 1, -0.25}));
}

TEST(CubeReading, OneDimensionalTable) {
    Cube cube = parseCube("TITLE unquoted words\nLUT_1D_SIZE 3\n0 1 0.2\n0.5 0.5 0.2\n1 0 0.2\n",
                          "curve.cube");
    EXPECT_EQ(cube.title, "unquoted words");
    EXPECT_FALSE(cube.is3D());
    EXPECT_EQ(cube.size1D, 3);
    auto t = curveTables(cube);
    for (int i = 0; i < 256; ++i) {
        // Red rises and green falls linearly; blue stays at 0.2 * 255 = 51.
        EXPECT_EQ(t[0][size_t(i)], i) << i;
        EXPECT_EQ(t[1][size_t(i)], 255 - i) << i;
        EXPECT_EQ(t[2][size_t(i)], 51) << i;
    }
}

TEST(CubeReading, OneDimensionalOutputsAreClampedAndInterpolated) {
    // Five entries: 0.25 of the way between entries is the fraction i / 255 * 4.
    Cube cube = parseCube("LUT_1D_SIZE 5\n-1 0 0\n0 0.1 0\n0.6 0.2 0\n1 0.3 0\n2 1 1\n", "c.cube");
    auto t = curveTables(cube);
    EXPECT_EQ(t[0][0], 0);     // -1 clamped
    EXPECT_EQ(t[0][255], 255); // 2 clamped
    // i = 96 lies at 96 * 4 / 255 = 1 + 129 / 255, between entries 1 and 2: red 0.6 * 129 =
    // 77.4, green 25.5 + 0.1 * 129 = 38.4; i = 200 lies at 3 + 35 / 255: red 255 + 35 = 290,
    // clamped, green 76.5 + 0.7 * 35 = 101.
    EXPECT_EQ(t[0][96], 77);
    EXPECT_EQ(t[1][96], 38);
    EXPECT_EQ(t[0][200], 255);
    EXPECT_EQ(t[1][200], 101);
    EXPECT_EQ(t[2][0], 0);
    EXPECT_EQ(t[2][255], 255);
}

struct Malformed {
    std::string name;
    std::string text;
    int line;
    std::string fault;
};

std::string dataLines(int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += "0.5 0.25 0\n";
    return s;
}

class MalformedCube : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedCube, NamesTheFileAndLine) {
    const Malformed& m = GetParam();
    try {
        parseCube(m.text, "grade.cube");
        FAIL() << "accepted";
    } catch (const CubeError& e) {
        EXPECT_EQ(e.line(), m.line) << e.what();
        std::string what = e.what();
        EXPECT_EQ(what.rfind("grade.cube:" + std::to_string(m.line) + ": ", 0), 0u) << what;
        EXPECT_NE(what.find(m.fault), std::string::npos) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedCube,
    testing::Values(
        Malformed{"TwoValues", "LUT_3D_SIZE 2\n0 0 0\n0 0\n" + dataLines(6), 3,
                  "expected 3 values on a data line, found 2"},
        Malformed{"FourValues", "# x\nLUT_3D_SIZE 2\n" + dataLines(4) + "0 0 0 0\n", 7, "found 4"},
        Malformed{"NotANumber", "LUT_3D_SIZE 2\n" + dataLines(2) + "0 0.5 abc\n", 4,
                  "'abc' is not a number"},
        Malformed{"TrailingGarbage", "LUT_3D_SIZE 2\n0 1.0x 0\n", 2, "'1.0x' is not a number"},
        Malformed{"DoubleSign", "LUT_3D_SIZE 2\n0 +-1 0\n", 2, "'+-1' is not a number"},
        Malformed{"Infinity", "LUT_3D_SIZE 2\n0 -inf 0\n", 2, "'-inf' is not a number"},
        Malformed{"DataBeforeSize", "TITLE \"x\"\n\n0 0 0\n", 3,
                  "a data line before LUT_3D_SIZE or LUT_1D_SIZE"},
        Malformed{"NoSize", "TITLE \"x\"\n# nothing\n", 2, "no LUT_3D_SIZE or LUT_1D_SIZE"},
        Malformed{"EmptyFile", "", 1, "no LUT_3D_SIZE or LUT_1D_SIZE"},
        Malformed{"DuplicateSize", "LUT_3D_SIZE 2\r\n\r\nLUT_3D_SIZE 2\r\n", 3,
                  "a second size: LUT_3D_SIZE after LUT_3D_SIZE on line 1"},
        Malformed{"BothSizes", "LUT_1D_SIZE 4\nLUT_3D_SIZE 2\n", 2,
                  "LUT_3D_SIZE after LUT_1D_SIZE on line 1"},
        Malformed{"SizeOne", "LUT_3D_SIZE 1\n0 0 0\n", 1,
                  "LUT_3D_SIZE 1 is out of range (2 to 256)"},
        Malformed{"Size257", "\nLUT_3D_SIZE 257\n", 2, "out of range (2 to 256)"},
        Malformed{"Size1DTooBig", "LUT_1D_SIZE 65537\n", 1, "out of range (2 to 65536)"},
        Malformed{"SizeNotWhole", "LUT_3D_SIZE 2.5\n", 1, "'2.5' is not a whole number"},
        Malformed{"SizeMissingValue", "LUT_3D_SIZE\n", 1, "expected 1 value, found 0"},
        Malformed{"TooFewLines", "LUT_3D_SIZE 2\n" + dataLines(7), 8,
                  "7 data lines, LUT_3D_SIZE 2 calls for 8"},
        Malformed{"TooFew1D", "LUT_1D_SIZE 3\n" + dataLines(2) + "\n# end\n", 5,
                  "2 data lines, LUT_1D_SIZE 3 calls for 3"},
        Malformed{"TooManyLines", "LUT_3D_SIZE 2\n" + dataLines(9), 10,
                  "more data lines than the 8"},
        Malformed{"DomainEqual",
                  "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\nLUT_3D_SIZE 2\n" + dataLines(8), 2,
                  "the domain minimum must be below the maximum (green: 0 to 0)"},
        Malformed{"DomainInverted",
                  "DOMAIN_MAX 1 1 0.5\n# c\nDOMAIN_MIN 0 0 0.75\nLUT_3D_SIZE 2\n" + dataLines(8), 3,
                  "(blue: 0.75 to 0.5)"},
        Malformed{"RangeInverted", "LUT_3D_INPUT_RANGE 1 0\nLUT_3D_SIZE 2\n" + dataLines(8), 1,
                  "(red: 1 to 0)"},
        Malformed{"DomainTwoValues", "DOMAIN_MIN 0 0\n", 1, "DOMAIN_MIN: expected 3 values"},
        Malformed{"DomainNotNumber", "DOMAIN_MAX 1 one 1\n", 1,
                  "DOMAIN_MAX: 'one' is not a number"},
        Malformed{"DomainTwice", "DOMAIN_MIN 0 0 0\nDOMAIN_MIN 0 0 0\n", 2,
                  "a second domain minimum"},
        Malformed{"UnknownKeyword", "LUT_3D_SIZE 2\nLUT_4D_SIZE 2\n", 2,
                  "unknown keyword 'LUT_4D_SIZE'"},
        Malformed{"LowerCaseKeyword", "lut_3d_size 2\n", 1, "unknown keyword 'lut_3d_size'"},
        Malformed{"KeywordAfterData", "LUT_3D_SIZE 2\n" + dataLines(3) + "TITLE \"late\"\n", 5,
                  "keyword TITLE after the data lines"},
        Malformed{"UnclosedTitle", "TITLE \"open\n", 1, "the closing quote is missing"}),
    [](const testing::TestParamInfo<Malformed>& i) { return i.param.name; });

TEST(CubeReading, FileThatCannotBeReadIsNamed) {
    qrxclitest::ScratchDir dir;
    try {
        qrx::cli::readCube(dir / "missing.cube");
        FAIL() << "read a missing file";
    } catch (const CubeError& e) {
        EXPECT_EQ(e.line(), 0);
        EXPECT_NE(std::string(e.what()).find("missing.cube: cannot read"), std::string::npos)
            << e.what();
    }
    qrxclitest::writeFile(dir / "ok.cube", "LUT_1D_SIZE 2\r\n0 0 0\r\n1 1 1\r\n");
    EXPECT_EQ(qrx::cli::readCube(dir / "ok.cube").size1D, 2);
    qrxclitest::writeFile(dir / "bad.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1\n");
    try {
        qrx::cli::readCube(dir / "bad.cube");
        FAIL() << "accepted a malformed file";
    } catch (const CubeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  (dir / "bad.cube").string() + ":3: expected 3 values on a data line, found 2");
    }
}

} // namespace
