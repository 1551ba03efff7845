#include "value_out.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "qrx/objects.h"

namespace qrx::cli {

namespace {

std::string hexBytes(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string colorText(Color c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&c%06X", unsigned(c.value & 0xFFFFFF));
    return buf;
}

} // namespace

std::string doubleText(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    std::string s(buf, ec == std::errc() ? end : buf);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string quotedBytes(std::string_view bytes) {
    std::string out = "\"";
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", unsigned(c));
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string valueText(const Value& v) {
    struct Visitor {
        std::string operator()(Nil) const { return "nil"; }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(uint32_t u) const { return std::to_string(u); }
        std::string operator()(double d) const { return doubleText(d); }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(Color c) const { return colorText(c); }
        std::string operator()(const Ref& r) const {
            if (!r) return "nil";
            if (auto* s = r.as<String>()) {
                auto b = s->bytes();
                return quotedBytes(
                    std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
            }
            if (auto* m = r.as<MemoryBlock>())
                return "<MemoryBlock " + std::to_string(m->bytes.size()) + " bytes> " +
                       hexBytes(m->bytes);
            return describe(r);
        }
    };
    return std::visit(Visitor{}, v);
}

nlohmann::json valueJson(const Value& v, const std::optional<std::string>& picturePath) {
    using nlohmann::json;
    struct Visitor {
        const std::optional<std::string>& path;
        json operator()(Nil) const { return nullptr; }
        json operator()(int32_t i) const { return i; }
        json operator()(uint32_t u) const { return u; }
        json operator()(double d) const { return std::isfinite(d) ? json(d) : json(doubleText(d)); }
        json operator()(bool b) const { return b; }
        json operator()(Color c) const { return colorText(c); }
        json operator()(const Ref& r) const {
            if (!r) return nullptr;
            if (auto* p = r.as<Picture>())
                return {{"width", p->width()},
                        {"height", p->height()},
                        {"path", path ? json(*path) : json(nullptr)}};
            if (auto* s = r.as<String>()) {
                auto b = s->bytes();
                return std::string(b.begin(), b.end());
            }
            if (auto* m = r.as<MemoryBlock>())
                return {{"size", m->bytes.size()}, {"hex", hexBytes(m->bytes)}};
            return {{"class", r->className()}};
        }
    };
    return std::visit(Visitor{picturePath}, v);
}

std::optional<nlohmann::json> counterListJson(const Value& v) {
    const Ref* r = std::get_if<Ref>(&v);
    const MemoryBlock* m = r && *r ? r->as<MemoryBlock>() : nullptr;
    if (!m || m->bytes.size() != 1024) return std::nullopt;
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < 1024; i += 4) {
        const uint8_t* b = m->bytes.data() + i;
        list.push_back(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                       uint32_t(b[3]) << 24);
    }
    return list;
}

} // namespace qrx::cli
