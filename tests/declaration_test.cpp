// The declaration parser: every declaration the plugin registers, malformed declarations, and
// signature comparison.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "qrx/declaration.h"

namespace qrx {
namespace {

// A compact rendering of a signature: one letter per parameter kind (i integer, u uint32,
// d double, b boolean, c color, s string, p picture, m memoryblock, o other object), '&' before
// a byref parameter, '=' after a parameter with a default, then "->" and the result letter.
std::string shape(const Declaration& d) {
    auto letter = [](const Type& t) {
        switch (t.kind) {
        case TypeKind::Integer:
            return 'i';
        case TypeKind::UInt32:
            return 'u';
        case TypeKind::Double:
            return 'd';
        case TypeKind::Boolean:
            return 'b';
        case TypeKind::Color:
            return 'c';
        case TypeKind::String:
            return 's';
        case TypeKind::Picture:
            return 'p';
        case TypeKind::MemoryBlock:
            return 'm';
        case TypeKind::Object:
            return 'o';
        }
        return '?';
    };
    std::string out;
    for (const Param& p : d.params) {
        if (p.byRef) out += '&';
        out += letter(p.type);
        if (p.defaultValue) out += '=';
    }
    out += "->";
    if (d.result) out += letter(*d.result);
    return out;
}

struct Registered {
    const char* text;
    const char* name;
    const char* shape;
};

// Every declaration registered by the plugin (classes, Picture methods, global methods), and the
// host declarations the plugin looks up.
const Registered kRegistered[] = {
    {"Close", "Close", "->"},
    {"Run as boolean", "Run", "->b"},
    {"Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double", "Table", "uuuu->d"},
    {"ColornessQRX(threshold as integer = 10) as double", "ColornessQRX", "i=->d"},
    {"ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean",
     "ScrollVerticalQRX", "ibb->b"},
    {"ScrollHorizontalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean",
     "ScrollHorizontalQRX", "ibb->b"},
    {"ScrollQRX(deltaX as integer, deltaY as integer, wrap as boolean, scrollmask as boolean) as "
     "boolean",
     "ScrollQRX", "iibb->b"},
    {"HasMaskQRX as boolean", "HasMaskQRX", "->b"},
    {"ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     "ChangeContrastBrightnessAbsoluteQRX", "dddddd->p"},
    {"ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double, "
     "ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue "
     "as double) as picture",
     "ChangeContrastBrightnessLinearQRX", "dddddd->p"},
    {"ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture",
     "ChangeContrastBrightnessAbsoluteQRX", "dd->p"},
    {"ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture",
     "ChangeContrastBrightnessLinearQRX", "dd->p"},
    {"ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double, "
     "BrightnessBlue as double) as picture",
     "ChangeBrightnessAbsoluteQRX", "ddd->p"},
    {"ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double, "
     "BrightnessBlue as double) as picture",
     "ChangeBrightnessLinearQRX", "ddd->p"},
    {"ChangeBrightnessAbsoluteQRX(Brightness as double) as picture", "ChangeBrightnessAbsoluteQRX",
     "d->p"},
    {"ChangeBrightnessLinearQRX(Brightness as double) as picture", "ChangeBrightnessLinearQRX",
     "d->p"},
    {"ChangeContrastQRX(Contrast as double) as picture", "ChangeContrastQRX", "d->p"},
    {"ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as double) "
     "as picture",
     "ChangeContrastQRX", "ddd->p"},
    {"ChangeCustomQRX(a as double, b as double) as picture", "ChangeCustomQRX", "dd->p"},
    {"InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
     "InvertQRX", "iiii->p"},
    {"InvertQRX as picture", "InvertQRX", "->p"},
    {"InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as picture",
     "InvertGrayQRX", "iiii->p"},
    {"InvertGrayQRX as picture", "InvertGrayQRX", "->p"},
    {"ExtractColorRectangleMaskQRX(left as integer,top as integer,width as integer,height as "
     "integer) as picture",
     "ExtractColorRectangleMaskQRX", "iiii->p"},
    {"ExtractColorRectangleMaskQRX as picture", "ExtractColorRectangleMaskQRX", "->p"},
    {"EmbeddedMaskQRX(swap as boolean) as picture", "EmbeddedMaskQRX", "b->p"},
    {"CountColorQRX(col as color) as integer", "CountColorQRX", "c->i"},
    {"CountColorsQRX(byref red as memoryblock, byref blue as memoryblock, byref green as "
     "memoryblock, byref count as integer)",
     "CountColorsQRX", "&m&m&m&i->"},
    {"TransformColorsQRX(red as memoryblock, blue as memoryblock, green as memoryblock, dest as "
     "picture = nil) as picture",
     "TransformColorsQRX", "mmmp=->p"},
    {"ReplaceColorQRX(SearchColor as color, ReplaceWithColor as color) as picture",
     "ReplaceColorQRX", "cc->p"},
    {"ExtractColorQRX(SearchColor as color, ReplaceWithColor as color, BackGroundColor as color) "
     "as picture",
     "ExtractColorQRX", "ccc->p"},
    {"ChangeSaturationQRX(Amount as integer) as picture", "ChangeSaturationQRX", "i->p"},
    {"ReplaceRedChannelQRX(RedChannel as picture) as picture", "ReplaceRedChannelQRX", "p->p"},
    {"ReplaceGreenChannelQRX(GreenChannel as picture) as picture", "ReplaceGreenChannelQRX",
     "p->p"},
    {"ReplaceBlueChannelQRX(BlueChannel as picture) as picture", "ReplaceBlueChannelQRX", "p->p"},
    {"FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean",
     "FindPicture", "p&i&i->b"},
    {"isWhiteQRX as boolean", "isWhiteQRX", "->b"},
    {"isWhiteQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     "isWhiteQRX", "iiii->b"},
    {"isBlackQRX as boolean", "isBlackQRX", "->b"},
    {"isBlackQRX(left as integer,top as integer,width as integer,height as integer) as boolean",
     "isBlackQRX", "iiii->b"},
    {"isGrayQRX(tolerance as integer = 0) as boolean", "isGrayQRX", "i=->b"},
    {"isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as "
     "integer) as boolean",
     "isGrayQRX", "iiiii->b"},
    {"BinaryStringtoPictureQRX(data as String) as Picture", "BinaryStringtoPictureQRX", "s->p"},
    {"PicturetoBinaryStringQRX(p as picture) as string", "PicturetoBinaryStringQRX", "p->s"},
    {"CombinePicturesQRX(red as picture, blue as picture, green as picture) as picture",
     "CombinePicturesQRX", "ppp->p"},
    {"MergePictureQRX(source1 as picture, source2 as picture) as picture", "MergePictureQRX",
     "pp->p"},
    {"TintPictureQRX(source as picture, GreyBase as color, SepiaBase as color) as picture",
     "TintPictureQRX", "pcc->p"},
    {"RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, Smooth as integer, Width "
     "as integer, Height as integer, outlinewidth as integer, BackColor as color=&c88B5C4, "
     "ForeColor as color=&c274C5A, OutLineColor as color=&c203F4E, Bits as Integer = 8, "
     "AutoScale as boolean = false) as Picture",
     "RenderSamplesQRX", "miiiiic=c=c=i=b=->p"},
    {"DrawPicture(Image as Picture, x as Integer, y as Integer, w as Integer, h as Integer, sx as "
     "Integer = 0, sy as Integer = 0, sw as Integer = -10000, sh as Integer = -10000)",
     "DrawPicture", "piiiii=i=i=i=->"},
    {"Constructor(width as integer, height as integer)", "Constructor", "ii->"},
    {"LenB( s as string ) as integer", "LenB", "s->i"},
};

void PrintTo(const Registered& r, std::ostream* os) {
    *os << r.text;
}

class RegisteredDeclaration : public ::testing::TestWithParam<Registered> {};

TEST_P(RegisteredDeclaration, ParsesToItsSignature) {
    const Registered& r = GetParam();
    Declaration d = parseDeclaration(r.text);
    EXPECT_EQ(d.text, r.text);
    EXPECT_EQ(d.name, r.name);
    EXPECT_EQ(shape(d), r.shape);
    for (const Param& p : d.params) {
        EXPECT_FALSE(p.name.empty());
        EXPECT_EQ(p.defaultText.has_value(), p.defaultValue.has_value()) << p.name;
    }
    // A declaration is the same signature as itself and as its own text reparsed.
    EXPECT_TRUE(sameSignature(d, parseDeclaration(d.text)));
}

INSTANTIATE_TEST_SUITE_P(Tables, RegisteredDeclaration, ::testing::ValuesIn(kRegistered),
                         [](const auto& info) {
                             return std::string(info.param.name) + "_" + std::to_string(info.index);
                         });

const Param& paramNamed(const Declaration& d, const std::string& name) {
    for (const Param& p : d.params) {
        if (p.name == name) return p;
    }
    throw std::runtime_error("no parameter " + name);
}

TEST(DeclarationDetails, RenderSamplesDefaults) {
    Declaration d = parseDeclaration(kRegistered[47].text);
    ASSERT_EQ(d.name, "RenderSamplesQRX");
    ASSERT_EQ(d.params.size(), 11u);
    EXPECT_EQ(d.requiredCount(), 6u);
    EXPECT_EQ(d.params[0].name, "Samples");
    EXPECT_EQ(d.params[0].type.name, "memoryblock");
    EXPECT_EQ(d.params[5].name, "outlinewidth");

    const Param& back = paramNamed(d, "BackColor");
    EXPECT_EQ(back.defaultText, "&c88B5C4");
    EXPECT_EQ(back.defaultValue, Value(Color{0x88B5C4}));
    EXPECT_EQ(paramNamed(d, "ForeColor").defaultValue, Value(Color{0x274C5A}));
    EXPECT_EQ(paramNamed(d, "OutLineColor").defaultValue, Value(Color{0x203F4E}));

    const Param& bits = paramNamed(d, "Bits");
    EXPECT_EQ(bits.type.kind, TypeKind::Integer);
    EXPECT_EQ(bits.type.name, "Integer");
    EXPECT_EQ(bits.defaultText, "8");
    EXPECT_EQ(bits.defaultValue, Value(int32_t{8}));

    const Param& autoScale = paramNamed(d, "AutoScale");
    EXPECT_EQ(autoScale.defaultText, "false");
    EXPECT_EQ(autoScale.defaultValue, Value(false));

    ASSERT_TRUE(d.result);
    EXPECT_EQ(d.result->kind, TypeKind::Picture);
    EXPECT_EQ(d.result->name, "Picture");
}

TEST(DeclarationDetails, SingleDefaults) {
    Declaration colorness = parseDeclaration("ColornessQRX(threshold as integer = 10) as double");
    EXPECT_EQ(colorness.requiredCount(), 0u);
    EXPECT_EQ(colorness.params[0].defaultValue, Value(int32_t{10}));
    EXPECT_EQ(colorness.result->kind, TypeKind::Double);

    Declaration transform = parseDeclaration(kRegistered[28].text);
    ASSERT_EQ(transform.name, "TransformColorsQRX");
    EXPECT_EQ(transform.requiredCount(), 3u);
    EXPECT_EQ(transform.params[3].name, "dest");
    EXPECT_EQ(transform.params[3].defaultText, "nil");
    EXPECT_EQ(transform.params[3].defaultValue, Value(Nil{}));

    Declaration draw = parseDeclaration(kRegistered[48].text);
    ASSERT_EQ(draw.name, "DrawPicture");
    EXPECT_EQ(draw.requiredCount(), 5u);
    EXPECT_EQ(draw.params[6].defaultValue, Value(int32_t{0}));
    EXPECT_EQ(draw.params[7].defaultText, "-10000");
    EXPECT_EQ(draw.params[7].defaultValue, Value(int32_t{-10000}));
    EXPECT_FALSE(draw.result);
}

TEST(DeclarationDetails, ByRefAndUnsigned) {
    Declaration count = parseDeclaration(kRegistered[27].text);
    ASSERT_EQ(count.name, "CountColorsQRX");
    ASSERT_EQ(count.params.size(), 4u);
    const char* names[] = {"red", "blue", "green", "count"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(count.params[i].name, names[i]);
        EXPECT_TRUE(count.params[i].byRef);
        EXPECT_FALSE(count.params[i].defaultValue);
    }
    EXPECT_EQ(count.params[3].type.kind, TypeKind::Integer);
    EXPECT_EQ(count.requiredCount(), 4u);

    Declaration table = parseDeclaration(kRegistered[2].text);
    ASSERT_EQ(table.name, "Table");
    ASSERT_EQ(table.params.size(), 4u);
    EXPECT_EQ(table.params[3].name, "x");
    EXPECT_EQ(table.params[0].type.name, "UInt32");
    for (const Param& p : table.params) {
        EXPECT_EQ(p.type.kind, TypeKind::UInt32);
        EXPECT_FALSE(p.byRef);
    }
    EXPECT_EQ(table.result->kind, TypeKind::Double);

    Declaration find = parseDeclaration(kRegistered[35].text);
    EXPECT_FALSE(find.params[0].byRef);
    EXPECT_TRUE(find.params[1].byRef);
    EXPECT_TRUE(find.params[2].byRef);
}

TEST(DeclarationDetails, BlanksInsideParentheses) {
    Declaration d = parseDeclaration("LenB( s as string ) as integer");
    ASSERT_EQ(d.params.size(), 1u);
    EXPECT_EQ(d.params[0].name, "s");
    EXPECT_EQ(d.params[0].type.name, "string");
    EXPECT_EQ(d.result->name, "integer");
}

// Default literals of every form and the value each becomes for its parameter type.
struct DefaultCase {
    const char* text;
    Value expected;
};

void PrintTo(const DefaultCase& c, std::ostream* os) {
    *os << c.text;
}

class DefaultValue : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(DefaultValue, ParsesToTheParameterType) {
    Declaration d = parseDeclaration(GetParam().text);
    ASSERT_EQ(d.params.size(), 1u);
    ASSERT_TRUE(d.params[0].defaultValue);
    EXPECT_EQ(*d.params[0].defaultValue, GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Literals, DefaultValue,
    ::testing::Values(
        DefaultCase{"F(a as integer = -2147483648)", int32_t{-2147483647 - 1}},
        DefaultCase{"F(a as integer = +7)", int32_t{7}},
        DefaultCase{"F(a as integer=&hFF)", int32_t{255}},
        DefaultCase{"F(a as integer = &hFFFFFFFF)", int32_t{-1}},
        DefaultCase{"F(a as uint32 = 4294967295)", uint32_t{4294967295u}},
        DefaultCase{"F(a as UINT32 = &h80000000)", uint32_t{0x80000000u}},
        DefaultCase{"F(a as double = 3)", 3.0}, DefaultCase{"F(a as double = -10000)", -10000.0},
        DefaultCase{"F(a as double = 0.25)", 0.25}, DefaultCase{"F(a as double = -1.5e3)", -1500.0},
        DefaultCase{"F(a as double = .5)", 0.5}, DefaultCase{"F(a as boolean = TRUE)", true},
        DefaultCase{"F(a as Boolean=False)", false},
        DefaultCase{"F(a as color = &cffffff)", Color{0xFFFFFF}},
        DefaultCase{"F(a as COLOR = &C000001)", Color{1}},
        DefaultCase{"F(a as picture = NIL)", Nil{}},
        DefaultCase{"F(a as memoryblock = nil)", Nil{}}, DefaultCase{"F(a as string = nil)", Nil{}},
        DefaultCase{"F(a as Graphics = nil)", Nil{}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(DeclarationDetails, KeywordsAndTypesIgnoreCase) {
    Declaration d =
        parseDeclaration("Go(BYREF a AS Integer, b As PICTURE, c aS FolderItem) As UInt32");
    ASSERT_EQ(d.params.size(), 3u);
    EXPECT_TRUE(d.params[0].byRef);
    EXPECT_EQ(d.params[0].type.kind, TypeKind::Integer);
    EXPECT_EQ(d.params[1].type.kind, TypeKind::Picture);
    EXPECT_EQ(d.params[2].type.kind, TypeKind::Object);
    EXPECT_EQ(d.params[2].type.name, "FolderItem");
    EXPECT_EQ(d.result->kind, TypeKind::UInt32);
}

TEST(DeclarationDetails, EmptyParenthesesAndIdentifiers) {
    Declaration d = parseDeclaration("  _run2 ( ) ");
    EXPECT_EQ(d.name, "_run2");
    EXPECT_TRUE(d.params.empty());
    EXPECT_FALSE(d.result);
    Declaration t = parseDeclaration("\tX(\ta_1\tas\tdouble\t)\tas\tdouble");
    EXPECT_EQ(t.params[0].name, "a_1");
}

TEST(TypeKindFromName, KnownNamesInAnyCase) {
    struct Case {
        const char* name;
        std::optional<TypeKind> kind;
    };
    const Case cases[] = {
        {"integer", TypeKind::Integer},
        {"Integer", TypeKind::Integer},
        {"UInt32", TypeKind::UInt32},
        {"uint32", TypeKind::UInt32},
        {"DOUBLE", TypeKind::Double},
        {"boolean", TypeKind::Boolean},
        {"Color", TypeKind::Color},
        {"String", TypeKind::String},
        {"picture", TypeKind::Picture},
        {"MemoryBlock", TypeKind::MemoryBlock},
        {"Graphics", std::nullopt},
        {"int", std::nullopt},
        {"", std::nullopt},
        {"integers", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typeKindFromName(c.name), c.kind) << c.name;
}

// Malformed declarations: each must be refused with a message that quotes the declaration and
// points at the fault.
struct Malformed {
    const char* text;
    const char* fragment; // part of the expected message
};

void PrintTo(const Malformed& m, std::ostream* os) {
    *os << m.text;
}

class MalformedDeclaration : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedDeclaration, IsRefusedWithAMessage) {
    const Malformed& m = GetParam();
    try {
        parseDeclaration(m.text);
        FAIL() << "accepted: " << m.text;
    } catch (const DeclarationError& e) {
        std::string msg = e.what();
        EXPECT_EQ(msg.rfind(std::string("in \"") + m.text + "\": ", 0), 0u) << msg;
        EXPECT_NE(msg.find(m.fragment), std::string::npos) << msg;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedDeclaration,
    ::testing::Values(
        Malformed{"", "the declaration is empty at column 1"},
        Malformed{"   ", "the declaration is empty at column 4"},
        Malformed{"(a as integer)", "expected a method name"},
        Malformed{"9Lives", "expected a method name, found \"9Lives\" at column 1"},
        Malformed{"as integer", "keyword \"as\" at column 1"},
        Malformed{"Foo(a as)", "expected a type name after \"as\" at column 9"},
        Malformed{"Foo as", "expected a type name after \"as\" at column 7"},
        Malformed{"Foo(a integer)", "expected \"as\" after parameter \"a\" at column 7"},
        Malformed{"Foo(a)", "expected \"as\" after parameter \"a\" at column 6"},
        Malformed{"Foo(a as integer", "missing \")\" to close the parameter list at column 17"},
        Malformed{"Foo(a as integer,", "missing \")\""}, Malformed{"Foo(", "missing \")\""},
        Malformed{"Foo(a as integer))", "unexpected \")\" without a matching \"(\" at column 18"},
        Malformed{"Foo)", "unexpected \")\" without a matching \"(\" at column 4"},
        Malformed{"Foo((a as integer)", "expected a parameter name, found \"(\" at column 5"},
        Malformed{"Foo(a as integer b as integer)", "expected \",\" or \")\" after a parameter"},
        Malformed{"Foo(a as integer,,b as integer)", "expected a parameter name"},
        Malformed{"Foo bar", "unexpected \"bar\" after the declaration at column 5"},
        Malformed{"Foo as integer extra", "unexpected \"extra\" after the declaration"},
        Malformed{"Foo as integer;", "unexpected \";\" after the declaration at column 15"},
        Malformed{"Foo(a as integer, A as double)", "duplicate parameter name \"A\" at column 19"},
        Malformed{"Foo(a as integer = 1, b as integer)",
                  "parameter \"b\" needs a default, since a parameter before it has one"},
        Malformed{"Foo(byref a as integer = 1)", "byref parameter \"a\" cannot have a default"},
        Malformed{"Foo(byref as integer)", "keyword \"as\""},
        Malformed{"Foo(a as integer = )", "expected a default value after \"=\""},
        Malformed{"Foo(a as integer = 1.5)", "the default 1.5 does not fit type integer"},
        Malformed{"Foo(a as integer = true)", "does not fit type integer of parameter \"a\""},
        Malformed{"Foo(a as integer = 2147483648)", "out of range"},
        Malformed{"Foo(a as integer = 99999999999)", "out of range"},
        Malformed{"Foo(a as uint32 = -1)", "out of range for uint32 parameter \"a\""},
        Malformed{"Foo(a as double = nil)", "does not fit type double"},
        Malformed{"Foo(a as boolean = 1)", "does not fit type boolean"},
        Malformed{"Foo(a as color = 5)", "does not fit type color"},
        Malformed{"Foo(a as color = &c12345)", "needs exactly 6 hex digits"},
        Malformed{"Foo(a as color = &c1234567)", "needs exactly 6 hex digits"},
        Malformed{"Foo(a as color = &cGG0000)", "unexpected \"GG0000\" in the literal \"&c\""},
        Malformed{"Foo(a as integer = &h)", "needs 1 to 8 hex digits"},
        Malformed{"Foo(a as integer = &x10)", "unknown literal \"&x\""},
        Malformed{"Foo(a as picture = 0)", "does not fit type picture"},
        Malformed{"Foo(a as picture = something)", "unknown default value \"something\""},
        Malformed{"Foo(a as double = 1.5.2)", "in a number"},
        Malformed{"Foo(a as double = 1e)", "exponent"},
        Malformed{"Foo(a as integer = 12abc)", "unexpected \"abc\" in a number"},
        Malformed{"Foo(a as integer = \"x\")", "where a default value belongs"},
        Malformed{"Foo(a as integer)) as double", "unexpected \")\""},
        Malformed{"Foo(a as integer) as", "expected a type name after \"as\""},
        Malformed{"Foo-Bar", "unexpected \"-\" after the declaration at column 4"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Signature comparison ignores parameter names, defaults and the case of names.
struct SignaturePair {
    const char* a;
    const char* b;
    bool same;
};

void PrintTo(const SignaturePair& p, std::ostream* os) {
    *os << p.a << " / " << p.b;
}

class Signature : public ::testing::TestWithParam<SignaturePair> {};

TEST_P(Signature, ComparesKindsAndFlags) {
    Declaration a = parseDeclaration(GetParam().a);
    Declaration b = parseDeclaration(GetParam().b);
    EXPECT_EQ(sameSignature(a, b), GetParam().same) << GetParam().a << " vs " << GetParam().b;
    EXPECT_EQ(sameSignature(b, a), GetParam().same) << GetParam().b << " vs " << GetParam().a;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, Signature,
    ::testing::Values(
        SignaturePair{"InvertQRX as picture", "invertqrx AS Picture", true},
        SignaturePair{"F(a as integer = 1) as double", "f(b as INTEGER) as Double", true},
        SignaturePair{"F(a as Graphics)", "F(x as graphics)", true},
        SignaturePair{"F(a as Graphics)", "F(x as FolderItem)", false},
        SignaturePair{"F(a as integer)", "G(a as integer)", false},
        SignaturePair{"F(a as integer)", "F(a as uint32)", false},
        SignaturePair{"F(a as uint32)", "F(a as color)", false},
        SignaturePair{"F(a as integer)", "F(byref a as integer)", false},
        SignaturePair{"F(a as integer)", "F(a as integer, b as integer)", false},
        SignaturePair{"F(a as integer)", "F(a as integer) as integer", false},
        SignaturePair{"F(a as integer) as integer", "F(a as integer) as boolean", false},
        SignaturePair{"F as Graphics", "F as FolderItem", false}, SignaturePair{"F", "F()", true},
        SignaturePair{"InvertQRX as picture",
                      "InvertQRX(left as integer,top as integer,width as integer,height as "
                      "integer) as picture",
                      false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

} // namespace
} // namespace qrx
