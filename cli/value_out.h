// How values are shown: as text lines (`name = value`) and as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "qrx/value.h"

namespace qrx::cli {

// 42, 4294967295, 1.5, 2.0, true, &c88B5C4, nil, "text" (escaped), <Picture 160x120>,
// <MemoryBlock 4 bytes> 0a0b0c0d.
std::string valueText(const Value& v);

// The text of a double that reads back to the same value and always looks like a double.
std::string doubleText(double d);

// Bytes as a double-quoted string: \" \\ \n \r \t and \xNN for other bytes outside printable
// ASCII.
std::string quotedBytes(std::string_view bytes);

// Numbers, booleans and strings as themselves (a double that is not finite as the string "nan",
// "inf" or "-inf"; string bytes that are not UTF-8 replaced when dumped); colours as "&cRRGGBB";
// nil as null; a picture as
// {"width", "height", "path"} (path: where it was written, or null); a MemoryBlock as
// {"size", "hex"}; other objects as {"class"}.
nlohmann::json valueJson(const Value& v, const std::optional<std::string>& picturePath = {});

// A MemoryBlock of 1024 bytes as its 256 unsigned 32-bit counters (little-endian), as a histogram
// block holds them; null for anything else.
std::optional<nlohmann::json> counterListJson(const Value& v);

} // namespace qrx::cli
