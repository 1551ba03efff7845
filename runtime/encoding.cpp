// Text conversion between the encodings host strings carry.
//
// Decisions of this host: UTF-16 and UTF-32 are little-endian without a byte-order mark; raw bytes
// (0xFFFF) convert as if each byte were one character (ISO 8859-1), so nothing is ever lost going
// out of raw; converting to raw, or to the encoding a string already has, keeps the bytes as
// stored. Otherwise malformed input becomes U+FFFD, and a character that ASCII cannot hold becomes
// '?'. Conversion never fails for the five known encodings; any other encoding value fails.
#include <cstdint>
#include <string>
#include <vector>

#include "host_impl.h"

namespace qrx {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::vector<char32_t> decodeUtf8(std::span<const uint8_t> b) {
    std::vector<char32_t> out;
    size_t i = 0;
    while (i < b.size()) {
        uint8_t c = b[i];
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        size_t j = 1;
        for (; j <= size_t(extra); ++j) {
            if (i + j >= b.size() || (b[i + j] & 0xC0) != 0x80) break;
            cp = cp << 6 | (b[i + j] & 0x3F);
        }
        if (j <= size_t(extra)) { // truncated sequence
            out.push_back(kReplacement);
            i += j;
            continue;
        }
        static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = kReplacement;
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

std::vector<char32_t> decodeUtf16(std::span<const uint8_t> b) {
    std::vector<char32_t> out;
    size_t n = b.size() / 2;
    auto unit = [&](size_t k) { return char32_t(b[2 * k] | b[2 * k + 1] << 8); };
    for (size_t k = 0; k < n; ++k) {
        char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(kReplacement);
        } else {
            out.push_back(u);
        }
    }
    if (b.size() % 2) out.push_back(kReplacement); // a dangling byte
    return out;
}

std::vector<char32_t> decodeUtf32(std::span<const uint8_t> b) {
    std::vector<char32_t> out;
    for (size_t k = 0; k + 4 <= b.size(); k += 4) {
        char32_t u = char32_t(b[k]) | char32_t(b[k + 1]) << 8 | char32_t(b[k + 2]) << 16 |
                     char32_t(b[k + 3]) << 24;
        out.push_back(u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    if (b.size() % 4) out.push_back(kReplacement);
    return out;
}

std::vector<char32_t> decode(std::span<const uint8_t> b, uint32_t enc) {
    switch (enc) {
    case kREALTextEncodingUTF8:
        return decodeUtf8(b);
    case kREALTextEncodingUTF16:
        return decodeUtf16(b);
    case kREALTextEncodingUTF32:
        return decodeUtf32(b);
    case kREALTextEncodingASCII: {
        std::vector<char32_t> out;
        for (uint8_t c : b)
            out.push_back(c < 0x80 ? c : kReplacement);
        return out;
    }
    default: // raw: one character per byte
        return std::vector<char32_t>(b.begin(), b.end());
    }
}

void appendUtf8(std::string& s, char32_t cp) {
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | cp >> 6);
        s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | cp >> 12);
        s += char(0x80 | (cp >> 6 & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | cp >> 18);
        s += char(0x80 | (cp >> 12 & 0x3F));
        s += char(0x80 | (cp >> 6 & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
}

void appendUnit16(std::string& s, char32_t u) {
    s += char(u & 0xFF);
    s += char(u >> 8 & 0xFF);
}

std::string encode(const std::vector<char32_t>& text, uint32_t enc) {
    std::string s;
    for (char32_t cp : text) {
        switch (enc) {
        case kREALTextEncodingUTF8:
            appendUtf8(s, cp);
            break;
        case kREALTextEncodingUTF16:
            if (cp >= 0x10000) {
                appendUnit16(s, 0xD800 + ((cp - 0x10000) >> 10));
                appendUnit16(s, 0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                appendUnit16(s, cp);
            }
            break;
        case kREALTextEncodingUTF32:
            for (int k = 0; k < 4; ++k)
                s += char(cp >> (8 * k) & 0xFF);
            break;
        default: // ASCII
            s += cp < 0x80 ? char(cp) : '?';
        }
    }
    return s;
}

} // namespace

bool knownEncoding(uint32_t enc) {
    switch (enc) {
    case kREALTextEncodingASCII:
    case kREALTextEncodingUTF16:
    case kREALTextEncodingUTF8:
    case kREALTextEncodingUTF32:
    case kREALTextEncodingRaw:
        return true;
    default:
        return false;
    }
}

std::optional<std::string> convertText(std::span<const uint8_t> bytes, uint32_t from, uint32_t to) {
    if (!knownEncoding(from) || !knownEncoding(to)) return std::nullopt;
    if (to == kREALTextEncodingRaw || from == to) return std::string(bytes.begin(), bytes.end());
    return encode(decode(bytes, from), to);
}

} // namespace qrx
