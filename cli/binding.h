// Turning the arguments of a written call into host values by the declared parameter types.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "call_expr.h"
#include "qrx/host.h"

namespace qrx::cli {

// Why a token cannot be given for a parameter of this type, or nothing when it can.
//   Integer, UInt32: an integer literal in range       Double: any number
//   Boolean: true/false     Color: &cRRGGBB     Object types: nil
//   Picture: an image file; MemoryBlock, String: a file whose raw bytes it holds (or nil)
//   byref parameters: an output name (a word or quoted string)
std::optional<std::string> misfit(const Type& type, bool byRef, const ArgToken& token);

// Whether a token has exactly the parameter's own form (an integer for an Integer, a number with
// a point for a Double, ...); used to rank overloads that all fit.
bool exactFit(const Type& type, const ArgToken& token);

// The overload a call means. Only overloads taking that many arguments count; among them those
// every argument fits; among those the one with the most exact fits, then the first registered.
// With assigned set, only assignable overloads whose result type the value fits. Throws
// UsageError listing the overloads (and why each was refused) when none fits.
const MethodInfo* chooseOverload(const std::vector<const MethodInfo*>& overloads,
                                 const CallExpr& call, std::string_view qualifiedName);

// Host values for the arguments of a chosen overload. Picture files are read into pictures of
// the host's form, MemoryBlock and String files into their raw bytes (strings with the raw-bytes
// encoding), byref parameters get their type's zero value or nil. Throws UsageError naming the
// argument or file at fault.
struct BoundArgs {
    std::vector<Value> values;
    std::vector<std::string> outputNames; // one per argument: the output name of a byref
};
BoundArgs bindArguments(Host& host, const MethodInfo& method, const std::vector<ArgToken>& args);

// The host value for one token of the given type (not byref).
Value bindValue(Host& host, const Type& type, const ArgToken& token, const std::string& what);

// Names from candidates that are close to name (case-insensitive edit distance, or containing
// it), closest first, at most max of them.
std::vector<std::string> closestNames(std::string_view name,
                                      const std::vector<std::string>& candidates, size_t max = 3);

} // namespace qrx::cli
