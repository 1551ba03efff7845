#include "models.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

#include "qrx/objects.h"

namespace model {
namespace {

using RGB = std::array<int, 3>;

const Image* pic(const Val& v) {
    return std::get_if<Image>(&v);
}
// A picture a reader can open: where plain pictures refuse the bitmap lock a reader works on a
// copy, and no copy of a picture without pixels can be made.
const Image* read(const Ctx& c, const Val& v) {
    const Image* p = pic(v);
    if (p && c.plainLockRefused && !p->hasAlpha && (p->width == 0 || p->height == 0))
        return nullptr;
    return p;
}
int32_t num(const Val& v) {
    return std::get<int32_t>(v);
}
double dbl(const Val& v) {
    return std::get<double>(v);
}
RGB colour(const Val& v) {
    const uint32_t c = std::get<qrx::Color>(v).value;
    return {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
}
RGB at(const Image& img, int x, int y) {
    const uint8_t* p = img.pixel(x, y);
    return {p[0], p[1], p[2]};
}
// A written pixel is opaque whatever the picture.
void put(Image& img, int x, int y, RGB c) {
    uint8_t* p = img.pixel(x, y);
    for (int i = 0; i < 3; ++i)
        p[i] = uint8_t(c[size_t(i)]);
    p[3] = 255;
}

// Conversions: toward zero to 32 bits; a value that does not fit, and NaN, give the most
// negative 32-bit integer. Integer products wrap as 32-bit host integers do.
int32_t trunc32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return int32_t(x);
}
int32_t wrap(int64_t v) {
    return int32_t(uint32_t(uint64_t(v)));
}
int clamp(int64_t t) {
    return t < 0 ? 0 : t > 255 ? 255 : int(t);
}

Outcome nil() {
    return {};
}
Outcome give(Val v) {
    return {std::move(v), {}, {}, {}};
}
Outcome raise(const char* cls) {
    return {{}, {}, cls, {}};
}

// New pictures: given a width and a height they are plain and 1 to 32767 each way; made from a
// source they take its alpha channel, which needs a host of 2011.04 or later.
std::optional<Image> blank(const Ctx& c, int w, int h, bool alpha) {
    Image img{w, h, alpha, std::vector<uint8_t>(size_t(w) * size_t(h) * 4), {}};
    // Through a pointer: GCC 12 under AddressSanitizer misreads `(c ? a : b)[i]` of two arrays.
    const uint8_t* fill = alpha ? c.alphaFill : c.plainFill;
    for (size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = fill[i % 4];
    return img;
}
std::optional<Image> newPlain(const Ctx& c, int w, int h) {
    if (w < 1 || h < 1 || w > 32767 || h > 32767) return std::nullopt;
    return blank(c, w, h, false);
}
std::optional<Image> newLike(const Ctx& c, const Image& src) {
    if (!src.hasAlpha) return newPlain(c, src.width, src.height);
    if (src.width < 1 || src.height < 1 || c.version.value_or(0) < 2011.04) return std::nullopt;
    return blank(c, src.width, src.height, true);
}

// Every pixel of the source through f, into a picture made from the source.
Outcome mapEach(const Ctx& c, const Val& self, const std::function<RGB(RGB)>& f) {
    const Image* src = read(c, self);
    if (!src) return nil();
    std::optional<Image> out = newLike(c, *src);
    if (!out) return nil();
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x)
            put(*out, x, y, f(at(*src, x, y)));
    return give(std::move(*out));
}
// The same function for each component, with the channel's own amounts.
Outcome mapComponents(const Ctx& c, const Val& self, const std::function<int(int, int)>& f) {
    return mapEach(c, self, [&](RGB p) { return RGB{f(p[0], 0), f(p[1], 1), f(p[2], 2)}; });
}

// A rectangle clipped to W x H: a width or height that counts as omitted is the picture's, and
// the rectangle still starts at left, top. The sums are 32-bit.
struct Span {
    int x0, y0, x1, y1;
    bool has(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};
Span clip(int W, int H, int32_t l, int32_t t, int32_t w, int32_t h, int32_t omittedBelow) {
    if (w < omittedBelow) w = W;
    if (h < omittedBelow) h = H;
    const int32_t right = wrap(int64_t(l) + w), bottom = wrap(int64_t(t) + h);
    return {std::max(l, 0), std::max(t, 0), int(std::min<int64_t>(right, W)),
            int(std::min<int64_t>(bottom, H))};
}
Span rectArgs(const Image& src, const std::vector<Val>& a, size_t first, int32_t omittedBelow) {
    if (a.size() < first + 4) return {0, 0, src.width, src.height};
    return clip(src.width, src.height, num(a[first]), num(a[first + 1]), num(a[first + 2]),
                num(a[first + 3]), omittedBelow);
}

// ---- tone
Outcome invert(const Ctx& c, const std::vector<Val>& a, bool grayOnly) {
    const Image* src = read(c, a[0]);
    if (!src) return nil();
    std::optional<Image> out = newLike(c, *src);
    if (!out) return nil();
    // InvertQRX takes a width below 1 as omitted; InvertGrayQRX only a negative one.
    const Span s = rectArgs(*src, a, 1, grayOnly ? 0 : 1);
    for (int y = s.y0; y < s.y1; ++y)
        for (int x = s.x0; x < s.x1; ++x) {
            RGB p = at(*src, x, y);
            if (!grayOnly || (p[0] == p[1] && p[1] == p[2]))
                for (int& v : p)
                    v = 255 - v;
            put(*out, x, y, p);
        }
    return give(std::move(*out));
}

// One amount for all channels, or one each.
std::array<double, 3> amounts(const std::vector<Val>& a, size_t first, size_t count) {
    if (count == 1) return {dbl(a[first]), dbl(a[first]), dbl(a[first])};
    return {dbl(a[first]), dbl(a[first + 1]), dbl(a[first + 2])};
}
// Linear brightness as scale and offset: b >= 0 lifts the dark end to b, b < 0 lowers the bright
// end to 255 + b.
std::pair<double, double> linear(double b) {
    return b < 0 ? std::pair((b + 255) / 255, 0.0) : std::pair((255 - b) / 255, b);
}

Outcome brightness(const Ctx& c, const std::vector<Val>& a, bool isLinear) {
    const auto b = amounts(a, 1, a.size() - 1);
    return mapComponents(c, a[0], [&](int v, int ch) {
        if (!isLinear) return clamp(trunc32(v + b[size_t(ch)]));
        const auto [scale, offset] = linear(b[size_t(ch)]);
        return int(uint8_t(trunc32(v * scale + offset))); // low 8 bits, no clamp
    });
}

enum class Then { None, Absolute, Linear };
Outcome contrast(const Ctx& c, const std::vector<Val>& a, Then then) {
    const size_t n = then == Then::None ? a.size() - 1 : (a.size() - 1) / 2;
    const auto k = amounts(a, 1, n);
    const auto b = then == Then::None ? std::array<double, 3>{} : amounts(a, 1 + n, n);
    return mapComponents(c, a[0], [&](int v, int ch) {
        const double f = k[size_t(ch)] + 1;
        const double value = double(v - 127) * f + 127; // pivot 127
        if (then == Then::None) return clamp(trunc32(value));
        if (then == Then::Absolute) return clamp(trunc32(value + b[size_t(ch)]));
        const auto [scale, offset] = linear(b[size_t(ch)]);
        return clamp(trunc32(value * scale + offset));
    });
}

Outcome custom(const Ctx& c, const std::vector<Val>& a) {
    return mapComponents(c, a[0],
                         [&](int v, int) { return clamp(trunc32(v * dbl(a[1]) + dbl(a[2]))); });
}

Outcome saturation(const Ctx& c, const std::vector<Val>& a) {
    const int32_t k = wrap(int64_t(num(a[1])) + 255);
    return mapEach(c, a[0], [&](RGB p) {
        const int gray = (p[0] + p[2] + 2 * p[1]) / 4; // green counts twice
        RGB out;
        for (size_t i = 0; i < 3; ++i)
            out[i] = clamp(gray + wrap(int64_t(p[i] - gray) * k) / 255);
        return out;
    });
}

Outcome tint(const Ctx& c, const std::vector<Val>& a) {
    const RGB g = colour(a[1]), s = colour(a[2]);
    const double Gr = g[0] / 255.0, Gg = g[1] / 255.0, Gb = g[2] / 255.0;
    const double S[3] = {s[0] / 255.0, s[1] / 255.0, s[2] / 255.0};
    return mapEach(c, a[0], [&](RGB p) {
        const double level = (p[0] * Gr + p[1] * Gg) + p[2] * Gb;
        RGB out;
        for (size_t i = 0; i < 3; ++i)
            out[i] = std::min(trunc32(level * S[i]), 255);
        return out;
    });
}

// ---- channels
Outcome replaceChannel(const Ctx& c, const std::vector<Val>& a, size_t channel) {
    const Image* ch = pic(a[1]);
    if (!ch) return raise("NilObjectException"); // before the source is looked at
    const Image* src = read(c, a[0]);
    ch = read(c, a[1]);
    if (!src || !ch || ch->width < src->width || ch->height < src->height) return nil();
    std::optional<Image> out = newPlain(c, src->width, src->height);
    if (!out) return nil();
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x) {
            RGB p = at(*src, x, y);
            p[channel] = at(*ch, x, y)[channel];
            put(*out, x, y, p);
        }
    return give(std::move(*out));
}

// Pictures of one size into a new plain picture, pixel by pixel.
Outcome combineWith(const Ctx& c, std::vector<const Image*> in,
                    const std::function<RGB(const std::vector<RGB>&)>& f) {
    for (const Image* p : in)
        if (!p || p->width != in[0]->width || p->height != in[0]->height) return nil();
    std::optional<Image> out = newPlain(c, in[0]->width, in[0]->height);
    if (!out) return nil();
    std::vector<RGB> px(in.size());
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x) {
            for (size_t i = 0; i < in.size(); ++i)
                px[i] = at(*in[i], x, y);
            put(*out, x, y, f(px));
        }
    return give(std::move(*out));
}

Outcome combine(const Ctx& c, const std::vector<Val>& a) {
    // Parameters red, blue, green: each feeds the channel it is named after.
    return combineWith(c, {read(c, a[0]), read(c, a[1]), read(c, a[2])},
                       [](const std::vector<RGB>& p) {
                           return RGB{p[0][0], p[2][1], p[1][2]};
                       });
}

Outcome merge(const Ctx& c, const std::vector<Val>& a) {
    return combineWith(c, {read(c, a[0]), read(c, a[1])}, [](const std::vector<RGB>& p) {
        return RGB{std::max(p[0][0], p[1][0]), std::max(p[0][1], p[1][1]),
                   std::max(p[0][2], p[1][2])};
    });
}

// ---- colour tests and counts
Outcome colourTest(const Ctx& c, const std::vector<Val>& a, size_t rectFrom,
                   const std::function<bool(RGB)>& passes) {
    const Image* src = read(c, a[0]);
    if (!src) return give(false);
    const Span s = rectArgs(*src, a, rectFrom, 0); // negative: omitted; zero: empty
    for (int y = s.y0; y < s.y1; ++y)
        for (int x = s.x0; x < s.x1; ++x)
            if (!passes(at(*src, x, y))) return give(false);
    return give(true);
}
Outcome isBlack(const Ctx& c, const std::vector<Val>& a) {
    return colourTest(c, a, 1, [](RGB p) { return p == RGB{0, 0, 0}; });
}
Outcome isWhite(const Ctx& c, const std::vector<Val>& a) {
    return colourTest(c, a, 1, [](RGB p) { return p == RGB{255, 255, 255}; });
}
Outcome isGray(const Ctx& c, const std::vector<Val>& a) {
    const int64_t t = std::abs(int64_t(num(a[1])));
    return colourTest(c, a, 2, [&](RGB p) {
        return std::abs(p[0] - p[1]) <= t && std::abs(p[0] - p[2]) <= t &&
               std::abs(p[1] - p[2]) <= t;
    });
}

Outcome countColor(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    int32_t n = 0;
    for (int y = 0; src && y < src->height; ++y)
        for (int x = 0; x < src->width; ++x)
            n += at(*src, x, y) == colour(a[1]);
    return give(n);
}

Outcome countColors(const Ctx& c, const std::vector<Val>& a) {
    Outcome o;
    o.byRef.assign(a.size(), std::monostate{});
    // Missing blocks are made, zero-filled; every block keeps 256 native 32-bit counters.
    std::string* blocks[3];
    for (size_t i = 0; i < 3; ++i) {
        o.byRef[i + 1] =
            std::holds_alternative<std::string>(a[i + 1]) ? a[i + 1] : Val(std::string(1024, 0));
        blocks[i] = &std::get<std::string>(o.byRef[i + 1]);
    }
    const Image* src = read(c, a[0]);
    o.byRef[4] = int32_t{-1};
    for (std::string* b : blocks)
        if (b->size() < 1024 || !src) return o;
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x) {
            const RGB p = at(*src, x, y);
            for (size_t i = 0; i < 3; ++i) { // the second block counts green, the third blue
                uint32_t n;
                std::memcpy(&n, blocks[i]->data() + 4 * p[i], 4);
                ++n;
                std::memcpy(blocks[i]->data() + 4 * p[i], &n, 4);
            }
        }
    o.byRef[4] = wrap(int64_t(src->width) * src->height);
    return o;
}

Outcome transformColors(const Ctx& c, const std::vector<Val>& a) {
    if (!pic(a[0])) return raise("NilObjectException");
    // Tables by their declared names: red, blue, green; checked red, green, blue.
    for (size_t i : {1, 3, 2})
        if (!std::holds_alternative<std::string>(a[i])) return raise("NilObjectException");
    const std::string* t[3] = {&std::get<std::string>(a[1]), &std::get<std::string>(a[3]),
                               &std::get<std::string>(a[2])};
    for (const std::string* table : t)
        if (table->size() < 256) return nil();
    if (!read(c, a[0])) return nil();
    const Image& src = *pic(a[0]);
    std::optional<Image> out;
    const Image* dest = a.size() > 4 ? pic(a[4]) : nullptr;
    // A destination at least the source's size is written in place, unless it cannot be locked
    // for writing.
    if (dest && dest->width >= src.width && dest->height >= src.height &&
        !(c.plainLockRefused && !dest->hasAlpha))
        out = *dest;
    else
        out = newPlain(c, src.width, src.height);
    if (!out) return nil();
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            const RGB p = at(src, x, y);
            RGB q;
            for (size_t i = 0; i < 3; ++i)
                q[i] = uint8_t((*t[i])[size_t(p[i])]);
            put(*out, x, y, q);
        }
    return give(std::move(*out));
}

Outcome replaceColor(const Ctx& c, const std::vector<Val>& a) {
    const RGB search = colour(a[1]), with = colour(a[2]);
    return mapEach(c, a[0], [&](RGB p) { return p == search ? with : p; });
}

Outcome extractColor(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    if (!src) return nil();
    std::optional<Image> out = newPlain(c, src->width, src->height);
    if (!out) return nil();
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x)
            put(*out, x, y, at(*src, x, y) == colour(a[1]) ? colour(a[2]) : colour(a[3]));
    return give(std::move(*out));
}

Outcome colorness(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    if (!src) return give(0.0);
    const int64_t t = num(a[1]); // with its sign
    int32_t n = 0;
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x) {
            const RGB p = at(*src, x, y);
            const bool dark = p[0] < 30 && p[1] < 30 && p[2] < 30;
            const int64_t gr = p[1] - p[0], gb = p[1] - p[2]; // green is the reference
            n += !dark && (gr > t || gr < -t || gb > t || gb < -t);
        }
    return give(double(n) / double(wrap(int64_t(src->width) * src->height)));
}

// ---- geometry: scrolling in place and the search for a picture
// Rotates by d over a length n: what was at i ends at (i + d) modulo n.
int rotateTo(int i, int64_t d, int n) {
    return int(((i + d) % n + n) % n);
}
} // namespace

Image moved(const Image& src, int64_t dx, int64_t dy, bool wrapAround) {
    Image out = src;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            uint8_t* p = out.pixel(x, y);
            if (wrapAround) {
                std::memcpy(out.pixel(rotateTo(x, dx, src.width), rotateTo(y, dy, src.height)),
                            src.pixel(x, y), 4);
                continue;
            }
            const int64_t sx = x - dx, sy = y - dy;
            if (sx >= 0 && sx < src.width && sy >= 0 && sy < src.height)
                std::memcpy(p, src.pixel(int(sx), int(sy)), 4);
            else
                std::memset(p, 255, 4);
        }
    return out;
}

namespace {
// One direction of a scroll; false when the picture cannot be moved that way. Without wrap only
// an offscreen world moves, by the low 16 bits of the amount.
bool scrollOne(const Ctx& c, Image& img, int32_t delta, bool wrapAround, bool vertical) {
    if (delta == 0) return true;
    if (wrapAround) {
        if (c.plainLockRefused && !img.hasAlpha) return false; // no in-place editor
        // Rows without columns or padding that do move need a buffer of no bytes: refused.
        if (img.width == 0 || img.height == 0)
            return !vertical || img.height == 0 || c.paddedRows || delta % img.height == 0;
        img = moved(img, vertical ? 0 : delta, vertical ? delta : 0, true);
        return true;
    }
    if (!c.offscreenWorlds) return false;
    const int16_t d = int16_t(delta);
    img = moved(img, vertical ? 0 : d, vertical ? d : 0, false);
    return true;
}
Outcome scroll(const Ctx& c, const std::vector<Val>& a,
               int dir) { // 0 both, 1 vertical, 2 horizontal
    const Image* src = pic(a[0]);
    const int32_t dy = dir == 2 ? 0 : num(a[dir == 0 ? 2 : 1]);
    if (!src) return give(dy == 0); // a nil picture scrolls by nothing only
    Image img = *src;
    const bool wrapAround = std::get<bool>(a[a.size() - 2]);
    bool ok = true;
    if (dir != 1) scrollOne(c, img, num(a[1]), wrapAround, false); // its outcome is not told
    if (dir != 2) ok = scrollOne(c, img, dy, wrapAround, true);
    return {ok, {}, {}, img};
}

Outcome findPicture(const Ctx& c, const std::vector<Val>& a) {
    Outcome o = give(false);
    o.byRef = {std::monostate{}, std::monostate{}, int32_t{0}, int32_t{0}};
    const Image *hay = read(c, a[0]), *needle = read(c, a[1]);
    if (!hay || !needle || needle->width < 1 || needle->height < 1) return o;
    // The first occurrence in row-major order, compared in red, green and blue.
    for (int y = 0; y + needle->height <= hay->height; ++y)
        for (int x = 0; x + needle->width <= hay->width; ++x) {
            bool all = true;
            for (int j = 0; all && j < needle->height; ++j)
                for (int i = 0; all && i < needle->width; ++i)
                    all = at(*hay, x + i, y + j) == at(*needle, i, j);
            if (all) return {true, {{}, {}, int32_t{x}, int32_t{y}}, {}, {}};
        }
    return o;
}

// ---- the rectangles around coloured (not gray) areas, black on white
Outcome rectMask(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    if (!src) return nil();
    std::optional<Image> out = newPlain(c, src->width, src->height);
    if (!out) return nil();
    const int W = src->width, H = src->height;
    const Span s = rectArgs(*src, a, 1, 0);
    std::vector<uint8_t> colour(size_t(W) * H), covered(size_t(W) * H);
    auto coloured = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < W && y < H && colour[size_t(y) * W + x];
    };
    for (int y = s.y0; y < s.y1; ++y)
        for (int x = s.x0; x < s.x1; ++x) {
            const RGB p = at(*src, x, y);
            colour[size_t(y) * W + x] = !(p[0] == p[1] && p[1] == p[2]);
        }
    // Any coloured pixel in columns x0 to x1 of rows y0 to y1.
    auto any = [&](int x0, int x1, int y0, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (coloured(x, y)) return true;
        return false;
    };
    for (auto first = colour.begin();
         (first = std::find(colour.begin(), colour.end(), 1)) != colour.end();) {
        int top = int((first - colour.begin()) / W), left = int((first - colour.begin()) % W);
        int bottom = top, right = left;
        for (bool grew = true; grew;) {
            const bool up = any(left, right, top - 1, top - 1),
                       down = any(left, right, bottom + 1, bottom + 1);
            top -= up, bottom += down;
            const bool toLeft = any(left - 1, left - 1, top, bottom),
                       toRight = any(right + 1, right + 1, top, bottom);
            left -= toLeft, right += toRight;
            grew = up || down || toLeft || toRight;
        }
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x) {
                colour[size_t(y) * W + x] = 0;
                covered[size_t(y) * W + x] = 1;
            }
    }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int v = covered[size_t(y) * W + x] ? 0 : 255;
            put(*out, x, y, {v, v, v});
        }
    return give(std::move(*out));
}

// A filter's MinX, MinY, MaxX, MaxY from a[first]: a right or bottom edge not beyond the left or
// top one, or not inside, is the picture's.
Span filterSpan(const Image& src, const std::vector<Val>& a, size_t first) {
    const int32_t minX = num(a[first]), minY = num(a[first + 1]), maxX = num(a[first + 2]),
                  maxY = num(a[first + 3]);
    return {std::max(minX, 0), std::max(minY, 0),
            maxX > minX && maxX < src.width ? maxX : src.width,
            maxY > minY && maxY < src.height ? maxY : src.height};
}

// ---- the sepia filter object: source, FactorRed, FactorGreen, FactorBlue, SepiaRed, SepiaGreen,
// SepiaBlue, MinX, MinY, MaxX, MaxY; Run's result, then the DestinationPicture.
Outcome sepiaRun(const Ctx& c, const std::vector<Val>& a) {
    Outcome o = give(false);
    o.byRef = {std::monostate{}};
    const Image* src = read(c, a[0]);
    if (!src) return o;
    std::optional<Image> out = newPlain(c, src->width, src->height);
    if (!out) return o;
    const Span r = filterSpan(*src, a, 7);
    const int32_t k[3] = {trunc32(dbl(a[1]) * 1024), trunc32(dbl(a[2]) * 1024),
                          trunc32(dbl(a[3]) * 1024)};
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) {
            const RGB p = at(*src, x, y);
            const int32_t gray =
                wrap(int64_t(p[0]) * k[0] + int64_t(p[1]) * k[1] + int64_t(p[2]) * k[2]) / 1024;
            put(*out, x, y,
                {clamp(int64_t(gray) + num(a[4])), clamp(int64_t(gray) + num(a[5])),
                 clamp(int64_t(gray) + num(a[6]))});
        }
    return {true, {std::move(*out)}, {}, {}};
}

// ---- the 3D lookup-table filter object: source, MinX, MinY, MaxX, MaxY, and its table as the
// bytes of 18 x 18 x 18 x 3 doubles, r-major; Run's result, then the DestinationPicture.
Outcome lutRun(const Ctx& c, const std::vector<Val>& a) {
    Outcome o = give(false);
    o.byRef = {std::monostate{}};
    const Image* src = read(c, a[0]);
    if (!src) return o;
    std::optional<Image> out = newLike(c, *src);
    if (!out) return o;
    const std::string& bytes = std::get<std::string>(a[5]);
    auto entry = [&](int r, int g, int b, int x) {
        double v;
        std::memcpy(&v, bytes.data() + 8 * size_t(((r * 18 + g) * 18 + b) * 3 + x), 8);
        return v;
    };
    const Span r = filterSpan(*src, a, 1);
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) {
            const RGB p = at(*src, x, y);
            int n0[3], n1[3]; // the cell's nodes on each axis, 17 apart; 255 is node 15 alone
            double f[3];
            for (size_t i = 0; i < 3; ++i) {
                n0[i] = p[i] / 17;
                n1[i] = std::min(n0[i] + 1, 15);
                f[i] = (p[i] - 17 * n0[i]) / 17.0;
            }
            const double fr = f[0], fg = f[1], fb = f[2];
            RGB q;
            for (int ch = 0; ch < 3; ++ch) {
                auto P = [&](int ri, int gi, int bi) {
                    return entry(ri ? n1[0] : n0[0], gi ? n1[1] : n0[1], bi ? n1[2] : n0[2], ch);
                };
                // The tetrahedron of the cube's main diagonal that holds (fr, fg, fb).
                double v;
                if (fr > fg && fg > fb)
                    v = (1 - fr) * P(0, 0, 0) + (fr - fg) * P(1, 0, 0) + (fg - fb) * P(1, 1, 0) +
                        fb * P(1, 1, 1);
                else if (fr > fg && fr > fb)
                    v = (1 - fr) * P(0, 0, 0) + (fr - fb) * P(1, 0, 0) + (fb - fg) * P(1, 0, 1) +
                        fg * P(1, 1, 1);
                else if (fr > fg)
                    v = (1 - fb) * P(0, 0, 0) + (fb - fr) * P(0, 0, 1) + (fr - fg) * P(1, 0, 1) +
                        fg * P(1, 1, 1);
                else if (fb > fg)
                    v = (1 - fb) * P(0, 0, 0) + (fb - fg) * P(0, 0, 1) + (fg - fr) * P(0, 1, 1) +
                        fr * P(1, 1, 1);
                else if (fb > fr)
                    v = (1 - fg) * P(0, 0, 0) + (fg - fb) * P(0, 1, 0) + (fb - fr) * P(0, 1, 1) +
                        fr * P(1, 1, 1);
                else
                    v = (1 - fg) * P(0, 0, 0) + (fg - fr) * P(0, 1, 0) + (fr - fb) * P(1, 1, 0) +
                        fb * P(1, 1, 1);
                q[size_t(ch)] = v < 0 || std::isnan(v) ? 0 : v > 255 ? 255 : int(v);
            }
            put(*out, x, y, q);
        }
    return {true, {std::move(*out)}, {}, {}};
}

// ---- the waveform of a MemoryBlock of samples: Samples, SampleCount, Smooth, Width, Height,
// outlinewidth, BackColor, ForeColor, OutLineColor, Bits, AutoScale.
// Blends the outline colour into a pixel: weight 0 paints it, 255 keeps the pixel.
void blend(Image& img, int x, int y, int weight, RGB oc) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    RGB p = at(img, x, y);
    for (size_t i = 0; i < 3; ++i)
        p[i] = (p[i] * weight + oc[i] * (255 - weight)) / 255;
    put(img, x, y, p);
}
// An anti-aliased line in 16-bit fixed point, from the upper end point down.
void wuLine(Image& img, int x0, int y0, int x1, int y1, RGB oc) {
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    blend(img, x0, y0, 0, oc);
    int dx = int16_t(x1 - x0), dy = int16_t(y1 - y0), dir = 1;
    if (dx < 0) dir = -1, dx = -dx;
    if (dy == 0 || dx == 0 || dx == dy) { // horizontal, vertical or diagonal: no blending
        for (int i = 1; i <= std::max(dx, dy); ++i)
            blend(img, x0 + (dx ? i * dir : 0), y0 + (dy ? i : 0), 0, oc);
        return;
    }
    uint16_t e = 0;
    int x = x0, y = y0;
    const bool yMajor = dy > dx;
    const uint16_t step = uint16_t((uint32_t(yMajor ? dx : dy) << 16) / uint32_t(yMajor ? dy : dx));
    for (int i = 0; i < (yMajor ? dy : dx) - 1; ++i) {
        const uint16_t next = uint16_t(e + step);
        const bool carry = next <= e;
        e = next;
        if (yMajor) {
            x += carry ? dir : 0, ++y;
            blend(img, x, y, e >> 8, oc);
            blend(img, x + dir, y, (e >> 8) ^ 255, oc);
        } else {
            y += carry, x += dir;
            blend(img, x, y, e >> 8, oc);
            blend(img, x, y + 1, (e >> 8) ^ 255, oc);
        }
    }
    blend(img, x1, y1, 0, oc);
}

// The host's line: at each step i of the n along the longer axis the other coordinate moves by
// i * m / n rounded half up; every point paints the pen's square below and right of it.
void penLine(Image& img, int pen, int x0, int y0, int x1, int y1, RGB oc) {
    const int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0,
                  n = std::max(std::abs(dx), std::abs(dy));
    for (int64_t i = 0; i <= n; ++i) {
        auto step = [&](int64_t d) {
            return n ? (2 * i * std::abs(d) + n) / (2 * n) * (d < 0 ? -1 : 1) : 0;
        };
        const int64_t px = x0 + step(dx), py = y0 + step(dy);
        for (int64_t y = std::max<int64_t>(py, 0); y < std::min<int64_t>(py + pen, img.height); ++y)
            for (int64_t x = std::max<int64_t>(px, 0); x < std::min<int64_t>(px + pen, img.width);
                 ++x)
                put(img, int(x), int(y), oc);
    }
}

Outcome renderSamples(const Ctx& c, const std::vector<Val>& a) {
    const std::string* block = std::get_if<std::string>(&a[0]);
    if (!block) return raise("NilObjectException");
    const int bits = num(a[9]);
    // The runtime gives an empty block no data address.
    if ((bits != 7 && bits != 8 && bits != 15 && bits != 16) || block->empty()) return nil();
    const int bytes = bits <= 8 ? 1 : 2;
    // A count beyond the block is cut to its whole samples.
    const int64_t whole = int64_t(block->size()) / bytes;
    const int64_t N = num(a[1]) > 0 ? std::min<int64_t>(num(a[1]), whole) : whole;
    const int64_t W = num(a[3]) > 0 ? num(a[3]) : N, H = num(a[4]) > 0 ? num(a[4]) : 500;
    std::optional<Image> out = newPlain(c, int(std::min<int64_t>(W, 1 << 20)), int(H));
    if (!out) return nil();
    auto sample = [&](int64_t i) -> int64_t {
        const auto* b = reinterpret_cast<const uint8_t*>(block->data()) + i * bytes;
        const int v = bytes == 1 ? b[0] : b[0] | b[1] << 8;
        if (bits == 7) return int8_t(v);
        if (bits == 8) return v - 128;
        if (bits == 15) return int16_t(v);
        return v - 32768;
    };
    // Each column averages the positive and the negative halves of its samples; a column without
    // samples repeats the one before it (0 for the first) and does not count for the peak.
    std::vector<double> neg(size_t(W), 0.0), pos(size_t(W), 0.0);
    double peak = 0;
    for (int64_t x = 0; x < W; ++x) {
        const int64_t start = int64_t(double(x) / double(W) * double(N));
        const int64_t end = int64_t(double(x + 1) / double(W) * double(N));
        if (end == start) {
            neg[size_t(x)] = x ? neg[size_t(x - 1)] : 0,
            pos[size_t(x)] = x ? pos[size_t(x - 1)] : 0;
            continue;
        }
        int64_t P = 0, M = 0;
        for (int64_t i = start; i < end; ++i)
            (sample(i) >= 0 ? P : M) += sample(i);
        neg[size_t(x)] = double(M) / (double(end - start) * 0.5);
        pos[size_t(x)] = double(P) / (double(end - start) * 0.5);
        peak = std::max({peak, pos[size_t(x)], -neg[size_t(x)]});
    }
    const double R = std::get<bool>(a[10]) ? 2 * peak : bits <= 8 ? 127 : 32767;
    double D = R;
    const double alpha = 2.0 / (num(a[2]) + 1.0);
    if (num(a[2]) != -1 && alpha > 0) { // -1 and below: no smoothing
        for (auto* v : {&neg, &pos}) {
            (*v)[0] = (*v)[0] * (1 - alpha) + (*v)[0] * alpha;
            for (size_t x = 1; x < v->size(); ++x)
                (*v)[x] = (*v)[x - 1] * (1 - alpha) + (*v)[x] * alpha;
        }
        D = alpha * R + (1 - alpha) * R;
    }
    for (auto* v : {&neg, &pos})
        for (double& e : *v)
            e = D == 0 ? 0 : e * double(H) / D; // a divisor of 0 shows silence
    const RGB back = colour(a[6]), fore = colour(a[7]), oc = colour(a[8]);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            put(*out, x, y, back);
    const int mid = int(H / 2);
    for (int x = 0; x < W; ++x)
        for (double e : {neg[size_t(x)], pos[size_t(x)]}) {
            const int32_t y = trunc32(e + mid);
            const int lo = std::clamp<int32_t>(std::min<int32_t>(mid, y), 0, int(H) - 1);
            const int hi = std::clamp<int32_t>(std::max<int32_t>(mid, y), 0, int(H) - 1);
            for (int row = lo; row <= hi; ++row)
                put(*out, x, row, fore);
        }
    // An outline of 1 is an anti-aliased line; wider ones are the host's square pen, moved up and
    // left by half its width.
    const int pen = num(a[5]), h = pen / 2;
    if (pen >= 1) {
        int prevN = mid, prevP = mid, prevX = 0;
        for (int x = 0; x < W; ++x) {
            const int yN = std::clamp<int32_t>(trunc32(neg[size_t(x)] + mid), -32768, 32767);
            const int yP = std::clamp<int32_t>(trunc32(pos[size_t(x)] + mid), -32768, 32767);
            for (auto [y0, y1] : {std::pair{prevN, yN}, std::pair{prevP, yP}})
                if (pen == 1)
                    wuLine(*out, prevX, y0, x, y1, oc);
                else
                    penLine(*out, pen, prevX - h, y0 - h, x - h, y1 - h, oc);
            prevX = x, prevN = yN, prevP = yP;
        }
    }
    return give(std::move(*out));
}

// ---- masks: the alpha the plugin reads from each pixel as a gray picture (a record keeps a
// transparency, so its alpha reads inverted), and whether the host holds a separate mask
// (pictures here have none).
Outcome embeddedMask(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    if (!src) return nil();
    std::optional<Image> out = newPlain(c, src->width, src->height);
    if (!out) return nil();
    for (int y = 0; y < src->height; ++y)
        for (int x = 0; x < src->width; ++x) {
            int v = src->pixel(x, y)[3];
            if (c.records) v = 255 - v;
            if (std::get<bool>(a[1])) v = 255 - v;
            put(*out, x, y, {v, v, v});
        }
    return give(std::move(*out));
}

// ---- binary picture strings: "PPIC", length, width, height, 32, data offset, 16 zero bytes,
// then R G B per pixel, rows top first; integers big-endian.
// Assigning a mask writes the red of each pixel it covers (inverted when swapped) as the alpha of
// the picture's pixel, in place; records keep seven bits of it, as a transparency. A plain picture
// that refuses its bitmap is written through a copy, which changes nothing.
Outcome setMask(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = pic(a[0]);
    const Image* mask = read(c, a[2]);
    Outcome o;
    o.self = *src;
    if (!mask || (c.plainLockRefused && !src->hasAlpha)) return o;
    for (int y = 0; y < std::min(src->height, mask->height); ++y)
        for (int x = 0; x < std::min(src->width, mask->width); ++x) {
            const int v = std::get<bool>(a[1]) ? 255 - mask->pixel(x, y)[0] : mask->pixel(x, y)[0];
            o.self->pixel(x, y)[3] = uint8_t(c.records ? 255 - ((v >> 1 << 1) | (v >> 1 & 1)) : v);
        }
    return o;
}

void be32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(char(v >> shift & 255));
}
uint32_t be32at(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = v << 8 | uint8_t(s[at + i]);
    return v;
}

Outcome toString(const Ctx& c, const std::vector<Val>& a) {
    const Image* src = read(c, a[0]);
    if (!src) return nil();
    return give(binaryString(*src));
}

Outcome fromString(const Ctx& c, const std::vector<Val>& a) {
    const std::string* s = std::get_if<std::string>(&a[0]);
    const std::string empty;
    if (!s) s = &empty;
    if (s->size() < 24 || s->compare(0, 4, "PPIC") != 0 || be32at(*s, 4) != s->size()) return nil();
    const int32_t w = int32_t(be32at(*s, 8)), h = int32_t(be32at(*s, 12));
    const uint64_t offset = be32at(*s, 20);
    std::optional<Image> out = newPlain(c, w, h);
    if (!out || offset + uint64_t(w) * uint64_t(h) * 3 > s->size()) return nil();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(s->data()) + offset +
                            (size_t(y) * size_t(w) + size_t(x)) * 3;
            put(*out, x, y, {p[0], p[1], p[2]});
        }
    return give(std::move(*out));
}

// clang-format off
// Each model by name, with the arities (the receiver counted) it takes.
const std::map<std::string, std::pair<std::vector<size_t>, Fn>>& table() {
    static const std::map<std::string, std::pair<std::vector<size_t>, Fn>> t = {
        {"InvertQRX", {{1, 5}, [](const Ctx& c, const std::vector<Val>& a) { return invert(c, a, false); }}},
        {"InvertGrayQRX", {{1, 5}, [](const Ctx& c, const std::vector<Val>& a) { return invert(c, a, true); }}},
        {"ChangeBrightnessAbsoluteQRX", {{2, 4}, [](const Ctx& c, const std::vector<Val>& a) { return brightness(c, a, false); }}},
        {"ChangeBrightnessLinearQRX", {{2, 4}, [](const Ctx& c, const std::vector<Val>& a) { return brightness(c, a, true); }}},
        {"ChangeContrastQRX", {{2, 4}, [](const Ctx& c, const std::vector<Val>& a) { return contrast(c, a, Then::None); }}},
        {"ChangeContrastBrightnessAbsoluteQRX", {{3, 7}, [](const Ctx& c, const std::vector<Val>& a) { return contrast(c, a, Then::Absolute); }}},
        {"ChangeContrastBrightnessLinearQRX", {{3, 7}, [](const Ctx& c, const std::vector<Val>& a) { return contrast(c, a, Then::Linear); }}},
        {"ChangeCustomQRX", {{3}, custom}},
        {"ChangeSaturationQRX", {{2}, saturation}},
        {"TintPictureQRX", {{3}, tint}},
        {"ReplaceRedChannelQRX", {{2}, [](const Ctx& c, const std::vector<Val>& a) { return replaceChannel(c, a, 0); }}},
        {"ReplaceGreenChannelQRX", {{2}, [](const Ctx& c, const std::vector<Val>& a) { return replaceChannel(c, a, 1); }}},
        {"ReplaceBlueChannelQRX", {{2}, [](const Ctx& c, const std::vector<Val>& a) { return replaceChannel(c, a, 2); }}},
        {"CombinePicturesQRX", {{3}, combine}},
        {"MergePictureQRX", {{2}, merge}},
        {"isBlackQRX", {{1, 5}, isBlack}},
        {"isWhiteQRX", {{1, 5}, isWhite}},
        {"isGrayQRX", {{2, 6}, isGray}},
        {"CountColorQRX", {{2}, countColor}},
        {"CountColorsQRX", {{5}, countColors}},
        {"TransformColorsQRX", {{5}, transformColors}},
        {"ReplaceColorQRX", {{3}, replaceColor}},
        {"ExtractColorQRX", {{4}, extractColor}},
        {"ColornessQRX", {{2}, colorness}},
        {"PicturetoBinaryStringQRX", {{1}, toString}},
        {"PictureSepiaQRX.Run", {{11}, sepiaRun}},
        {"PictureLut3DQRX.Run", {{6}, lutRun}},
        {"RenderSamplesQRX", {{11}, renderSamples}},
        {"EmbeddedMaskQRX", {{2}, embeddedMask}},
        {"EmbeddedMaskQRX=", {{3}, setMask}},
        {"HasMaskQRX", {{1}, [](const Ctx&, const std::vector<Val>&) { return give(false); }}},
        {"ScrollQRX", {{5}, [](const Ctx& c, const std::vector<Val>& a) { return scroll(c, a, 0); }}},
        {"ScrollVerticalQRX", {{4}, [](const Ctx& c, const std::vector<Val>& a) { return scroll(c, a, 1); }}},
        {"ScrollHorizontalQRX", {{4}, [](const Ctx& c, const std::vector<Val>& a) { return scroll(c, a, 2); }}},
        {"FindPicture", {{4}, findPicture}},
        {"ExtractColorRectangleMaskQRX", {{1, 5}, rectMask}},
        {"BinaryStringtoPictureQRX", {{1}, fromString}},
    };
    return t;
}
// clang-format on

} // namespace

Fn find(const std::string& method, size_t arity) {
    auto it = table().find(method);
    if (it == table().end()) return nullptr;
    const auto& arities = it->second.first;
    return std::find(arities.begin(), arities.end(), arity) != arities.end() ? it->second.second
                                                                             : nullptr;
}

std::string binaryString(const Image& img) {
    std::string s = "PPIC";
    be32(s, uint32_t(wrap(int64_t(img.width) * img.height * 3 + 40)));
    for (uint32_t v : {uint32_t(img.width), uint32_t(img.height), 32u, 40u})
        be32(s, v);
    s.resize(40, '\0');
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            s.append(reinterpret_cast<const char*>(img.pixel(x, y)), 3);
    return s;
}

// A host value as the models see it.
Val fromHost(const qrx::Value& v) {
    if (auto* i = std::get_if<int32_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b;
    if (auto* c = std::get_if<qrx::Color>(&v)) return *c;
    if (auto* r = std::get_if<qrx::Ref>(&v); r && *r) {
        if (const auto* p = r->as<qrx::Picture>()) return p->toImage();
        if (const auto* m = r->as<qrx::MemoryBlock>())
            return std::string(m->bytes.begin(), m->bytes.end());
        if (const auto* s = r->as<qrx::String>()) return s->text();
    }
    return std::monostate{};
}

namespace {
std::string show(const Val& v) {
    std::ostringstream o;
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                o << "nil";
            else if constexpr (std::is_same_v<T, Image>)
                o << "<picture " << x.width << "x" << x.height << (x.hasAlpha ? " alpha>" : ">");
            else if constexpr (std::is_same_v<T, std::string>)
                o << "<" << x.size() << " bytes>";
            else if constexpr (std::is_same_v<T, qrx::Color>)
                o << qrx::describe(qrx::Value(x));
            else
                o << x;
        },
        v);
    return o.str();
}

std::string px(const uint8_t* p) {
    return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
           "," + std::to_string(p[3]) + ")";
}
} // namespace

// The first difference between a model's value and the plugin's, or "". Pictures without an
// alpha channel are compared in red, green and blue (their fourth byte may be padding).
std::string differ(const Val& want, const Val& got) {
    if (want.index() != got.index()) return "want " + show(want) + ", got " + show(got);
    if (auto* w = std::get_if<Image>(&want)) {
        const Image& g = std::get<Image>(got);
        if (w->width != g.width || w->height != g.height || w->hasAlpha != g.hasAlpha)
            return "want " + show(want) + ", got " + show(got);
        for (int y = 0; y < w->height; ++y)
            for (int x = 0; x < w->width; ++x)
                if (std::memcmp(w->pixel(x, y), g.pixel(x, y), w->hasAlpha ? 4 : 3) != 0)
                    return "first differing pixel (" + std::to_string(x) + "," + std::to_string(y) +
                           "): want " + px(w->pixel(x, y)) + ", got " + px(g.pixel(x, y));
        return "";
    }
    if (auto* w = std::get_if<std::string>(&want)) {
        const std::string& g = std::get<std::string>(got);
        for (size_t i = 0; i < std::min(w->size(), g.size()); ++i)
            if ((*w)[i] != g[i])
                return "first differing byte " + std::to_string(i) + ": want " +
                       std::to_string(uint8_t((*w)[i])) + ", got " + std::to_string(uint8_t(g[i]));
        return w->size() == g.size() ? "" : "want " + show(want) + ", got " + show(got);
    }
    if (auto* w = std::get_if<double>(&want)) {
        const double g = std::get<double>(got);
        if (std::isnan(*w) ? std::isnan(g) : std::memcmp(w, &g, sizeof g) == 0) return "";
        return "want " + show(want) + ", got " + show(got);
    }
    // Integers, flags and colours show exactly.
    return show(want) == show(got) ? "" : "want " + show(want) + ", got " + show(got);
}

} // namespace model
