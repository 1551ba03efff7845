// The declaration parser: declarations of every form and what they parse to, malformed
// declarations and their messages, and signature comparison. (What the plugin registers is
// parsed at every load and compared in surface_test.)
#include <gtest/gtest.h>

#include <string>

#include "qrx/declaration.h"

namespace qrx {
namespace {

// A parse as one line: Name/required(param, ...)->result, each type as typeName/kind letter
// (i u d b c s p m, o for other classes), '&' before a byref parameter, and a default as
// =text~value with the value's own kind (n nil, i u d b c).
std::string rendered(const Declaration& d) {
    auto type = [](const Type& t) { return t.name + "/" + "iudbcspmo"[int(t.kind)]; };
    std::string out = d.name + "/" + std::to_string(d.requiredCount()) + "(";
    for (const Param& p : d.params) {
        out += (&p == &d.params.front() ? "" : ", ") + std::string(p.byRef ? "&" : "") + p.name +
               ":" + type(p.type);
        if (p.defaultText) out += "=" + *p.defaultText;
        if (p.defaultValue)
            out +=
                std::string("~") + "niudbcr"[p.defaultValue->index()] + describe(*p.defaultValue);
    }
    return out + ")" + (d.result ? "->" + type(*d.result) : "");
}

const std::pair<const char*, const char*> kParsed[] = {
    {"Close", "Close/0()"},
    {"Run as boolean", "Run/0()->boolean/b"},
    {"\tX(\ta_1\tas\tdouble\t)\tas\tdouble", "X/1(a_1:double/d)->double/d"},
    {"Go(BYREF a AS Integer, b As PICTURE, c aS FolderItem, d as integers) As UInt32",
     "Go/4(&a:Integer/i, b:PICTURE/p, c:FolderItem/o, d:integers/o)->UInt32/u"},
    {"T(r as UInt32, c as Color, x as MemoryBlock = nil) as double",
     "T/2(r:UInt32/u, c:Color/c, x:MemoryBlock/m=nil~nnil)->double/d"},
    {"D(x as Integer, sw as Integer = -10000, d as picture = NIL)",
     "D/1(x:Integer/i, sw:Integer/i=-10000~i-10000, d:picture/p=NIL~nnil)"},
    // Default literals of every form, as the value their parameter's type makes of them.
    {"F(a as integer = -2147483648)", "F/0(a:integer/i=-2147483648~i-2147483648)"},
    {"F(a as integer=&hFF)", "F/0(a:integer/i=&hFF~i255)"},
    {"F(a as integer = &hFFFFFFFF)", "F/0(a:integer/i=&hFFFFFFFF~i-1)"},
    {"F(a as UINT32 = &h80000000)", "F/0(a:UINT32/u=&h80000000~u2147483648)"},
    {"F(a as double = -1.5e3)", "F/0(a:double/d=-1.5e3~d-1500)"},
    {"F(a as boolean = TRUE)", "F/0(a:boolean/b=TRUE~btrue)"},
    {"F(a as COLOR = &C000001)", "F/0(a:COLOR/c=&C000001~c&c000001)"},
    {"F(a as Graphics = nil)", "F/0(a:Graphics/o=nil~nnil)"},
};

TEST(Declarations, ParseToTheirSignature) {
    for (auto [text, parse] : kParsed) {
        const Declaration d = parseDeclaration(text);
        EXPECT_EQ(rendered(d), parse) << text;
        EXPECT_EQ(d.text, text);
        // The same signature as itself and as its own text reparsed.
        EXPECT_TRUE(sameSignature(d, parseDeclaration(d.text))) << text;
    }
}

// Each must be refused with a message that quotes the declaration and points at the fault.
const std::pair<const char*, const char*> kMalformed[] = {
    {"", "the declaration is empty at column 1"},
    {"as integer", "keyword \"as\" at column 1"},
    {"Foo(a as)", "expected a type name after \"as\" at column 9"},
    {"Foo(a integer)", "expected \"as\" after parameter \"a\" at column 7"},
    {"Foo(a as integer", "missing \")\" to close the parameter list at column 17"},
    {"Foo(a as integer))", "unexpected \")\" without a matching \"(\" at column 18"},
    {"Foo(a as integer b as integer)", "expected \",\" or \")\" after a parameter"},
    {"Foo bar", "unexpected \"bar\" after the declaration at column 5"},
    {"Foo(a as integer, A as double)", "duplicate parameter name \"A\" at column 19"},
    {"Foo(a as integer = 1, b as integer)",
     "parameter \"b\" needs a default, since a parameter before it has one"},
    {"Foo(byref a as integer = 1)", "byref parameter \"a\" cannot have a default"},
    {"Foo(a as integer = 1.5)", "the default 1.5 does not fit type integer"},
    {"Foo(a as uint32 = -1)", "out of range for uint32 parameter \"a\""},
    {"Foo(a as color = &c12345)", "needs exactly 6 hex digits"},
    {"Foo(a as integer = &x10)", "unknown literal \"&x\""},
    {"Foo(a as picture = something)", "unknown default value \"something\""},
    {"Foo(a as double = 1.5.2)", "in a number"},
    {"Foo(a as integer = \"x\")", "where a default value belongs"},
};

TEST(Declarations, MalformedAreRefusedWithAMessage) {
    for (auto [text, fragment] : kMalformed) {
        try {
            parseDeclaration(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const DeclarationError& e) {
            const std::string msg = e.what();
            EXPECT_EQ(msg.rfind(std::string("in \"") + text + "\": ", 0), 0u) << msg;
            EXPECT_NE(msg.find(fragment), std::string::npos) << msg;
        }
    }
}

// Signature comparison ignores parameter names, defaults and the case of names.
const std::tuple<const char*, const char*, bool> kSignatures[] = {
    {"InvertQRX as picture", "invertqrx AS Picture", true},
    {"F(a as integer = 1) as double", "f(b as INTEGER) as Double", true},
    {"F(a as Graphics)", "F(x as FolderItem)", false},
    {"F(a as integer)", "F(a as uint32)", false},
    {"F(a as integer)", "F(byref a as integer)", false},
    {"F(a as integer)", "F(a as integer, b as integer)", false},
    {"F(a as integer)", "F(a as integer) as integer", false},
    {"I as picture", "I(left as integer,top as integer) as picture", false},
};

TEST(Declarations, SignaturesCompareKindsAndFlags) {
    for (auto [textA, textB, same] : kSignatures) {
        const Declaration a = parseDeclaration(textA), b = parseDeclaration(textB);
        EXPECT_EQ(sameSignature(a, b), same) << textA << " vs " << textB;
        EXPECT_EQ(sameSignature(b, a), same) << textB << " vs " << textA;
    }
}

} // namespace
} // namespace qrx
