// The loops made for speed in the 3D lookup-table filter and the sample rendering, held to plain
// references written here: the lookup table's formula evaluated the straightforward way for every
// cell position and tie, every pair of layouts and tables with truncation edges, infinities and
// NaN; 16-bit sample sums against the 8-bit formats. (The rectangle mask's and the picture
// search's loops are held to their references in rect_mask_test.cpp and find_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "filters/lut3d.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;

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

double& entry(Lut3DClassData& d, int r, int g, int b, int x) {
    return d.table[((r * 18 + g) * 18 + b) * 3 + x];
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
    LutData d(new Lut3DClassData{});
    for (int r = 0; r < 16; ++r)
        for (int g = 0; g < 16; ++g)
            for (int b = 0; b < 16; ++b) {
                entry(*d, r, g, b, 0) = 17.0 * r;
                entry(*d, r, g, b, 1) = 17.0 * g;
                entry(*d, r, g, b, 2) = 17.0 * b;
            }
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

} // namespace

// ---- sample rendering ----------------------------------------------------------------------

// With AutoScale the picture depends on the samples only up to a power-of-two factor: 16-bit
// samples 256 times the 8-bit ones give exactly the same envelope values once scaled to the
// loudest column. The 16-bit formats are summed eight at a time and the 8-bit ones one by one,
// so the two must draw the same picture for every column length, including columns that end
// inside a group of eight and blocks longer than 65536 samples.
TEST(RenderSamplesSums, SixteenBitFormatsDrawWhatTheEightBitFormatsDraw) {
    std::unique_ptr<qrx::Host> host = qrxtest::loadHost();
    std::mt19937 rng(8);
    for (int n : {5, 8, 23, 1000, 70001, 200003}) {
        for (int width : {1, 7, 640}) {
            SCOPED_TRACE(testing::Message() << n << " samples, " << width << " columns");
            std::vector<int> s(static_cast<size_t>(n), 0);
            for (int& v : s)
                v = rng() % 4 == 0 ? (rng() % 2 ? 127 : -128) : int(rng() % 256) - 128;
            std::vector<uint8_t> b7, b8, b15, b16;
            for (int v : s) {
                b7.push_back(uint8_t(int8_t(v)));
                b8.push_back(uint8_t(v + 128));
                const auto w15 = uint16_t(int16_t(v * 256));
                const auto w16 = uint16_t(v * 256 + 32768);
                b15.insert(b15.end(), {uint8_t(w15), uint8_t(w15 >> 8)});
                b16.insert(b16.end(), {uint8_t(w16), uint8_t(w16 >> 8)});
            }
            auto render = [&](const std::vector<uint8_t>& bytes, int bits) {
                auto r = qrxtest::auditedGlobal(
                    *host, "RenderSamplesQRX",
                    {host->newMemoryBlock(bytes), int32_t(0), int32_t(3), int32_t(width),
                     int32_t(90), int32_t(1), qrx::Color{0xFFFFFF}, qrx::Color{0x3060C0},
                     qrx::Color{0x102030}, int32_t(bits), true});
                const Ref* pic = std::get_if<Ref>(&r.result);
                EXPECT_TRUE(pic && *pic);
                return pic && *pic ? pic->as<Picture>()->toImage().rgba : std::vector<uint8_t>{};
            };
            const std::vector<uint8_t> want = render(b7, 7);
            ASSERT_FALSE(want.empty());
            EXPECT_EQ(render(b8, 8), want);
            EXPECT_EQ(render(b15, 15), want);
            EXPECT_EQ(render(b16, 16), want);
        }
    }
}
