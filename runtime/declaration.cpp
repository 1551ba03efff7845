// The declaration parser: turns "Name(p as Type, byref q as Type = default) as Type" into a
// Declaration. Keywords and type names are case-insensitive, blanks are optional around
// punctuation, and every fault is reported with the declaration and a 1-based column.
#include "qrx/declaration.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <utility>

namespace qrx {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isReserved(std::string_view word) {
    return equalsNoCase(word, "as") || equalsNoCase(word, "byref");
}

const char* kindName(TypeKind kind) {
    switch (kind) {
    case TypeKind::Integer:
        return "integer";
    case TypeKind::UInt32:
        return "uint32";
    case TypeKind::Double:
        return "double";
    case TypeKind::Boolean:
        return "boolean";
    case TypeKind::Color:
        return "color";
    case TypeKind::String:
        return "string";
    case TypeKind::Picture:
        return "picture";
    case TypeKind::MemoryBlock:
        return "memoryblock";
    case TypeKind::Object:
        return "object";
    }
    return "?";
}

// A default value as written, before it is matched against the parameter's type.
struct Literal {
    enum class Kind { Integer, Hex, Real, Color, Boolean, Nil } kind = Kind::Nil;
    std::string text;
    long long integer = 0; // Integer, Hex
    double real = 0;       // Real
    uint32_t color = 0;    // Color
    bool boolean = false;  // Boolean
    size_t column = 0;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Declaration parse() {
        Declaration decl;
        decl.text = std::string(text_);
        skipBlanks();
        if (atEnd()) fail("the declaration is empty");
        decl.name = expectIdentifier("expected a method name");
        skipBlanks();
        if (peek() == '(') {
            ++pos_;
            parseParams(decl);
            skipBlanks();
        }
        if (peekWord("as")) {
            readIdentifier();
            decl.result = expectType("as");
            skipBlanks();
        }
        if (!atEnd()) {
            if (peek() == ')') fail("unexpected \")\" without a matching \"(\"");
            fail("unexpected \"" + tokenHere() + "\" after the declaration");
        }
        return decl;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const { failAt(what, pos_); }

    [[noreturn]] void failAt(const std::string& what, size_t pos) const {
        throw DeclarationError("in \"" + std::string(text_) + "\": " + what + " at column " +
                               std::to_string(pos + 1));
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipBlanks() {
        while (!atEnd() && isBlank(text_[pos_]))
            ++pos_;
    }

    // The offending text at the current position, for messages: a word or a single character.
    std::string tokenHere() const {
        if (atEnd()) return "";
        size_t end = pos_;
        if (isIdentChar(text_[end])) {
            while (end < text_.size() && isIdentChar(text_[end]))
                ++end;
        } else {
            ++end;
        }
        return std::string(text_.substr(pos_, end - pos_));
    }

    std::string_view readIdentifier() {
        size_t start = pos_;
        while (!atEnd() && isIdentChar(text_[pos_]))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

    // Whether the identifier at the current position is exactly `word` (case-insensitive).
    bool peekWord(std::string_view word) const {
        if (atEnd() || !isIdentStart(text_[pos_])) return false;
        size_t end = pos_;
        while (end < text_.size() && isIdentChar(text_[end]))
            ++end;
        return equalsNoCase(text_.substr(pos_, end - pos_), word);
    }

    std::string expectIdentifier(const std::string& what) {
        if (atEnd()) fail(what + " at the end");
        if (!isIdentStart(peek())) fail(what + ", found \"" + tokenHere() + "\"");
        size_t start = pos_;
        std::string_view word = readIdentifier();
        if (isReserved(word))
            failAt(what + ", found the keyword \"" + std::string(word) + "\"", start);
        return std::string(word);
    }

    Type expectType(const char* after) {
        skipBlanks();
        std::string what = std::string("expected a type name after \"") + after + "\"";
        if (atEnd() || !isIdentStart(peek())) fail(what);
        size_t start = pos_;
        std::string_view word = readIdentifier();
        if (isReserved(word)) failAt(what, start);
        Type type;
        type.name = std::string(word);
        type.kind = typeKindFromName(word).value_or(TypeKind::Object);
        return type;
    }

    void parseParams(Declaration& decl) {
        skipBlanks();
        if (peek() == ')') {
            ++pos_;
            return;
        }
        for (;;) {
            decl.params.push_back(parseParam(decl));
            skipBlanks();
            if (atEnd()) fail("missing \")\" to close the parameter list");
            char c = peek();
            ++pos_;
            if (c == ')') return;
            if (c != ',') {
                --pos_;
                fail("expected \",\" or \")\" after a parameter, found \"" + tokenHere() + "\"");
            }
            skipBlanks();
        }
    }

    Param parseParam(const Declaration& decl) {
        Param param;
        skipBlanks();
        if (peekWord("byref")) {
            readIdentifier();
            if (atEnd() || !isBlank(peek())) fail("expected a blank after \"byref\"");
            skipBlanks();
            param.byRef = true;
        }
        if (atEnd()) fail("missing \")\" to close the parameter list");
        size_t namePos = pos_;
        param.name = expectIdentifier("expected a parameter name");
        for (const Param& other : decl.params) {
            if (equalsNoCase(other.name, param.name)) {
                failAt("duplicate parameter name \"" + param.name + "\"", namePos);
            }
        }
        skipBlanks();
        if (!peekWord("as")) {
            fail("expected \"as\" after parameter \"" + param.name + "\"");
        }
        readIdentifier();
        param.type = expectType("as");
        skipBlanks();
        if (peek() == '=') {
            size_t eqPos = pos_;
            ++pos_;
            if (param.byRef) {
                failAt("byref parameter \"" + param.name + "\" cannot have a default", eqPos);
            }
            skipBlanks();
            Literal lit = parseLiteral();
            param.defaultText = lit.text;
            param.defaultValue = convertDefault(lit, param);
        } else if (!decl.params.empty() && decl.params.back().defaultValue) {
            failAt("parameter \"" + param.name +
                       "\" needs a default, since a parameter before it has one",
                   namePos);
        }
        return param;
    }

    Literal parseLiteral() {
        Literal lit;
        lit.column = pos_;
        size_t start = pos_;
        if (atEnd() || peek() == ',' || peek() == ')') fail("expected a default value after \"=\"");
        char c = peek();
        if (c == '&') {
            ++pos_;
            char prefix = static_cast<char>(std::tolower(static_cast<unsigned char>(peek())));
            if (prefix != 'c' && prefix != 'h') {
                failAt("unknown literal \"" + std::string(text_.substr(start, pos_ + 1 - start)) +
                           "\"; expected &c or &h",
                       start);
            }
            ++pos_;
            size_t digitsStart = pos_;
            while (!atEnd() && std::isxdigit(static_cast<unsigned char>(peek())))
                ++pos_;
            std::string digits(text_.substr(digitsStart, pos_ - digitsStart));
            lit.text = std::string(text_.substr(start, pos_ - start));
            if (!atEnd() && isIdentChar(peek())) {
                fail("unexpected \"" + tokenHere() + "\" in the literal \"" + lit.text + "\"");
            }
            if (prefix == 'c') {
                if (digits.size() != 6) {
                    failAt("the colour \"" + lit.text + "\" needs exactly 6 hex digits", start);
                }
                lit.kind = Literal::Kind::Color;
                lit.color = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
            } else {
                if (digits.empty() || digits.size() > 8) {
                    failAt("the hex number \"" + lit.text + "\" needs 1 to 8 hex digits", start);
                }
                lit.kind = Literal::Kind::Hex;
                lit.integer = static_cast<long long>(std::strtoull(digits.c_str(), nullptr, 16));
            }
            return lit;
        }
        if (c == '-' || c == '+' || c == '.' || std::isdigit(static_cast<unsigned char>(c))) {
            return parseNumber();
        }
        if (isIdentStart(c)) {
            std::string_view word = readIdentifier();
            lit.text = std::string(word);
            if (equalsNoCase(word, "true") || equalsNoCase(word, "false")) {
                lit.kind = Literal::Kind::Boolean;
                lit.boolean = equalsNoCase(word, "true");
                return lit;
            }
            if (equalsNoCase(word, "nil")) {
                lit.kind = Literal::Kind::Nil;
                return lit;
            }
            failAt("unknown default value \"" + lit.text + "\"", start);
        }
        fail("unexpected \"" + tokenHere() + "\" where a default value belongs");
    }

    Literal parseNumber() {
        Literal lit;
        size_t start = pos_;
        lit.column = start;
        if (peek() == '-' || peek() == '+') ++pos_;
        size_t intDigits = 0;
        while (!atEnd() && std::isdigit(static_cast<unsigned char>(peek())))
            ++pos_, ++intDigits;
        bool real = false;
        size_t fracDigits = 0;
        if (peek() == '.') {
            real = true;
            ++pos_;
            while (!atEnd() && std::isdigit(static_cast<unsigned char>(peek())))
                ++pos_, ++fracDigits;
        }
        if (intDigits + fracDigits == 0) failAt("expected a number", start);
        if (peek() == 'e' || peek() == 'E') {
            real = true;
            ++pos_;
            if (peek() == '-' || peek() == '+') ++pos_;
            size_t expDigits = 0;
            while (!atEnd() && std::isdigit(static_cast<unsigned char>(peek())))
                ++pos_, ++expDigits;
            if (expDigits == 0) failAt("the exponent of the number has no digits", start);
        }
        if (!atEnd() && (isIdentChar(peek()) || peek() == '.')) {
            fail("unexpected \"" + tokenHere() + "\" in a number");
        }
        lit.text = std::string(text_.substr(start, pos_ - start));
        errno = 0;
        if (real) {
            lit.kind = Literal::Kind::Real;
            lit.real = std::strtod(lit.text.c_str(), nullptr);
            if (errno == ERANGE) failAt("the number " + lit.text + " is out of range", start);
        } else {
            lit.kind = Literal::Kind::Integer;
            lit.integer = std::strtoll(lit.text.c_str(), nullptr, 10);
            // Anything beyond 32 bits fits neither integer type; the limit keeps the check simple.
            if (errno == ERANGE || lit.integer < std::numeric_limits<int32_t>::min() ||
                lit.integer > std::numeric_limits<uint32_t>::max()) {
                failAt("the number " + lit.text + " is out of range", start);
            }
        }
        return lit;
    }

    [[noreturn]] void mismatch(const Literal& lit, const Param& param) const {
        failAt("the default " + lit.text + " does not fit type " + param.type.name +
                   " of parameter \"" + param.name + "\"",
               lit.column);
    }

    [[noreturn]] void outOfRange(const Literal& lit, const Param& param) const {
        failAt("the default " + lit.text + " is out of range for " + param.type.name +
                   " parameter \"" + param.name + "\"",
               lit.column);
    }

    Value convertDefault(const Literal& lit, const Param& param) const {
        using K = Literal::Kind;
        switch (param.type.kind) {
        case TypeKind::Integer:
            // &h literals are bit patterns: &hFFFFFFFF is -1.
            if (lit.kind == K::Hex) {
                return Value(std::in_place_type<int32_t>,
                             static_cast<int32_t>(static_cast<uint32_t>(lit.integer)));
            }
            if (lit.kind != K::Integer) mismatch(lit, param);
            if (lit.integer > std::numeric_limits<int32_t>::max()) outOfRange(lit, param);
            return Value(std::in_place_type<int32_t>, static_cast<int32_t>(lit.integer));
        case TypeKind::UInt32:
            if (lit.kind != K::Integer && lit.kind != K::Hex) mismatch(lit, param);
            if (lit.integer < 0) outOfRange(lit, param);
            return Value(std::in_place_type<uint32_t>, static_cast<uint32_t>(lit.integer));
        case TypeKind::Double:
            if (lit.kind == K::Real) return Value(std::in_place_type<double>, lit.real);
            if (lit.kind != K::Integer && lit.kind != K::Hex) mismatch(lit, param);
            return Value(std::in_place_type<double>, static_cast<double>(lit.integer));
        case TypeKind::Boolean:
            if (lit.kind != K::Boolean) mismatch(lit, param);
            return Value(std::in_place_type<bool>, lit.boolean);
        case TypeKind::Color:
            if (lit.kind != K::Color) mismatch(lit, param);
            return Value(std::in_place_type<Color>, Color{lit.color});
        case TypeKind::String:
        case TypeKind::Picture:
        case TypeKind::MemoryBlock:
        case TypeKind::Object:
            // Objects (strings included) can only default to nil.
            if (lit.kind != K::Nil) mismatch(lit, param);
            return Value(std::in_place_type<Nil>);
        }
        mismatch(lit, param);
    }

    std::string_view text_;
    size_t pos_ = 0;
};

bool sameType(const Type& a, const Type& b) {
    if (a.kind != b.kind) return false;
    return a.kind != TypeKind::Object || equalsNoCase(a.name, b.name);
}

} // namespace

size_t Declaration::requiredCount() const {
    size_t n = 0;
    while (n < params.size() && !params[n].defaultValue)
        ++n;
    return n;
}

Declaration parseDeclaration(std::string_view text) {
    return Parser(text).parse();
}

std::optional<TypeKind> typeKindFromName(std::string_view name) {
    static constexpr std::array<TypeKind, 8> kinds = {
        TypeKind::Integer, TypeKind::UInt32, TypeKind::Double,  TypeKind::Boolean,
        TypeKind::Color,   TypeKind::String, TypeKind::Picture, TypeKind::MemoryBlock,
    };
    for (TypeKind kind : kinds) {
        if (equalsNoCase(name, kindName(kind))) return kind;
    }
    return std::nullopt;
}

bool sameSignature(const Declaration& a, const Declaration& b) {
    if (!equalsNoCase(a.name, b.name) || a.params.size() != b.params.size()) return false;
    for (size_t i = 0; i < a.params.size(); ++i) {
        if (a.params[i].byRef != b.params[i].byRef) return false;
        if (!sameType(a.params[i].type, b.params[i].type)) return false;
    }
    if (a.result.has_value() != b.result.has_value()) return false;
    return !a.result || sameType(*a.result, *b.result);
}

} // namespace qrx
