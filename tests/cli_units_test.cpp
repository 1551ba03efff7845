// The command-line library called directly, one row per case: the call-expression parser, the
// binder, the .cube reader, the picture-file readers; qrx demo and the bundled samples: the
// committed samples are what the generator makes, the gallery table reports what it leaves out,
// and the page loads in a browser with no broken picture.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <regex>
#include <sstream>

#include "binding.h"
#include "call_expr.h"
#include "cli/demo.h"
#include "cli_util_test.h"
#include "cube.h"
#include "errors.h"
#include "image_io.h"
#include "qrx/objects.h"
#include "support.h"
#include "value_out.h"

namespace {

namespace fs = std::filesystem;
using namespace qrx;
using namespace qrx::cli;
using namespace qrxclitest;
namespace demo = qrx::cli::demo;

// The message of the E that f throws ("" and a failure when it throws nothing).
template <class E> std::string thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "nothing thrown";
    return "";
}

// ---- Call expressions: each argument as KIND VALUE @ COLUMN ----

std::string summary(const CallExpr& c) {
    auto token = [](const ArgToken& t) {
        std::ostringstream s;
        s.precision(17);
        s << "IDBCNSW"[int(t.kind)] << std::hex << std::uppercase;
        if (t.kind == TokenKind::Integer) s << std::dec << t.integer;
        if (t.kind == TokenKind::Double) s << t.number;
        if (t.kind == TokenKind::Boolean) s << t.boolean;
        if (t.kind == TokenKind::Color) s << t.color;
        return s.str() + (t.kind >= TokenKind::String ? t.str : "") + "@" +
               std::to_string(t.column);
    };
    std::string s = c.name;
    for (const ArgToken& t : c.args)
        s += " " + token(t);
    return c.assigned ? s + " = " + token(*c.assigned) : s;
}

TEST(ParseCall, Rows) {
    for (const auto& row : rowsOf(R"(
`InvertQRX` | InvertQRX
`  InvertQRX()  ` | InvertQRX
`InvertQRX(5, 5, 120, 80)` | InvertQRX I5@11 I5@14 I120@17 I80@22
`InvertQRX(-10,+0,-2147483648,2147483648)` | InvertQRX I-10@11 I0@15 I-2147483648@18 I2147483648@30
`F(1.5, -0.25, 2e3, .5, 1., -1E-2)` | F D1.5@3 D-0.25@8 D2000@15 D0.5@20 D1@24 D-0.01@28
`F(true, FALSE, True, nil, NIL)` | F B1@3 B0@9 B1@16 N@22 N@27
`T(in.png, &c808080, &cA0522d)` | T Win.png@3 C808080@11 CA0522D@21
`F(&hFF, &h7fffffff, &hFFFFFFFF)` | F I255@3 I2147483647@9 I4294967295@21
`F("my pic.png", "a,b(c).png", "say \"hi\"", "b\\s", "")` | F Smy pic.png@3 Sa,b(c).png@17 Ssay "hi"@31 Sb\s@45 S@53
`F(5x, 1.2.3, -abc, ../up.png, /tmp/p.png)` | F W5x@3 W1.2.3@7 W-abc@14 W../up.png@20 W/tmp/p.png@31
`EmbeddedMaskQRX(true) = mask.png` | EmbeddedMaskQRX B1@17 = Wmask.png@25
`Table(1,2,3,4)=0.5` | Table I1@7 I2@9 I3@11 I4@13 = D0.5@16
`Value = "x y"` | Value = Sx y@9
`\tF ( 1 ,\t2 ) ` | F I1@6 I2@10)"))
        EXPECT_EQ(summary(parseCall(unescape(row[0]))), row[1]) << row[0];
    for (const auto& row : rowsOf(R"(
`` | 1 | method name
`5Invert` | 1 | method name
`F(1, 2` | 2 | never closed
`F(1,)` | 5 | expected an argument
`F(1 2)` | 5 | expected ','
`F(my file.png)` | 6 | expected ','
`F(1))` | 5 | unexpected ')'
`F x` | 3 | unexpected 'x'
`F("abc)` | 3 | never closed
`F("a\qb")` | 5 | unknown escape
`F(&c12345)` | 3 | six hex digits
`F(&h123456789)` | 3 | &h
`F(99999999999999999999)` | 3 | out of range
`F =` | 4 | expected an argument
`F(1) = 2 3` | 10 | unexpected '3')")) {
        const std::string msg = thrown<CallSyntaxError>([&] { parseCall(row[0]); });
        EXPECT_TRUE(msg.starts_with("column " + row[1] + ": ") && contains(msg, row[2])) << msg;
    }
}

// ---- Binding a call to an overload and to host values ----

// Methods as the host keeps them, from declarations, one a line; assignable ones get a setter.
std::vector<MethodInfo> methods(const std::string& decls) {
    static int dummy;
    std::vector<MethodInfo> out;
    for (const auto& row : rowsOf(decls)) {
        out.push_back({});
        out.back().className = "Picture", out.back().decl = parseDeclaration(row[0]);
        out.back().function = &dummy,
        out.back().setter =
            contains(row[0], "Mask") || contains(row[0], "Table(") ? &dummy : nullptr;
    }
    return out;
}

// The overload chosen (its place in the list), or the fault; every overload is listed then.
TEST(Binding, ChoosesByCountThenFitThenExactness) {
    const std::vector<MethodInfo> all = methods(R"(
InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture
InvertQRX as picture
isGrayQRX(tolerance as integer = 0) as boolean
isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as integer) as boolean
F(a as integer) as integer
F(a as double) as integer
G(a as double) as integer
G(a as integer) as integer
EmbeddedMaskQRX(swap as boolean) as picture
FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean
Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double
CountColorQRX(col as color) as integer
RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, BackColor as color=&c88B5C4, Bits as Integer = 8, AutoScale as boolean = false) as Picture
Use(o as PictureSepiaQRX, s as string))");
    for (const auto& row : rowsOf(R"(
`InvertQRX` | 1
`InvertQRX(5, 5, 120, 80)` | 0
`InvertQRX(-2147483648, 0, 2147483647, 0)` | 0
`InvertQRX(1, 2)` | takes 4 arguments
`InvertQRX(1.5, 2, 3, 4)` | argument 1 (left as integer): '1.5' is not an integer
`InvertQRX(2147483648, 2, 3, 4)` | outside the 32-bit integer range
`InvertQRX(a.png, 2, 3, 4)` | 'a.png' is not an integer
`isGrayQRX` | 2
`isGrayQRX(3, 0, 0, 10, 10)` | 3
`isGrayQRX(3, 0)` | takes 0 to 1 arguments
`F(2)` | 4
`F(2.5)` | 5
`G(2.0)` | 6
`F(true)` | 'true' is not a number
`EmbeddedMaskQRX(true)` | 8
`EmbeddedMaskQRX(true) = m.png` | 8
`EmbeddedMaskQRX(true) = 5` | assigned value (as picture)
`EmbeddedMaskQRX(1) = m.png` | is not true or false
`InvertQRX = x.png` | is not assignable
`FindPicture(part.png, x, y)` | 9
`FindPicture("my part.png", "x out", y)` | 9
`FindPicture(part.png, 1, y)` | takes an output name
`FindPicture(5, x, y)` | not a file name or nil
`Table(0, 0, 0, 4294967295) = 1` | 10
`Table(0, 0, 0, -1)` | outside 0 to 4294967295
`CountColorQRX(&c00FF00)` | 11
`CountColorQRX(65280)` | not a colour
`RenderSamplesQRX(s.raw, 100)` | 12
`RenderSamplesQRX(nil, 100, &c000000, 16, true)` | 12
`RenderSamplesQRX(s.raw)` | takes 2 to 5 arguments
`Use(nil, data.bin)` | 13
`Use(obj, data.bin)` | only nil can be given)")) {
        SCOPED_TRACE(row[0]);
        const CallExpr call = parseCall(row[0]);
        std::vector<const MethodInfo*> overloads;
        for (const MethodInfo& m : all)
            if (m.decl.name == call.name) overloads.push_back(&m);
        if (std::isdigit(row[1][0])) {
            EXPECT_EQ(chooseOverload(overloads, call, call.name), &all[std::stoul(row[1])]);
            continue;
        }
        try {
            chooseOverload(overloads, call, call.name);
            ADD_FAILURE() << "no error";
        } catch (const UsageError& e) {
            EXPECT_EQ(e.code(), kExitUsage);
            EXPECT_TRUE(contains(e.what(), row[1])) << e.what();
            for (const MethodInfo* m : overloads)
                EXPECT_TRUE(contains(e.what(), m->decl.text)) << "not listed: " << e.what();
        }
    }
}

TEST(Binding, ArgumentsBecomeHostValues) {
    ScratchDir dir;
    writeImage(dir / "p.png", Image{3, 1, false, {9, 18, 27, 255, 1, 2, 3, 255, 4, 5, 6, 255}, {}});
    writeFile(dir / "raw.bin", std::string("\x00\x01\xFE\xFFzz", 6));
    const auto m =
        methods("M(i as integer, u as UInt32, d as double, b as boolean, c as color, p as picture, "
                "mb as memoryblock, s as string, byref oi as integer, byref od as double, byref ob "
                "as boolean, byref oc as color, byref op as picture, q as picture)");
    const std::string d = dir.path().string();
    Host host;
    const BoundArgs b =
        bindArguments(host, m[0],
                      parseCall("M(-3, 4000000000, 2, true, &cA1B2C3, " + d + "/p.png, " + d +
                                "/raw.bin, \"" + d + "/raw.bin\", n1, n2, n3, n4, n5, nil)")
                          .args);
    std::string shown = std::to_string(std::get<Ref>(b.values[7]).as<String>()->encoding) + ":";
    for (size_t i = 0; i < b.values.size(); ++i)
        shown += " " + b.outputNames[i] + "=" + valueText(b.values[i]);
    EXPECT_EQ(shown, std::to_string(kREALTextEncodingRaw) +
                         ": =-3 =4000000000 =2.0 =true =&cA1B2C3 =<Picture 3x1> =<MemoryBlock 6 "
                         "bytes> 0001feff7a7a =\"\\x00\\x01\\xfe\\xffzz\" n1=0 n2=0.0 n3=false "
                         "n4=&c000000 n5=nil =nil");
    EXPECT_EQ(std::get<Ref>(b.values[5]).as<Picture>()->toImage().rgba,
              readImage(dir / "p.png").rgba);
}

// ---- .cube files ----

using Rgb = std::array<double, 3>;
// A cube of n points per axis holding f at the fractions of each point, red fastest.
std::string cubeText(int n, const std::function<Rgb(double, double, double)>& f,
                     const std::string& header = "") {
    std::ostringstream s;
    s.precision(17);
    s << header << "LUT_3D_SIZE " << n << "\n";
    for (int i = 0; i < n * n * n; ++i) {
        const Rgb v =
            f(double(i % n) / (n - 1), double(i / n % n) / (n - 1), double(i / n / n) / (n - 1));
        s << v[0] << " " << v[1] << " " << v[2] << "\n";
    }
    return s.str();
}

// Multilinear in each output with different coefficients per axis: trilinear resampling
// reproduces it, and an exchanged axis shows. Node k of the filter's grid is the input k / 15
// (within DOMAIN: inputs outside take its nearest end); nodes 16 and 17 repeat node 15.
TEST(Cube, ResampledOntoTheFilterGrid) {
    auto grade = [](double r, double g, double b) {
        return Rgb{0.1 + 0.7 * r + 0.05 * g - 0.02 * b + 0.1 * r * g,
                   0.9 * g - 0.2 * r * b + 0.15 * b, 1.0 - 0.5 * b + 0.25 * r - 0.125 * r * g * b};
    };
    for (const auto& [n, header, low] : {std::tuple{2, "", 0.0},
                                         {16, "", 0.0},
                                         {33, "", 0.0},
                                         {17, "DOMAIN_MIN 0.4 -1 0\nDOMAIN_MAX 1 1 2\n", 0.4}}) {
        const double lo = low;
        const Cube cube = parseCube(cubeText(
                                        n,
                                        [&](double r, double g, double b) {
                                            return lo ? grade(lo + (1 - lo) * r, 2 * g - 1, 2 * b)
                                                      : grade(r, g, b);
                                        },
                                        header),
                                    "c.cube");
        const std::vector<double> t = lutTable(cube);
        for (int i = 0; i < kLutNodes * kLutNodes * kLutNodes * 3; ++i) {
            const int r = i / 972, g = i / 54 % 18, b = i / 3 % 18;
            const Rgb want = grade(std::max(std::min(r, 15) / 15.0, lo), std::min(g, 15) / 15.0,
                                   std::min(b, 15) / 15.0);
            ASSERT_NEAR(t[lutIndex(r, g, b, i % 3)], want[size_t(i % 3)] * 255.0, 1e-9)
                << n << ": " << r << "," << g << "," << b;
        }
    }
}

TEST(Cube, ReadsCommentsTitleCrlfNumberFormsAndCurves) {
    const Cube cube = parseCube(
        "\xEF\xBB\xBF# by hand\r\nTITLE \"Warm # no comment\"\r\n\r\n  LUT_3D_SIZE\t2   # "
        "two\r\nDOMAIN_MIN 0 0 0\r\nDOMAIN_MAX 1 1 1\r\n\r\n0 0 0\r\n+1.0 0 0\r\n# between\r\n0 "
        "1e0 .0\r\n1 1 0\r\n\t0 0 1\r\n1 0 1\r\n0 1 1\r\n1.0 1.0 -2.5E-1 # last",
        "warm.cube");
    EXPECT_EQ(cube.title, "Warm # no comment");
    ASSERT_EQ(cube.data.size(), 8u);
    EXPECT_EQ((std::vector<Rgb>{cube.data[1], cube.data[2], cube.data[4], cube.data[7]}),
              (std::vector<Rgb>{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, -0.25}}));
    // One-dimensional tables, interpolated and clamped: with five entries i = 96 lies at
    // 96 * 4 / 255 = 1 + 129 / 255, i = 200 at 3 + 35 / 255.
    const Cube curve =
        parseCube("TITLE unquoted words\nLUT_1D_SIZE 3\n0 1 0.2\n0.5 0.5 0.2\n1 0 0.2\n", "c.cube");
    EXPECT_EQ(curve.title, "unquoted words");
    EXPECT_FALSE(curve.is3D());
    const auto t = curveTables(curve);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ((std::array<int, 3>{t[0][size_t(i)], t[1][size_t(i)], t[2][size_t(i)]}),
                  (std::array{i, 255 - i, 51}))
            << i;
    const auto c = curveTables(
        parseCube("LUT_1D_SIZE 5\n-1 0 0\n0 0.1 0\n0.6 0.2 0\n1 0.3 0\n2 1 1\n", "c.cube"));
    for (auto [i, r, g, b] :
         {std::array{0, 0, 0, 0}, {96, 77, 38, 0}, {200, 255, 101, 35}, {255, 255, 255, 255}})
        EXPECT_EQ((std::array<int, 3>{c[0][size_t(i)], c[1][size_t(i)], c[2][size_t(i)]}),
                  (std::array{r, g, b}))
            << i;
}

// Faults name the file and line; {N} stands for N data lines.
TEST(Cube, MalformedFilesNameTheLine) {
    for (auto row : rowsOf(R"(
`LUT_3D_SIZE 2\n0 0 0\n0 0\n{6}` | 3 | expected 3 values on a data line, found 2
`# x\nLUT_3D_SIZE 2\n{4}0 0 0 0\n` | 7 | found 4
`LUT_3D_SIZE 2\n{2}0 0.5 abc\n` | 4 | 'abc' is not a number
`LUT_3D_SIZE 2\n0 1.0x 0\n` | 2 | '1.0x' is not a number
`LUT_3D_SIZE 2\n0 -inf 0\n` | 2 | '-inf' is not a number
`TITLE "x"\n\n0 0 0\n` | 3 | a data line before LUT_3D_SIZE or LUT_1D_SIZE
`` | 1 | no LUT_3D_SIZE or LUT_1D_SIZE
`LUT_3D_SIZE 2\n\nLUT_3D_SIZE 2\n` | 3 | a second size: LUT_3D_SIZE after LUT_3D_SIZE on line 1
`LUT_1D_SIZE 4\nLUT_3D_SIZE 2\n` | 2 | LUT_3D_SIZE after LUT_1D_SIZE on line 1
`LUT_3D_SIZE 1\n0 0 0\n` | 1 | LUT_3D_SIZE 1 is out of range (2 to 256)
`LUT_1D_SIZE 65537\n` | 1 | out of range (2 to 65536)
`LUT_3D_SIZE 2.5\n` | 1 | '2.5' is not a whole number
`LUT_3D_SIZE\n` | 1 | expected 1 value, found 0
`LUT_3D_SIZE 2\n{7}` | 8 | 7 data lines, LUT_3D_SIZE 2 calls for 8
`LUT_1D_SIZE 3\n{2}\n# end\n` | 5 | 2 data lines, LUT_1D_SIZE 3 calls for 3
`LUT_3D_SIZE 2\n{9}` | 10 | more data lines than the 8
`DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\nLUT_3D_SIZE 2\n{8}` | 2 | the domain minimum must be below the maximum (green: 0 to 0)
`DOMAIN_MAX 1 1 0.5\n# c\nDOMAIN_MIN 0 0 0.75\nLUT_3D_SIZE 2\n{8}` | 3 | (blue: 0.75 to 0.5)
`LUT_3D_INPUT_RANGE 1 0\nLUT_3D_SIZE 2\n{8}` | 1 | (red: 1 to 0)
`DOMAIN_MIN 0 0\n` | 1 | DOMAIN_MIN: expected 3 values
`DOMAIN_MIN 0 0 0\nDOMAIN_MIN 0 0 0\n` | 2 | a second domain minimum
`LUT_3D_SIZE 2\nLUT_4D_SIZE 2\n` | 2 | unknown keyword 'LUT_4D_SIZE'
`LUT_3D_SIZE 2\n{3}TITLE "late"\n` | 5 | keyword TITLE after the data lines
`TITLE "open\n` | 1 | the closing quote is missing)")) {
        if (size_t at = row[0].find('{'); at != std::string::npos) {
            std::string data;
            for (int i = row[0][at + 1] - '0'; i > 0; --i)
                data += "0.5 0.25 0\n";
            row[0].replace(at, 3, data);
        }
        const std::string msg =
            thrown<CubeError>([&] { parseCube(unescape(row[0]), "grade.cube"); });
        EXPECT_TRUE(msg.starts_with("grade.cube:" + row[1] + ": ") && contains(msg, row[2]))
            << row[0] << "\n"
            << msg;
    }
    ScratchDir dir;
    EXPECT_TRUE(contains(thrown<CubeError>([&] { readCube(dir / "none.cube"); }),
                         "none.cube: cannot read"));
}

// ---- Picture files ----

std::vector<int> numbers(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<int>(in), {}};
}
std::string hexBytes(std::string hex) {
    std::erase(hex, ' ');
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// PNGs built here chunk by chunk, so the reader is checked against files it did not write:
// WIDTH HEIGHT DEPTH COLOURTYPE | scanlines | PLTE | tRNS | alpha | R G B A of each pixel.
// 16-bit samples are rounded: 0x12FF is 18.93, so 19 where truncation gives 18.
TEST(ImageRead, PngOfEveryColourTypeAndDepth) {
    ScratchDir dir;
    for (const auto& row : rowsOf(R"(
`3 1 8 2` | 00 010203 fa8000 ffffff |  |  | 0 | 1 2 3 255 250 128 0 255 255 255 255 255
`2 1 8 6` | 00 0a141e00 c8643280 |  |  | 1 | 10 20 30 0 200 100 50 128
`3 1 8 0` | 00 00 4d ff |  |  | 0 | 0 0 0 255 77 77 77 255 255 255 255 255
`4 1 1 0` | 00 90 |  |  | 0 | 255 255 255 255 0 0 0 255 0 0 0 255 255 255 255 255
`3 1 4 0` | 00 05 f0 |  |  | 0 | 0 0 0 255 85 85 85 255 255 255 255 255
`2 1 8 4` | 00 2800 c8ff |  |  | 1 | 40 40 40 0 200 200 200 255
`3 1 8 3` | 00 02 00 01 | ff0000 0080ff 070809 |  | 0 | 7 8 9 255 255 0 0 255 0 128 255 255
`4 1 2 3` | 00 1b | ff0000 0080ff 070809 010101 | 0064 | 1 | 255 0 0 0 0 128 255 100 7 8 9 255 1 1 1 255
`2 1 8 2` | 00 050607 050608 |  | 000500060007 | 1 | 5 6 7 0 5 6 8 255
`2 1 16 2` | 00 12ff8080ffff 000000ff7f7f |  |  | 0 | 19 128 255 255 0 1 127 255
`1 2 16 6` | 00 ffff018040008000 00 0001000200037fff |  |  | 1 | 255 1 64 128 0 0 0 127
`2 1 16 4` | 00 abcd0101 0000ffff |  |  | 1 | 171 171 171 1 0 0 0 255)")) {
        const std::vector<int> h = numbers(row[0]);
        const std::string ihdr = be32(uint32_t(h[0])) + be32(uint32_t(h[1])) + char(h[2]) +
                                 char(h[3]) + std::string(3, '\0');
        const std::string chunks = (row[2].empty() ? "" : pngChunk("PLTE", hexBytes(row[2]))) +
                                   (row[3].empty() ? "" : pngChunk("tRNS", hexBytes(row[3])));
        writeFile(dir / "in.png", pngFile(ihdr, hexBytes(row[1]), chunks));
        const Image img = readImage(dir / "in.png");
        EXPECT_EQ(img.hasAlpha, row[4] == "1") << row[0];
        EXPECT_EQ(std::vector<int>(img.rgba.begin(), img.rgba.end()), numbers(row[5])) << row[0];
    }
}

// A JPEG written by libjpeg directly, 16 x 16 of one colour, in any colour space.
std::string jpegOf(J_COLOR_SPACE space, std::vector<uint8_t> pixel) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = c.image_height = 16;
    c.input_components = int(pixel.size());
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row;
    for (int i = 0; i < 16; ++i)
        row.insert(row.end(), pixel.begin(), pixel.end());
    for (JSAMPROW r = row.data(); c.next_scanline < 16;)
        jpeg_write_scanlines(&c, &r, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

// libjpeg writes CMYK with an Adobe marker, which holds inverted inks: ink C 40, M 100, Y 200,
// K 20 gives red (255 - 40)(255 - 20) / 255 = 198, green 143, blue 51.
TEST(ImageRead, JpegColourSpacesBecomeRgb) {
    const std::tuple<J_COLOR_SPACE, std::vector<uint8_t>, std::array<int, 3>> rows[] = {
        {JCS_GRAYSCALE, {90}, {90, 90, 90}},
        {JCS_RGB, {200, 40, 120}, {200, 40, 120}},
        {JCS_CMYK, {215, 155, 55, 235}, {198, 143, 51}}};
    for (const auto& [space, pixel, want] : rows) {
        const Image img = decodeImage(jpegOf(space, pixel), ImageFormat::Jpeg, "f.jpg");
        ASSERT_EQ(img.width * img.height, 256);
        EXPECT_FALSE(img.hasAlpha);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(img.pixel(7, 9)[c], c < 3 ? want[size_t(c)] : 255, 2)
                << int(space) << " " << c;
    }
}

// Netpbm headers with comments and gray tuples are read; PAM and PPM are written byte for byte.
TEST(ImageRead, NetpbmBytes) {
    ScratchDir dir;
    writeFile(dir / "c.ppm",
              "P6 # comment\n# more\n2\n1 255\n" + std::string("\x09\x08\x07\x00\xFF\x10", 6));
    EXPECT_EQ(readImage(dir / "c.ppm").rgba, (std::vector<uint8_t>{9, 8, 7, 255, 0, 255, 16, 255}));
    writeFile(dir / "g.pam", "P7\n# gray\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE "
                             "GRAYSCALE_ALPHA\nENDHDR\n\x05\x06\x07\x08");
    EXPECT_EQ(readImage(dir / "g.pam").rgba, (std::vector<uint8_t>{5, 5, 5, 6, 7, 7, 7, 8}));
    const std::string pam = encodeImage(Image{2, 1, true, {1, 2, 3, 4, 250, 251, 252, 253}, {}},
                                        ImageFormat::Pam, 90, "a");
    EXPECT_EQ(pam, "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE "
                   "RGB_ALPHA\nENDHDR\n\x01\x02\x03\x04\xFA\xFB\xFC\xFD");
}

TEST(ImageRead, FaultsNameTheFile) {
    ScratchDir dir;
    fs::create_directory(dir / "dir.png");
    writeFile(dir / "h.jpg", encodeImage(Image{8, 8, false, std::vector<uint8_t>(256, 99), {}},
                                         ImageFormat::Jpeg, 90, "h")
                                 .substr(0, 20));
    for (const auto& row : rowsOf(R"(
none.png |  | No such file
dir.png |  | directory
pic.gif | GIF89a | unknown picture file type
fake.png | P6\n1 1\n255\n123 | not a PNG
cut.png | \x89PNG\r\n\x1a\n\0\0\0\rIHDR | bad PNG
t.ppm | P6\n2 2\n255\n123 | truncated
m.ppm | P6\n1 1\n65535\n123456 | maxval
a.ppm | P3\n1 1\n255\n1 2 3\n | P6
z.ppm | P6\n0 1\n255\n | empty
d.pam | P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcd | DEPTH
u.pam | P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE BLACKANDWHITE\nENDHDR\na | TUPLTYPE
e.pam | P7\nWIDTH 1\nHEIGHT 1\n | header ends early
e.jpg | `` | bad JPEG
p.jpg | \x89PNG\r\n\x1a\n.... | bad JPEG
h.jpg |  | damaged JPEG: Premature end)")) {
        if (!row[1].empty() || row[0] == "e.jpg") writeFile(dir / row[0], unescape(row[1]));
        const std::string msg = thrown<ImageFileError>([&] { readImage(dir / row[0]); });
        EXPECT_TRUE(contains(msg, (dir / row[0]).string()) && contains(msg, row[2])) << msg;
    }
}

// ---- The bundled samples ----

TEST(Samples, CommittedFilesAreWhatTheGeneratorMakes) {
    ScratchDir dir;
    ASSERT_EQ(runShell(shellQuote(QRX_TEST_MAKE_SAMPLES) + " " + shellQuote(dir.path())).code, 0);
    std::vector<std::string> made;
    for (const auto& e : fs::directory_iterator(dir.path()))
        made.push_back(e.path().filename().string());
    // Everything the demo reads is made by the generator.
    for (const std::string& name : demo::sampleFiles())
        EXPECT_TRUE(std::count(made.begin(), made.end(), name)) << name;
    // Pictures by their pixels: the PNG writer's compression may change the bytes.
    auto content = [](const fs::path& p) {
        if (p.extension() != ".png") return readFile(p);
        const qrx::Image img = qrx::readImage(p);
        return std::to_string(img.width * 100000 + img.height * 10 + img.hasAlpha) +
               std::string(img.rgba.begin(), img.rgba.end());
    };
    for (const std::string& name : made)
        EXPECT_TRUE(fs::exists(fs::path(kSamples) / name) &&
                    content(dir / name) == content(fs::path(kSamples) / name))
            << name << ": not as committed";
}

// ---- The gallery table against the registered surface ----

TEST(DemoTable, LeavingEntriesOutReportsExactlyWhatTheyShowed) {
    const auto host = qrxtest::loadHost();
    for (const std::string dropped : {"InvertGrayQRX", "class PictureSepiaQRX"}) {
        std::vector<demo::Entry> list;
        for (const demo::Entry& e : demo::entries())
            if (!std::regex_search(e.call, std::regex("^" + dropped + "\\b")) &&
                !std::count(e.covers.begin(), e.covers.end(), dropped))
                list.push_back(e);
        const demo::Coverage cov = demo::coverage(*host, list);
        std::vector<std::string> want;
        for (const std::string& name : demo::registeredSurface(*host))
            if (contains(name, dropped + "(") || contains(name, dropped + " ") || name == dropped)
                want.push_back(name);
        EXPECT_EQ(cov.missing, want);
        EXPECT_EQ(want.size(), dropped.starts_with("class") ? 1u : 2u);
        EXPECT_TRUE(cov.problems.empty());
    }
}

TEST(DemoText, ShellWordsAndHtml) {
    std::string quoted;
    for (const char* word : {"out/demo/invert.png", "--rect", "80,0,159,119",
                             "InvertQRX(20, 10, 120, 60)", "&cF4F1E8", "it's", ""})
        quoted += demo::shellWord(word) + " ";
    EXPECT_EQ(quoted, "out/demo/invert.png --rect 80,0,159,119 'InvertQRX(20, 10, 120, 60)' "
                      "'&cF4F1E8' 'it'\\''s' '' ");
    EXPECT_EQ(demo::html("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
}

// ---- The page in a browser ----

std::string attribute(const std::string& tag, const std::string& name) {
    const std::regex re(" " + name + "=\"([^\"]*)\"");
    std::smatch m;
    return std::regex_search(tag, m, re) ? m[1].str() : std::string("(none)");
}

std::vector<std::string> tags(const std::string& dom, const std::string& name) {
    std::vector<std::string> out;
    const std::regex re("<" + name + "\\b[^>]*>");
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), re); it != std::sregex_iterator();
         ++it)
        out.push_back(it->str());
    return out;
}

TEST(DemoPage, LoadsInHeadlessChromiumWithEveryPictureAndEveryMethod) {
    const fs::path chromium = "/usr/bin/chromium";
    if (!fs::exists(chromium)) GTEST_SKIP() << "chromium is not installed";

    ScratchDir dir;
    const fs::path out = dir / "gallery dir"; // a blank in the path must not break any call
    const RunResult r = runQrx({"demo", "--out", out.string(), "--samples", kSamples});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(fs::exists(out / "index.html"));

    ScratchDir profile;
    const std::string cmd =
        shellQuote(chromium.string()) +
        " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --user-data-dir=" +
        shellQuote(profile.path().string()) + " --virtual-time-budget=10000 --dump-dom " +
        shellQuote("file://" + (out / "index.html").string()) + " >" +
        shellQuote((dir / "dom.html").string()) + " 2>" +
        shellQuote((dir / "chromium.log").string());
    ASSERT_EQ(runShell(cmd).code, 0) << readFile(dir / "chromium.log");
    const std::string dom = readFile(dir / "dom.html");

    // Every picture loaded, as the page's own script saw it.
    const std::vector<std::string> imgs = tags(dom, "img");
    ASSERT_GT(imgs.size(), 50u);
    for (const std::string& img : imgs)
        EXPECT_EQ(attribute(img, "data-state"), "loaded") << img;
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(dom, summary, std::regex("<p[^>]*id=\"image-summary\"[^>]*>")));
    for (auto [name, want] : {std::pair{"data-total", imgs.size()},
                              {"data-loaded", imgs.size()},
                              {"data-broken", size_t(0)}})
        EXPECT_EQ(attribute(summary.str(), name), std::to_string(want)) << name;

    // Every registered method and class appears, and no run failed.
    const auto host = qrxtest::loadHost();
    std::vector<std::string> shown;
    for (const std::string& li : tags(dom, "li"))
        if (li.find("data-declaration") != std::string::npos)
            shown.push_back(attribute(li, "data-declaration"));
    for (const std::string& name : demo::registeredSurface(*host))
        EXPECT_TRUE(std::count(shown.begin(), shown.end(), demo::html(name))) << name;
    EXPECT_EQ(dom.find("id=\"missing\""), std::string::npos);
    const std::vector<std::string> articles = tags(dom, "article");
    EXPECT_EQ(articles.size(), demo::entries().size());
    for (const std::string& a : articles)
        EXPECT_EQ(attribute(a, "data-ok"), "true") << a;
    for (const demo::Entry& e : demo::entries())
        EXPECT_TRUE(e.output.empty() || fs::exists(out / e.output)) << e.output;
}

} // namespace
