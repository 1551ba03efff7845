// Choosing the overload a written call means, turning its arguments into host values, suggesting
// names, and showing values.
#include <gtest/gtest.h>

#include "binding.h"
#include "cli_util_test.h"
#include "errors.h"
#include "image_io.h"
#include "qrx/objects.h"
#include "value_out.h"

namespace {

using namespace qrx;
using namespace qrx::cli;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

// Methods as the host keeps them, from declarations; assignable ones get a setter.
struct Methods {
    std::vector<MethodInfo> infos;
    std::vector<const MethodInfo*> ptrs;

    Methods(std::initializer_list<std::pair<const char*, bool>> decls) {
        static int dummy;
        for (auto& [text, assignable] : decls) {
            MethodInfo m;
            m.className = "Picture";
            m.decl = parseDeclaration(text);
            m.function = &dummy;
            m.setter = assignable ? &dummy : nullptr;
            infos.push_back(std::move(m));
        }
        for (const MethodInfo& m : infos)
            ptrs.push_back(&m);
    }
};

Methods invertAndGray() {
    return Methods{
        {"InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
         false},
        {"InvertQRX as picture", false},
        {"isGrayQRX(tolerance as integer = 0) as boolean", false},
        {"isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height "
         "as integer) as boolean",
         false},
        {"F(a as integer) as integer", false},
        {"F(a as double) as integer", false},
        {"G(a as double) as integer", false},
        {"G(a as integer) as integer", false},
        {"EmbeddedMaskQRX(swap as boolean) as picture", true},
        {"FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean", false},
        {"Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double", true},
        {"CountColorQRX(col as color) as integer", false},
        {"RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, BackColor as "
         "color=&c88B5C4, Bits as Integer = 8, AutoScale as boolean = false) as Picture",
         false},
        {"Use(o as PictureSepiaQRX, s as string)", false},
    };
}

// The overloads of one name.
std::vector<const MethodInfo*> named(const Methods& all, std::string_view name) {
    std::vector<const MethodInfo*> out;
    for (const MethodInfo* m : all.ptrs)
        if (m->decl.name == name) out.push_back(m);
    return out;
}

struct Choice {
    std::string call;
    std::string chosen; // the declaration, or "" for an error
    std::string fault;  // for an error: expected in the message
};

class ChooseOverload : public testing::TestWithParam<Choice> {};
void PrintTo(const Choice& c, std::ostream* os) {
    *os << c.call;
}

TEST_P(ChooseOverload, PicksByCountThenFitThenExactness) {
    const Choice& c = GetParam();
    Methods all = invertAndGray();
    CallExpr call = parseCall(c.call);
    auto overloads = named(all, call.name);
    ASSERT_FALSE(overloads.empty());
    if (!c.chosen.empty()) {
        const MethodInfo* m = chooseOverload(overloads, call, call.name);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->decl.text, c.chosen) << c.call;
        return;
    }
    try {
        chooseOverload(overloads, call, call.name);
        FAIL() << "no error for " << c.call;
    } catch (const UsageError& e) {
        std::string msg = e.what();
        EXPECT_EQ(e.code(), kExitUsage);
        EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
        for (const MethodInfo* m : overloads)
            EXPECT_NE(msg.find(m->decl.text), std::string::npos) << "overload not listed: " << msg;
    }
}

const char* kInvert4 =
    "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture";
const char* kGray1 = "isGrayQRX(tolerance as integer = 0) as boolean";
const char* kGray5 = "isGrayQRX(tolerance as integer, left as integer,top as integer,width as "
                     "integer,height as integer) as boolean";

INSTANTIATE_TEST_SUITE_P(
    Calls, ChooseOverload,
    testing::Values(
        Choice{"InvertQRX", "InvertQRX as picture", ""},
        Choice{"InvertQRX()", "InvertQRX as picture", ""},
        Choice{"InvertQRX(5, 5, 120, 80)", kInvert4, ""},
        Choice{"InvertQRX(-2147483648, 0, 2147483647, 0)", kInvert4, ""},
        Choice{"InvertQRX(1, 2)", "", "takes 4 arguments"},
        Choice{"InvertQRX(1.5, 2, 3, 4)", "",
               "argument 1 (left as integer): '1.5' is not an integer"},
        Choice{"InvertQRX(2147483648, 2, 3, 4)", "", "outside the 32-bit integer range"},
        Choice{"InvertQRX(a.png, 2, 3, 4)", "", "'a.png' is not an integer"},
        Choice{"isGrayQRX", kGray1, ""}, Choice{"isGrayQRX(3)", kGray1, ""},
        Choice{"isGrayQRX(3, 0, 0, 10, 10)", kGray5, ""},
        Choice{"isGrayQRX(3, 0)", "", "takes 0 to 1 arguments"},
        Choice{"F(2)", "F(a as integer) as integer", ""},
        Choice{"F(2.5)", "F(a as double) as integer", ""},
        Choice{"G(2)", "G(a as integer) as integer", ""},
        Choice{"G(2.0)", "G(a as double) as integer", ""},
        Choice{"F(true)", "", "'true' is not a number"},
        Choice{"EmbeddedMaskQRX(true)", "EmbeddedMaskQRX(swap as boolean) as picture", ""},
        Choice{"EmbeddedMaskQRX(true) = m.png", "EmbeddedMaskQRX(swap as boolean) as picture", ""},
        Choice{"EmbeddedMaskQRX(true) = nil", "EmbeddedMaskQRX(swap as boolean) as picture", ""},
        Choice{"EmbeddedMaskQRX(true) = 5", "", "assigned value (as picture)"},
        Choice{"EmbeddedMaskQRX(1) = m.png", "", "is not true or false"},
        Choice{"InvertQRX = x.png", "", "is not assignable"},
        Choice{"FindPicture(part.png, x, y)",
               "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean",
               ""},
        Choice{"FindPicture(\"my part.png\", \"x out\", y)",
               "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean",
               ""},
        Choice{"FindPicture(part.png, 1, y)", "", "takes an output name"},
        Choice{"FindPicture(5, x, y)", "", "not a file name or nil"},
        Choice{"Table(0, 0, 0, 4294967295) = 1",
               "Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double", ""},
        Choice{"Table(0, 0, 0, -1)", "", "outside 0 to 4294967295"},
        Choice{"CountColorQRX(&c00FF00)", "CountColorQRX(col as color) as integer", ""},
        Choice{"CountColorQRX(65280)", "", "not a colour"},
        Choice{"RenderSamplesQRX(s.raw, 100)",
               "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, BackColor as "
               "color=&c88B5C4, Bits as Integer = 8, AutoScale as boolean = false) as Picture",
               ""},
        Choice{"RenderSamplesQRX(nil, 100, &c000000, 16, true)",
               "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, BackColor as "
               "color=&c88B5C4, Bits as Integer = 8, AutoScale as boolean = false) as Picture",
               ""},
        Choice{"RenderSamplesQRX(s.raw)", "", "takes 2 to 5 arguments"},
        Choice{"Use(nil, data.bin)", "Use(o as PictureSepiaQRX, s as string)", ""},
        Choice{"Use(obj, data.bin)", "", "only nil can be given"}),
    [](const testing::TestParamInfo<Choice>& info) { return "call" + std::to_string(info.index); });

TEST(Binding, FitsAndExactFitsByTypeKind) {
    struct Row {
        TypeKind kind;
        const char* token;
        bool fits;
        bool exact;
    };
    const Row rows[] = {
        {TypeKind::Integer, "7", true, true},      {TypeKind::Integer, "7.0", false, false},
        {TypeKind::UInt32, "7", true, true},       {TypeKind::UInt32, "-7", false, true},
        {TypeKind::Double, "7", true, false},      {TypeKind::Double, "7.5", true, true},
        {TypeKind::Double, "x", false, false},     {TypeKind::Boolean, "false", true, true},
        {TypeKind::Boolean, "0", false, false},    {TypeKind::Color, "&c010203", true, true},
        {TypeKind::Picture, "a.png", true, true},  {TypeKind::Picture, "nil", true, false},
        {TypeKind::Picture, "true", false, false}, {TypeKind::MemoryBlock, "\"b c\"", true, true},
        {TypeKind::String, "f.bin", true, true},   {TypeKind::Object, "nil", true, true},
        {TypeKind::Object, "a.png", false, false},
    };
    for (const Row& r : rows) {
        ArgToken t = parseCall(std::string("F(") + r.token + ")").args.at(0);
        Type type{r.kind, "t"};
        EXPECT_EQ(!misfit(type, false, t).has_value(), r.fits) << r.token;
        EXPECT_EQ(exactFit(type, t), r.exact) << r.token;
    }
}

TEST(Binding, ArgumentsBecomeHostValues) {
    ScratchDir dir;
    Image img;
    img.width = 3;
    img.height = 2;
    img.rgba.resize(24);
    for (size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = i % 4 == 3 ? 255 : uint8_t(i * 9);
    writeImage(dir / "p.png", img);
    const std::string raw("\x00\x01\xFE\xFFzz", 6);
    writeFile(dir / "raw.bin", raw);

    Methods m{{"M(i as integer, u as UInt32, d as double, b as boolean, c as color, p as picture, "
               "mb as memoryblock, s as string, byref oi as integer, byref od as double, byref ob "
               "as boolean, byref oc as color, byref op as picture, q as picture)",
               false}};
    std::string call = "M(-3, 4000000000, 2, true, &cA1B2C3, " + (dir / "p.png").string() + ", " +
                       (dir / "raw.bin").string() + ", \"" + (dir / "raw.bin").string() +
                       "\", n1, n2, n3, n4, n5, nil)";
    Host host;
    BoundArgs b = bindArguments(host, m.infos[0], parseCall(call).args);
    ASSERT_EQ(b.values.size(), 14u);
    EXPECT_EQ(std::get<int32_t>(b.values[0]), -3);
    EXPECT_EQ(std::get<uint32_t>(b.values[1]), 4000000000u);
    EXPECT_EQ(std::get<double>(b.values[2]), 2.0);
    EXPECT_EQ(std::get<bool>(b.values[3]), true);
    EXPECT_EQ(std::get<Color>(b.values[4]).value, 0xA1B2C3u);
    auto* pic = std::get<Ref>(b.values[5]).as<Picture>();
    ASSERT_NE(pic, nullptr);
    Image back = pic->toImage();
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.rgba, img.rgba);
    auto* block = std::get<Ref>(b.values[6]).as<MemoryBlock>();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block->bytes.begin(), block->bytes.end()), raw);
    auto* str = std::get<Ref>(b.values[7]).as<String>();
    ASSERT_NE(str, nullptr);
    EXPECT_EQ(std::string(str->bytes().begin(), str->bytes().end()), raw);
    EXPECT_EQ(str->encoding, kREALTextEncodingRaw);
    EXPECT_EQ(std::get<int32_t>(b.values[8]), 0);
    EXPECT_EQ(std::get<double>(b.values[9]), 0.0);
    EXPECT_EQ(std::get<bool>(b.values[10]), false);
    EXPECT_EQ(std::get<Color>(b.values[11]).value, 0u);
    EXPECT_TRUE(std::holds_alternative<Nil>(b.values[12]));
    EXPECT_TRUE(std::holds_alternative<Nil>(b.values[13]));
    std::vector<std::string> names(8);
    names.insert(names.end(), {"n1", "n2", "n3", "n4", "n5", ""});
    EXPECT_EQ(b.outputNames, names);
}

TEST(Binding, UnreadableFilesNameTheArgumentAndTheFile) {
    ScratchDir dir;
    writeFile(dir / "bad.png", "not a png");
    Methods m{{"M(a as integer, p as picture)", false}, {"N(mb as memoryblock)", false}};
    Host host;
    struct Row {
        const MethodInfo& method;
        std::string call, argument, file, fault;
    };
    const Row rows[] = {
        {m.infos[0], "M(1, " + (dir / "bad.png").string() + ")", "argument 2 (p as picture)",
         "bad.png", "not a PNG"},
        {m.infos[0], "M(1, " + (dir / "none.ppm").string() + ")", "argument 2 (p as picture)",
         "none.ppm", "No such file"},
        {m.infos[0], "M(1, " + (dir / "x.tiff").string() + ")", "argument 2 (p as picture)",
         "x.tiff", "unknown picture file type"},
        {m.infos[1], "N(" + (dir / "gone.bin").string() + ")", "argument 1 (mb as memoryblock)",
         "gone.bin", "No such file"},
    };
    for (const Row& r : rows) {
        try {
            bindArguments(host, r.method, parseCall(r.call).args);
            ADD_FAILURE() << "no error for " << r.call;
        } catch (const UsageError& e) {
            std::string msg = e.what();
            EXPECT_EQ(msg.rfind(r.argument, 0), 0u) << msg;
            EXPECT_NE(msg.find(r.file), std::string::npos) << msg;
            EXPECT_NE(msg.find(r.fault), std::string::npos) << msg;
        }
    }
}

TEST(Binding, ClosestNames) {
    const std::vector<std::string> names = {"InvertQRX",         "InvertGrayQRX", "isWhiteQRX",
                                            "isBlackQRX",        "isGrayQRX",     "ScrollQRX",
                                            "ScrollVerticalQRX", "ColornessQRX",  "InvertQRX"};
    EXPECT_EQ(closestNames("InvertQR", names), (std::vector<std::string>{"InvertQRX"}));
    EXPECT_EQ(closestNames("invertqrx", names), (std::vector<std::string>{"InvertQRX"}));
    EXPECT_EQ(closestNames("isGreyQRX", names, 1), (std::vector<std::string>{"isGrayQRX"}));
    auto scroll = closestNames("Scroll", names);
    ASSERT_FALSE(scroll.empty());
    EXPECT_EQ(scroll[0], "ScrollQRX");
    EXPECT_NE(std::find(scroll.begin(), scroll.end(), "ScrollVerticalQRX"), scroll.end());
    EXPECT_TRUE(closestNames("Blur", names).empty());
    EXPECT_TRUE(closestNames("F", names).empty());
}

TEST(ValueOut, TextAndJson) {
    Host host;
    struct Row {
        Value value;
        std::string text;
        nlohmann::json json;
    };
    const uint8_t bytes[] = {0, 0x7F, 0xAB};
    std::vector<Row> rows;
    rows.push_back({Value(int32_t(-5)), "-5", -5});
    rows.push_back({Value(uint32_t(4000000000u)), "4000000000", 4000000000u});
    rows.push_back({Value(2.0), "2.0", 2.0});
    rows.push_back({Value(0.1), "0.1", 0.1});
    rows.push_back({Value(-1.5e-7), "-1.5e-07", -1.5e-7});
    rows.push_back({Value(true), "true", true});
    rows.push_back({Value(Color{0xFF88B5C4}), "&c88B5C4", "&c88B5C4"});
    rows.push_back({Value(Nil{}), "nil", nullptr});
    rows.push_back({Value(host.newMemoryBlock(bytes)),
                    "<MemoryBlock 3 bytes> 007fab",
                    {{"size", 3}, {"hex", "007fab"}}});
    rows.push_back({Value(host.newString("a\"b\\\n\x01", kREALTextEncodingRaw)),
                    "\"a\\\"b\\\\\\n\\x01\"", "a\"b\\\n\x01"});
    rows.push_back({Value(host.newPicture(7, 3, false)),
                    "<Picture 7x3>",
                    {{"width", 7}, {"height", 3}, {"path", nullptr}}});
    for (const Row& r : rows) {
        EXPECT_EQ(valueText(r.value), r.text);
        EXPECT_EQ(valueJson(r.value), r.json) << r.text;
    }
    EXPECT_EQ(valueJson(Value(host.newPicture(2, 1, true)), std::string("o.png")),
              (nlohmann::json{{"width", 2}, {"height", 1}, {"path", "o.png"}}));
    // Doubles read back to the same value.
    for (double d : {1.0 / 3.0, 1e300, -0.0, 255.0 / 7.0})
        EXPECT_EQ(std::stod(doubleText(d)), d) << doubleText(d);
}

} // namespace
