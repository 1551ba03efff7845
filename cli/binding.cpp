#include "binding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <span>

#include "errors.h"
#include "host_pictures.h"
#include "image_io.h"

namespace qrx::cli {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string quoted(const ArgToken& t) {
    return t.kind == TokenKind::String ? t.text : "'" + t.text + "'";
}

std::string paramText(const Param& p) {
    return std::string(p.byRef ? "byref " : "") + p.name + " as " + p.type.name;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// Why no argument list of this overload fits, or nothing when it fits.
std::optional<std::string> overloadMisfit(const MethodInfo& m, const CallExpr& call) {
    const auto& params = m.decl.params;
    const size_t n = call.args.size();
    if (n < m.decl.requiredCount() || n > params.size()) {
        if (m.decl.requiredCount() == params.size())
            return "takes " + std::to_string(params.size()) + " argument" +
                   (params.size() == 1 ? "" : "s");
        return "takes " + std::to_string(m.decl.requiredCount()) + " to " +
               std::to_string(params.size()) + " arguments";
    }
    for (size_t i = 0; i < n; ++i)
        if (auto why = misfit(params[i].type, params[i].byRef, call.args[i]))
            return "argument " + std::to_string(i + 1) + " (" + paramText(params[i]) + "): " + *why;
    if (call.assigned) {
        if (!m.setter) return "is not assignable";
        if (!m.decl.result) return "has no value type to assign";
        if (auto why = misfit(*m.decl.result, false, *call.assigned))
            return "assigned value (as " + m.decl.result->name + "): " + *why;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> misfit(const Type& type, bool byRef, const ArgToken& t) {
    if (byRef) {
        if (t.kind == TokenKind::Word || t.kind == TokenKind::String) return std::nullopt;
        return "a byref argument takes an output name, not " + quoted(t);
    }
    switch (type.kind) {
    case TypeKind::Integer:
        if (t.kind != TokenKind::Integer) return quoted(t) + " is not an integer";
        if (t.integer < std::numeric_limits<int32_t>::min() ||
            t.integer > std::numeric_limits<int32_t>::max())
            return quoted(t) + " is outside the 32-bit integer range";
        return std::nullopt;
    case TypeKind::UInt32:
        if (t.kind != TokenKind::Integer) return quoted(t) + " is not an integer";
        if (t.integer < 0 || t.integer > std::numeric_limits<uint32_t>::max())
            return quoted(t) + " is outside 0 to 4294967295";
        return std::nullopt;
    case TypeKind::Double:
        if (t.kind != TokenKind::Integer && t.kind != TokenKind::Double)
            return quoted(t) + " is not a number";
        return std::nullopt;
    case TypeKind::Boolean:
        if (t.kind != TokenKind::Boolean) return quoted(t) + " is not true or false";
        return std::nullopt;
    case TypeKind::Color:
        if (t.kind != TokenKind::Color) return quoted(t) + " is not a colour (&cRRGGBB)";
        return std::nullopt;
    case TypeKind::Picture:
    case TypeKind::MemoryBlock:
    case TypeKind::String:
        if (t.kind == TokenKind::Word || t.kind == TokenKind::String || t.kind == TokenKind::Nil)
            return std::nullopt;
        return quoted(t) + " is not a file name or nil";
    case TypeKind::Object:
        if (t.kind == TokenKind::Nil) return std::nullopt;
        return "only nil can be given for a " + type.name;
    }
    return "unknown parameter type";
}

bool exactFit(const Type& type, const ArgToken& t) {
    switch (type.kind) {
    case TypeKind::Integer:
    case TypeKind::UInt32:
        return t.kind == TokenKind::Integer;
    case TypeKind::Double:
        return t.kind == TokenKind::Double;
    case TypeKind::Boolean:
        return t.kind == TokenKind::Boolean;
    case TypeKind::Color:
        return t.kind == TokenKind::Color;
    case TypeKind::Picture:
    case TypeKind::MemoryBlock:
    case TypeKind::String:
        return t.kind == TokenKind::Word || t.kind == TokenKind::String;
    case TypeKind::Object:
        return t.kind == TokenKind::Nil;
    }
    return false;
}

const MethodInfo* chooseOverload(const std::vector<const MethodInfo*>& overloads,
                                 const CallExpr& call, std::string_view qualifiedName) {
    const MethodInfo* best = nullptr;
    int bestScore = -1;
    std::string reasons;
    for (const MethodInfo* m : overloads) {
        if (auto why = overloadMisfit(*m, call)) {
            reasons += "\n  " + m->decl.text + "\n      " + *why;
            continue;
        }
        int score = 0;
        for (size_t i = 0; i < call.args.size(); ++i)
            score += m->decl.params[i].byRef || exactFit(m->decl.params[i].type, call.args[i]);
        if (score > bestScore) best = m, bestScore = score;
    }
    if (best) return best;
    std::string what = call.assigned ? "no assignable overload of " : "no overload of ";
    throw UsageError(what + std::string(qualifiedName) + " takes these " +
                     std::to_string(call.args.size()) + " argument" +
                     (call.args.size() == 1 ? "" : "s") + "; overloads:" + reasons);
}

Value bindValue(Host& host, const Type& type, const ArgToken& t, const std::string& what) {
    if (auto why = misfit(type, false, t)) throw UsageError(what + ": " + *why);
    switch (type.kind) {
    case TypeKind::Integer:
        return int32_t(t.integer);
    case TypeKind::UInt32:
        return uint32_t(t.integer);
    case TypeKind::Double:
        return t.number;
    case TypeKind::Boolean:
        return t.boolean;
    case TypeKind::Color:
        return Color{t.color};
    case TypeKind::Object:
        return Nil{};
    case TypeKind::Picture:
    case TypeKind::MemoryBlock:
    case TypeKind::String:
        break;
    }
    if (t.kind == TokenKind::Nil) return Nil{};
    try {
        if (type.kind == TypeKind::Picture) return loadPicture(host, t.str);
        std::string bytes = readFileBytes(t.str);
        std::span<const uint8_t> raw(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (type.kind == TypeKind::MemoryBlock) return host.newMemoryBlock(raw);
        // A file's bytes are not text of a known encoding: the string holds them as raw bytes.
        return host.newString(bytes, kREALTextEncodingRaw);
    } catch (const ImageFileError& e) {
        throw UsageError(what + ": " + e.what());
    }
}

BoundArgs bindArguments(Host& host, const MethodInfo& method, const std::vector<ArgToken>& args) {
    BoundArgs out;
    const auto& params = method.decl.params;
    for (size_t i = 0; i < args.size() && i < params.size(); ++i) {
        const Param& p = params[i];
        std::string what = "argument " + std::to_string(i + 1) + " (" + paramText(p) + ")";
        if (!p.byRef) {
            out.values.push_back(bindValue(host, p.type, args[i], what));
            out.outputNames.emplace_back();
            continue;
        }
        if (auto why = misfit(p.type, true, args[i])) throw UsageError(what + ": " + *why);
        switch (p.type.kind) {
        case TypeKind::Integer:
            out.values.emplace_back(int32_t(0));
            break;
        case TypeKind::UInt32:
            out.values.emplace_back(uint32_t(0));
            break;
        case TypeKind::Double:
            out.values.emplace_back(0.0);
            break;
        case TypeKind::Boolean:
            out.values.emplace_back(false);
            break;
        case TypeKind::Color:
            out.values.emplace_back(Color{0});
            break;
        default:
            out.values.emplace_back(Nil{});
            break;
        }
        out.outputNames.push_back(args[i].str);
    }
    return out;
}

std::vector<std::string> closestNames(std::string_view name,
                                      const std::vector<std::string>& candidates, size_t max) {
    const std::string key = lower(name);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const std::string& c : candidates) {
        std::string lc = lower(c);
        size_t d = editDistance(key, lc);
        bool contains = key.size() >= 3 && lc.find(key) != std::string::npos;
        size_t limit = std::max<size_t>(2, key.size() / 3);
        if (d > limit && !contains) continue;
        if (std::any_of(scored.begin(), scored.end(), [&](auto& s) { return s.second == c; }))
            continue;
        scored.emplace_back(contains ? std::min(d, limit) : d, c);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& s : scored) {
        if (out.size() == max) break;
        out.push_back(s.second);
    }
    return out;
}

} // namespace qrx::cli
