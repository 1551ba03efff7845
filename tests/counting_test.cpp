// Counting one colour, the three channel histograms in MemoryBlocks and the mapping through three
// tables, on every host configuration: references computed from the host's own view of the
// pixels, the block order, accumulation, the failure paths with their count and created blocks,
// the nil-argument exceptions in their order, destinations of every size, and clean audits.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "colour_test_util.h"
#include "ops/counting.h"
#include "qrx/host.h"
#include "support.h"

namespace {

using colourtest::filledImage;
using colourtest::RGBA;
using colourtest::setPixel;
using qrx::Color;
using qrx::Image;
using qrx::MemoryBlock;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

using Histogram = std::array<uint32_t, 256>;

Histogram countersOf(const Value& v) {
    Histogram h{};
    const auto* block = std::get<Ref>(v).as<MemoryBlock>();
    EXPECT_NE(block, nullptr);
    if (!block || block->bytes.size() < 1024) return h;
    for (int i = 0; i < 256; ++i) {
        const uint8_t* p = block->bytes.data() + 4 * i;
        h[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    return h;
}

// Red, green and blue histograms of what the host holds.
std::array<Histogram, 3> referenceHistograms(const Image& img) {
    std::array<Histogram, 3> h{};
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            for (int c = 0; c < 3; ++c)
                ++h[c][img.pixel(x, y)[c]];
    return h;
}

int32_t countOf(const qrx::CallResult& r) {
    return std::get<int32_t>(r.byRef.at(3));
}

class CountingOnHost : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        const auto& [name, config, withAlpha] = GetParam();
        host = qrxtest::loadHost(config);
        alpha = withAlpha;
    }
    std::unique_ptr<qrx::Host> host;
    bool alpha = false;
};

TEST_P(CountingOnHost, CountColorMatchesReferenceWhateverAlphaAndTopByte) {
    Image img = qrxtest::patternImage(31, 13, alpha, 5);
    // Some pixels of one colour, one of them fully transparent.
    for (auto [x, y] : {std::pair{0, 0}, {5, 3}, {30, 12}, {17, 6}})
        setPixel(img, x, y, {12, 34, 56, uint8_t(x == 5 ? 0 : 255)});
    Ref pic = host->pictureFromImage(img);
    img = pic.as<Picture>()->toImage();
    std::mt19937 rng(3);
    std::vector<uint32_t> colours = {0x0C2238, 0xFF0C2238, 0x010C2238, 0x0C2239};
    for (int i = 0; i < 8; ++i) {
        const uint8_t* p = img.pixel(int(rng() % 31), int(rng() % 13));
        colours.push_back(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
    for (uint32_t col : colours) {
        int32_t want = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                const uint8_t* p = img.pixel(x, y);
                want += (uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]) == (col & 0xFFFFFF);
            }
        auto r = qrxtest::auditedCall(*host, pic, "CountColorQRX", {Color{col}});
        EXPECT_EQ(std::get<int32_t>(r.result), want) << std::hex << col;
        if ((col & 0xFFFFFF) == 0x0C2238) {
            EXPECT_EQ(want, 4);
        }
    }
}

TEST_P(CountingOnHost, HistogramsInBlockOrderAndAccumulating) {
    const int W = 29, H = 11;
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, alpha, 9));
    const auto want = referenceHistograms(pic.as<Picture>()->toImage());

    // Nil blocks: three new blocks come back, counting red, green and blue in that order.
    auto first = qrxtest::auditedCall(*host, pic, "CountColorsQRX", {Nil{}, Nil{}, Nil{}, 0});
    ASSERT_EQ(first.byRef.size(), 4u);
    EXPECT_EQ(countOf(first), W * H);
    std::array<Ref, 3> blocks;
    for (int i = 0; i < 3; ++i) {
        blocks[i] = std::get<Ref>(first.byRef[i]);
        ASSERT_TRUE(blocks[i].as<MemoryBlock>());
        EXPECT_EQ(blocks[i].as<MemoryBlock>()->bytes.size(), 1024u);
        EXPECT_EQ(countersOf(first.byRef[i]), want[i]) << "block " << i;
    }
    EXPECT_NE(blocks[0], blocks[1]);
    EXPECT_NE(blocks[1], blocks[2]);

    // The same blocks again: the counters add up, the blocks stay.
    auto second =
        qrxtest::auditedCall(*host, pic, "CountColorsQRX", {blocks[0], blocks[1], blocks[2], 77});
    EXPECT_EQ(countOf(second), W * H);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::get<Ref>(second.byRef[i]), blocks[i]);
        Histogram h = countersOf(second.byRef[i]);
        uint64_t sum = 0;
        for (int v = 0; v < 256; ++v) {
            EXPECT_EQ(h[v], 2 * want[i][v]) << "block " << i << " counter " << v;
            sum += h[v];
        }
        EXPECT_EQ(sum, 2u * W * H);
    }
}

// A block shorter than a histogram: count -1 and no byte of any block written; the nil blocks are
// still created and handed back, zero-filled.
TEST_P(CountingOnHost, ShortBlockFailsWithoutWriting) {
    Ref pic = host->pictureFromImage(qrxtest::patternImage(8, 8, alpha, 2));
    for (int shortAt = 0; shortAt < 3; ++shortAt) {
        SCOPED_TRACE(shortAt);
        std::vector<Value> args;
        std::vector<uint8_t> pattern(1024);
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = uint8_t(i * 7);
        Ref given = host->newMemoryBlock(pattern);
        Ref small = host->newMemoryBlock(std::vector<uint8_t>(1023, 0xAB));
        for (int i = 0; i < 3; ++i)
            args.push_back(i == shortAt ? Value(small) : i == 1 ? Value(Nil{}) : Value(given));
        if (shortAt == 1) args[0] = Nil{};
        args.push_back(5);
        auto r = qrxtest::auditedCall(*host, pic, "CountColorsQRX", args);
        EXPECT_EQ(countOf(r), -1);
        EXPECT_EQ(small.as<MemoryBlock>()->bytes, std::vector<uint8_t>(1023, 0xAB));
        EXPECT_EQ(given.as<MemoryBlock>()->bytes, pattern);
        for (int i = 0; i < 3; ++i) {
            const auto* b = std::get<Ref>(r.byRef[i]).as<MemoryBlock>();
            ASSERT_NE(b, nullptr) << i;
            if (std::holds_alternative<Nil>(args[i])) {
                EXPECT_EQ(b->bytes, std::vector<uint8_t>(1024, 0)) << "created block " << i;
            }
        }
    }
}

// ---- Tables ----

std::array<std::vector<uint8_t>, 3> randomTables(unsigned seed, size_t size = 256) {
    std::mt19937 rng(seed);
    std::array<std::vector<uint8_t>, 3> t;
    for (auto& table : t) {
        table.resize(size);
        for (auto& b : table)
            b = uint8_t(rng());
    }
    return t;
}

// The mapped colour at (x, y): tables by declared name, first red, second blue, third green.
void expectMapped(const Image& src, const Picture& out, int x, int y,
                  const std::array<std::vector<uint8_t>, 3>& t, int& mismatches) {
    const uint8_t* s = src.pixel(x, y);
    uint8_t want[4] = {t[0][s[0]], t[2][s[1]], t[1][s[2]], 255};
    uint8_t got[4];
    out.rgba(x, y, got);
    const int n = out.hasAlpha() ? 4 : 3;
    if (std::memcmp(want, got, n) != 0 && ++mismatches <= 3)
        ADD_FAILURE() << "(" << x << "," << y << ") want " << int(want[0]) << "," << int(want[1])
                      << "," << int(want[2]) << " got " << int(got[0]) << "," << int(got[1]) << ","
                      << int(got[2]) << "," << int(got[3]);
}

TEST_P(CountingOnHost, TransformIntoNewPicture) {
    const int W = 37, H = 9;
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, alpha, 4));
    const Image src = pic.as<Picture>()->toImage();
    std::array<std::vector<uint8_t>, 3> identity;
    for (auto& t : identity)
        for (int i = 0; i < 256; ++i)
            t.push_back(uint8_t(i));
    for (auto& tables : {identity, randomTables(8), randomTables(9, 300)}) {
        std::vector<Value> args;
        for (auto& t : tables)
            args.push_back(host->newMemoryBlock(t));
        auto r = qrxtest::auditedCall(*host, pic, "TransformColorsQRX", args);
        ASSERT_FALSE(r.exception);
        auto* out = std::get<Ref>(r.result).as<Picture>();
        ASSERT_NE(out, nullptr);
        ASSERT_NE(out, pic.as<Picture>());
        EXPECT_EQ(out->width(), W);
        EXPECT_EQ(out->height(), H);
        int mismatches = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                expectMapped(src, *out, x, y, tables, mismatches);
        EXPECT_EQ(mismatches, 0);
    }
    EXPECT_EQ(pic.as<Picture>()->toImage().rgba, src.rgba) << "the source changed";
}

// A destination of every size, with and without an alpha channel: the layout pairs of source and
// destination that one host can hold.
TEST_P(CountingOnHost, TransformIntoDestination) {
    const int W = 13, H = 7;
    Ref pic = host->pictureFromImage(qrxtest::patternImage(W, H, alpha, 6));
    const Image src = pic.as<Picture>()->toImage();
    const auto tables = randomTables(21);
    for (bool destAlpha : {false, true})
        for (auto [dw, dh] : {std::pair{W - 1, H}, {W, H - 1}, {W, H}, {W + 5, H + 3}}) {
            SCOPED_TRACE(std::to_string(dw) + "x" + std::to_string(dh) +
                         (destAlpha ? " alpha" : ""));
            Ref dest = host->pictureFromImage(qrxtest::patternImage(dw, dh, destAlpha, 13));
            const Image before = dest.as<Picture>()->toImage();
            std::vector<Value> args;
            for (auto& t : tables)
                args.push_back(host->newMemoryBlock(t));
            args.push_back(dest);
            auto r = qrxtest::auditedCall(*host, pic, "TransformColorsQRX", args);
            ASSERT_FALSE(r.exception);
            Ref out = std::get<Ref>(r.result);
            ASSERT_TRUE(out);
            // A plain picture that refuses the bitmap lock cannot be written in place.
            const bool writable = !(GetParam().config.bitmapLockFails && !destAlpha);
            const bool fits = dw >= W && dh >= H && writable;
            EXPECT_EQ(out == dest, fits);
            int mismatches = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    expectMapped(src, *out.as<Picture>(), x, y, tables, mismatches);
            EXPECT_EQ(mismatches, 0);
            const Image after = dest.as<Picture>()->toImage();
            for (int y = 0; y < dh; ++y)
                for (int x = 0; x < dw; ++x)
                    if (!fits || x >= W || y >= H) {
                        ASSERT_EQ(0, std::memcmp(before.pixel(x, y), after.pixel(x, y), 4))
                            << "dest changed at " << x << "," << y;
                    }
        }
}

// The nil checks in their order, each with its message and a nil result; a table without 256
// bytes gives nil without an exception.
TEST_P(CountingOnHost, TransformNilAndShortTables) {
    Ref pic = host->pictureFromImage(qrxtest::patternImage(4, 4, alpha, 1));
    Ref table = host->newMemoryBlock(std::vector<uint8_t>(256, 9));
    Ref shortTable = host->newMemoryBlock(std::vector<uint8_t>(255, 9));
    Ref empty = host->newMemoryBlock(std::vector<uint8_t>{});
    const struct {
        std::array<Value, 3> tables;
        const char* message; // null: no exception
    } cases[] = {
        {{Nil{}, Nil{}, Nil{}}, "red memoryblock is nil"},
        {{Nil{}, table, table}, "red memoryblock is nil"},
        {{table, Nil{}, Nil{}}, "green memoryblock is nil"},
        {{table, table, Nil{}}, "green memoryblock is nil"},
        {{table, Nil{}, table}, "blue memoryblock is nil"},
        {{shortTable, table, table}, nullptr},
        {{table, shortTable, table}, nullptr},
        {{table, table, shortTable}, nullptr},
        {{table, table, empty}, nullptr},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.message ? c.message : "short table");
        std::vector<Value> args(c.tables.begin(), c.tables.end());
        auto r = qrxtest::auditedCall(*host, pic, "TransformColorsQRX", args);
        EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
        if (c.message) {
            ASSERT_TRUE(r.exception);
            EXPECT_EQ(r.exception->className, "NilObjectException");
            EXPECT_EQ(r.exception->message, c.message);
        } else {
            EXPECT_FALSE(r.exception);
        }
    }
    EXPECT_EQ(shortTable.as<MemoryBlock>()->bytes, std::vector<uint8_t>(255, 9));
}

INSTANTIATE_TEST_SUITE_P(AllHosts, CountingOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

// ---- Calls the runtime cannot make: a nil picture, and blocks the host cannot make ----

class CountingDirect : public colourtest::Direct {};

TEST_F(CountingDirect, NilPicture) {
    EXPECT_EQ(CountColorQRX(nullptr, 0), 0);

    // Created blocks stay with the caller; count -1.
    REALmemoryBlock red = nullptr, blue = nullptr, green = nullptr;
    int32_t count = 3;
    CountColorsQRX(nullptr, red, blue, green, count);
    EXPECT_EQ(count, -1);
    for (REALmemoryBlock b : {red, blue, green}) {
        ASSERT_NE(b, nullptr);
        Ref block = Ref::adopt(host->fromHandle(b));
        EXPECT_EQ(block.as<MemoryBlock>()->bytes, std::vector<uint8_t>(1024, 0));
    }
}

// TransformColorsQRX on a nil picture, called the way the host calls a method: "picture is nil"
// comes first, whatever the tables.
REALpicture TransformNilPicture(REALmemoryBlock red, REALmemoryBlock blue, REALmemoryBlock green) {
    return TransformColorsQRX(nullptr, red, blue, green, nullptr);
}

TEST_F(CountingDirect, NilPictureIsCheckedFirst) {
    static REALmethodDefinition methods[] = {
        {reinterpret_cast<void*>(TransformNilPicture), nullptr,
         "TransformNilPicture(red as memoryblock, blue as memoryblock, green as memoryblock) as "
         "picture",
         0},
    };
    MyREALRegisterMethodArray(methods, 1);
    Ref table = host->newMemoryBlock(std::vector<uint8_t>(256, 1));
    for (Value red : {Value(table), Value(Nil{})}) {
        auto r = qrxtest::auditedGlobal(*host, "TransformNilPicture", {red, Nil{}, table});
        EXPECT_TRUE(std::holds_alternative<Nil>(r.result));
        ASSERT_TRUE(r.exception);
        EXPECT_EQ(r.exception->className, "NilObjectException");
        EXPECT_EQ(r.exception->message, "picture is nil");
    }
}

TEST(CountingNoBlocks, CountIsMinusOneAndGivenBlockUntouched) {
    qrx::HostConfig config;
    config.withheld = {"newMemoryBlock"};
    auto host = qrxtest::loadHost(config);
    Ref pic = host->pictureFromImage(qrxtest::patternImage(4, 3, false, 1));
    Ref given = host->newMemoryBlock(std::vector<uint8_t>(1024, 0));
    auto r = qrxtest::auditedCall(*host, pic, "CountColorsQRX", {given, Nil{}, Nil{}, 0});
    EXPECT_EQ(countOf(r), -1);
    EXPECT_EQ(std::get<Ref>(r.byRef[0]), given);
    EXPECT_TRUE(std::holds_alternative<Nil>(r.byRef[1]));
    EXPECT_TRUE(std::holds_alternative<Nil>(r.byRef[2]));
    EXPECT_EQ(given.as<MemoryBlock>()->bytes, std::vector<uint8_t>(1024, 0));
}

} // namespace
