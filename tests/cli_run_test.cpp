// The built qrx, run as users run it, on the bundled sample picture.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "cli_util_test.h"
#include "image_io.h"

namespace {

using nlohmann::json;
using qrx::Image;
using qrxclitest::operator<<;
using qrxclitest::readFile;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

using qrxclitest::contains;
using qrxclitest::kSample;
using qrxclitest::kSampleAlpha;

// Inside the rectangle every component is inverted; outside, nothing was written, so the pixels
// show what a new picture holds: opaque white.
void expectInvertedRectangle(const Image& src, const Image& out, int left, int top, int width,
                             int height) {
    ASSERT_EQ(out.width, src.width);
    ASSERT_EQ(out.height, src.height);
    EXPECT_FALSE(out.hasAlpha);
    int wrong = 0;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            bool inside = x >= left && x < left + width && y >= top && y < top + height;
            const uint8_t* s = src.pixel(x, y);
            const uint8_t* o = out.pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                int want = inside ? 255 - s[c] : 255;
                if (o[c] != want && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") component " << c << ": "
                                  << int(o[c]) << ", want " << want;
            }
            if (o[3] != 255 && wrong++ < 5) ADD_FAILURE() << "alpha at " << x << ", " << y;
        }
    EXPECT_EQ(wrong, 0);
}

struct HostArgs {
    std::string name;
    std::vector<std::string> args;
    std::string ext;
};

class InvertRectangle : public testing::TestWithParam<HostArgs> {};
TEST_P(InvertRectangle, WritesExactlyTheInvertedRectangle) {
    ScratchDir dir;
    std::string out = (dir / ("out" + GetParam().ext)).string();
    std::vector<std::string> args = {"call"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    args.insert(args.end(), {"--on", kSample, "InvertQRX(5, 5, 120, 80)", "-o", out});
    auto r = runQrx(args);
    ASSERT_EQ(r.code, 0) << r.err;
    // The picture went to the file: nothing is printed.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    expectInvertedRectangle(qrx::readImage(kSample), qrx::readImage(out), 5, 5, 120, 80);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out" + GetParam().ext});
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, InvertRectangle,
    testing::Values(HostArgs{"default", {}, ".png"}, HostArgs{"pam", {}, ".pam"},
                    HostArgs{"layout1", {"--layout", "1"}, ".png"},
                    HostArgs{"layout2", {"--layout", "2"}, ".png"},
                    HostArgs{"layout4", {"--layout", "4"}, ".png"},
                    HostArgs{"layout5", {"--layout", "5"}, ".ppm"},
                    HostArgs{"layout6", {"--layout", "6"}, ".png"},
                    HostArgs{"console", {"--host", "console"}, ".png"},
                    HostArgs{"web_no_version", {"--host", "web", "--host-version", "none"}, ".png"},
                    HostArgs{"older_desktop", {"--host-version", "2011.0"}, ".png"}),
    [](const auto& info) { return info.param.name; });

TEST(QrxCall, WholePictureInversionTwiceRestoresTheSample) {
    ScratchDir dir;
    std::string once = (dir / "once.pam").string(), twice = (dir / "twice.pam").string();
    ASSERT_EQ(runQrx({"call", "--on", kSample, "InvertQRX", "-o", once}).code, 0);
    ASSERT_EQ(runQrx({"call", "--on", once, "InvertQRX()", "-o", twice}).code, 0);
    Image src = qrx::readImage(kSample);
    expectInvertedRectangle(src, qrx::readImage(once), 0, 0, src.width, src.height);
    EXPECT_EQ(qrx::readImage(twice).rgba, src.rgba);
}

TEST(QrxCall, JsonOutputIsOneObject) {
    ScratchDir dir;
    std::string out = (dir / "o.png").string();
    auto r = runQrx({"call", "--on", kSample, "InvertGrayQRX(0, 0, -1, -1)", "-o", out, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    json j = json::parse(r.out);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j.size(), 3u);
    EXPECT_EQ(j["result"], (json{{"width", 160}, {"height", 120}, {"path", out}}));
    EXPECT_EQ(j["byref"], json::object());
    EXPECT_TRUE(j["exception"].is_null());

    // Without -o the picture has no path.
    r = runQrx({"call", "--on", kSample, "InvertQRX", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(json::parse(r.out)["result"]["path"].is_null());
}

TEST(QrxCall, AlphaPictureGivesAnAlphaResult) {
    ScratchDir dir;
    std::string out = (dir / "o.pam").string();
    auto r = runQrx({"call", "--on", kSampleAlpha, "InvertQRX(0, 0, 10, 10)", "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    Image img = qrx::readImage(out);
    EXPECT_TRUE(img.hasAlpha);
    EXPECT_EQ(img.pixel(3, 3)[3], 255); // processed pixels are opaque
}

TEST(QrxCall, GlobalMethodWithPictureArgumentAndNilResult) {
    ScratchDir dir;
    std::string out = (dir / "t.png").string();
    auto r = runQrx({"call", "TintPictureQRX(\"" + kSample + "\", &c808080, &cA0522D)", "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    Image img = qrx::readImage(out);
    EXPECT_EQ(img.width, 160);
    EXPECT_EQ(img.height, 120);

    // A nil picture where a picture is expected: exit code 1, nothing written.
    std::string none = (dir / "none.png").string();
    r = runQrx({"call", "TintPictureQRX(nil, &c808080, &cA0522D)", "-o", none, "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "returned nil where a picture was expected")) << r.err;
    json j = json::parse(r.out);
    EXPECT_TRUE(j["result"].is_null());
    EXPECT_TRUE(j["exception"].is_null());
    EXPECT_FALSE(std::filesystem::exists(none));
}

struct UsageCase {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> inMessage;
};

class QrxUsage : public testing::TestWithParam<UsageCase> {};
TEST_P(QrxUsage, ExitsWithTwoAndSaysWhy) {
    ScratchDir dir;
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args) {
        std::string s = a;
        for (std::string::size_type p; (p = s.find("$DIR")) != std::string::npos;)
            s.replace(p, 4, dir.path().string());
        for (std::string::size_type p; (p = s.find("$SAMPLE")) != std::string::npos;)
            s.replace(p, 7, kSample);
        args.push_back(s);
    }
    writeFile(dir / "broken.png", "\x89PNG but not really");
    auto r = runQrx(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.out, "");
    // The parser's messages read like every other message of the tool.
    EXPECT_TRUE(r.err.starts_with("qrx: ")) << r.err;
    for (const std::string& part : GetParam().inMessage)
        EXPECT_TRUE(contains(r.err, part)) << "'" << part << "' not in: " << r.err;
    // No output file of any kind is left.
    auto entries = dir.entries();
    EXPECT_EQ(entries, std::vector<std::string>{"broken.png"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, QrxUsage,
    testing::Values(
        UsageCase{"unknown_method",
                  {"call", "--on", "$SAMPLE", "InvertQR(1, 2, 3, 4)", "-o", "$DIR/o.png"},
                  {"Picture has no method 'InvertQR'", "did you mean InvertQRX"}},
        UsageCase{"misspelt_in_another_case",
                  {"call", "--on", "$SAMPLE", "countcolorsqr(a, b, c, n)"},
                  {"did you mean CountColorsQRX"}},
        UsageCase{"misspelt_global",
                  {"call", "TintPictureQ(nil, &c000000, &c000000)"},
                  {"no global method 'TintPictureQ'", "did you mean TintPictureQRX"}},
        UsageCase{"nothing_close",
                  {"call", "--on", "$SAMPLE", "Zyxwvut"},
                  {"Picture has no method 'Zyxwvut'", "'qrx list' shows every method"}},
        UsageCase{"global_called_on_picture",
                  {"call", "--on", "$SAMPLE", "TintPictureQRX(nil, &c000000, &c000000)"},
                  {"it is a global method: leave out --on"}},
        UsageCase{"picture_method_without_on",
                  {"call", "InvertQRX"},
                  {"no global method 'InvertQRX'", "--on PICTURE"}},
        UsageCase{"missing_file",
                  {"call", "--on", "$DIR/missing.png", "InvertQRX", "-o", "$DIR/o.png"},
                  {"--on", "missing.png", "No such file"}},
        UsageCase{"broken_file",
                  {"call", "--on", "$DIR/broken.png", "InvertQRX", "-o", "$DIR/o.png"},
                  {"broken.png", "PNG"}},
        UsageCase{
            "broken_argument_file",
            {"call", "TintPictureQRX($DIR/broken.png, &c000000, &c000000)", "-o", "$DIR/o.png"},
            {"argument 1 (source as picture)", "broken.png"}},
        UsageCase{"no_overload",
                  {"call", "--on", "$SAMPLE", "InvertQRX(1, 2)", "-o", "$DIR/o.png"},
                  {"no overload of Picture.InvertQRX",
                   "InvertQRX(left as integer,top as integer,width as integer,height as integer) "
                   "as picture",
                   "InvertQRX as picture"}},
        UsageCase{"wrong_argument_type",
                  {"call", "--on", "$SAMPLE", "InvertQRX(1, 2, 3, true)"},
                  {"argument 4 (height as integer): 'true' is not an integer"}},
        UsageCase{"syntax", {"call", "--on", "$SAMPLE", "InvertQRX(1, 2"}, {"column 10", "^"}},
        UsageCase{"output_type",
                  {"call", "--on", "$SAMPLE", "InvertQRX", "-o", "$DIR/o.gif"},
                  {"-o", "o.gif", "unknown picture file type"}},
        UsageCase{"output_directory_missing",
                  {"call", "--on", "$SAMPLE", "InvertQRX", "-o", "$DIR/no/such/o.png"},
                  {"-o", "o.png"}},
        UsageCase{
            "bad_layout", {"call", "--layout", "7", "--on", "$SAMPLE", "InvertQRX"}, {"--layout"}},
        UsageCase{
            "bad_host", {"call", "--host", "server", "--on", "$SAMPLE", "InvertQRX"}, {"--host"}},
        UsageCase{"bad_version",
                  {"call", "--host-version", "new", "--on", "$SAMPLE", "InvertQRX"},
                  {"--host-version", "'new'"}},
        UsageCase{"no_command", {}, {"give a command: list, call", "see qrx --help"}},
        UsageCase{
            "unknown_command", {"frobnicate"}, {"unknown command 'frobnicate'; see qrx --help"}},
        UsageCase{"unknown_option", {"--frobnicate"}, {"unknown option '--frobnicate'"}},
        UsageCase{"parser_range",
                  {"call", "--quality", "0", "--on", "$SAMPLE", "InvertQRX"},
                  {"--quality", "; see qrx call --help"}},
        UsageCase{"parser_extra",
                  {"sepia", "$SAMPLE", "-o", "$DIR/o.png", "surplus"},
                  {"surplus", "; see qrx sepia --help"}},
        UsageCase{
            "parser_missing", {"lut3d", "$SAMPLE", "-o", "$DIR/o.png"}, {"--cube is required"}},
        UsageCase{"parser_nested",
                  {"batch", "sepia", "--frob", "$SAMPLE", "--out-dir", "$DIR/out"},
                  {"--frob", "; see qrx batch sepia --help"}}),
    [](const auto& info) { return info.param.name; });

TEST(QrxList, JsonHoldsTheInvertDeclarationsInOrder) {
    auto r = runQrx({"list", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["pluginVersion"], 9);
    const json* picture = nullptr;
    for (const json& c : j["classes"])
        if (c["name"] == "Picture") picture = &c;
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ((*picture)["builtIn"], true);
    std::vector<std::string> decls;
    for (const json& m : (*picture)["extensions"]) {
        std::string d = m["declaration"];
        EXPECT_EQ(m["assignable"], d.starts_with("EmbeddedMaskQRX")) << d;
        if (!d.starts_with("Invert")) continue;
        decls.push_back(d);
        EXPECT_EQ(m["flags"], 4) << "console marker turned into the console-safe flag";
    }
    const std::vector<std::string> want = {
        "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
        "InvertQRX as picture",
        "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as "
        "picture",
        "InvertGrayQRX as picture"};
    EXPECT_EQ(decls, want);
}

TEST(QrxList, FlagsAreThoseTheHostReceived) {
    // Below 2010.029 the console markers are removed without becoming host flags.
    auto r = runQrx({"list", "--json", "--host-version", "2009.0"});
    ASSERT_EQ(r.code, 0) << r.err;
    json j = json::parse(r.out);
    bool seen = false;
    for (const json& c : j["classes"]) {
        if (c["name"] != "Picture") continue;
        for (const json& m : c["extensions"]) {
            if (m["declaration"] == "InvertQRX as picture") {
                EXPECT_EQ(m["flags"], 0);
                seen = true;
            }
        }
    }
    EXPECT_TRUE(seen);
}

TEST(QrxList, TextListsClassesPropertiesAndGlobals) {
    auto r = runQrx({"list"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* part :
         {"class PictureSepiaQRX", "property SourcePicture as Picture", "direct, offset",
          "property FactorRed as Double", "getter, setter", "class PictureLut3DQRX", "assignable",
          "extension Picture", "  method InvertQRX as picture  flags 0x4", "global methods"})
        EXPECT_TRUE(contains(r.out, part)) << part;
    // Registration order: the sepia class, the lookup-table class, Picture, the globals.
    size_t sepia = r.out.find("class PictureSepiaQRX"), lut = r.out.find("class PictureLut3DQRX"),
           pic = r.out.find("extension Picture"), globals = r.out.find("global methods");
    EXPECT_LT(sepia, lut);
    EXPECT_LT(lut, pic);
    EXPECT_LT(pic, globals);
}

TEST(QrxPlugin, FoundBesideTheToolOrThroughTheEnvironment) {
    auto r = runQrx({"list", "--json"}, false, "env -u QRX_PLUGIN");
    EXPECT_EQ(r.code, 0) << r.err;
    r = runQrx({"list", "--json"}, false, std::string("QRX_PLUGIN=") + QRX_TEST_PLUGIN);
    EXPECT_EQ(r.code, 0) << r.err;
    r = runQrx({"list"}, false, "QRX_PLUGIN=/nonexistent/libqrxplugin.so");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.err, "/nonexistent/libqrxplugin.so")) << r.err;
    // --plugin comes before the environment.
    r = runQrx({"--plugin", "/nonexistent/other.so", "list"}, false,
               std::string("QRX_PLUGIN=") + QRX_TEST_PLUGIN);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.err, "cannot load the plugin /nonexistent/other.so")) << r.err;
    EXPECT_EQ(r.out, "");
}

// Every command has help with an example; those that write a picture document the formats.
TEST(QrxHelp, EveryCommandHasHelpWithAnExample) {
    auto r = runQrx({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(contains(r.out, "Example"));
    for (const std::string cmd : {"list", "call", "lut3d", "sepia", "histogram", "waveform"}) {
        EXPECT_TRUE(contains(r.out, "  " + cmd)) << cmd;
        auto help = runQrx({cmd, "--help"});
        EXPECT_EQ(help.code, 0) << cmd;
        EXPECT_TRUE(contains(help.out, "qrx ")) << cmd;
        EXPECT_TRUE(contains(help.out, "Example")) << cmd;
        if (cmd == "list") continue;
        for (const char* part : {"--quality", "--format", "JPEG", "standard output",
                                 "--legacy-pictures", "--hide-legacy-library"})
            EXPECT_TRUE(contains(help.out, part)) << cmd << ": " << part;
    }
    r = runQrx({"call", "--help"});
    // Text is wrapped to the terminal's width wherever a line fills up.
    std::replace(r.out.begin(), r.out.end(), '\n', ' ');
    for (const char* part : {"--host", "--host-version", "--layout", "--alpha-layout", "--on", "-o",
                             "--json", "2019.1", "alpha info 3", "alpha info 1"})
        EXPECT_TRUE(contains(r.out, part)) << part;
}

// Declarations the plugin in this build registers on Picture and as global methods, read once
// through qrx list.
bool registered(const std::string& declaration) {
    static const std::vector<std::string> decls = [] {
        std::vector<std::string> out;
        auto r = runQrx({"list", "--json"});
        if (r.code != 0) return out;
        json j = json::parse(r.out);
        for (const json& c : j["classes"])
            if (c["name"] == "Picture")
                for (const json& m : c["extensions"])
                    out.push_back(m["declaration"]);
        for (const json& m : j["globalMethods"])
            out.push_back(m["declaration"]);
        return out;
    }();
    return std::find(decls.begin(), decls.end(), declaration) != decls.end();
}

#define REQUIRE_METHOD(decl)                                                                       \
    if (!registered(decl)) GTEST_SKIP() << "the plugin does not register " << decl

TEST(QrxCall, HostExceptionExitsWithOne) {
    REQUIRE_METHOD("ReplaceRedChannelQRX(RedChannel as picture) as picture");
    ScratchDir dir;
    std::string out = (dir / "o.png").string();
    auto r = runQrx({"call", "--on", kSample, "ReplaceRedChannelQRX(nil)", "-o", out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "result = nil\n");
    EXPECT_TRUE(contains(r.err, "raised NilObjectException: The channel picture is nil.")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    r = runQrx({"call", "--on", kSample, "ReplaceRedChannelQRX(nil)", "--json"});
    EXPECT_EQ(r.code, 1);
    json j = json::parse(r.out);
    EXPECT_EQ(j["exception"],
              (json{{"class", "NilObjectException"}, {"message", "The channel picture is nil."}}));
    EXPECT_TRUE(j["result"].is_null());
}

TEST(QrxCall, ByrefOutputsArePrintedUnderTheirNames) {
    REQUIRE_METHOD(
        "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean");
    ScratchDir dir;
    // A piece of the colour gradient, which occurs nowhere else in the sample.
    Image src = qrx::readImage(kSample);
    Image part;
    part.width = 8;
    part.height = 6;
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) {
            const uint8_t* p = src.pixel(100 + x, 10 + y);
            part.rgba.insert(part.rgba.end(), p, p + 4);
        }
    std::string partPath = (dir / "part piece.png").string();
    qrx::writeImage(partPath, part);

    auto r = runQrx({"call", "--on", kSample, "FindPicture(\"" + partPath + "\", px, py)"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "result = true\npx = 100\npy = 10\n");

    r = runQrx({"call", "--on", kSample, "FindPicture(\"" + partPath + "\", px, py)", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        json::parse(r.out),
        (json{{"result", true}, {"byref", {{"px", 100}, {"py", 10}}}, {"exception", nullptr}}));
}

TEST(QrxCall, PictureChangedInPlaceIsWritten) {
    REQUIRE_METHOD("ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) "
                   "as boolean");
    ScratchDir dir;
    std::string out = (dir / "s.pam").string();
    auto r = runQrx({"call", "--on", kSample, "ScrollVerticalQRX(30, true, false)", "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "result = true\n");
    Image src = qrx::readImage(kSample), got = qrx::readImage(out);
    ASSERT_EQ(got.height, src.height);
    ASSERT_EQ(got.width, src.width);
    int wrong = 0;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x)
            wrong += !std::equal(src.pixel(x, y), src.pixel(x, y) + 4,
                                 got.pixel(x, (y + 30) % src.height));
    EXPECT_EQ(wrong, 0);
}

TEST(QrxCall, StringResultGoesToTheOutputFileAsRawBytes) {
    REQUIRE_METHOD("PicturetoBinaryStringQRX(p as picture) as string");
    REQUIRE_METHOD("BinaryStringtoPictureQRX(data as String) as Picture");
    ScratchDir dir;
    std::string bin = (dir / "pic.bin").string(), back = (dir / "back.png").string();
    auto r = runQrx({"call", "PicturetoBinaryStringQRX(" + kSample + ")", "-o", bin, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string bytes = readFile(bin);
    ASSERT_EQ(bytes.size(), 40u + 160 * 120 * 3);
    EXPECT_EQ(bytes.substr(0, 4), "PPIC");
    Image src = qrx::readImage(kSample);
    EXPECT_EQ(uint8_t(bytes[40]), src.pixel(0, 0)[0]);
    EXPECT_TRUE(json::parse(r.out)["result"].is_string());

    r = runQrx({"call", "BinaryStringtoPictureQRX(" + bin + ")", "-o", back});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(qrx::readImage(back).rgba, src.rgba);

    // A string that is not a picture gives nil: exit code 1.
    writeFile(dir / "junk.bin", "PPIC but too short");
    r = runQrx({"call", "BinaryStringtoPictureQRX(" + (dir / "junk.bin").string() + ")"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "result = nil\n");
}

} // namespace

namespace conventions {

using qrxclitest::operator<<;
using qrxclitest::RunResult;
using qrxclitest::runShell;

TEST(QrxVersion, PrintsTheProjectVersion) {
    auto r = runQrx({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string("qrx ") + QRX_TEST_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

// Every command whose help is checked, as its words on the command line.
const std::vector<std::vector<std::string>> kCommands = {
    {},           {"list"},  {"call"}, {"lut3d"},          {"sepia"},         {"histogram"},
    {"waveform"}, {"batch"}, {"demo"}, {"batch", "lut3d"}, {"batch", "sepia"}};

std::string commandName(const std::vector<std::string>& words) {
    std::string name = "qrx";
    for (const std::string& w : words)
        name += " " + w;
    return name;
}

RunResult help(const std::vector<std::string>& words) {
    std::vector<std::string> args = words;
    args.push_back("--help");
    return runQrx(args);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Help fits an 80-column terminal, and the host options come in their own group after the
// everyday options.
TEST(QrxHelp, FitsEightyColumnsWithHostOptionsLast) {
    const std::vector<std::string> hostOptions = {"--host ",           "--host-version",
                                                  "--layout",          "--alpha-layout",
                                                  "--legacy-pictures", "--hide-legacy-library"};
    for (const auto& words : kCommands) {
        const std::string name = commandName(words);
        RunResult r = help(words);
        ASSERT_EQ(r.code, 0) << name;
        for (const std::string& line : lines(r.out))
            EXPECT_LE(line.size(), 80u) << name << ": " << line;
        const size_t group = r.out.find("\nHost options:\n");
        const bool hasHost = contains(r.out, "--host-version");
        if (!hasHost) continue;
        ASSERT_NE(group, std::string::npos) << name;
        EXPECT_LT(r.out.find("\nOptions:\n"), group) << name;
        for (const std::string& opt : hostOptions)
            EXPECT_GT(r.out.find("  " + opt), group) << name << ": " << opt;
        // Nothing but host options after the group's heading, up to the footer.
        const std::string rest = r.out.substr(group, r.out.find("\n\n", group + 1) - group);
        EXPECT_FALSE(contains(rest, "--output")) << name;
        EXPECT_FALSE(contains(rest, "--quality")) << name;
    }
}

TEST(QrxHelp, WaveformShowsEveryDefault) {
    RunResult r = help({"waveform"});
    ASSERT_EQ(r.code, 0);
    for (const char* opt : {"--width", "--height", "--smooth", "--outline ", "--back", "--fore",
                            "--outline-color", "--channel", "--quality", "--host "}) {
        const size_t at = r.out.find(std::string("  ") + opt);
        ASSERT_NE(at, std::string::npos) << opt;
        // The option's name and value type, up to its description.
        std::string name = r.out.substr(at + 2, r.out.find('\n', at) - at - 2);
        name = name.substr(0, name.find("  "));
        EXPECT_TRUE(contains(name, "=")) << name;
    }
}

// What a successful command that writes its picture prints: nothing, unless -v asks; results
// that are not the written picture are printed as before.
struct QuietCase {
    std::string name;
    std::vector<std::string> args; // $DIR: the scratch directory, $SAMPLE, $NEEDLE
    std::string out, err;          // exactly; $DIR replaced
};

class QrxQuiet : public testing::TestWithParam<QuietCase> {};
TEST_P(QrxQuiet, PrintsOnlyWhatWasAskedFor) {
    ScratchDir dir;
    auto expand = [&](std::string s) {
        const std::string needle = std::string(QRX_SOURCE_DIR) + "/samples/needle.png";
        for (auto [key, value] : {std::pair<std::string, std::string>{"$DIR", dir.path().string()},
                                  {"$SAMPLE", kSample},
                                  {"$NEEDLE", needle}})
            for (size_t p; (p = s.find(key)) != std::string::npos;)
                s.replace(p, key.size(), value);
        return s;
    };
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
        args.push_back(expand(a));
    RunResult r = runQrx(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, expand(GetParam().out));
    EXPECT_EQ(r.err, expand(GetParam().err));
    EXPECT_EQ(dir.entries().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, QrxQuiet,
    testing::Values(
        QuietCase{
            "call_picture", {"call", "--on", "$SAMPLE", "InvertQRX", "-o", "$DIR/o.png"}, "", ""},
        QuietCase{"call_verbose",
                  {"call", "-v", "--on", "$SAMPLE", "InvertQRX", "-o", "$DIR/o.png"},
                  "result = <Picture 160x120>\n",
                  "qrx: wrote $DIR/o.png (160x120)\n"},
        QuietCase{"call_in_place_keeps_result",
                  {"call", "--on", "$SAMPLE", "FindPicture($NEEDLE, x, y)", "-o", "$DIR/o.pam"},
                  "result = true\nx = 104\ny = 12\n",
                  ""},
        QuietCase{"call_string",
                  {"call", "PicturetoBinaryStringQRX($SAMPLE)", "-o", "$DIR/s.bin"},
                  "",
                  ""},
        QuietCase{"sepia", {"sepia", "$SAMPLE", "-o", "$DIR/s.png"}, "", ""},
        QuietCase{"sepia_verbose",
                  {"sepia", "--verbose", "$SAMPLE", "-o", "$DIR/s.png"},
                  "",
                  "qrx: wrote $DIR/s.png (160x120)\n"},
        QuietCase{"lut3d",
                  {"lut3d", "--cube", std::string(QRX_SOURCE_DIR) + "/samples/grade.cube",
                   "$SAMPLE", "-o", "$DIR/g.png"},
                  "",
                  ""}),
    [](const auto& info) { return info.param.name; });

// A method that combines pictures answers nil when their sizes differ; the message says so.
struct SizeNoteCase {
    std::string name;
    std::vector<std::string> args;
    std::string note; // empty: none
};

class QrxSizeNote : public testing::TestWithParam<SizeNoteCase> {};
TEST_P(QrxSizeNote, NilResultNamesDifferentSizes) {
    RunResult r = runQrx(GetParam().args);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "returned nil where a picture was expected")) << r.err;
    if (GetParam().note.empty())
        EXPECT_FALSE(contains(r.err, "sizes differ")) << r.err;
    else
        EXPECT_TRUE(contains(r.err, "\nqrx: note: sizes differ: " + GetParam().note + "\n"))
            << r.err;
}

const std::string kNeedle = std::string(QRX_SOURCE_DIR) + "/samples/needle.png";
const std::string kRings = std::string(QRX_SOURCE_DIR) + "/samples/rings.png";

INSTANTIATE_TEST_SUITE_P(
    Calls, QrxSizeNote,
    testing::Values(SizeNoteCase{"global_two",
                                 {"call", "MergePictureQRX(" + kNeedle + ", " + kSample + ")"},
                                 "24x20 and 160x120"},
                    SizeNoteCase{"global_three",
                                 {"call", "CombinePicturesQRX(" + kRings + ", " + kNeedle + ", " +
                                              kSample + ")"},
                                 "160x120 and 24x20"},
                    SizeNoteCase{"one_size_nil_argument",
                                 {"call", "MergePictureQRX(" + kRings + ", nil)"},
                                 ""}),
    [](const auto& info) { return info.param.name; });

// ---- Examples run as printed ----

struct Example {
    std::string name; // where it comes from, and its number there
    std::string line;
};

// Lines of the sh blocks of README.md's sections "Using qrx" and "Processing many files" that run
// qrx.
std::vector<Example> readmeExamples() {
    std::vector<Example> out;
    const std::string readme = readFile(std::string(QRX_SOURCE_DIR) + "/README.md");
    for (const std::string section : {"## Using qrx\n", "## Processing many files\n"}) {
        const size_t at = readme.find(section);
        if (at == std::string::npos) continue;
        const size_t begin = readme.find("```sh\n", at);
        const size_t end = readme.find("```\n", begin + 6);
        const std::string source = section == "## Using qrx\n" ? "readme_usage_" : "readme_batch_";
        for (const std::string& line : lines(readme.substr(begin + 6, end - begin - 6)))
            if (contains(line, "build/qrx"))
                out.push_back({source + std::to_string(out.size() + 1), line});
    }
    return out;
}

// The lines under "Examples:" (or "Example ...:") in each command's help.
std::vector<Example> helpExamples() {
    std::vector<Example> out;
    for (const auto& words : kCommands) {
        RunResult r = help(words);
        std::string source = "help";
        for (const std::string& w : words)
            source += "_" + w;
        bool inExamples = false;
        int n = 0;
        for (const std::string& line : lines(r.out)) {
            if (line.starts_with("Example")) {
                inExamples = true;
            } else if (inExamples && line.starts_with("  ")) {
                out.push_back({source + "_" + std::to_string(++n), line.substr(2)});
            } else {
                inExamples = false;
            }
        }
    }
    return out;
}

std::vector<Example> allExamples() {
    std::vector<Example> all = readmeExamples();
    for (Example& e : helpExamples())
        all.push_back(std::move(e));
    return all;
}

// The line with qrx (or build/qrx) at the start of each command turned into the built qrx.
std::string withBuiltQrx(const std::string& line) {
    static const std::regex command(R"((^\s*|[|;&]\s*)(build/)?qrx\b)");
    return std::regex_replace(line, command, "$1{qrx}");
}

class QrxExamples : public testing::TestWithParam<Example> {};
TEST_P(QrxExamples, RunAsPrinted) {
    const std::string line = GetParam().line;
    const std::string cmd = withBuiltQrx(line);
    ASSERT_TRUE(contains(cmd, "{qrx}")) << line;
    ScratchDir dir;
    std::filesystem::copy(std::string(QRX_SOURCE_DIR) + "/samples", dir / "samples");
    const auto before = dir.entries();
    // On a line of its own, so that a comment at its end stays a comment.
    RunResult r =
        runShell("cd " + qrxclitest::shellQuote(dir.path().string()) + " && " + cmd + "\n");
    EXPECT_EQ(r.code, 0) << line << "\n" << r.err;
    // It did something: printed a result or wrote a file.
    EXPECT_TRUE(!r.out.empty() || dir.entries() != before) << line;
}

INSTANTIATE_TEST_SUITE_P(ReadmeAndHelp, QrxExamples, testing::ValuesIn(allExamples()),
                         [](const auto& info) { return info.param.name; });

TEST(QrxExamples, EveryCommandHasSome) {
    const auto all = allExamples();
    EXPECT_GE(readmeExamples().size(), 20u);
    for (const char* source : {"help_1", "help_list_", "help_call_", "help_lut3d_", "help_sepia_",
                               "help_histogram_", "help_waveform_", "help_batch_1", "help_demo_"})
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Example& e) {
            return e.name.starts_with(source);
        })) << source;
}

} // namespace conventions
