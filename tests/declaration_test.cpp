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

struct Parsed {
    const char* text;
    const char* parse;
};

const Parsed kParsed[] = {
    {"Close", "Close/0()"},
    {"Run as boolean", "Run/0()->boolean/b"},
    {"  _run2 ( ) ", "_run2/0()"},
    {"LenB( s as string ) as integer", "LenB/1(s:string/s)->integer/i"},
    {"\tX(\ta_1\tas\tdouble\t)\tas\tdouble", "X/1(a_1:double/d)->double/d"},
    {"Go(BYREF a AS Integer, b As PICTURE, c aS FolderItem, d as integers) As UInt32",
     "Go/4(&a:Integer/i, b:PICTURE/p, c:FolderItem/o, d:integers/o)->UInt32/u"},
    {"CountColorsQRX(byref red as memoryblock, byref count as integer)",
     "CountColorsQRX/2(&red:memoryblock/m, &count:integer/i)"},
    {"T(r as UInt32, c as Color, x as MemoryBlock = nil) as double",
     "T/2(r:UInt32/u, c:Color/c, x:MemoryBlock/m=nil~nnil)->double/d"},
    {"R(s as memoryblock, BackColor as color=&c88B5C4, Bits as Integer = 8, A as boolean = false) "
     "as Picture",
     "R/1(s:memoryblock/m, BackColor:color/c=&c88B5C4~c&c88B5C4, Bits:Integer/i=8~i8, "
     "A:boolean/b=false~bfalse)->Picture/p"},
    {"D(x as Integer, sw as Integer = -10000, d as picture = NIL)",
     "D/1(x:Integer/i, sw:Integer/i=-10000~i-10000, d:picture/p=NIL~nnil)"},
    // Default literals of every form, as the value their parameter's type makes of them.
    {"F(a as integer = -2147483648)", "F/0(a:integer/i=-2147483648~i-2147483648)"},
    {"F(a as integer = +7)", "F/0(a:integer/i=+7~i7)"},
    {"F(a as integer=&hFF)", "F/0(a:integer/i=&hFF~i255)"},
    {"F(a as integer = &hFFFFFFFF)", "F/0(a:integer/i=&hFFFFFFFF~i-1)"},
    {"F(a as uint32 = 4294967295)", "F/0(a:uint32/u=4294967295~u4294967295)"},
    {"F(a as UINT32 = &h80000000)", "F/0(a:UINT32/u=&h80000000~u2147483648)"},
    {"F(a as double = 3)", "F/0(a:double/d=3~d3)"},
    {"F(a as double = 0.25)", "F/0(a:double/d=0.25~d0.25)"},
    {"F(a as double = -1.5e3)", "F/0(a:double/d=-1.5e3~d-1500)"},
    {"F(a as double = .5)", "F/0(a:double/d=.5~d0.5)"},
    {"F(a as boolean = TRUE)", "F/0(a:boolean/b=TRUE~btrue)"},
    {"F(a as COLOR = &C000001)", "F/0(a:COLOR/c=&C000001~c&c000001)"},
    {"F(a as color = &cffffff)", "F/0(a:color/c=&cffffff~c&cFFFFFF)"},
    {"F(a as string = nil)", "F/0(a:string/s=nil~nnil)"},
    {"F(a as Graphics = nil)", "F/0(a:Graphics/o=nil~nnil)"},
};

TEST(Declarations, ParseToTheirSignature) {
    for (const Parsed& c : kParsed) {
        const Declaration d = parseDeclaration(c.text);
        EXPECT_EQ(rendered(d), c.parse) << c.text;
        EXPECT_EQ(d.text, c.text);
        // The same signature as itself and as its own text reparsed.
        EXPECT_TRUE(sameSignature(d, parseDeclaration(d.text))) << c.text;
    }
}

// Each must be refused with a message that quotes the declaration and points at the fault.
const std::pair<const char*, const char*> kMalformed[] = {
    {"", "the declaration is empty at column 1"},
    {"   ", "the declaration is empty at column 4"},
    {"(a as integer)", "expected a method name"},
    {"9Lives", "expected a method name, found \"9Lives\" at column 1"},
    {"as integer", "keyword \"as\" at column 1"},
    {"Foo(a as)", "expected a type name after \"as\" at column 9"},
    {"Foo as", "expected a type name after \"as\" at column 7"},
    {"Foo(a integer)", "expected \"as\" after parameter \"a\" at column 7"},
    {"Foo(a)", "expected \"as\" after parameter \"a\" at column 6"},
    {"Foo(a as integer", "missing \")\" to close the parameter list at column 17"},
    {"Foo(", "missing \")\""},
    {"Foo(a as integer))", "unexpected \")\" without a matching \"(\" at column 18"},
    {"Foo)", "unexpected \")\" without a matching \"(\" at column 4"},
    {"Foo((a as integer)", "expected a parameter name, found \"(\" at column 5"},
    {"Foo(a as integer b as integer)", "expected \",\" or \")\" after a parameter"},
    {"Foo(a as integer,,b as integer)", "expected a parameter name"},
    {"Foo bar", "unexpected \"bar\" after the declaration at column 5"},
    {"Foo as integer;", "unexpected \";\" after the declaration at column 15"},
    {"Foo(a as integer, A as double)", "duplicate parameter name \"A\" at column 19"},
    {"Foo(a as integer = 1, b as integer)",
     "parameter \"b\" needs a default, since a parameter before it has one"},
    {"Foo(byref a as integer = 1)", "byref parameter \"a\" cannot have a default"},
    {"Foo(byref as integer)", "keyword \"as\""},
    {"Foo(a as integer = )", "expected a default value after \"=\""},
    {"Foo(a as integer = 1.5)", "the default 1.5 does not fit type integer"},
    {"Foo(a as integer = true)", "does not fit type integer of parameter \"a\""},
    {"Foo(a as integer = 2147483648)", "out of range"},
    {"Foo(a as uint32 = -1)", "out of range for uint32 parameter \"a\""},
    {"Foo(a as boolean = 1)", "does not fit type boolean"},
    {"Foo(a as color = 5)", "does not fit type color"},
    {"Foo(a as color = &c12345)", "needs exactly 6 hex digits"},
    {"Foo(a as color = &c1234567)", "needs exactly 6 hex digits"},
    {"Foo(a as color = &cGG0000)", "unexpected \"GG0000\" in the literal \"&c\""},
    {"Foo(a as integer = &h)", "needs 1 to 8 hex digits"},
    {"Foo(a as integer = &x10)", "unknown literal \"&x\""},
    {"Foo(a as picture = 0)", "does not fit type picture"},
    {"Foo(a as picture = something)", "unknown default value \"something\""},
    {"Foo(a as double = 1.5.2)", "in a number"},
    {"Foo(a as double = 1e)", "exponent"},
    {"Foo(a as integer = 12abc)", "unexpected \"abc\" in a number"},
    {"Foo(a as integer = \"x\")", "where a default value belongs"},
    {"Foo-Bar", "unexpected \"-\" after the declaration at column 4"},
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
struct SignaturePair {
    const char* a;
    const char* b;
    bool same;
};

const SignaturePair kSignatures[] = {
    {"InvertQRX as picture", "invertqrx AS Picture", true},
    {"F(a as integer = 1) as double", "f(b as INTEGER) as Double", true},
    {"F(a as Graphics)", "F(x as graphics)", true},
    {"F", "F()", true},
    {"F(a as Graphics)", "F(x as FolderItem)", false},
    {"F(a as integer)", "G(a as integer)", false},
    {"F(a as integer)", "F(a as uint32)", false},
    {"F(a as uint32)", "F(a as color)", false},
    {"F(a as integer)", "F(byref a as integer)", false},
    {"F(a as integer)", "F(a as integer, b as integer)", false},
    {"F(a as integer)", "F(a as integer) as integer", false},
    {"F(a as integer) as integer", "F(a as integer) as boolean", false},
    {"F as Graphics", "F as FolderItem", false},
    {"I as picture", "I(left as integer,top as integer) as picture", false},
};

TEST(Declarations, SignaturesCompareKindsAndFlags) {
    for (const SignaturePair& c : kSignatures) {
        const Declaration a = parseDeclaration(c.a), b = parseDeclaration(c.b);
        EXPECT_EQ(sameSignature(a, b), c.same) << c.a << " vs " << c.b;
        EXPECT_EQ(sameSignature(b, a), c.same) << c.b << " vs " << c.a;
    }
}

} // namespace
} // namespace qrx
