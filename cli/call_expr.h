// A call written as in the host language: `Name`, `Name(arg, ...)` or `Name(args) = value`.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qrx::cli {

enum class TokenKind {
    Integer, // 42, -7, +3
    Double,  // 1.5, -0.25, 2e3, .5
    Boolean, // true, false (any case)
    Color,   // &cRRGGBB
    Nil,     // nil (any case)
    String,  // "double-quoted", with \" and \\ escapes
    Word,    // anything else without blanks, commas, parentheses or quotes: paths, output names
};

std::string_view tokenKindName(TokenKind kind);

struct ArgToken {
    TokenKind kind = TokenKind::Word;
    std::string text;     // as written
    std::string str;      // String: the text without quotes and escapes; Word: the word
    int64_t integer = 0;  // Integer
    double number = 0;    // Integer and Double
    bool boolean = false; // Boolean
    uint32_t color = 0;   // Color
    size_t column = 0;    // 1-based column of the token's first character
};

struct CallExpr {
    std::string name;
    size_t nameColumn = 1;
    std::vector<ArgToken> args;
    std::optional<ArgToken> assigned; // the value of `Name(args) = value`
};

class CallSyntaxError : public std::runtime_error {
  public:
    CallSyntaxError(size_t column, const std::string& what);
    size_t column() const { return column_; }

  private:
    size_t column_;
};

// Parses a call; throws CallSyntaxError with the 1-based column of the fault.
CallExpr parseCall(std::string_view text);

} // namespace qrx::cli
