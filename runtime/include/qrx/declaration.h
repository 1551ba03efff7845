// Declarations in the host language, as classes and methods are registered with them:
//   Name
//   Name as Type
//   Name(p as Type, byref q as Type = default, ...) as Type
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "qrx/value.h"

namespace qrx {

enum class TypeKind {
    Integer,     // 32-bit signed
    UInt32,      // 32-bit unsigned
    Double,      // 64-bit float
    Boolean,     // one byte, 0 or 1
    Color,       // 32-bit unsigned, &cRRGGBB
    String,      // host string object
    Picture,     // host picture object
    MemoryBlock, // host MemoryBlock object
    Object,      // any other class, named in Type::name
};

struct Type {
    TypeKind kind = TypeKind::Integer;
    std::string name; // as written in the declaration ("integer", "Picture", ...)
};

struct Param {
    std::string name;
    Type type;
    bool byRef = false;
    std::optional<std::string> defaultText; // as written after '='
    std::optional<Value> defaultValue;      // the parsed default
};

struct Declaration {
    std::string text; // the declaration exactly as received
    std::string name;
    std::vector<Param> params;
    std::optional<Type> result; // none for a method without "as Type"

    // Number of parameters a call must give (those before the first default).
    size_t requiredCount() const;
};

class DeclarationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses a declaration; throws DeclarationError with a message naming the fault.
Declaration parseDeclaration(std::string_view text);

// Type names are compared without regard to case ("integer" is "Integer").
std::optional<TypeKind> typeKindFromName(std::string_view name);

// Same name (case-insensitive) and the same parameter kinds, byref flags and result kind.
bool sameSignature(const Declaration& a, const Declaration& b);

} // namespace qrx
