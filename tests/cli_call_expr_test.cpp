// Parsing calls written as in the host language.
#include <gtest/gtest.h>

#include "call_expr.h"

namespace {

using qrx::cli::ArgToken;
using qrx::cli::CallExpr;
using qrx::cli::CallSyntaxError;
using qrx::cli::parseCall;
using qrx::cli::TokenKind;

// What one argument should come out as: its kind and its value written back as text
// (integer, number, true/false, colour as 6 hex digits, or the string/word itself).
struct Expect {
    TokenKind kind;
    std::string value;
    size_t column;
};

std::string valueOf(const ArgToken& t) {
    switch (t.kind) {
    case TokenKind::Integer:
        EXPECT_EQ(t.number, double(t.integer)) << t.text;
        return std::to_string(t.integer);
    case TokenKind::Double: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", t.number);
        return buf;
    }
    case TokenKind::Boolean:
        return t.boolean ? "true" : "false";
    case TokenKind::Color: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%06X", unsigned(t.color));
        return buf;
    }
    case TokenKind::Nil:
        return "nil";
    case TokenKind::String:
    case TokenKind::Word:
        return t.str;
    }
    return "?";
}

struct GoodCall {
    std::string text;
    std::string name;
    std::vector<Expect> args;
    std::optional<Expect> assigned;
};

class ParseGood : public testing::TestWithParam<GoodCall> {};
void PrintTo(const GoodCall& c, std::ostream* os) {
    *os << c.text;
}

TEST_P(ParseGood, GivesNameArgumentsAndValue) {
    const GoodCall& c = GetParam();
    CallExpr call = parseCall(c.text);
    EXPECT_EQ(call.name, c.name);
    ASSERT_EQ(call.args.size(), c.args.size()) << c.text;
    for (size_t i = 0; i < c.args.size(); ++i) {
        EXPECT_EQ(call.args[i].kind, c.args[i].kind) << c.text << " argument " << i + 1;
        EXPECT_EQ(valueOf(call.args[i]), c.args[i].value) << c.text << " argument " << i + 1;
        EXPECT_EQ(call.args[i].column, c.args[i].column) << c.text << " argument " << i + 1;
    }
    ASSERT_EQ(call.assigned.has_value(), c.assigned.has_value()) << c.text;
    if (c.assigned) {
        EXPECT_EQ(call.assigned->kind, c.assigned->kind);
        EXPECT_EQ(valueOf(*call.assigned), c.assigned->value);
        EXPECT_EQ(call.assigned->column, c.assigned->column);
    }
}

using K = TokenKind;

INSTANTIATE_TEST_SUITE_P(
    Calls, ParseGood,
    testing::Values(
        GoodCall{"InvertQRX", "InvertQRX", {}, {}}, GoodCall{"  InvertQRX  ", "InvertQRX", {}, {}},
        GoodCall{"InvertQRX()", "InvertQRX", {}, {}},
        GoodCall{"InvertQRX(5, 5, 120, 80)",
                 "InvertQRX",
                 {{K::Integer, "5", 11},
                  {K::Integer, "5", 14},
                  {K::Integer, "120", 17},
                  {K::Integer, "80", 22}},
                 {}},
        GoodCall{"InvertQRX(-10,+0,-2147483648,2147483648)",
                 "InvertQRX",
                 {{K::Integer, "-10", 11},
                  {K::Integer, "0", 15},
                  {K::Integer, "-2147483648", 18},
                  {K::Integer, "2147483648", 30}},
                 {}},
        GoodCall{"F(1.5, -0.25, 2e3, .5, 1., -1E-2)",
                 "F",
                 {{K::Double, "1.5", 3},
                  {K::Double, "-0.25", 8},
                  {K::Double, "2000", 15},
                  {K::Double, "0.5", 20},
                  {K::Double, "1", 24},
                  {K::Double, "-0.01", 28}},
                 {}},
        GoodCall{"F(true, FALSE, True, nil, NIL)",
                 "F",
                 {{K::Boolean, "true", 3},
                  {K::Boolean, "false", 9},
                  {K::Boolean, "true", 16},
                  {K::Nil, "nil", 22},
                  {K::Nil, "nil", 27}},
                 {}},
        GoodCall{"TintPictureQRX(in.png, &c808080, &cA0522d)",
                 "TintPictureQRX",
                 {{K::Word, "in.png", 16}, {K::Color, "808080", 24}, {K::Color, "A0522D", 34}},
                 {}},
        GoodCall{
            "F(&hFF, &h7fffffff, &hFFFFFFFF)",
            "F",
            {{K::Integer, "255", 3}, {K::Integer, "2147483647", 9}, {K::Integer, "4294967295", 21}},
            {}},
        GoodCall{R"(F("my pic.png", "a,b(c).png", "say \"hi\"", "back\\slash", ""))",
                 "F",
                 {{K::String, "my pic.png", 3},
                  {K::String, "a,b(c).png", 17},
                  {K::String, "say \"hi\"", 31},
                  {K::String, "back\\slash", 45},
                  {K::String, "", 60}},
                 {}},
        GoodCall{"FindPicture(/tmp/part.png, x, y)",
                 "FindPicture",
                 {{K::Word, "/tmp/part.png", 13}, {K::Word, "x", 28}, {K::Word, "y", 31}},
                 {}},
        GoodCall{"F(5x, 1.2.3, -abc, ../up.png)",
                 "F",
                 {{K::Word, "5x", 3},
                  {K::Word, "1.2.3", 7},
                  {K::Word, "-abc", 14},
                  {K::Word, "../up.png", 20}},
                 {}},
        GoodCall{"EmbeddedMaskQRX(true) = mask.png",
                 "EmbeddedMaskQRX",
                 {{K::Boolean, "true", 17}},
                 Expect{K::Word, "mask.png", 25}},
        GoodCall{"Table(1,2,3,4)=0.5",
                 "Table",
                 {{K::Integer, "1", 7},
                  {K::Integer, "2", 9},
                  {K::Integer, "3", 11},
                  {K::Integer, "4", 13}},
                 Expect{K::Double, "0.5", 16}},
        GoodCall{"Value = \"x y\"", "Value", {}, Expect{K::String, "x y", 9}},
        GoodCall{"\tF ( 1 ,\t2 ) ", "F", {{K::Integer, "1", 6}, {K::Integer, "2", 10}}, {}}),
    [](const testing::TestParamInfo<GoodCall>& info) {
        return "call" + std::to_string(info.index);
    });

TEST(ParseCall, IntegerTokensCarryTheirTextAndNumber) {
    CallExpr call = parseCall("F(-7, \"q\\\"\")");
    ASSERT_EQ(call.args.size(), 2u);
    EXPECT_EQ(call.args[0].text, "-7");
    EXPECT_EQ(call.args[0].integer, -7);
    EXPECT_EQ(call.args[0].number, -7.0);
    EXPECT_EQ(call.args[1].text, "\"q\\\"\"");
    EXPECT_EQ(call.args[1].str, "q\"");
}

struct BadCall {
    std::string text;
    size_t column;
    std::string fault;
};

class ParseBad : public testing::TestWithParam<BadCall> {};
void PrintTo(const BadCall& c, std::ostream* os) {
    *os << c.text;
}

TEST_P(ParseBad, ReportsTheColumn) {
    const BadCall& c = GetParam();
    try {
        parseCall(c.text);
        FAIL() << "no error for " << c.text;
    } catch (const CallSyntaxError& e) {
        EXPECT_EQ(e.column(), c.column) << c.text << ": " << e.what();
        std::string msg = e.what();
        EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
        EXPECT_EQ(msg.rfind("column " + std::to_string(c.column) + ": ", 0), 0u) << msg;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ParseBad,
    testing::Values(
        BadCall{"", 1, "method name"}, BadCall{"   ", 4, "method name"},
        BadCall{"5Invert", 1, "method name"}, BadCall{"(1)", 1, "method name"},
        BadCall{"F(1, 2", 2, "never closed"}, BadCall{"F(", 2, "never closed"},
        BadCall{"F(1,)", 5, "expected an argument"}, BadCall{"F(,1)", 3, "expected an argument"},
        BadCall{"F(1 2)", 5, "expected ','"}, BadCall{"F(my file.png)", 6, "expected ','"},
        BadCall{"F(1))", 5, "unexpected ')'"}, BadCall{"F x", 3, "unexpected 'x'"},
        BadCall{"F(\"abc)", 3, "never closed"}, BadCall{"F(\"a\\nb\")", 5, "unknown escape"},
        BadCall{"F(&c12345)", 3, "six hex digits"}, BadCall{"F(1, &c12345G)", 6, "six hex digits"},
        BadCall{"F(&h)", 3, "&h"}, BadCall{"F(&h123456789)", 3, "&h"},
        BadCall{"F(99999999999999999999)", 3, "out of range"},
        BadCall{"F(1e999)", 3, "out of range"}, BadCall{"F =", 4, "expected an argument"},
        BadCall{"F(1) = 2 3", 10, "unexpected '3'"}),
    [](const testing::TestParamInfo<BadCall>& info) { return "bad" + std::to_string(info.index); });

} // namespace
