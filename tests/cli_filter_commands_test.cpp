// qrx lut3d and qrx sepia, run as users run them, against the filter classes called directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "cli_util_test.h"
#include "cube.h"
#include "image_io.h"
#include "support.h"

namespace {

using qrx::HostConfig;
using qrx::HostKind;
using qrx::Image;
using qrx::Ref;
using qrx::Value;
using qrxclitest::operator<<;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

using qrxclitest::contains;
using qrxclitest::kSample;
using qrxclitest::kSampleAlpha;

using qrxclitest::Rgb;

std::string cubeText(int n, const std::function<Rgb(double, double, double)>& f) {
    return qrxclitest::cubeText(n, f, "# generated\nTITLE \"test grade\"\n");
}

// A grade that mixes the channels, curves them and leaves 0 to 1 in places.
Rgb grade(double r, double g, double b) {
    return {0.05 + 0.8 * r * r + 0.2 * g, 0.9 * g - 0.3 * b + 0.1, 1.1 * b * (1 - 0.5 * r) - 0.05};
}

void expectSameImage(const Image& got, const Image& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    EXPECT_EQ(got.hasAlpha, want.hasAlpha);
    int wrong = 0;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int c = 0; c < 4; ++c)
                if (got.pixel(x, y)[c] != want.pixel(x, y)[c] && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") component " << c << ": "
                                  << int(got.pixel(x, y)[c]) << ", want "
                                  << int(want.pixel(x, y)[c]);
    EXPECT_EQ(wrong, 0);
}

// The filter object run directly through the runtime, as the commands should run it.
Image runDirect(const HostConfig& config, const std::string& cls, const Image& input,
                const std::function<void(qrx::Host&, const Ref&)>& configure,
                std::array<int32_t, 4> rect = {0, 0, 0, 0}) {
    auto host = qrxtest::loadHost(config);
    Ref obj = host->newInstance(cls);
    configure(*host, obj);
    host->setProperty(obj, "SourcePicture", host->pictureFromImage(input));
    host->setProperty(obj, "MinX", rect[0]);
    host->setProperty(obj, "MinY", rect[1]);
    host->setProperty(obj, "MaxX", rect[2]);
    host->setProperty(obj, "MaxY", rect[3]);
    qrx::CallResult res = host->call(obj, "Run", {});
    EXPECT_EQ(std::get<bool>(res.result), true);
    Value dest = host->getProperty(obj, "DestinationPicture");
    return std::get<Ref>(dest).as<qrx::Picture>()->toImage();
}

// What the commands write without --raw: the source, the filter's colours in the pixels it wrote
// (columns x0 to x1 - 1 of rows y0 to y1 - 1; x1 or y1 of kEdge stands for the picture's edge),
// and the source's alpha everywhere.
constexpr int kEdge = -1;
Image keptAround(Image source, const Image& filtered, std::array<int, 4> written) {
    const int x1 = written[2] == kEdge ? source.width : written[2];
    const int y1 = written[3] == kEdge ? source.height : written[3];
    for (int y = written[1]; y < y1; ++y)
        for (int x = written[0]; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                source.pixel(x, y)[c] = filtered.pixel(x, y)[c];
    return source;
}

void fillTable(qrx::Host& host, const Ref& obj, const std::vector<double>& table) {
    for (uint32_t r = 0; r < 18; ++r)
        for (uint32_t g = 0; g < 18; ++g)
            for (uint32_t b = 0; b < 18; ++b)
                for (uint32_t x = 0; x < 3; ++x)
                    host.assign(obj, "Table", {r, g, b, x},
                                table[qrx::cli::lutIndex(int(r), int(g), int(b), int(x))]);
}

struct HostArgs {
    std::string name;
    std::vector<std::string> args;
    HostConfig config;
    std::string ext;
};

HostConfig configOf(HostKind kind, uint32_t plainLayout = 3) {
    HostConfig c = qrxtest::ofKind(kind);
    c.plainLayout = plainLayout;
    return c;
}

const auto kHosts =
    testing::Values(HostArgs{"desktop", {}, configOf(HostKind::Desktop), ".png"},
                    HostArgs{"layout1", {"--layout", "1"}, configOf(HostKind::Desktop, 1), ".pam"},
                    HostArgs{"console", {"--host", "console"}, configOf(HostKind::Console), ".png"},
                    HostArgs{"web", {"--host", "web"}, configOf(HostKind::Web), ".pam"});

std::string hostName(const testing::TestParamInfo<HostArgs>& i) {
    return i.param.name;
}

std::vector<std::string> withHost(std::vector<std::string> args, const HostArgs& h) {
    args.insert(args.begin() + 1, h.args.begin(), h.args.end());
    return args;
}

class Lut3DCommand : public testing::TestWithParam<HostArgs> {};

TEST_P(Lut3DCommand, MatchesTheFilterClassRunOnTheSample) {
    ScratchDir dir;
    const std::string cube = (dir / "grade.cube").string();
    writeFile(cube, cubeText(17, grade));
    const std::string out = (dir / ("out" + GetParam().ext)).string();
    auto r = runQrx(withHost({"lut3d", "--cube", cube, kSample, "-o", out}, GetParam()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    Image input = qrx::readImage(kSample);
    std::vector<double> table = qrx::cli::lutTable(qrx::cli::readCube(cube));
    Image want = runDirect(GetParam().config, "PictureLut3DQRX", input,
                           [&](qrx::Host& h, const Ref& obj) { fillTable(h, obj, table); });
    expectSameImage(qrx::readImage(out), want);
    // The grade changes the picture.
    EXPECT_NE(want.rgba, input.rgba);
}

INSTANTIATE_TEST_SUITE_P(Hosts, Lut3DCommand, kHosts, hostName);

// --rect with and without --raw, on a plain and an alpha picture.
TEST(Lut3DCommandRect, RectangleOnlyIsFilteredAndTheRestKeptUnlessRaw) {
    ScratchDir dir;
    const std::string cube = (dir / "grade.cube").string();
    writeFile(cube, cubeText(33, grade));
    std::vector<double> table = qrx::cli::lutTable(qrx::cli::readCube(cube));
    for (const std::string& input : {kSample, kSampleAlpha})
        for (bool raw : {false, true}) {
            SCOPED_TRACE(input + (raw ? " --raw" : ""));
            const std::string out = (dir / "out.png").string();
            std::vector<std::string> args{"lut3d",      "--cube", cube, "--rect",
                                          "10,5,60,40", input,    "-o", out};
            if (raw) args.push_back("--raw");
            auto r = runQrx(args);
            ASSERT_EQ(r.code, 0) << r.err;
            Image source = qrx::readImage(input);
            Image direct = runDirect(
                HostConfig{}, "PictureLut3DQRX", source,
                [&](qrx::Host& h, const Ref& obj) { fillTable(h, obj, table); }, {10, 5, 60, 40});
            expectSameImage(qrx::readImage(out),
                            raw ? direct : keptAround(source, direct, {10, 5, 60, 40}));
        }
}

TEST(Lut3DCommandIdentity, SixteenPointIdentityLosesOneOnlyWhereTruncationDoes) {
    ScratchDir dir;
    Image ramp;
    ramp.width = 256;
    ramp.height = 1;
    ramp.rgba.assign(256 * 4, 0);
    for (int x = 0; x < 256; ++x) {
        ramp.pixel(x, 0)[0] = uint8_t(x);
        ramp.pixel(x, 0)[3] = 255;
    }
    const std::string in = (dir / "ramp.png").string();
    qrx::writeImage(in, ramp);
    const std::string cube = (dir / "identity.cube").string();
    writeFile(cube, cubeText(16, [](double r, double g, double b) { return Rgb{r, g, b}; }));
    const std::string out = (dir / "out.png").string();
    auto r = runQrx({"lut3d", "--cube", cube, in, "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;

    const std::set<int> losers = {57, 108, 124, 125, 210, 226, 227, 243, 244};
    Image got = qrx::readImage(out);
    for (int x = 0; x < 256; ++x) {
        const uint8_t* p = got.pixel(x, 0);
        EXPECT_EQ(int(p[0]), x - (losers.count(x) ? 1 : 0)) << "red " << x;
        EXPECT_EQ(int(p[1]), 0) << x;
        EXPECT_EQ(int(p[2]), 0) << x;
    }
}

TEST(Lut3DCommandCurve, OneDimensionalTableMapsEachComponentOrIsRefused) {
    ScratchDir dir;
    const std::string cube = (dir / "curve.cube").string();
    // Red inverted, green squared (through 5 points), blue raised.
    writeFile(cube, "LUT_1D_SIZE 5\n1 0 0.2\n0.75 0.0625 0.4\n0.5 0.25 0.6\n0.25 0.5625 0.8\n"
                    "0 1 1\n");
    const std::string out = (dir / "out.png").string();
    auto r = runQrx({"lut3d", "--cube", cube, kSample, "-o", out});

    bool registered = false;
    auto host = qrxtest::loadHost();
    for (const qrx::MethodInfo* m : host->overloads("Picture", "TransformColorsQRX"))
        registered = registered || !m->builtIn;
    if (!registered) {
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(contains(r.err, "TransformColorsQRX")) << r.err;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"curve.cube"});
        return;
    }
    ASSERT_EQ(r.code, 0) << r.err;
    auto tables = qrx::cli::curveTables(qrx::cli::readCube(cube));
    Image input = qrx::readImage(kSample);
    Image want = input;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int c = 0; c < 3; ++c)
                want.pixel(x, y)[c] = tables[size_t(c)][input.pixel(x, y)[c]];
    expectSameImage(qrx::readImage(out), want);
}

struct SepiaCase {
    std::string name;
    std::vector<std::string> options;
    Rgb weights;
    std::array<int, 3> offsets;
    std::array<int32_t, 4> rect;
    std::array<int, 4> written; // the pixels the filter writes (kEdge: to the edge)
    std::string input;
    bool raw = false;
};

// The command against the filter class run directly with the weights, offsets and rectangle
// the options stand for.
class SepiaCommand : public testing::TestWithParam<std::tuple<SepiaCase, HostArgs>> {};

TEST_P(SepiaCommand, WritesTheSepiaArithmetic) {
    const auto& [c, host] = GetParam();
    ScratchDir dir;
    const std::string out = (dir / ("out" + host.ext)).string();
    std::vector<std::string> args = {"sepia"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    if (c.raw) args.push_back("--raw");
    args.insert(args.end(), {c.input, "-o", out});
    auto r = runQrx(withHost(args, host));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    Image source = qrx::readImage(c.input);
    Image direct = runDirect(
        host.config, "PictureSepiaQRX", source,
        [&](qrx::Host& h, const Ref& obj) {
            h.setProperty(obj, "FactorRed", c.weights[0]);
            h.setProperty(obj, "FactorGreen", c.weights[1]);
            h.setProperty(obj, "FactorBlue", c.weights[2]);
            h.setProperty(obj, "SepiaRed", int32_t(c.offsets[0]));
            h.setProperty(obj, "SepiaGreen", int32_t(c.offsets[1]));
            h.setProperty(obj, "SepiaBlue", int32_t(c.offsets[2]));
        },
        c.rect);
    EXPECT_FALSE(direct.hasAlpha);
    expectSameImage(qrx::readImage(out), c.raw ? direct : keptAround(source, direct, c.written));
}

const Rgb kDefaultWeights{0.299, 0.587, 0.114};
const std::array<int, 4> kWhole{0, 0, kEdge, kEdge};

INSTANTIATE_TEST_SUITE_P(
    Cases, SepiaCommand,
    testing::Combine(
        testing::Values(
            SepiaCase{"defaults", {}, kDefaultWeights, {40, 20, -20}, {}, kWhole, kSample},
            SepiaCase{
                "gray", {"--offsets", "0,0,0"}, kDefaultWeights, {0, 0, 0}, {}, kWhole, kSample},
            SepiaCase{"weightsAndOffsets",
                      {"--weights", "0.5, 0.25,-0.1", "--offsets", "-10,+0,300"},
                      {0.5, 0.25, -0.1},
                      {-10, 0, 300},
                      {},
                      kWhole,
                      kSample},
            SepiaCase{"rect",
                      {"--rect", "20,10,90,70"},
                      kDefaultWeights,
                      {40, 20, -20},
                      {20, 10, 90, 70},
                      {20, 10, 90, 70},
                      kSample},
            SepiaCase{"rectRaw",
                      {"--rect", "20,10,90,70"},
                      kDefaultWeights,
                      {40, 20, -20},
                      {20, 10, 90, 70},
                      {},
                      kSample,
                      true},
            // MAXX 0 is above MINX -5 and inside the picture: no column is toned.
            SepiaCase{"rectOfNoColumns",
                      {"--rect", "-5,30,0,1000", "--offsets", "5,5,5"},
                      kDefaultWeights,
                      {5, 5, 5},
                      {-5, 30, 0, 1000},
                      {0, 30, 0, 120},
                      kSample},
            SepiaCase{"rectToTheEdges",
                      {"--rect", "-5,30,1000,1000"},
                      kDefaultWeights,
                      {40, 20, -20},
                      {-5, 30, 1000, 1000},
                      {0, 30, kEdge, kEdge},
                      kSample},
            SepiaCase{"maxNotAboveMinMeansTheEdge",
                      {"--rect", "50,50,50,40"},
                      kDefaultWeights,
                      {40, 20, -20},
                      {50, 50, 50, 40},
                      {50, 50, kEdge, kEdge},
                      kSample},
            SepiaCase{"alphaSource", {}, kDefaultWeights, {40, 20, -20}, {}, kWhole, kSampleAlpha},
            SepiaCase{"alphaSourceRect",
                      {"--rect", "10,10,40,30"},
                      kDefaultWeights,
                      {40, 20, -20},
                      {10, 10, 40, 30},
                      {10, 10, 40, 30},
                      kSampleAlpha},
            SepiaCase{
                "alphaSourceRaw", {}, kDefaultWeights, {40, 20, -20}, {}, {}, kSampleAlpha, true}),
        testing::Values(
            HostArgs{"desktop", {}, configOf(HostKind::Desktop), ".png"},
            HostArgs{"console", {"--host", "console"}, configOf(HostKind::Console), ".pam"})),
    [](const testing::TestParamInfo<std::tuple<SepiaCase, HostArgs>>& i) {
        return std::get<0>(i.param).name + "_" + std::get<1>(i.param).name;
    });

struct BadRun {
    std::string name;
    std::vector<std::string> args; // "@" stands for the scratch directory
    std::string message;
};

class BadFilterRun : public testing::TestWithParam<BadRun> {};

TEST_P(BadFilterRun, ExitsTwoAndWritesNothing) {
    ScratchDir dir;
    writeFile(dir / "bad.cube", "TITLE \"bad\"\r\nLUT_3D_SIZE 2\r\n0 0 0\r\n1 0\r\n");
    writeFile(dir / "good.cube", cubeText(2, grade));
    writeFile(dir / "curve.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
        args.push_back(a.rfind("@/", 0) == 0 ? (dir / a.substr(2)).string() : a);
    const auto before = dir.entries();
    auto r = runQrx(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(contains(r.err, GetParam().message)) << r.err;
    EXPECT_EQ(dir.entries(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadFilterRun,
    testing::Values(
        BadRun{"malformedCube",
               {"lut3d", "--cube", "@/bad.cube", kSample, "-o", "@/out.png"},
               "bad.cube:4: expected 3 values on a data line, found 2"},
        BadRun{"missingCube",
               {"lut3d", "--cube", "@/none.cube", kSample, "-o", "@/out.png"},
               "none.cube: cannot read"},
        BadRun{"missingPicture",
               {"lut3d", "--cube", "@/good.cube", "@/none.png", "-o", "@/out.png"},
               "IN: "},
        BadRun{"shortRect",
               {"lut3d", "--cube", "@/good.cube", "--rect", "1,2,3", kSample, "-o", "@/out.png"},
               "--rect: '1,2,3' is not MINX,MINY,MAXX,MAXY"},
        BadRun{"rectNotInteger",
               {"sepia", "--rect", "1,2,3,4.5", kSample, "-o", "@/out.png"},
               "--rect: '4.5' is not a 32-bit integer"},
        BadRun{"rectTooLarge",
               {"sepia", "--rect", "0,0,2147483648,1", kSample, "-o", "@/out.png"},
               "not a 32-bit integer"},
        BadRun{"twoWeights",
               {"sepia", "--weights", "0.3,0.6", kSample, "-o", "@/out.png"},
               "--weights: '0.3,0.6' is not R,G,B"},
        BadRun{"weightNotNumber",
               {"sepia", "--weights", "0.3,x,0.1", kSample, "-o", "@/out.png"},
               "--weights: 'x' is not a number"},
        BadRun{"offsetFraction",
               {"sepia", "--offsets", "1.5,0,0", kSample, "-o", "@/out.png"},
               "--offsets: '1.5' is not a 32-bit integer"},
        BadRun{"outputExtension", {"sepia", kSample, "-o", "@/out.gif"}, "-o: "},
        BadRun{"curveWithRect",
               {"lut3d", "--cube", "@/curve.cube", "--rect", "0,0,5,5", kSample, "-o", "@/out.png"},
               "holds a 1D table"},
        BadRun{"noOutput", {"sepia", kSample}, "--output is required"},
        BadRun{"noCube", {"lut3d", kSample, "-o", "@/out.png"}, "--cube is required"},
        BadRun{"badHost", {"sepia", "--host", "mac", kSample, "-o", "@/out.png"}, "--host"},
        BadRun{"keepAlphaOfGlobal",
               {"call", "--keep-alpha", "MergePictureQRX(" + kSample + ", " + kSample + ")", "-o",
                "@/out.png"},
               "--keep-alpha: a global method"},
        BadRun{"keepAlphaWithoutOutput",
               {"call", "--keep-alpha", "--on", kSample, "InvertQRX"},
               "--keep-alpha: no picture is written without -o"}),
    [](const testing::TestParamInfo<BadRun>& i) { return i.param.name; });

// qrx call writes the method's result as it stands; --keep-alpha puts the --on picture's own
// alpha bytes back (exactly, also where the host keeps fewer bits of alpha) and changes nothing
// else.
TEST(CallKeepAlpha, PutsTheSourceAlphaBackOntoTheResult) {
    ScratchDir dir;
    for (const std::string& input : {kSample, kSampleAlpha})
        for (const char* call : {"InvertQRX", "ChangeContrastQRX(0.5)"})
            for (const char* host : {"desktop", "console"}) {
                SCOPED_TRACE(input + " " + call + " " + host);
                const std::string plain = (dir / "plain.pam").string();
                const std::string kept = (dir / "kept.pam").string();
                auto r = runQrx({"call", "--host", host, "--on", input, call, "-o", plain});
                ASSERT_EQ(r.code, 0) << r.err;
                r = runQrx(
                    {"call", "--host", host, "--on", input, call, "-o", kept, "--keep-alpha"});
                ASSERT_EQ(r.code, 0) << r.err;
                EXPECT_EQ(r.err, "");
                Image source = qrx::readImage(input), want = qrx::readImage(plain);
                for (size_t i = 3; i < want.rgba.size(); i += 4)
                    want.rgba[i] = source.rgba[i];
                want.hasAlpha = source.hasAlpha;
                expectSameImage(qrx::readImage(kept), want);
            }
}

TEST(FilterCommands, HelpShowsAnExample) {
    for (const char* cmd : {"lut3d", "sepia"}) {
        auto r = runQrx({cmd, "--help"});
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_TRUE(contains(r.out, std::string("  qrx ") + cmd + " ")) << r.out;
        EXPECT_TRUE(contains(r.out, "--rect")) << r.out;
    }
    EXPECT_TRUE(contains(runQrx({"sepia", "--help"}).out, "default 40,20,-20"));
    for (const char* cmd : {"lut3d", "sepia"})
        EXPECT_TRUE(contains(runQrx({cmd, "--help"}).out, "--raw")) << cmd;
    EXPECT_TRUE(contains(runQrx({"call", "--help"}).out, "--keep-alpha"));
}

} // namespace
