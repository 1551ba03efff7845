// The command-line library called directly, one row per case: the call-expression parser, the
// binder, values shown, the .cube reader, the picture-file readers and writers, the worker pool.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <functional>
#include <random>

#include "batch.h"
#include "binding.h"
#include "call_expr.h"
#include "cli_util_test.h"
#include "cube.h"
#include "errors.h"
#include "image_io.h"
#include "qrx/objects.h"
#include "value_out.h"

namespace {

namespace fs = std::filesystem;
using namespace qrx;
using namespace qrx::cli;
using qrxclitest::contains;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

// Runs f, which must throw E; returns its message ("" and a failure when nothing is thrown).
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
        char buf[64];
        switch (t.kind) {
        case TokenKind::Integer:
            std::snprintf(buf, sizeof buf, "I%lld", (long long)t.integer);
            break;
        case TokenKind::Double:
            std::snprintf(buf, sizeof buf, "D%.17g", t.number);
            break;
        case TokenKind::Boolean:
            std::snprintf(buf, sizeof buf, "B%d", int(t.boolean));
            break;
        case TokenKind::Color:
            std::snprintf(buf, sizeof buf, "C%06X", unsigned(t.color));
            break;
        case TokenKind::Nil:
            std::snprintf(buf, sizeof buf, "N");
            break;
        default:
            std::snprintf(buf, sizeof buf, "%c%s", t.kind == TokenKind::String ? 'S' : 'W',
                          t.str.c_str());
        }
        return std::string(buf) + "@" + std::to_string(t.column);
    };
    std::string s = c.name;
    for (const ArgToken& t : c.args)
        s += " " + token(t);
    return c.assigned ? s + " = " + token(*c.assigned) : s;
}

TEST(ParseCall, Rows) {
    const std::pair<const char*, const char*> good[] = {
        {"InvertQRX", "InvertQRX"},
        {"  InvertQRX()  ", "InvertQRX"},
        {"InvertQRX(5, 5, 120, 80)", "InvertQRX I5@11 I5@14 I120@17 I80@22"},
        {"InvertQRX(-10,+0,-2147483648,2147483648)",
         "InvertQRX I-10@11 I0@15 I-2147483648@18 I2147483648@30"},
        {"F(1.5, -0.25, 2e3, .5, 1., -1E-2)", "F D1.5@3 D-0.25@8 D2000@15 D0.5@20 D1@24 D-0.01@28"},
        {"F(true, FALSE, True, nil, NIL)", "F B1@3 B0@9 B1@16 N@22 N@27"},
        {"T(in.png, &c808080, &cA0522d)", "T Win.png@3 C808080@11 CA0522D@21"},
        {"F(&hFF, &h7fffffff, &hFFFFFFFF)", "F I255@3 I2147483647@9 I4294967295@21"},
        {R"(F("my pic.png", "a,b(c).png", "say \"hi\"", "b\\s", ""))",
         "F Smy pic.png@3 Sa,b(c).png@17 Ssay \"hi\"@31 Sb\\s@45 S@53"},
        {"F(5x, 1.2.3, -abc, ../up.png, /tmp/p.png)",
         "F W5x@3 W1.2.3@7 W-abc@14 W../up.png@20 W/tmp/p.png@31"},
        {"EmbeddedMaskQRX(true) = mask.png", "EmbeddedMaskQRX B1@17 = Wmask.png@25"},
        {"Table(1,2,3,4)=0.5", "Table I1@7 I2@9 I3@11 I4@13 = D0.5@16"},
        {"Value = \"x y\"", "Value = Sx y@9"},
        {"\tF ( 1 ,\t2 ) ", "F I1@6 I2@10"}};
    for (const auto& [text, want] : good)
        EXPECT_EQ(summary(parseCall(text)), want) << text;
    const std::tuple<const char*, size_t, const char*> bad[] = {
        {"", 1, "method name"},
        {"   ", 4, "method name"},
        {"5Invert", 1, "method name"},
        {"(1)", 1, "method name"},
        {"F(1, 2", 2, "never closed"},
        {"F(", 2, "never closed"},
        {"F(1,)", 5, "expected an argument"},
        {"F(,1)", 3, "expected an argument"},
        {"F(1 2)", 5, "expected ','"},
        {"F(my file.png)", 6, "expected ','"},
        {"F(1))", 5, "unexpected ')'"},
        {"F x", 3, "unexpected 'x'"},
        {"F(\"abc)", 3, "never closed"},
        {"F(\"a\\nb\")", 5, "unknown escape"},
        {"F(&c12345)", 3, "six hex digits"},
        {"F(1, &c12345G)", 6, "six hex digits"},
        {"F(&h)", 3, "&h"},
        {"F(&h123456789)", 3, "&h"},
        {"F(99999999999999999999)", 3, "out of range"},
        {"F(1e999)", 3, "out of range"},
        {"F =", 4, "expected an argument"},
        {"F(1) = 2 3", 10, "unexpected '3'"}};
    for (const auto& [text, column, fault] : bad) {
        const std::string msg = thrown<CallSyntaxError>([&] { parseCall(text); });
        EXPECT_TRUE(msg.starts_with("column " + std::to_string(column) + ": ") &&
                    contains(msg, fault))
            << text << ": " << msg;
    }
}

// ---- Binding a call to an overload and to host values ----

struct Methods {
    std::vector<MethodInfo> infos;
    Methods(std::initializer_list<const char*> decls) {
        static int dummy;
        for (const char* text : decls) {
            MethodInfo m;
            m.className = "Picture";
            m.decl = parseDeclaration(text);
            m.function = &dummy;
            m.setter = contains(text, "Mask") || contains(text, "Table") ? &dummy : nullptr;
            infos.push_back(std::move(m));
        }
    }
    std::vector<const MethodInfo*> named(std::string_view name) const {
        std::vector<const MethodInfo*> out;
        for (const MethodInfo& m : infos)
            if (m.decl.name == name) out.push_back(&m);
        return out;
    }
};

// The overload chosen (its position in the list), or the fault; every overload is listed then.
TEST(Binding, ChoosesByCountThenFitThenExactness) {
    const Methods all{
        "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
        "InvertQRX as picture",
        "isGrayQRX(tolerance as integer = 0) as boolean",
        "isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as "
        "integer) as boolean",
        "F(a as integer) as integer",
        "F(a as double) as integer",
        "G(a as double) as integer",
        "G(a as integer) as integer",
        "EmbeddedMaskQRX(swap as boolean) as picture",
        "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean",
        "Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double",
        "CountColorQRX(col as color) as integer",
        "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, BackColor as "
        "color=&c88B5C4, Bits as Integer = 8, AutoScale as boolean = false) as Picture",
        "Use(o as PictureSepiaQRX, s as string)"};
    const std::pair<const char*, const char*> rows[] = {
        {"InvertQRX", "1"},
        {"InvertQRX()", "1"},
        {"InvertQRX(5, 5, 120, 80)", "0"},
        {"InvertQRX(-2147483648, 0, 2147483647, 0)", "0"},
        {"InvertQRX(1, 2)", "takes 4 arguments"},
        {"InvertQRX(1.5, 2, 3, 4)", "argument 1 (left as integer): '1.5' is not an integer"},
        {"InvertQRX(2147483648, 2, 3, 4)", "outside the 32-bit integer range"},
        {"InvertQRX(a.png, 2, 3, 4)", "'a.png' is not an integer"},
        {"isGrayQRX", "2"},
        {"isGrayQRX(3)", "2"},
        {"isGrayQRX(3, 0, 0, 10, 10)", "3"},
        {"isGrayQRX(3, 0)", "takes 0 to 1 arguments"},
        {"F(2)", "4"},
        {"F(2.5)", "5"},
        {"G(2)", "7"},
        {"G(2.0)", "6"},
        {"F(true)", "'true' is not a number"},
        {"EmbeddedMaskQRX(true)", "8"},
        {"EmbeddedMaskQRX(true) = m.png", "8"},
        {"EmbeddedMaskQRX(true) = nil", "8"},
        {"EmbeddedMaskQRX(true) = 5", "assigned value (as picture)"},
        {"EmbeddedMaskQRX(1) = m.png", "is not true or false"},
        {"InvertQRX = x.png", "is not assignable"},
        {"FindPicture(part.png, x, y)", "9"},
        {"FindPicture(\"my part.png\", \"x out\", y)", "9"},
        {"FindPicture(part.png, 1, y)", "takes an output name"},
        {"FindPicture(5, x, y)", "not a file name or nil"},
        {"Table(0, 0, 0, 4294967295) = 1", "10"},
        {"Table(0, 0, 0, -1)", "outside 0 to 4294967295"},
        {"CountColorQRX(&c00FF00)", "11"},
        {"CountColorQRX(65280)", "not a colour"},
        {"RenderSamplesQRX(s.raw, 100)", "12"},
        {"RenderSamplesQRX(nil, 100, &c000000, 16, true)", "12"},
        {"RenderSamplesQRX(s.raw)", "takes 2 to 5 arguments"},
        {"Use(nil, data.bin)", "13"},
        {"Use(obj, data.bin)", "only nil can be given"}};
    for (const auto& [text, want] : rows) {
        SCOPED_TRACE(text);
        const CallExpr call = parseCall(text);
        const auto overloads = all.named(call.name);
        if (std::isdigit(want[0])) {
            EXPECT_EQ(chooseOverload(overloads, call, call.name),
                      &all.infos[size_t(std::stoi(want))]);
            continue;
        }
        try {
            chooseOverload(overloads, call, call.name);
            ADD_FAILURE() << "no error";
        } catch (const UsageError& e) {
            EXPECT_EQ(e.code(), kExitUsage);
            EXPECT_TRUE(contains(e.what(), want)) << e.what();
            for (const MethodInfo* m : overloads)
                EXPECT_TRUE(contains(e.what(), m->decl.text))
                    << "overload not listed: " << e.what();
        }
    }
}

TEST(Binding, FitsAndExactFitsByTypeKind) {
    const std::tuple<TypeKind, const char*, bool, bool> rows[] = {
        {TypeKind::Integer, "7", true, true},      {TypeKind::Integer, "7.0", false, false},
        {TypeKind::UInt32, "7", true, true},       {TypeKind::UInt32, "-7", false, true},
        {TypeKind::Double, "7", true, false},      {TypeKind::Double, "7.5", true, true},
        {TypeKind::Double, "x", false, false},     {TypeKind::Boolean, "false", true, true},
        {TypeKind::Boolean, "0", false, false},    {TypeKind::Color, "&c010203", true, true},
        {TypeKind::Picture, "a.png", true, true},  {TypeKind::Picture, "nil", true, false},
        {TypeKind::Picture, "true", false, false}, {TypeKind::MemoryBlock, "\"b c\"", true, true},
        {TypeKind::String, "f.bin", true, true},   {TypeKind::Object, "nil", true, true},
        {TypeKind::Object, "a.png", false, false}};
    for (const auto& [kind, token, fits, exact] : rows) {
        const ArgToken t = parseCall(std::string("F(") + token + ")").args.at(0);
        EXPECT_EQ(!misfit(Type{kind, "t"}, false, t).has_value(), fits) << token;
        EXPECT_EQ(exactFit(Type{kind, "t"}, t), exact) << token;
    }
}

TEST(Binding, ArgumentsBecomeHostValues) {
    ScratchDir dir;
    Image img{3, 2, false, std::vector<uint8_t>(24), {}};
    for (size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = i % 4 == 3 ? 255 : uint8_t(i * 9);
    writeImage(dir / "p.png", img);
    const std::string raw("\x00\x01\xFE\xFFzz", 6), bin = (dir / "raw.bin").string();
    writeFile(bin, raw);
    const Methods m{
        "M(i as integer, u as UInt32, d as double, b as boolean, c as color, p as picture, mb as "
        "memoryblock, s as string, byref oi as integer, byref od as double, byref ob as boolean, "
        "byref oc as color, byref op as picture, q as picture)"};
    Host host;
    const BoundArgs b =
        bindArguments(host, m.infos[0],
                      parseCall("M(-3, 4000000000, 2, true, &cA1B2C3, " + (dir / "p.png").string() +
                                ", " + bin + ", \"" + bin + "\", n1, n2, n3, n4, n5, nil)")
                          .args);
    ASSERT_EQ(b.values.size(), 14u);
    EXPECT_EQ(std::get<int32_t>(b.values[0]), -3);
    EXPECT_EQ(std::get<uint32_t>(b.values[1]), 4000000000u);
    EXPECT_EQ(std::get<double>(b.values[2]), 2.0);
    EXPECT_EQ(std::get<bool>(b.values[3]), true);
    EXPECT_EQ(std::get<Color>(b.values[4]).value, 0xA1B2C3u);
    EXPECT_EQ(std::get<Ref>(b.values[5]).as<Picture>()->toImage().rgba, img.rgba);
    const auto& block = std::get<Ref>(b.values[6]).as<MemoryBlock>()->bytes;
    EXPECT_EQ(std::string(block.begin(), block.end()), raw);
    const String* str = std::get<Ref>(b.values[7]).as<String>();
    EXPECT_EQ(std::string(str->bytes().begin(), str->bytes().end()), raw);
    EXPECT_EQ(str->encoding, kREALTextEncodingRaw);
    EXPECT_EQ(std::get<int32_t>(b.values[8]), 0);
    EXPECT_EQ(std::get<double>(b.values[9]), 0.0);
    EXPECT_EQ(std::get<bool>(b.values[10]), false);
    EXPECT_EQ(std::get<Color>(b.values[11]).value, 0u);
    EXPECT_TRUE(std::holds_alternative<Nil>(b.values[12]) &&
                std::holds_alternative<Nil>(b.values[13]));
    EXPECT_EQ(b.outputNames, (std::vector<std::string>{"", "", "", "", "", "", "", "", "n1", "n2",
                                                       "n3", "n4", "n5", ""}));
}

TEST(Binding, UnreadableFilesNameTheArgumentAndTheFile) {
    ScratchDir dir;
    writeFile(dir / "bad.png", "not a png");
    const Methods m{"M(a as integer, p as picture)", "N(mb as memoryblock)"};
    Host host;
    const std::tuple<int, std::string, const char*, const char*> rows[] = {
        {0, "M(1, @bad.png)", "argument 2 (p as picture)", "not a PNG"},
        {0, "M(1, @none.ppm)", "argument 2 (p as picture)", "No such file"},
        {0, "M(1, @x.tiff)", "argument 2 (p as picture)", "unknown picture file type"},
        {1, "N(@gone.bin)", "argument 1 (mb as memoryblock)", "No such file"}};
    for (auto [method, call, argument, fault] : rows) {
        const std::string file =
            call.substr(call.find('@') + 1, call.find(')') - call.find('@') - 1);
        call.replace(call.find('@'), 1, dir.path().string() + "/");
        const std::string msg = thrown<UsageError>(
            [&] { bindArguments(host, m.infos[size_t(method)], parseCall(call).args); });
        EXPECT_TRUE(msg.starts_with(argument) && contains(msg, file) && contains(msg, fault))
            << msg;
    }
}

TEST(Binding, ClosestNames) {
    const std::vector<std::string> names = {"InvertQRX",         "InvertGrayQRX", "isWhiteQRX",
                                            "isBlackQRX",        "isGrayQRX",     "ScrollQRX",
                                            "ScrollVerticalQRX", "ColornessQRX",  "InvertQRX"};
    using V = std::vector<std::string>;
    EXPECT_EQ(closestNames("InvertQR", names), V{"InvertQRX"});
    EXPECT_EQ(closestNames("invertqrx", names), V{"InvertQRX"});
    EXPECT_EQ(closestNames("isGreyQRX", names, 1), V{"isGrayQRX"});
    EXPECT_EQ(closestNames("Scroll", names), (V{"ScrollQRX", "ScrollVerticalQRX"}));
    EXPECT_EQ(closestNames("Blur", names), V{});
    EXPECT_EQ(closestNames("F", names), V{});
}

TEST(ValueOut, TextAndJson) {
    Host host;
    const uint8_t bytes[] = {0, 0x7F, 0xAB};
    const std::vector<std::tuple<Value, std::string, nlohmann::json>> rows = {
        {Value(int32_t(-5)), "-5", -5},
        {Value(uint32_t(4000000000u)), "4000000000", 4000000000u},
        {Value(2.0), "2.0", 2.0},
        {Value(0.1), "0.1", 0.1},
        {Value(-1.5e-7), "-1.5e-07", -1.5e-7},
        {Value(true), "true", true},
        {Value(Color{0xFF88B5C4}), "&c88B5C4", "&c88B5C4"},
        {Value(Nil{}), "nil", nullptr},
        {Value(host.newMemoryBlock(bytes)),
         "<MemoryBlock 3 bytes> 007fab",
         {{"size", 3}, {"hex", "007fab"}}},
        {Value(host.newString("a\"b\\\n\x01", kREALTextEncodingRaw)), "\"a\\\"b\\\\\\n\\x01\"",
         "a\"b\\\n\x01"},
        {Value(host.newPicture(7, 3, false)),
         "<Picture 7x3>",
         {{"width", 7}, {"height", 3}, {"path", nullptr}}}};
    for (const auto& [value, text, json] : rows) {
        EXPECT_EQ(valueText(value), text);
        EXPECT_EQ(valueJson(value), json) << text;
    }
    EXPECT_EQ(valueJson(Value(host.newPicture(2, 1, true)), std::string("o.png"))["path"], "o.png");
    for (double d : {1.0 / 3.0, 1e300, -0.0, 255.0 / 7.0})
        EXPECT_EQ(std::stod(doubleText(d)), d) << doubleText(d);
}

// ---- .cube files ----

using Rgb = std::array<double, 3>;
std::string num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}
// A cube of n points per axis holding f at the fractions of each point, red fastest.
std::string cubeText(int n, const std::function<Rgb(double, double, double)>& f,
                     const std::string& header = "") {
    std::string s = header + "LUT_3D_SIZE " + std::to_string(n) + "\n";
    for (int i = 0; i < n * n * n; ++i) {
        const Rgb v =
            f(double(i % n) / (n - 1), double(i / n % n) / (n - 1), double(i / n / n) / (n - 1));
        s += num(v[0]) + " " + num(v[1]) + " " + num(v[2]) + "\n";
    }
    return s;
}

// Multilinear in each output with different coefficients per axis, so trilinear resampling
// reproduces it and an exchanged axis shows.
Rgb multilinear(double r, double g, double b) {
    return {0.1 + 0.7 * r + 0.05 * g - 0.02 * b + 0.1 * r * g, 0.9 * g - 0.2 * r * b + 0.15 * b,
            1.0 - 0.5 * b + 0.25 * r - 0.125 * r * g * b};
}

// Node k of the filter's grid is the input k / 15; nodes 16 and 17 repeat node 15.
TEST(Cube, ResampledOntoTheFilterGrid) {
    for (int n : {2, 16, 17, 33}) {
        const std::vector<double> table =
            lutTable(parseCube(cubeText(n, multilinear), "grade.cube"));
        for (int i = 0; i < kLutNodes * kLutNodes * kLutNodes; ++i) {
            const int r = i / 324, g = i / 18 % 18, b = i % 18;
            const Rgb want =
                multilinear(std::min(r, 15) / 15.0, std::min(g, 15) / 15.0, std::min(b, 15) / 15.0);
            for (int x = 0; x < 3; ++x)
                ASSERT_NEAR(table[lutIndex(r, g, b, x)], want[size_t(x)] * 255.0, 1e-9)
                    << n << ": " << r << "," << g << "," << b;
        }
    }
    // Sixteen points are taken as they are, without a blend of neighbours.
    std::mt19937 rng(16);
    std::vector<Rgb> points(4096);
    std::string text = "LUT_3D_SIZE 16\n";
    for (Rgb& p : points) {
        p = {rng() / 4294967296.0, rng() / 4294967296.0, rng() / 4294967296.0};
        text += num(p[0]) + " " + num(p[1]) + " " + num(p[2]) + "\n";
    }
    const std::vector<double> exact = lutTable(parseCube(text, "exact.cube"));
    for (int i = 0; i < 4096 * 3; ++i)
        ASSERT_EQ(exact[lutIndex(i / 3 % 16, i / 48 % 16, i / 768, i % 3)],
                  points[size_t(i / 3)][size_t(i % 3)] * 255.0)
            << i;
    // Between points: size 4 along red holds 0, 0.2, 0.9, 1; node 7 lies at 1.4, node 12 at 2.4.
    std::string steps = "LUT_3D_SIZE 4\n";
    for (int i = 0; i < 64; ++i)
        steps += std::array{"0", "0.2", "0.9", "1"}[size_t(i % 4)] + std::string(" 0 0\n");
    const std::vector<double> t = lutTable(parseCube(steps, "steps.cube"));
    for (auto [node, want] : {std::pair{0, 0.0},
                              {5, 0.2},
                              {7, 0.2 + 0.4 * 0.7},
                              {12, 0.9 + 0.4 * 0.1},
                              {15, 1.0},
                              {17, 1.0}})
        EXPECT_NEAR(t[lutIndex(node, 8, 4, 0)], want * 255.0, 1e-9) << node;
}

TEST(Cube, DomainLocatesTheInputs) {
    // Over 0 to 2 with outputs equal to inputs, node k (the input k / 15) holds 17 k.
    const Cube wide = parseCube(cubeText(
                                    17,
                                    [](double r, double g, double b) {
                                        return Rgb{2 * r, 2 * g, 2 * b};
                                    },
                                    "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\n"),
                                "w.cube");
    // Over 0.5 to 1 on red, inputs below 0.5 take the lower end.
    const Cube upper = parseCube(cubeText(
                                     17,
                                     [](double r, double g, double b) {
                                         return Rgb{0.5 + 0.5 * r, g, b};
                                     },
                                     "DOMAIN_MIN 0.5 0 0\nDOMAIN_MAX 1 1 1\n"),
                                 "u.cube");
    const auto tw = lutTable(wide), tu = lutTable(upper);
    for (int k = 0; k <= 15; ++k) {
        EXPECT_NEAR(tw[lutIndex(k, 15 - k, 0, 0)], 17.0 * k, 1e-9) << k;
        EXPECT_NEAR(tu[lutIndex(k, 3, 9, 0)], std::max(17.0 * k, 127.5), 1e-9) << k;
    }
    const Cube range = parseCube(cubeText(
                                     2,
                                     [](double r, double g, double b) {
                                         return Rgb{r, g, b};
                                     },
                                     "LUT_3D_INPUT_RANGE 0.5 4\n"),
                                 "r.cube");
    EXPECT_EQ(range.domainMin, (Rgb{0.5, 0.5, 0.5}));
    EXPECT_EQ(range.domainMax, (Rgb{4, 4, 4}));
}

TEST(Cube, AcceptsCommentsTitleBlankLinesCrlfAndNumberForms) {
    const Cube cube =
        parseCube("\xEF\xBB\xBF# by hand\r\nTITLE \"Warm # no comment\"\r\n\r\n  LUT_3D_SIZE\t2   "
                  "# two\r\nDOMAIN_MIN 0 0 0\r\n"
                  "DOMAIN_MAX 1 1 1\r\n\r\n0 0 0\r\n+1.0 0 0\r\n# between\r\n0 1e0 .0\r\n1 1 "
                  "0\r\n\t0 0 1\r\n1 0 1\r\n0 1 1\r\n1.0 1.0 -2.5E-1 # last",
                  "warm.cube");
    EXPECT_EQ(cube.title, "Warm # no comment");
    EXPECT_EQ(cube.size3D, 2);
    ASSERT_EQ(cube.data.size(), 8u);
    EXPECT_EQ(cube.data[1], (Rgb{1, 0, 0}));
    EXPECT_EQ(cube.data[2], (Rgb{0, 1, 0}));
    EXPECT_EQ(cube.data[4], (Rgb{0, 0, 1}));
    EXPECT_EQ(cube.data[7], (Rgb{1, 1, -0.25}));
}

// One-dimensional tables, interpolated between entries and clamped: with five entries i = 96
// lies at 96 * 4 / 255 = 1 + 129 / 255, i = 200 at 3 + 35 / 255.
TEST(Cube, OneDimensionalTables) {
    const Cube cube =
        parseCube("TITLE unquoted words\nLUT_1D_SIZE 3\n0 1 0.2\n0.5 0.5 0.2\n1 0 0.2\n", "c.cube");
    EXPECT_EQ(cube.title, "unquoted words");
    EXPECT_FALSE(cube.is3D());
    const auto t = curveTables(cube);
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

TEST(Cube, MalformedFilesNameTheLine) {
    auto data = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += "0.5 0.25 0\n";
        return s;
    };
    const std::tuple<std::string, int, const char*> rows[] = {
        {"LUT_3D_SIZE 2\n0 0 0\n0 0\n" + data(6), 3, "expected 3 values on a data line, found 2"},
        {"# x\nLUT_3D_SIZE 2\n" + data(4) + "0 0 0 0\n", 7, "found 4"},
        {"LUT_3D_SIZE 2\n" + data(2) + "0 0.5 abc\n", 4, "'abc' is not a number"},
        {"LUT_3D_SIZE 2\n0 1.0x 0\n", 2, "'1.0x' is not a number"},
        {"LUT_3D_SIZE 2\n0 +-1 0\n", 2, "'+-1' is not a number"},
        {"LUT_3D_SIZE 2\n0 -inf 0\n", 2, "'-inf' is not a number"},
        {"TITLE \"x\"\n\n0 0 0\n", 3, "a data line before LUT_3D_SIZE or LUT_1D_SIZE"},
        {"TITLE \"x\"\n# nothing\n", 2, "no LUT_3D_SIZE or LUT_1D_SIZE"},
        {"", 1, "no LUT_3D_SIZE or LUT_1D_SIZE"},
        {"LUT_3D_SIZE 2\r\n\r\nLUT_3D_SIZE 2\r\n", 3,
         "a second size: LUT_3D_SIZE after LUT_3D_SIZE on line 1"},
        {"LUT_1D_SIZE 4\nLUT_3D_SIZE 2\n", 2, "LUT_3D_SIZE after LUT_1D_SIZE on line 1"},
        {"LUT_3D_SIZE 1\n0 0 0\n", 1, "LUT_3D_SIZE 1 is out of range (2 to 256)"},
        {"\nLUT_3D_SIZE 257\n", 2, "out of range (2 to 256)"},
        {"LUT_1D_SIZE 65537\n", 1, "out of range (2 to 65536)"},
        {"LUT_3D_SIZE 2.5\n", 1, "'2.5' is not a whole number"},
        {"LUT_3D_SIZE\n", 1, "expected 1 value, found 0"},
        {"LUT_3D_SIZE 2\n" + data(7), 8, "7 data lines, LUT_3D_SIZE 2 calls for 8"},
        {"LUT_1D_SIZE 3\n" + data(2) + "\n# end\n", 5, "2 data lines, LUT_1D_SIZE 3 calls for 3"},
        {"LUT_3D_SIZE 2\n" + data(9), 10, "more data lines than the 8"},
        {"DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\nLUT_3D_SIZE 2\n" + data(8), 2,
         "the domain minimum must be below the maximum (green: 0 to 0)"},
        {"DOMAIN_MAX 1 1 0.5\n# c\nDOMAIN_MIN 0 0 0.75\nLUT_3D_SIZE 2\n" + data(8), 3,
         "(blue: 0.75 to 0.5)"},
        {"LUT_3D_INPUT_RANGE 1 0\nLUT_3D_SIZE 2\n" + data(8), 1, "(red: 1 to 0)"},
        {"DOMAIN_MIN 0 0\n", 1, "DOMAIN_MIN: expected 3 values"},
        {"DOMAIN_MAX 1 one 1\n", 1, "DOMAIN_MAX: 'one' is not a number"},
        {"DOMAIN_MIN 0 0 0\nDOMAIN_MIN 0 0 0\n", 2, "a second domain minimum"},
        {"LUT_3D_SIZE 2\nLUT_4D_SIZE 2\n", 2, "unknown keyword 'LUT_4D_SIZE'"},
        {"lut_3d_size 2\n", 1, "unknown keyword 'lut_3d_size'"},
        {"LUT_3D_SIZE 2\n" + data(3) + "TITLE \"late\"\n", 5, "keyword TITLE after the data lines"},
        {"TITLE \"open\n", 1, "the closing quote is missing"}};
    for (const auto& [text, line, fault] : rows) {
        const std::string msg = thrown<CubeError>([&] { parseCube(text, "grade.cube"); });
        EXPECT_TRUE(msg.starts_with("grade.cube:" + std::to_string(line) + ": ") &&
                    contains(msg, fault))
            << text << "\n"
            << msg;
    }
    ScratchDir dir;
    EXPECT_TRUE(contains(thrown<CubeError>([&] { readCube(dir / "missing.cube"); }),
                         "missing.cube: cannot read"));
    writeFile(dir / "ok.cube", "LUT_1D_SIZE 2\r\n0 0 0\r\n1 1 1\r\n");
    EXPECT_EQ(readCube(dir / "ok.cube").size1D, 2);
}

// ---- Picture files ----

// A PNG written by libpng itself, so the reader is checked against files it did not write.
struct Png {
    int width, height, colorType, depth;
    std::vector<int> samples; // row-major, the colour type's channels per pixel
    std::vector<png_color> palette = {};
    std::vector<png_byte> trnsAlpha = {};
    std::optional<png_color_16> trnsColor = {};
    bool interlaced = false;
};

void writePng(const fs::path& path, const Png& f) {
    const int channels = f.colorType == PNG_COLOR_TYPE_RGB          ? 3
                         : f.colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : f.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                    : 1;
    std::vector<std::vector<png_byte>> rows(
        size_t(f.height), std::vector<png_byte>(size_t((f.width * channels * f.depth + 7) / 8)));
    for (int i = 0; i < f.width * f.height * channels; ++i) {
        auto& row = rows[size_t(i / (f.width * channels))];
        const int k = i % (f.width * channels), v = f.samples[size_t(i)];
        if (f.depth == 16)
            row[size_t(2 * k)] = png_byte(v >> 8), row[size_t(2 * k + 1)] = png_byte(v);
        else
            row[size_t(k * f.depth / 8)] |= png_byte(v << (8 - f.depth - k * f.depth % 8));
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(f.width), png_uint_32(f.height), f.depth, f.colorType,
                 f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
    if (!f.palette.empty()) png_set_PLTE(png, info, f.palette.data(), int(f.palette.size()));
    if (!f.trnsAlpha.empty())
        png_set_tRNS(png, info, f.trnsAlpha.data(), int(f.trnsAlpha.size()), nullptr);
    if (f.trnsColor) png_set_tRNS(png, info, nullptr, 0, &*f.trnsColor);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (auto& r : rows)
        pointers.push_back(r.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// 16-bit samples are rounded: 0x12FF is 18.93 in 8 bits, so 19 where truncation gives 18.
TEST(ImageRead, PngOfEveryColourTypeAndDepth) {
    std::vector<int> interlaced, interlacedRgba;
    for (int i = 0; i < 81; ++i)
        interlaced.insert(interlaced.end(), {i, 255 - i, i * 7 % 256}),
            interlacedRgba.insert(interlacedRgba.end(), {i, 255 - i, i * 7 % 256, 255});
    const std::vector<std::tuple<const char*, Png, bool, std::vector<int>>> rows = {
        {"rgb8",
         {3, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 250, 128, 0, 255, 255, 255}},
         false,
         {1, 2, 3, 255, 250, 128, 0, 255, 255, 255, 255, 255}},
        {"rgba8",
         {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {10, 20, 30, 0, 200, 100, 50, 128}},
         true,
         {10, 20, 30, 0, 200, 100, 50, 128}},
        {"gray8",
         {3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 77, 255}},
         false,
         {0, 0, 0, 255, 77, 77, 77, 255, 255, 255, 255, 255}},
        {"gray1",
         {4, 1, PNG_COLOR_TYPE_GRAY, 1, {1, 0, 0, 1}},
         false,
         {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255}},
        {"gray4",
         {3, 1, PNG_COLOR_TYPE_GRAY, 4, {0, 5, 15}},
         false,
         {0, 0, 0, 255, 85, 85, 85, 255, 255, 255, 255, 255}},
        {"gray_alpha8",
         {2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {40, 0, 200, 255}},
         true,
         {40, 40, 40, 0, 200, 200, 200, 255}},
        {"palette8",
         {3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1}, {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}}},
         false,
         {7, 8, 9, 255, 255, 0, 0, 255, 0, 128, 255, 255}},
        {"palette2_trns",
         {4,
          1,
          PNG_COLOR_TYPE_PALETTE,
          2,
          {0, 1, 2, 3},
          {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}, {1, 1, 1}},
          {0, 100}},
         true,
         {255, 0, 0, 0, 0, 128, 255, 100, 7, 8, 9, 255, 1, 1, 1, 255}},
        {"rgb8_trns",
         {2, 1, PNG_COLOR_TYPE_RGB, 8, {5, 6, 7, 5, 6, 8}, {}, {}, png_color_16{0, 5, 6, 7, 0}},
         true,
         {5, 6, 7, 0, 5, 6, 8, 255}},
        {"gray8_trns",
         {2, 1, PNG_COLOR_TYPE_GRAY, 8, {9, 10}, {}, {}, png_color_16{0, 0, 0, 0, 9}},
         true,
         {9, 9, 9, 0, 10, 10, 10, 255}},
        {"rgb16",
         {2, 1, PNG_COLOR_TYPE_RGB, 16, {0x12FF, 0x8080, 0xFFFF, 0, 0x00FF, 0x7F7F}},
         false,
         {19, 128, 255, 255, 0, 1, 127, 255}},
        {"rgba16",
         {1, 2, PNG_COLOR_TYPE_RGB_ALPHA, 16, {0xFFFF, 0x0180, 0x4000, 0x8000, 1, 2, 3, 0xFF7F}},
         true,
         {255, 1, 64, 128, 0, 0, 0, 255}},
        {"gray_alpha16",
         {2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0xABCD, 0x0101, 0, 0xFFFF}},
         true,
         {171, 171, 171, 1, 0, 0, 0, 255}},
        {"rgb8_interlaced",
         {9, 9, PNG_COLOR_TYPE_RGB, 8, interlaced, {}, {}, {}, true},
         false,
         interlacedRgba}};
    ScratchDir dir;
    for (const auto& [name, png, alpha, rgba] : rows) {
        writePng(dir / "in.png", png);
        const Image img = readImage(dir / "in.png");
        EXPECT_EQ(img.width * 100 + img.height, png.width * 100 + png.height) << name;
        EXPECT_EQ(img.hasAlpha, alpha) << name;
        EXPECT_EQ(std::vector<int>(img.rgba.begin(), img.rgba.end()), rgba) << name;
    }
}

// A JPEG written by libjpeg directly, 16 x 16 of one colour, in any colour space. libjpeg writes
// CMYK with an Adobe marker, which holds inverted inks: ink C 40, M 100, Y 200, K 20 gives red
// (255 - 40)(255 - 20) / 255 = 198, green 143, blue 51.
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

TEST(ImageRead, JpegColourSpacesBecomeRgb) {
    const std::tuple<J_COLOR_SPACE, std::vector<uint8_t>, std::array<int, 3>> rows[] = {
        {JCS_GRAYSCALE, {90}, {90, 90, 90}},
        {JCS_RGB, {200, 40, 120}, {200, 40, 120}},
        {JCS_CMYK, {255 - 40, 255 - 100, 255 - 200, 255 - 20}, {198, 143, 51}}};
    for (const auto& [space, pixel, want] : rows) {
        const Image img = decodeImage(jpegOf(space, pixel), ImageFormat::Jpeg, "f.jpg");
        ASSERT_EQ(img.width * img.height, 256);
        EXPECT_FALSE(img.hasAlpha);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(img.pixel(7, 9)[c], c < 3 ? want[size_t(c)] : 255, 2)
                << int(space) << " component " << c;
    }
}

// Measured on the sample: quality 10 gives 24.9 dB, 89 gives 28.9 (colour at half resolution),
// 90 gives 50.1, 100 gives 56.7. From the default on, 40 dB leaves room for other libjpeg builds
// and fails an encoder that halves the colour resolution, drops or swaps a channel.
TEST(ImageWrite, JpegGrowsAndNearsTheSourceWithQuality) {
    const Image sample = readImage(qrxclitest::kSample);
    size_t lastSize = 0;
    double lastPsnr = 0;
    for (int quality : {10, 50, kDefaultJpegQuality, 100}) {
        const std::string bytes = encodeImage(sample, ImageFormat::Jpeg, quality, "t");
        const Image back = decodeImage(bytes, ImageFormat::Jpeg, "t");
        double sum = 0;
        for (size_t i = 0; i < sample.rgba.size(); ++i)
            sum += i % 4 == 3 ? 0 : std::pow(double(sample.rgba[i]) - back.rgba[i], 2);
        const double psnr = 10 * std::log10(255.0 * 255 * double(sample.rgba.size() / 4 * 3) / sum);
        EXPECT_GT(bytes.size(), lastSize) << quality;
        EXPECT_GT(psnr, quality >= kDefaultJpegQuality ? std::max(lastPsnr, 40.0) : lastPsnr)
            << quality;
        lastSize = bytes.size(), lastPsnr = psnr;
    }
}

TEST(ImageRead, NetpbmBytes) {
    ScratchDir dir;
    writeFile(dir / "c.ppm",
              "P6 # comment\n# more\n2\n1 255\n" + std::string("\x09\x08\x07\x00\xFF\x10", 6));
    EXPECT_EQ(readImage(dir / "c.ppm").rgba, (std::vector<uint8_t>{9, 8, 7, 255, 0, 255, 16, 255}));
    writeFile(dir / "g.pam", "P7\n# gray\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE "
                             "GRAYSCALE_ALPHA\nENDHDR\n\x05\x06\x07\x08");
    const Image pam = readImage(dir / "g.pam");
    EXPECT_TRUE(pam.hasAlpha);
    EXPECT_EQ(pam.rgba, (std::vector<uint8_t>{5, 5, 5, 6, 7, 7, 7, 8}));
    const Image img{2, 1, true, {1, 2, 3, 4, 250, 251, 252, 253}, {}};
    EXPECT_EQ(encodeImage(img, ImageFormat::Pam, 90, "a"),
              "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE "
              "RGB_ALPHA\nENDHDR\n\x01\x02\x03\x04\xFA\xFB\xFC\xFD");
    EXPECT_EQ(encodeImage(img, ImageFormat::Ppm, 90, "a"),
              "P6\n2 1\n255\n\x01\x02\x03\xFA\xFB\xFC");
    EXPECT_EQ(encodeImage(Image{2, 1, false, img.rgba, {}}, ImageFormat::Pam, 90, "a"),
              "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE "
              "RGB\nENDHDR\n\x01\x02\x03\xFA\xFB\xFC");
    // PNG: 8-bit RGB without alpha, RGBA with it (IHDR bit depth at byte 24, colour type at 25).
    EXPECT_EQ(encodeImage(img, ImageFormat::Png, 90, "a").substr(24, 2), "\x08\x06");
    EXPECT_EQ(
        encodeImage(Image{2, 1, false, img.rgba, {}}, ImageFormat::Png, 90, "a").substr(24, 2),
        "\x08\x02");
}

TEST(ImageRead, FaultsNameTheFile) {
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"none.png", "", "No such file"},
        {"dir.png", "<dir>", "directory"},
        {"pic.gif", "GIF89a", "unknown picture file type"},
        {"fake.png", "P6\n1 1\n255\n\x01\x02\x03", "not a PNG"},
        {"cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "bad PNG"},
        {"t.ppm", "P6\n2 2\n255\n\x01\x02\x03", "truncated"},
        {"m.ppm", "P6\n1 1\n65535\n\x01\x02\x03\x04\x05\x06", "maxval"},
        {"a.ppm", "P3\n1 1\n255\n1 2 3\n", "P6"},
        {"z.ppm", "P6\n0 1\n255\n", "empty"},
        {"d.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcd",
         "DEPTH"},
        {"u.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE BLACKANDWHITE\nENDHDR\na",
         "TUPLTYPE"},
        {"e.pam", "P7\nWIDTH 1\nHEIGHT 1\n", "header ends early"},
        {"e.jpg", "", "bad JPEG"},
        {"p.jpg", "\x89PNG\r\n\x1A\n....", "bad JPEG"},
        {"h.jpg", jpegOf(JCS_GRAYSCALE, {128}).substr(0, 20), "damaged JPEG: Premature end"}};
    ScratchDir dir;
    for (const auto& [file, bytes, fault] : cases) {
        if (bytes == "<dir>")
            fs::create_directory(dir / file);
        else if (!bytes.empty() || std::string(file).ends_with(".jpg"))
            writeFile(dir / file, bytes);
        const std::string msg = thrown<ImageFileError>([&] { readImage(dir / file); });
        EXPECT_TRUE(contains(msg, (dir / file).string()) && contains(msg, fault))
            << file << ": " << msg;
    }
}

TEST(ImageFormats, ByExtensionNameAndFirstBytes) {
    using F = ImageFormat;
    for (const auto& [path, format] : {std::pair{"a.png", F::Png},
                                       {"a.PNG", F::Png},
                                       {"a.jpg", F::Jpeg},
                                       {"a.JPEG", F::Jpeg},
                                       {"a.Jpg", F::Jpeg},
                                       {"a.pam", F::Pam},
                                       {"a.PPM", F::Ppm}})
        EXPECT_EQ(imageFormatFor(path), format) << path;
    EXPECT_THROW(imageFormatFor("a.jfif"), ImageFileError);
    const std::vector<std::pair<std::string, std::optional<F>>> byName = {
        {"png", F::Png}, {"jpeg", F::Jpeg}, {"jpg", F::Jpeg}, {"pam", F::Pam},
        {"ppm", F::Ppm}, {"PNG", {}},       {"gif", {}},      {"", {}}};
    for (const auto& [name, format] : byName)
        EXPECT_EQ(imageFormatNamed(name), format) << name;
    const std::vector<std::pair<std::string, std::optional<F>>> bySignature = {
        {std::string("\x89PNG\r\n\x1A\nrest", 12), F::Png},
        {std::string("\x89PNG\r\n\x1A", 7), {}},
        {"\xFF\xD8\xFF\xE0....", F::Jpeg},
        {"\xFF\xD8", {}},
        {"P7\nWIDTH 1\n", F::Pam},
        {"P7 ", {}},
        {"P6\n1 1\n255\n...", F::Ppm},
        {"P6 1 1 255 ...", F::Ppm},
        {"P5\n1 1\n255\n.", {}},
        {"PPIC....", {}},
        {"", {}}};
    for (const auto& [bytes, format] : bySignature)
        EXPECT_EQ(sniffImageFormat(bytes), format) << bytes;
}

// A write that fails leaves the old file, and no temporary one, where it was.
TEST(ImageWrite, FailedWritesLeaveWhatWasThere) {
    ScratchDir dir;
    const Image good{5, 4, false, std::vector<uint8_t>(80, 200), {}};
    writeImage(dir / "keep.png", good);
    const std::string before = qrxclitest::readFile(dir / "keep.png");
    Image bad = good;
    bad.rgba.resize(7);
    for (const auto& [path, img] : {std::pair{dir / "keep.png", bad},
                                    {dir / "out.gif", good},
                                    {dir / "out.png", Image{}},
                                    {fs::path("-"), good},
                                    {dir / "taken.ppm", good},
                                    {dir / "no" / "such.png", good}}) {
        fs::create_directory(dir / "taken.ppm");
        EXPECT_TRUE(contains(thrown<ImageFileError>([&] { writeImage(path, img); }),
                             path.filename().string()))
            << path;
    }
    EXPECT_EQ(qrxclitest::readFile(dir / "keep.png"), before);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"keep.png", "taken.ppm"}));
    EXPECT_TRUE(fs::is_empty(dir / "taken.ppm"));
}

// ---- The worker pool of qrx batch, with the shell as the worker ----

std::vector<std::vector<std::string>> shellJobs(const std::vector<std::string>& scripts) {
    std::vector<std::vector<std::string>> jobs;
    for (const std::string& s : scripts)
        jobs.push_back({"-c", s});
    return jobs;
}

TEST(WorkerPool, CollectsEachWorkersOutputAndEnd) {
    // The fifth writes more than a pipe holds on both streams at once; the sixth reads nothing.
    const auto jobs = shellJobs(
        {"echo one; echo two >&2", "echo failing >&2; exit 3", "kill -KILL $$", "kill -SEGV $$",
         "head -c 300000 /dev/zero | tr '\\0' o; head -c 200000 /dev/zero | tr '\\0' e >&2",
         "cat; echo read-nothing"});
    for (size_t parallel : {1, 3, 16}) {
        std::vector<size_t> started, finished;
        WorkerEvents events;
        events.starting = [&](size_t job) { started.push_back(job); };
        events.finished = [&](size_t job, const WorkerOutcome& o) {
            finished.push_back(job + 10 * o.started);
        };
        const auto run = runWorkers("/bin/sh", "sh", jobs, parallel, events);
        EXPECT_FALSE(run.interrupted);
        EXPECT_EQ(started, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
        std::sort(finished.begin(), finished.end());
        EXPECT_EQ(finished, (std::vector<size_t>{10, 11, 12, 13, 14, 15}));
        ASSERT_EQ(run.outcomes.size(), 6u);
        const auto& o = run.outcomes;
        EXPECT_TRUE(o[0].succeeded() && o[0].out == "one\n" && o[0].err == "two\n");
        EXPECT_TRUE(!o[1].succeeded() && o[1].exitCode == 3 && o[1].signal == 0 &&
                    o[1].err == "failing\n");
        EXPECT_TRUE(!o[2].succeeded() && o[2].signal == SIGKILL);
        EXPECT_EQ(signalName(o[3].signal), "SIGSEGV");
        EXPECT_TRUE(o[4].succeeded() && o[4].out == std::string(300000, 'o') &&
                    o[4].err == std::string(200000, 'e'));
        EXPECT_TRUE(o[5].succeeded() && o[5].out == "read-nothing\n");
    }
    const auto run = runWorkers("/nonexistent/qrx", "qrx", {{"a"}, {"b"}}, 2, {});
    for (const WorkerOutcome& o : run.outcomes)
        EXPECT_TRUE(!o.started && !o.succeeded() && contains(o.spawnError, "/nonexistent/qrx"))
            << o.spawnError;
}

// A Ctrl-C (sent by the first worker itself) stops further starts; the running worker finishes,
// and the signal handler is restored afterwards.
TEST(WorkerPool, InterruptStopsStartingMoreWorkers) {
    struct sigaction before {
    }, now{};
    sigaction(SIGINT, nullptr, &before);
    std::vector<int> interrupts;
    WorkerEvents events;
    events.interrupted = [&](int count) { interrupts.push_back(count); };
    const auto run =
        runWorkers("/bin/sh", "sh",
                   shellJobs({"kill -INT $PPID; echo finished", "echo 1", "echo 2"}), 1, events);
    EXPECT_TRUE(run.interrupted);
    EXPECT_EQ(interrupts, std::vector<int>{1});
    EXPECT_TRUE(run.outcomes[0].succeeded() && run.outcomes[0].out == "finished\n");
    EXPECT_FALSE(run.outcomes[1].started || run.outcomes[2].started);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, before.sa_handler);
}

} // namespace
