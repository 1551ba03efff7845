// The filter classes PictureLut3DQRX and PictureSepiaQRX: the lookup table's row loops for every
// pair of layouts against the formula written out plainly here (every cell position and tie,
// truncation edges, infinities and NaN); through the host runtime, colours against that reference
// and a sepia reference, the rectangle rules, the table accessors, the weights and
// offsets, what happens to DestinationPicture on success and failure, and the references and locks
// that creating, configuring, running, closing and destroying objects leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <set>

#include "filters/lut3d.h"
#include "filters/lut3d_data.h"
#include "filters/sepia.h"
#include "filters/sepia_data.h"
#include "host/entry.h"
#include "host/services.h"
#include "host/tables.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::Image;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;

constexpr uint8_t kPlainFill[4] = {7, 77, 177, 255};
constexpr uint8_t kAlphaFill[4] = {9, 99, 199, 0};
constexpr int kNodes = 18;

qrx::HostConfig withFills(qrx::HostConfig config) {
    std::memcpy(config.plainFill, kPlainFill, 4);
    std::memcpy(config.alphaFill, kAlphaFill, 4);
    return config;
}

// ---- references --------------------------------------------------------------------------------

// ---- stored words, written here independently of the plugin ----------------------------------

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

bool knownType(int type) {
    return (type >= 1 && type <= 6) || type == 8;
}

// Where red, green and blue sit in a stored word of a layout: 1, 3 and 5 keep alpha in the top
// byte and red in the lowest, 2, 4 and 6 alpha in the lowest byte, 8 red in the third byte and no
// alpha.
std::array<int, 3> shifts(int type) {
    if (type == 8) return {16, 8, 0};
    return type % 2 ? std::array<int, 3>{0, 8, 16} : std::array<int, 3>{8, 16, 24};
}

Rgb decodeWord(int type, uint32_t w) {
    const auto s = shifts(type);
    return {int((w >> s[0]) & 0xFF), int((w >> s[1]) & 0xFF), int((w >> s[2]) & 0xFF)};
}

uint32_t opaqueWord(int type, Rgb c) {
    const auto s = shifts(type);
    const uint32_t w = uint32_t(c.r) << s[0] | uint32_t(c.g) << s[1] | uint32_t(c.b) << s[2];
    return type == 8 ? w : w | (type % 2 ? 0xFF000000u : 0xFFu);
}

// ---- 3D lookup table ---------------------------------------------------------------------------

using LutData = std::unique_ptr<Lut3DClassData>;

template <class Data> auto& entry(Data& d, int r, int g, int b, int x) {
    return d.table[((r * 18 + g) * 18 + b) * 3 + x];
}

// Node i of every axis holds 17 i: the table that should give every colour back.
LutData identityTable() {
    LutData d(new Lut3DClassData{});
    for (int r = 0; r < 16; ++r)
        for (int g = 0; g < 16; ++g)
            for (int b = 0; b < 16; ++b) {
                entry(*d, r, g, b, 0) = 17.0 * r;
                entry(*d, r, g, b, 1) = 17.0 * g;
                entry(*d, r, g, b, 2) = 17.0 * b;
            }
    return d;
}

// The interpolation written out plainly: cells, the six tetrahedra in the order of their tests,
// the four terms summed left to right, clamped and truncated.
Rgb referenceLut(const Lut3DClassData& d, Rgb c) {
    const int v[3] = {c.r, c.g, c.b};
    int i0[3], i1[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
        i0[a] = v[a] / 17;
        i1[a] = std::min(i0[a] + 1, 15);
        f[a] = (v[a] - 17 * i0[a]) / 17.0;
    }
    const double fr = f[0], fg = f[1], fb = f[2];
    int out[3];
    for (int x = 0; x < 3; ++x) {
        auto P = [&](int cr, int cg, int cb) {
            return d.table[(((cr ? i1[0] : i0[0]) * 18 + (cg ? i1[1] : i0[1])) * 18 +
                            (cb ? i1[2] : i0[2])) *
                               3 +
                           x];
        };
        double s;
        if (fr > fg && fg > fb)
            s = (1 - fr) * P(0, 0, 0) + (fr - fg) * P(1, 0, 0) + (fg - fb) * P(1, 1, 0) +
                fb * P(1, 1, 1);
        else if (fr > fg && fr > fb)
            s = (1 - fr) * P(0, 0, 0) + (fr - fb) * P(1, 0, 0) + (fb - fg) * P(1, 0, 1) +
                fg * P(1, 1, 1);
        else if (fr > fg)
            s = (1 - fb) * P(0, 0, 0) + (fb - fr) * P(0, 0, 1) + (fr - fg) * P(1, 0, 1) +
                fg * P(1, 1, 1);
        else if (fb > fg)
            s = (1 - fb) * P(0, 0, 0) + (fb - fg) * P(0, 0, 1) + (fg - fr) * P(0, 1, 1) +
                fr * P(1, 1, 1);
        else if (fb > fr)
            s = (1 - fg) * P(0, 0, 0) + (fg - fb) * P(0, 1, 0) + (fb - fr) * P(0, 1, 1) +
                fr * P(1, 1, 1);
        else
            s = (1 - fg) * P(0, 0, 0) + (fg - fr) * P(0, 1, 0) + (fr - fb) * P(1, 1, 0) +
                fb * P(1, 1, 1);
        out[x] = std::isnan(s) || s < 0 ? 0 : s > 255 ? 255 : int(std::trunc(s));
    }
    return {out[0], out[1], out[2]};
}

enum class TableKind { Random, Integers, Specials };

// Random values around the byte range; whole numbers (where truncation flips on the smallest
// rounding difference); or random values with infinities, NaN and huge values at some nodes,
// including nodes 16 and 17, which no pixel reaches.
LutData makeTable(TableKind kind, unsigned seed) {
    LutData d(new Lut3DClassData{});
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> value(-40.0, 300.0);
    for (int r = 0; r < 18; ++r)
        for (int g = 0; g < 18; ++g)
            for (int b = 0; b < 18; ++b)
                for (int x = 0; x < 3; ++x) {
                    double& e = entry(*d, r, g, b, x);
                    if (kind == TableKind::Integers)
                        e = double(int(rng() % 256));
                    else
                        e = value(rng);
                }
    if (kind == TableKind::Specials) {
        const double specials[] = {std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(), 1e300, -0.0};
        for (int i = 0; i < 300; ++i)
            entry(*d, int(rng() % 18), int(rng() % 18), int(rng() % 18), int(rng() % 3)) =
                specials[rng() % 5];
        for (int a = 0; a < 18; ++a)
            for (int x = 0; x < 3; ++x) {
                entry(*d, 16, a % 16, a, x) = std::numeric_limits<double>::quiet_NaN();
                entry(*d, 17, 17, a, x) = std::numeric_limits<double>::infinity();
            }
    }
    return d;
}

// Every combination of positions in the cell (so every tetrahedron and every tie between
// fractions) in a random cell, the top end 255, and random colours, some repeated in runs.
std::vector<Rgb> lutColours(unsigned seed) {
    std::mt19937 rng(seed);
    auto inCell = [&](int p) {
        const int cells = p == 0 ? 16 : 15;
        return 17 * int(rng() % cells) + p;
    };
    std::vector<Rgb> colours;
    for (int pr = 0; pr < 17; ++pr)
        for (int pg = 0; pg < 17; ++pg)
            for (int pb = 0; pb < 17; ++pb)
                colours.push_back({inCell(pr), inCell(pg), inCell(pb)});
    for (int v : {0, 17, 238, 254, 255})
        colours.insert(colours.end(), {{255, v, v}, {v, 255, v}, {v, v, 255}, {255, 255, 255}});
    for (int i = 0; i < 1500; ++i) {
        const Rgb c{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        colours.insert(colours.end(), 1 + rng() % 3, c);
    }
    return colours;
}

// Source words of the colours in a layout; runs of one colour get different alpha bytes, which
// must not change the result.
std::vector<uint32_t> sourceWords(int type, const std::vector<Rgb>& colours, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> words;
    for (const Rgb& c : colours) {
        uint32_t w = opaqueWord(type, c);
        const uint32_t alpha = rng() & 0xFF;
        if (type == 8)
            w |= (alpha & 0x7F) << 24;
        else if (type % 2 == 1)
            w = (w & 0x00FFFFFFu) | (alpha << 24);
        else
            w = (w & 0xFFFFFF00u) | alpha;
        words.push_back(w);
    }
    return words;
}

struct LutCase {
    TableKind kind;
    unsigned seed;
};

class Lut3DRows : public testing::TestWithParam<LutCase> {};

TEST_P(Lut3DRows, EveryLayoutPairGivesTheFormulasBytes) {
    const LutCase& p = GetParam();
    const LutData data = makeTable(p.kind, p.seed);
    const std::vector<Rgb> colours = lutColours(p.seed + 7);
    std::vector<Rgb> want;
    for (const Rgb& c : colours)
        want.push_back(referenceLut(*data, c));

    const int types[] = {1, 2, 3, 4, 5, 6, 8};
    for (int st : types) {
        const std::vector<uint32_t> src = sourceWords(st, colours, p.seed);
        for (int dt : types) {
            SCOPED_TRACE(testing::Message() << "source type " << st << ", destination " << dt);
            std::vector<uint32_t> dst(src.size(), 0x5A5A5A5Au);
            lut3d::MapRow(data.get(), RBPixelType(st), src.data(), RBPixelType(dt), dst.data(),
                          int32_t(src.size()));
            int wrong = 0;
            for (size_t i = 0; i < colours.size() && wrong < 5; ++i)
                if (dst[i] != opaqueWord(dt, want[i])) {
                    ++wrong;
                    ADD_FAILURE() << "colour " << colours[i].r << "," << colours[i].g << ","
                                  << colours[i].b << ": word " << std::hex << dst[i]
                                  << ", expected " << opaqueWord(dt, want[i]);
                }
        }
    }
}

// An unknown layout on either side keeps the general walk, whose pointers stay on a pixel of an
// unknown layout: the loops and the general path agree word for word, including what is left
// unwritten.
TEST_P(Lut3DRows, UnknownLayoutsWalkAsTheGeneralPathDoes) {
    const LutCase& p = GetParam();
    const LutData data = makeTable(p.kind, p.seed);
    const std::vector<Rgb> colours = lutColours(p.seed + 11);
    for (int st : {0, 3, 7, 8}) {
        for (int dt : {0, 2, 7, 8}) {
            if (knownType(st) && knownType(dt)) continue;
            SCOPED_TRACE(testing::Message() << "source type " << st << ", destination " << dt);
            const std::vector<uint32_t> src = sourceWords(knownType(st) ? st : 1, colours, 3);
            std::vector<uint32_t> fast(src.size(), 0x12345678u), general = fast;
            lut3d::MapRow(data.get(), RBPixelType(st), src.data(), RBPixelType(dt), fast.data(),
                          int32_t(src.size()));
            lut3d::MapRowGeneral(data.get(), RBPixelType(st), src.data(), RBPixelType(dt),
                                 general.data(), int32_t(src.size()));
            EXPECT_EQ(fast, general);
            if (!knownType(dt)) {
                EXPECT_EQ(fast[0], 0x12345678u); // nothing stored
            }
        }
    }
}

std::string lutCaseName(const testing::TestParamInfo<LutCase>& info) {
    const char* names[] = {"Random", "Integers", "Specials"};
    return std::string(names[int(info.param.kind)]) + std::to_string(info.param.seed);
}

INSTANTIATE_TEST_SUITE_P(Tables, Lut3DRows,
                         testing::Values(LutCase{TableKind::Random, 1},
                                         LutCase{TableKind::Random, 2},
                                         LutCase{TableKind::Integers, 3},
                                         LutCase{TableKind::Specials, 4}),
                         lutCaseName);

// The identity table loses one exactly where truncation does: the products and sums must be
// formed as the formula forms them, or these flips move.
TEST(Lut3DRowsIdentity, TruncationFlipsStayWhereTheFormulaPutsThem) {
    const LutData d = identityTable();
    std::vector<uint32_t> src, dst(256 * 256);
    for (int v = 0; v < 256; ++v)
        for (int u = 0; u < 256; ++u)
            src.push_back(opaqueWord(3, {v, u, (v * 7 + u) % 256}));
    lut3d::MapRow(d.get(), kRBPixelAlphaLast, src.data(), kRBPixelAlphaLast, dst.data(),
                  int32_t(src.size()));
    int lower = 0;
    for (size_t i = 0; i < src.size(); ++i) {
        const Rgb c = decodeWord(3, src[i]);
        const Rgb got = decodeWord(3, dst[i]);
        ASSERT_EQ(got, referenceLut(*d, c)) << c.r << "," << c.g << "," << c.b;
        lower += (got.r < c.r) + (got.g < c.g) + (got.b < c.b);
    }
    EXPECT_GT(lower, 0); // the table really has flips to keep
}

// ---- sepia reference ----------------------------------------------------------------------------

struct SepiaSettings {
    double weights[3] = {0.299, 0.587, 0.114};
    int32_t offsets[3] = {0, 0, 0};
};

Rgb referenceSepia(const SepiaSettings& s, int r, int g, int b) {
    long long sum = 0;
    const int c[3] = {r, g, b};
    for (int i = 0; i < 3; ++i)
        sum += c[i] * (long long)std::trunc(s.weights[i] * 1024);
    long long gray = sum / 1024;
    auto channel = [&](int i) { return int(std::clamp<long long>(gray + s.offsets[i], 0, 255)); };
    return {channel(0), channel(1), channel(2)};
}

// ---- driving objects ---------------------------------------------------------------------------

void assignTable(Host& host, const Ref& obj, uint32_t r, uint32_t g, uint32_t b, uint32_t x,
                 double value) {
    qrx::CallResult res = host.assign(obj, "Table", {r, g, b, x}, value);
    ASSERT_FALSE(res.exception);
}

double readTable(Host& host, const Ref& obj, uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    qrx::CallResult res = host.call(obj, "Table", {r, g, b, x});
    EXPECT_FALSE(res.exception);
    return std::get<double>(res.result);
}

// Fills the nodes 0 to last of every axis (the others keep what they hold).
void loadTable(Host& host, const Ref& obj, const Lut3DClassData& lut, int last = kNodes - 1) {
    for (int r = 0; r <= last; ++r)
        for (int g = 0; g <= last; ++g)
            for (int b = 0; b <= last; ++b)
                for (int x = 0; x < 3; ++x)
                    assignTable(host, obj, uint32_t(r), uint32_t(g), uint32_t(b), uint32_t(x),
                                entry(lut, r, g, b, x));
}

void applySepia(Host& host, const Ref& obj, const SepiaSettings& s) {
    host.setProperty(obj, "FactorRed", s.weights[0]);
    host.setProperty(obj, "FactorGreen", s.weights[1]);
    host.setProperty(obj, "FactorBlue", s.weights[2]);
    host.setProperty(obj, "SepiaRed", s.offsets[0]);
    host.setProperty(obj, "SepiaGreen", s.offsets[1]);
    host.setProperty(obj, "SepiaBlue", s.offsets[2]);
}

void setRectangle(Host& host, const Ref& obj, int32_t minX, int32_t minY, int32_t maxX,
                  int32_t maxY) {
    host.setProperty(obj, "MinX", minX);
    host.setProperty(obj, "MinY", minY);
    host.setProperty(obj, "MaxX", maxX);
    host.setProperty(obj, "MaxY", maxY);
}

Ref destinationOf(Host& host, const Ref& obj) {
    Value v = host.getProperty(obj, "DestinationPicture");
    return std::holds_alternative<Ref>(v) ? std::get<Ref>(v) : Ref();
}

bool hasDestination(Host& host, const Ref& obj) {
    return bool(destinationOf(host, obj));
}

// Runs the filter and checks the bookkeeping: the object gives up its previous
// DestinationPicture and holds exactly one reference to the new one, nothing else changes, no
// description lock is held and the host saw no fault. The previous result is kept alive here
// during the call, so that its release shows as a reference count.
bool runAudited(Host& host, const Ref& obj) {
    const Ref previous = destinationOf(host, obj);
    const int previousRefs = previous ? previous->refCount() : 0;
    const qrx::Audit a = host.audit();
    qrx::CallResult res = host.call(obj, "Run", {});
    const qrx::Audit b = host.audit();
    EXPECT_FALSE(res.exception);
    const Ref now = destinationOf(host, obj);
    const bool replaced = now && now != previous;
    EXPECT_EQ(b.liveObjects, a.liveObjects + (replaced ? 1 : 0)) << "objects leaked by Run";
    EXPECT_EQ(b.references, a.references + (now ? 1 : 0) - (previous ? 1 : 0))
        << "references leaked by Run";
    if (replaced) {
        EXPECT_EQ(now->refCount(), 2) << "the object holds one reference to its result";
    }
    if (previous) {
        // Not counting the reference just taken through now.
        const int refsAfter = previous->refCount() - (previous == now ? 1 : 0);
        EXPECT_EQ(refsAfter, previousRefs - (previous == now ? 0 : 1))
            << "a replaced result is released once, a kept one keeps its references";
    }
    qrxtest::expectQuiet(host);
    return std::get<bool>(res.result);
}

// Calls "Close" and checks that exactly the references to the two pictures are released.
void closeAudited(Host& host, const Ref& obj) {
    Value source = host.getProperty(obj, "SourcePicture");
    const bool held = std::holds_alternative<Ref>(source);
    const bool heldResult = hasDestination(host, obj);
    const qrx::Audit a = host.audit();
    qrx::CallResult res = host.call(obj, "Close", {});
    const qrx::Audit b = host.audit();
    EXPECT_FALSE(res.exception);
    EXPECT_EQ(b.references, a.references - long(held) - long(heldResult));
    EXPECT_TRUE(std::holds_alternative<Nil>(host.getProperty(obj, "SourcePicture")));
    EXPECT_FALSE(hasDestination(host, obj));
    qrxtest::expectQuiet(host);
}

// ---- colours and rectangles on every host ------------------------------------------------------

constexpr int W = 100;
constexpr int H = 100;

struct Rect {
    int x0, y0, x1, y1;
    bool contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

struct RectCase {
    const char* name;
    int32_t minX, minY, maxX, maxY;
    Rect written; // empty when x0 >= x1 or y0 >= y1
};

const RectCase kRectCases[] = {
    {"whole picture", 0, 0, 0, 0, {0, 0, W, H}},
    {"inner", 10, 5, 20, 8, {10, 5, 20, 8}},
    {"MaxX 0 with MinX 30", 30, 0, 0, 0, {30, 0, W, H}},
    {"negative MinX and MinY", -5, -7, 20, 9, {0, 0, 20, 9}},
    {"Max at the edge", 0, 0, W, H, {0, 0, W, H}},
    {"Max beyond the edge", 3, 4, 500, 500, {3, 4, W, H}},
    {"Max one inside", 0, 0, W - 1, H - 1, {0, 0, W - 1, H - 1}},
    {"Max not above Min", 50, 60, 40, 60, {50, 60, W, H}},
    {"negative Max above Min", -10, -10, -5, -5, {0, 0, -5, -5}},
    {"Min beyond the right edge", W, 0, 0, 0, {0, 0, 0, 0}},
    {"Min beyond the bottom edge", 0, H + 3, 0, 0, {0, 0, 0, 0}},
};

enum class FilterKind { Lut3D, Sepia };

const char* className(FilterKind k) {
    return k == FilterKind::Lut3D ? "PictureLut3DQRX" : "PictureSepiaQRX";
}

class FilterOnHost : public testing::TestWithParam<std::tuple<HostCase, FilterKind>> {};

TEST_P(FilterOnHost, ColoursAndRectangles) {
    auto [hostCase, kind] = GetParam();
    const bool withAlpha = hostCase.alpha;
    auto host = qrxtest::loadHost(withFills(hostCase.config));
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, withAlpha, 11));
    ASSERT_TRUE(pic);
    const Image src = pic.as<Picture>()->toImage();

    Ref obj = host->newInstance(className(kind));
    const LutData lut = makeTable(TableKind::Random, 5);
    SepiaSettings sepia;
    sepia.weights[0] = 0.41;
    sepia.weights[1] = -0.2;
    sepia.weights[2] = 0.93;
    sepia.offsets[0] = 25;
    sepia.offsets[1] = -15;
    sepia.offsets[2] = 60;
    if (kind == FilterKind::Lut3D)
        loadTable(*host, obj, *lut, 15);
    else
        applySepia(*host, obj, sepia);
    host->setProperty(obj, "SourcePicture", pic);

    // The Lut3D result has an alpha channel exactly when the source has one; the sepia result
    // never has one.
    const bool resultAlpha = kind == FilterKind::Lut3D && withAlpha;
    const uint8_t* fill = resultAlpha ? kAlphaFill : kPlainFill;
    for (const RectCase& c : kRectCases) {
        SCOPED_TRACE(c.name);
        setRectangle(*host, obj, c.minX, c.minY, c.maxX, c.maxY);
        ASSERT_TRUE(runAudited(*host, obj));
        Ref dest = destinationOf(*host, obj);
        ASSERT_TRUE(dest);
        ASSERT_NE(dest, pic);
        auto* out = dest.as<Picture>();
        ASSERT_EQ(out->width(), W);
        ASSERT_EQ(out->height(), H);
        EXPECT_EQ(out->hasAlpha(), resultAlpha);
        int mismatches = 0;
        for (int y = 0; y < H && mismatches < 5; ++y) {
            for (int x = 0; x < W && mismatches < 5; ++x) {
                uint8_t want[4], got[4];
                if (c.written.contains(x, y)) {
                    const uint8_t* s = src.pixel(x, y);
                    const Rgb rgb = kind == FilterKind::Lut3D
                                        ? referenceLut(*lut, {s[0], s[1], s[2]})
                                        : referenceSepia(sepia, s[0], s[1], s[2]);
                    want[0] = uint8_t(rgb.r), want[1] = uint8_t(rgb.g), want[2] = uint8_t(rgb.b);
                    want[3] = 255;
                } else {
                    std::memcpy(want, fill, 4);
                }
                out->rgba(x, y, got);
                if (std::memcmp(want, got, resultAlpha ? 4 : 3) != 0) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel (" << x << "," << y << "): want " << int(want[0]) << ","
                                  << int(want[1]) << "," << int(want[2]) << "," << int(want[3])
                                  << " got " << int(got[0]) << "," << int(got[1]) << ","
                                  << int(got[2]) << "," << int(got[3]);
                }
            }
        }
    }
    EXPECT_EQ(pic.as<Picture>()->toImage().rgba, src.rgba) << "the source must stay untouched";
}

INSTANTIATE_TEST_SUITE_P(AllHosts, FilterOnHost,
                         testing::Combine(testing::ValuesIn(qrxtest::everyHost()),
                                          testing::Values(FilterKind::Lut3D, FilterKind::Sepia)),
                         [](const auto& info) {
                             return std::string(std::get<1>(info.param) == FilterKind::Lut3D
                                                    ? "Lut3D_"
                                                    : "Sepia_") +
                                    std::get<0>(info.param).name;
                         });

// ---- PictureLut3DQRX ---------------------------------------------------------------------------

// A one-row picture of the given colours (opaque).
Ref rowPicture(Host& host, const std::vector<std::array<uint8_t, 3>>& colours) {
    Image img;
    img.width = int(colours.size());
    img.height = 1;
    for (const auto& c : colours)
        img.rgba.insert(img.rgba.end(), {c[0], c[1], c[2], 255});
    return host.pictureFromImage(img);
}

std::array<uint8_t, 3> pixelOf(const Ref& pic, int x, int y = 0) {
    uint8_t p[4];
    pic.as<Picture>()->rgba(x, y, p);
    return {p[0], p[1], p[2]};
}

// A host with one new object of a filter class.
template <const char* ClassName> class FilterObject : public testing::Test {
  protected:
    void SetUp() override {
        host = qrxtest::loadHost(withFills({}));
        obj = host->newInstance(ClassName);
    }
    // Runs on a row of the given colours and returns the result.
    Ref runOn(const std::vector<std::array<uint8_t, 3>>& colours) {
        Ref pic = rowPicture(*host, colours);
        host->setProperty(obj, "SourcePicture", pic);
        EXPECT_TRUE(runAudited(*host, obj));
        return destinationOf(*host, obj);
    }
    std::unique_ptr<Host> host;
    Ref obj;
};

constexpr char kLut3DClass[] = "PictureLut3DQRX";
constexpr char kSepiaClass[] = "PictureSepiaQRX";
using Lut3D = FilterObject<kLut3DClass>;

TEST_F(Lut3D, NewObjectTurnsEveryPixelBlack) {
    Ref out = runOn({{255, 255, 255}, {12, 200, 99}, {0, 0, 0}});
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(pixelOf(out, x), (std::array<uint8_t, 3>{0, 0, 0}));
}

TEST_F(Lut3D, IdentityTableLosesOneOnlyWhereTruncationDoes) {
    loadTable(*host, obj, *identityTable());
    std::vector<std::array<uint8_t, 3>> reds;
    for (int v = 0; v < 256; ++v)
        reds.push_back({uint8_t(v), 0, 0});
    Ref out = runOn(reds);
    const std::set<int> losing = {57, 108, 124, 125, 210, 226, 227, 243, 244};
    for (int v = 0; v < 256; ++v) {
        const int want = losing.count(v) ? v - 1 : v;
        EXPECT_EQ(pixelOf(out, v), (std::array<uint8_t, 3>{uint8_t(want), 0, 0})) << v;
    }
    // Colours on the nodes come back unchanged in every component.
    std::vector<std::array<uint8_t, 3>> nodes;
    for (int i = 0; i < 16; ++i)
        nodes.push_back({uint8_t(17 * i), uint8_t(17 * ((i * 7) % 16)), uint8_t(17 * (15 - i))});
    out = runOn(nodes);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(pixelOf(out, i), nodes[size_t(i)]) << i;
}

TEST_F(Lut3D, Component255UsesNode15Alone) {
    loadTable(*host, obj, *identityTable());
    const std::vector<std::array<uint8_t, 3>> colours = {
        {255, 255, 255}, {255, 3, 200}, {250, 255, 17}, {120, 64, 255}, {254, 254, 254}};
    Ref before = runOn(colours);
    // Nodes 16 and 17 on every axis become NaN: any use of them, even with weight 0, would show
    // as a component of 0, so nothing Run produces may change.
    for (int r = 0; r < kNodes; ++r)
        for (int g = 0; g < kNodes; ++g)
            for (int b = 0; b < kNodes; ++b)
                if (r > 15 || g > 15 || b > 15)
                    for (uint32_t x = 0; x < 3; ++x)
                        assignTable(*host, obj, uint32_t(r), uint32_t(g), uint32_t(b), x,
                                    std::numeric_limits<double>::quiet_NaN());
    Ref after = runOn(colours);
    for (int x = 0; x < int(colours.size()); ++x)
        EXPECT_EQ(pixelOf(after, x), pixelOf(before, x));
    EXPECT_EQ(pixelOf(after, 0), (std::array<uint8_t, 3>{255, 255, 255}));
}

struct IndexCase {
    uint32_t r, g, b, x;
    bool inRange;
};

TEST_F(Lut3D, TableIndicesOutOfRangeReadZeroAndIgnoreAssignments) {
    const IndexCase cases[] = {
        {0, 0, 0, 0, true},           {17, 17, 17, 2, true},
        {3, 16, 9, 1, true},          {18, 0, 0, 0, false},
        {0, 18, 0, 0, false},         {0, 0, 18, 0, false},
        {0, 0, 0, 3, false},          {0xFFFFFFFF, 0, 0, 0, false},
        {0, 0, 0, 0x80000000, false}, {17, 17, 17, 0xFFFFFFFF, false},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b << "," << c.x);
        assignTable(*host, obj, c.r, c.g, c.b, c.x, 42.5);
        EXPECT_EQ(readTable(*host, obj, c.r, c.g, c.b, c.x), c.inRange ? 42.5 : 0.0);
    }
    // The assignments at (0, 0, 0, 3) and (18, 0, 0, 0) did not spill into neighbours.
    EXPECT_EQ(readTable(*host, obj, 0, 0, 0, 1), 0.0);
    EXPECT_EQ(readTable(*host, obj, 0, 0, 0, 2), 0.0);
    EXPECT_EQ(readTable(*host, obj, 0, 0, 1, 0), 0.0);
    EXPECT_EQ(readTable(*host, obj, 17, 17, 17, 1), 0.0);
    // Assigning an integer is a double assignment; reading back gives the same value.
    qrx::CallResult res = host->assign(
        obj, "Table", {uint32_t(1), uint32_t(2), uint32_t(3), uint32_t(0)}, int32_t(-7));
    EXPECT_FALSE(res.exception);
    EXPECT_EQ(readTable(*host, obj, 1, 2, 3, 0), -7.0);
}

TEST(Lut3DUnits, ComponentByteClampsTruncatesAndZeroesNaN) {
    const std::pair<double, int> cases[] = {
        {-0.5, 0},
        {-1e300, 0},
        {0.0, 0},
        {0.999, 0},
        {1.0, 1},
        {56.9999, 56},
        {254.99, 254},
        {255.0, 255},
        {255.01, 255},
        {1e300, 255},
        {std::numeric_limits<double>::infinity(), 255},
        {-std::numeric_limits<double>::infinity(), 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (auto [v, want] : cases)
        EXPECT_EQ(lut3d::ComponentByte(v), want) << v;
}

// ---- PictureSepiaQRX ---------------------------------------------------------------------------

using Sepia = FilterObject<kSepiaClass>;

TEST_F(Sepia, NewObjectHasTheDefaultWeightsAndNothingElse) {
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorRed")), 0.299);
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorGreen")), 0.587);
    EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorBlue")), 0.114);
    for (const char* name : {"MinX", "MinY", "MaxX", "MaxY", "SepiaRed", "SepiaGreen", "SepiaBlue"})
        EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, name)), 0) << name;
    EXPECT_TRUE(std::holds_alternative<Nil>(host->getProperty(obj, "SourcePicture")));
    EXPECT_FALSE(hasDestination(*host, obj));
}

struct SepiaExample {
    const char* name;
    int32_t offsets[3];
    std::array<uint8_t, 3> in, out;
};

TEST_F(Sepia, DefaultWeightsOffsetsAndClamping) {
    const SepiaExample cases[] = {
        {"white", {0, 0, 0}, {255, 255, 255}, {254, 254, 254}},
        {"black", {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
        {"pure red", {0, 0, 0}, {255, 0, 0}, {76, 76, 76}},
        {"black with offsets", {40, 20, -20}, {0, 0, 0}, {40, 20, 0}},
        {"white with offsets", {40, 20, -20}, {255, 255, 255}, {255, 255, 234}},
        {"large offsets", {1000, -1000, 2147483647}, {10, 20, 30}, {255, 0, 255}},
        {"most negative offset", {-2147483647 - 1, 0, 0}, {200, 200, 200}, {0, 199, 199}},
    };
    for (const SepiaExample& c : cases) {
        SCOPED_TRACE(c.name);
        host->setProperty(obj, "SepiaRed", c.offsets[0]);
        host->setProperty(obj, "SepiaGreen", c.offsets[1]);
        host->setProperty(obj, "SepiaBlue", c.offsets[2]);
        Ref out = runOn({c.in});
        EXPECT_EQ(pixelOf(out, 0), c.out);
    }
}

// Each weight property reaches its own weight: with one weight at 1 and the others 0 the gray is
// that component.
TEST_F(Sepia, UnusualWeightsActThroughTheFormulaAndTheClamp) {
    std::mt19937 rng(4);
    const SepiaSettings settings[] = {
        {{-0.5, 1.7, 0.2}, {0, 0, 0}},
        {{2.0, 2.0, 2.0}, {-300, 0, 10}},
        {{0.0009, 0.001, -0.0009}, {5, 6, 7}}, // weights that truncate to 0 and 1
        {{0.333, 0.333, 0.334}, {-10, 0, 10}},
    };
    std::vector<std::array<uint8_t, 3>> colours;
    for (int i = 0; i < 200; ++i)
        colours.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
    for (const SepiaSettings& s : settings) {
        applySepia(*host, obj, s);
        Ref out = runOn(colours);
        for (size_t i = 0; i < colours.size(); ++i) {
            auto want = referenceSepia(s, colours[i][0], colours[i][1], colours[i][2]);
            EXPECT_EQ(pixelOf(out, int(i)),
                      (std::array<uint8_t, 3>{uint8_t(want.r), uint8_t(want.g), uint8_t(want.b)}))
                << s.weights[0] << "," << s.weights[1] << "," << s.weights[2] << " colour " << i;
        }
    }
}

TEST(SepiaUnits, IntegerWeightTruncatesTowardZero) {
    const std::pair<double, int32_t> cases[] = {
        {0.299, 306},
        {0.587, 601},
        {0.114, 116},
        {-0.299, -306},
        {1.0, 1024},
        {0.0009, 0},
        {-0.0009, 0},
        {2097151.999, 2147483646},
        {2097152.0, std::numeric_limits<int32_t>::min()},
        {-2097152.0, std::numeric_limits<int32_t>::min()},
        {-2097153.0, std::numeric_limits<int32_t>::min()},
        {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<int32_t>::min()},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::min()},
    };
    for (auto [w, want] : cases)
        EXPECT_EQ(sepia::IntegerWeight(w), want) << w;
}

TEST(SepiaUnits, GrayValueWrapsLikeHostIntegersAndTruncatesTowardZero) {
    EXPECT_EQ(sepia::GrayValue(255, 255, 255, 306, 601, 116), 254);
    EXPECT_EQ(sepia::GrayValue(255, 0, 0, 306, 601, 116), 76);
    EXPECT_EQ(sepia::GrayValue(1, 0, 0, -1023, 0, 0), 0) << "-1023 / 1024 truncates to 0";
    EXPECT_EQ(sepia::GrayValue(3, 0, 0, -1024, 0, 0), -3);
    // The weighted sum is formed in 32 bits and wraps.
    const int32_t big = std::numeric_limits<int32_t>::max();
    const auto wrapped = int32_t(uint32_t(255) * uint32_t(big));
    EXPECT_EQ(sepia::GrayValue(255, 0, 0, big, 0, 0), wrapped / 1024);
}

// ---- class lifecycle ---------------------------------------------------------------------------

class FilterLifecycle : public testing::TestWithParam<FilterKind> {};

TEST_P(FilterLifecycle, ReferencesFollowAssignmentsRunsCloseAndDestruction) {
    auto host = qrxtest::loadHost();
    const qrx::Audit base = host->audit();
    {
        Ref a = host->newPicture(8, 6, false);
        Ref b = host->newPicture(8, 6, false);
        Ref obj = host->newInstance(className(GetParam()));
        const int refsA = a->refCount(), refsB = b->refCount();

        host->setProperty(obj, "SourcePicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);
        host->setProperty(obj, "SourcePicture", b);
        EXPECT_EQ(a->refCount(), refsA) << "the replaced picture is released";
        EXPECT_EQ(b->refCount(), refsB + 1);
        host->setProperty(obj, "DestinationPicture", a);
        EXPECT_EQ(a->refCount(), refsA + 1);

        // Run replaces the assigned destination with its own result.
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(a->refCount(), refsA);
        Ref result = destinationOf(*host, obj);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->refCount(), 2) << "one for the object, one for this test";

        // A second run replaces the result and drops the first one.
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_EQ(result->refCount(), 1);

        // Close releases both pictures; a second Close is harmless.
        for (int i = 0; i < 2; ++i)
            closeAudited(*host, obj);
        EXPECT_EQ(b->refCount(), refsB);
        EXPECT_TRUE(std::holds_alternative<Nil>(host->getProperty(obj, "SourcePicture")));
        EXPECT_FALSE(hasDestination(*host, obj));
        EXPECT_FALSE(runAudited(*host, obj)) << "no source after Close";

        // The object can be given a source again after Close.
        host->setProperty(obj, "SourcePicture", a);
        EXPECT_TRUE(runAudited(*host, obj));
        EXPECT_TRUE(hasDestination(*host, obj));

        // Destroying the object releases what it holds.
        obj.reset();
        EXPECT_EQ(a->refCount(), refsA);
        qrxtest::expectQuiet(*host);
    }
    const qrx::Audit end = host->audit();
    EXPECT_EQ(end.liveObjects, base.liveObjects);
    EXPECT_EQ(end.references, base.references);
    qrxtest::expectQuiet(*host);
}

// Close keeps the settings: the rectangle, the table and the weights survive it.
TEST_P(FilterLifecycle, CloseKeepsSettings) {
    auto host = qrxtest::loadHost();
    Ref obj = host->newInstance(className(GetParam()));
    setRectangle(*host, obj, 1, 2, 3, 4);
    if (GetParam() == FilterKind::Lut3D) {
        assignTable(*host, obj, 5, 6, 7, 1, 12.25);
    } else {
        host->setProperty(obj, "FactorGreen", 0.75);
        host->setProperty(obj, "SepiaBlue", -9);
    }
    closeAudited(*host, obj);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MinX")), 1);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MinY")), 2);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MaxX")), 3);
    EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "MaxY")), 4);
    if (GetParam() == FilterKind::Lut3D) {
        EXPECT_EQ(readTable(*host, obj, 5, 6, 7, 1), 12.25);
    } else {
        EXPECT_EQ(std::get<double>(host->getProperty(obj, "FactorGreen")), 0.75);
        EXPECT_EQ(std::get<int32_t>(host->getProperty(obj, "SepiaBlue")), -9);
    }
}

// What a failed Run leaves in DestinationPicture after a successful one: the lookup table
// drops its previous result, the sepia filter keeps it. A source 32768 wide can be read but no
// writer can be made for it.
TEST_P(FilterLifecycle, AFailedRunAfterASuccessfulOne) {
    auto host = qrxtest::loadHost();
    Ref obj = host->newInstance(className(GetParam()));
    const bool keeps = GetParam() == FilterKind::Sepia;
    for (bool nilSource : {true, false}) {
        SCOPED_TRACE(nilSource ? "no source" : "no writer");
        host->setProperty(obj, "SourcePicture",
                          host->pictureFromImage(qrxtest::patternImage(3, 1, false)));
        ASSERT_TRUE(runAudited(*host, obj));
        const Ref first = destinationOf(*host, obj);
        ASSERT_TRUE(first);
        if (nilSource)
            host->setProperty(obj, "SourcePicture", Nil{});
        else
            host->setProperty(obj, "SourcePicture", host->newPicture(32768, 1, false));
        EXPECT_FALSE(runAudited(*host, obj));
        EXPECT_EQ(destinationOf(*host, obj), keeps ? first : Ref());
    }
}

// An alpha source needs an alpha writer for the lookup table, which hosts before 2011.04 cannot
// make; the sepia result is a plain picture on every host.
TEST_P(FilterLifecycle, AlphaSourceOnOlderHosts) {
    const bool lut = GetParam() == FilterKind::Lut3D;
    for (double version : {2011.03, 2011.04}) {
        qrx::HostConfig config;
        config.version = version;
        auto host = qrxtest::loadHost(config);
        Ref obj = host->newInstance(className(GetParam()));
        Ref pic = host->pictureFromImage(qrxtest::patternImage(6, 4, true));
        host->setProperty(obj, "SourcePicture", pic);
        const bool works = !lut || version >= 2011.04;
        EXPECT_EQ(runAudited(*host, obj), works) << version;
        Ref dest = destinationOf(*host, obj);
        EXPECT_EQ(bool(dest), works) << version;
        if (dest) {
            EXPECT_EQ(dest.as<Picture>()->hasAlpha(), lut);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothClasses, FilterLifecycle,
                         testing::Values(FilterKind::Lut3D, FilterKind::Sepia),
                         [](const auto& info) {
                             return std::string(info.param == FilterKind::Lut3D ? "Lut3D"
                                                                                : "Sepia");
                         });

TEST(FilterTables, AdaptationIsUndoneByRestore) {
    ResetPluginState();
    ASSERT_EQ(registeredClasses.size(), 2u);
    EXPECT_EQ(registeredClasses[0], &PictureSepiaClass);
    EXPECT_EQ(registeredClasses[1], &Lut3DClass);
    EXPECT_EQ(Lut3DClass.dataSize, sizeof(Lut3DClassData));
    EXPECT_EQ(PictureSepiaClass.dataSize, sizeof(PictureSepiaClassData));
    EXPECT_EQ(Lut3DClass.properties[0].flags, 0x40000u);
    EXPECT_EQ(Lut3DClass.methods[2].flags, 0x40000u);

    gHostVersion = 2019.1;
    for (REALclassDefinition* record : registeredClasses) {
        FixConsoleFlags(record);
        MyREALRegisterClass(record); // no resolver: the host call is a no-op
    }
    EXPECT_EQ(Lut3DClass.dataSize % 16, 0u);
    EXPECT_EQ(PictureSepiaClass.dataSize % 16, 0u);
    EXPECT_EQ(Lut3DClass.properties[0].flags, 4u);
    EXPECT_EQ(Lut3DClass.methods[2].flags, 4u);
    EXPECT_EQ(Lut3DClass.flags, 4u);

    ResetPluginState();
    EXPECT_EQ(Lut3DClass.dataSize, sizeof(Lut3DClassData));
    EXPECT_EQ(PictureSepiaClass.dataSize, sizeof(PictureSepiaClassData));
    for (int i = 0; i < Lut3DClass.propertyCount; ++i)
        EXPECT_EQ(Lut3DClass.properties[i].flags, 0x40000u) << i;
    for (int i = 0; i < Lut3DClass.methodCount; ++i)
        EXPECT_EQ(Lut3DClass.methods[i].flags, 0x40000u) << i;
    EXPECT_EQ(Lut3DClass.flags, 4u);
}

} // namespace
