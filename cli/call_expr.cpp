#include "call_expr.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace qrx::cli {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isWordChar(char c) {
    return !isBlank(c) && c != ',' && c != '(' && c != ')' && c != '"' && c != '=';
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// [+-]?digits
bool looksInteger(std::string_view s) {
    size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (!isDigit(s[i])) return false;
    return true;
}

// [+-]?(digits[.digits*] | .digits)([eE][+-]?digits)?
bool looksDouble(std::string_view s) {
    size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    size_t intDigits = 0, fracDigits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++intDigits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == s.size();
}

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    CallExpr parse() {
        CallExpr call;
        skipBlanks();
        call.nameColumn = column();
        if (atEnd() || !isIdentStart(s_[pos_]))
            throw CallSyntaxError(column(), "expected a method name");
        size_t start = pos_;
        while (!atEnd() && isIdentChar(s_[pos_]))
            ++pos_;
        call.name = std::string(s_.substr(start, pos_ - start));
        skipBlanks();
        if (!atEnd() && s_[pos_] == '(') {
            size_t open = column();
            ++pos_;
            skipBlanks();
            if (atEnd()) throw CallSyntaxError(open, "'(' is never closed");
            if (s_[pos_] == ')') {
                ++pos_;
            } else {
                for (;;) {
                    call.args.push_back(token());
                    skipBlanks();
                    if (atEnd()) throw CallSyntaxError(open, "'(' is never closed");
                    if (s_[pos_] == ')') {
                        ++pos_;
                        break;
                    }
                    if (s_[pos_] != ',')
                        throw CallSyntaxError(column(), "expected ',' or ')' after an argument");
                    ++pos_;
                }
            }
            skipBlanks();
        }
        if (!atEnd() && s_[pos_] == '=') {
            ++pos_;
            call.assigned = token();
            skipBlanks();
        }
        if (!atEnd())
            throw CallSyntaxError(column(),
                                  std::string("unexpected '") + s_[pos_] + "' after the call");
        return call;
    }

  private:
    bool atEnd() const { return pos_ >= s_.size(); }
    size_t column() const { return pos_ + 1; }
    void skipBlanks() {
        while (!atEnd() && isBlank(s_[pos_]))
            ++pos_;
    }

    ArgToken token() {
        skipBlanks();
        ArgToken t;
        t.column = column();
        if (atEnd()) throw CallSyntaxError(column(), "expected an argument");
        if (s_[pos_] == '"') return quoted(t);
        size_t start = pos_;
        while (!atEnd() && isWordChar(s_[pos_]))
            ++pos_;
        if (pos_ == start) throw CallSyntaxError(column(), "expected an argument");
        t.text = std::string(s_.substr(start, pos_ - start));
        classify(t);
        return t;
    }

    ArgToken quoted(ArgToken& t) {
        size_t start = pos_++;
        for (;;) {
            if (atEnd()) throw CallSyntaxError(t.column, "string is never closed");
            char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                break;
            }
            if (c == '\\') {
                if (pos_ + 1 >= s_.size() || (s_[pos_ + 1] != '"' && s_[pos_ + 1] != '\\'))
                    throw CallSyntaxError(column(), "unknown escape (only \\\" and \\\\)");
                t.str += s_[pos_ + 1];
                pos_ += 2;
                continue;
            }
            t.str += c;
            ++pos_;
        }
        t.kind = TokenKind::String;
        t.text = std::string(s_.substr(start, pos_ - start));
        return t;
    }

    void classify(ArgToken& t) {
        const std::string& w = t.text;
        std::string lw = lower(w);
        t.str = w;
        if (lw == "true" || lw == "false") {
            t.kind = TokenKind::Boolean;
            t.boolean = lw == "true";
        } else if (lw == "nil") {
            t.kind = TokenKind::Nil;
        } else if (lw.starts_with("&c")) {
            if (w.size() != 8 || hexDigit(w[2]) < 0 || hexDigit(w[3]) < 0 || hexDigit(w[4]) < 0 ||
                hexDigit(w[5]) < 0 || hexDigit(w[6]) < 0 || hexDigit(w[7]) < 0)
                throw CallSyntaxError(t.column, "a colour is &c followed by six hex digits");
            t.kind = TokenKind::Color;
            for (size_t i = 2; i < 8; ++i)
                t.color = t.color << 4 | uint32_t(hexDigit(w[i]));
        } else if (lw.starts_with("&h")) {
            if (w.size() < 3 || w.size() > 10)
                throw CallSyntaxError(t.column, "a hex integer is &h followed by 1 to 8 digits");
            uint32_t v = 0;
            for (size_t i = 2; i < w.size(); ++i) {
                int d = hexDigit(w[i]);
                if (d < 0)
                    throw CallSyntaxError(t.column,
                                          "a hex integer is &h followed by 1 to 8 digits");
                v = v << 4 | uint32_t(d);
            }
            t.kind = TokenKind::Integer;
            t.integer = v;
            t.number = v;
        } else if (looksInteger(w)) {
            std::string_view digits = w;
            if (digits[0] == '+') digits.remove_prefix(1);
            auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), t.integer);
            if (ec != std::errc() || end != digits.data() + digits.size())
                throw CallSyntaxError(t.column, "integer '" + w + "' is out of range");
            t.kind = TokenKind::Integer;
            t.number = double(t.integer);
        } else if (looksDouble(w)) {
            std::string_view digits = w;
            if (digits[0] == '+') digits.remove_prefix(1);
            auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), t.number);
            if (ec != std::errc() || end != digits.data() + digits.size() ||
                !std::isfinite(t.number))
                throw CallSyntaxError(t.column, "number '" + w + "' is out of range");
            t.kind = TokenKind::Double;
        } else {
            t.kind = TokenKind::Word;
        }
    }

    std::string_view s_;
    size_t pos_ = 0;
};

} // namespace

std::string_view tokenKindName(TokenKind kind) {
    switch (kind) {
    case TokenKind::Integer:
        return "integer";
    case TokenKind::Double:
        return "number";
    case TokenKind::Boolean:
        return "boolean";
    case TokenKind::Color:
        return "colour";
    case TokenKind::Nil:
        return "nil";
    case TokenKind::String:
        return "quoted string";
    case TokenKind::Word:
        return "word";
    }
    return "token";
}

CallSyntaxError::CallSyntaxError(size_t column, const std::string& what)
    : std::runtime_error("column " + std::to_string(column) + ": " + what), column_(column) {}

CallExpr parseCall(std::string_view text) {
    return Parser(text).parse();
}

} // namespace qrx::cli
