// The sepia filter's specialised pixel loops against its general loop (the picture operations are
// held to their models at every level by ops_driver_test.cpp), the fast-path switch, and the
// runtime's pool of pixel storage.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bitmap_context.h"
#include "host_impl.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "qrx/pixel_buffer.h"
#include "support.h"

namespace {

using qrx::Color;
using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Image;
using qrx::MemoryBlock;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

// How a test picture is filled.
enum class Fill { Pattern, Black, White, NearGray };

// Makes the arguments of one call: pictures in the host's current form and random values. Two
// makers with the same seed make the same pictures and values.
class Maker {
  public:
    Maker(Host& host, bool alpha, unsigned seed) : host_(host), alpha_(alpha), rng_(seed) {}

    int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    template <class T> T pick(const std::vector<T>& values) {
        return values[size_t(in(0, int(values.size()) - 1))];
    }

    // A desktop host's new pictures come in a random layout of the kind asked for.
    void chooseLayout() {
        HostConfig& c = host_.config();
        if (c.kind != HostKind::Desktop) return;
        if (alpha_)
            c.alphaLayout = uint32_t(in(1, 2));
        else
            c.plainLayout = uint32_t(in(1, 6));
    }

    // Mostly small pictures; some wider than a block of the multi-source loops.
    void chooseSize() {
        width_ = in(0, 4) == 0 ? in(250, 530) : in(1, 40);
        height_ = in(1, 24);
    }
    // A picture of 65536 pixels or more, which the histograms count through component pairs.
    void chooseLargeSize() {
        width_ = in(256, 400);
        height_ = in(256, 300);
    }
    int width() const { return width_; }
    int height() const { return height_; }

    Ref picture(Fill fill = Fill::Pattern, bool outlier = false) {
        chooseLayout();
        Image img = qrxtest::patternImage(width_, height_, alpha_, unsigned(in(1, 1 << 20)));
        if (fill != Fill::Pattern) {
            for (int y = 0; y < height_; ++y)
                for (int x = 0; x < width_; ++x) {
                    uint8_t* p = img.pixel(x, y);
                    const int base = fill == Fill::Black   ? 0
                                     : fill == Fill::White ? 255
                                                           : in(8, 247);
                    const int spread = fill == Fill::NearGray ? 6 : 0;
                    for (int i = 0; i < 3; ++i)
                        p[i] = uint8_t(base + (spread ? in(-spread, spread) : 0));
                    p[3] = 255;
                }
            if (outlier) {
                uint8_t* p = img.pixel(in(0, width_ - 1), in(0, height_ - 1));
                p[in(0, 2)] = uint8_t(in(0, 255));
            }
        }
        Ref pic = host_.pictureFromImage(img);
        pictures_.push_back(pic);
        return pic;
    }

    // The colour of a pixel of the last picture made, or a random one.
    Color colour() {
        if (pictures_.empty() || in(0, 3) == 0) return Color{uint32_t(in(0, 0xFFFFFF))};
        const auto* p = pictures_.back().as<Picture>();
        uint8_t rgba[4];
        p->rgba(in(0, p->width() - 1), in(0, p->height() - 1), rgba);
        return Color{uint32_t(rgba[0]) << 16 | uint32_t(rgba[1]) << 8 | rgba[2] |
                     uint32_t(in(0, 255)) << 24};
    }

    // Amounts around the places where a truncated result steps.
    double amount(double range) {
        switch (in(0, 5)) {
        case 0:
            return in(int(-range), int(range)) + 0.5;
        case 1:
            return in(int(-range), int(range));
        case 2:
            return std::nextafter(double(in(int(-range), int(range))) + 0.5, 0.0);
        case 3:
            return pick<double>({kNaN, kInf, -kInf, 1e10, -1e10, 0.0, -0.0, range, -range});
        default:
            return std::uniform_real_distribution<double>(-range, range)(rng_);
        }
    }
    // Contrast amounts: factors that make half steps from the pivot exact.
    double contrast() {
        if (in(0, 1)) return pick<double>({-2.0, -1.0, -0.5, 0.0, 0.5, 1.0, 2.0, -1.5, 0.25, 1e9});
        return amount(3.0);
    }
    int32_t integer(int range) {
        if (in(0, 5) == 0) return pick<int32_t>({kIntMin, kIntMax, kIntMin + 1, -255, 255, 0});
        return in(-range, range);
    }
    // left, top, width, height: mostly inside, sometimes hanging over or omitted.
    std::vector<Value> rectangle() {
        return {int32_t(in(-4, width_ + 2)), int32_t(in(-4, height_ + 2)),
                int32_t(in(-2, width_ + 4)), int32_t(in(-2, height_ + 4))};
    }
    Ref table() {
        std::vector<uint8_t> bytes(size_t(in(0, 3) == 0 ? 300 : 256));
        for (auto& b : bytes)
            b = uint8_t(in(0, 255));
        return host_.newMemoryBlock(bytes);
    }
    Value histogram() {
        if (in(0, 1)) return Nil{};
        std::vector<uint8_t> bytes(1024);
        for (auto& b : bytes)
            b = uint8_t(in(0, 3) == 0 ? in(0, 255) : 0);
        return host_.newMemoryBlock(bytes);
    }
    // A binary picture string of the current size with random pixel bytes.
    Value binaryString() {
        const uint32_t size = uint32_t(width_ * height_ * 3 + 40);
        std::string bytes = "PPIC";
        for (uint32_t field : {size, uint32_t(width_), uint32_t(height_), 32u, 40u})
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(char(field >> shift));
        bytes.resize(size, '\0');
        for (size_t i = 40; i < bytes.size(); ++i)
            bytes[i] = char(in(0, 255));
        return host_.newString(bytes, 0xFFFF);
    }

    Host& host() { return host_; }

  private:
    Host& host_;
    bool alpha_;
    std::mt19937 rng_;
    int width_ = 1, height_ = 1;
    std::vector<Ref> pictures_;
};

using A = std::vector<Value>;

// The bytes a value stands for: a picture's layout, size and words, a MemoryBlock's bytes, or
// the rendering of a scalar.
std::string contents(const Value& v) {
    if (!std::holds_alternative<Ref>(v)) return qrx::describe(v);
    const Ref& r = std::get<Ref>(v);
    if (const auto* block = r.as<MemoryBlock>())
        return std::string(block->bytes.begin(), block->bytes.end());
    if (const auto* str = r.as<qrx::String>()) return str->text();
    if (const auto* pic = r.as<Picture>()) {
        std::string out = std::to_string(pic->layout()) + ":" + std::to_string(pic->width()) + "x" +
                          std::to_string(pic->height()) + ":";
        for (int y = 0; y < pic->height(); ++y)
            for (int x = 0; x < pic->width(); ++x) {
                const uint32_t w = pic->word(x, y);
                out.append(reinterpret_cast<const char*>(&w), 4);
            }
        return out;
    }
    return qrx::describe(v);
}

class FastPathTest : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        host = std::make_unique<Host>(GetParam().config, QRX_TEST_PLUGIN_TESTABLE);
        useFastPaths =
            reinterpret_cast<void (*)(int)>(dlsym(host->impl().library, "QRXUseFastPaths"));
        ASSERT_NE(useFastPaths, nullptr);
    }
    void TearDown() override {
        if (useFastPaths) useFastPaths(kVectorLoops);
    }

    // The switch's levels: the general loops, the specialised scalar loops, and those with vector
    // instructions (where the processor has none, the scalar loops again).
    static constexpr int kGeneral = 0, kScalarLoops = 1, kVectorLoops = 2;

    std::unique_ptr<Host> host;
    void (*useFastPaths)(int) = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Hosts, FastPathTest, testing::ValuesIn(qrxtest::plainHostCases()),
                         qrxtest::caseName);
// The sepia filter object, its rectangle and weights random, run each way.
TEST_P(FastPathTest, SepiaFilterGivesTheGeneralBytes) {
    for (unsigned trial = 0; trial < 24; ++trial) {
        std::string results[3];
        for (int level : {kGeneral, kScalarLoops, kVectorLoops}) {
            Maker m(*host, false, 9000 + trial);
            m.chooseSize();
            Ref source = m.picture();
            Ref obj = host->newInstance("PictureSepiaQRX");
            for (const char* weight : {"FactorRed", "FactorGreen", "FactorBlue"})
                host->setProperty(obj, weight,
                                  m.in(0, 1) ? m.amount(2.0)
                                             : m.pick<double>({0.299, 0.587, 0.114}));
            for (const char* offset : {"SepiaRed", "SepiaGreen", "SepiaBlue"})
                host->setProperty(obj, offset, m.integer(300));
            A rect = m.rectangle();
            host->setProperty(obj, "MinX", rect[0]);
            host->setProperty(obj, "MinY", rect[1]);
            host->setProperty(obj, "MaxX",
                              int32_t(std::get<int32_t>(rect[0]) + std::get<int32_t>(rect[2])));
            host->setProperty(obj, "MaxY",
                              int32_t(std::get<int32_t>(rect[1]) + std::get<int32_t>(rect[3])));
            host->setProperty(obj, "SourcePicture", source);
            m.chooseLayout();
            useFastPaths(level);
            qrx::CallResult r = host->call(obj, "Run", {});
            useFastPaths(kVectorLoops);
            ASSERT_FALSE(r.exception);
            results[level] =
                qrx::describe(r.result) + contents(host->getProperty(obj, "DestinationPicture"));
            host->call(obj, "Close", {});
        }
        EXPECT_TRUE(results[0] == results[1]) << "trial " << trial;
        EXPECT_TRUE(results[0] == results[2]) << "trial " << trial;
    }
}

// The module that ships has no switch: the fast paths cannot be turned off there.
TEST(FastPathSwitch, OnlyTheTestModuleExportsIt) {
    auto shipped = qrxtest::loadHost();
    EXPECT_EQ(dlsym(shipped->impl().library, "QRXUseFastPaths"), nullptr);
}

// ---- the runtime's pool of pixel storage
// ---------------------------------------------------------

// A picture made on storage another picture gave back starts exactly as a fresh one: each pixel
// the host's fill, each row's padding 0.
TEST_P(FastPathTest, ReusedStorageStartsAsFreshStorage) {
    // The second size fills rows longer than the block the fill is copied in.
    for (auto [w, h] : {std::pair{37, 11}, std::pair{1100, 5}})
        for (bool alpha : {false, true}) {
            Ref fresh = host->newPicture(w, h, alpha);
            const std::string expected = contents(Value(fresh));
            fresh.reset();
            for (int round = 0; round < 3; ++round) {
                Ref used = host->newPicture(w, h, alpha);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        used.as<Picture>()->setWord(x, y,
                                                    0x9E3779B9u * uint32_t(x + w * y + round));
                if (auto* ctx = used.as<Picture>()->bitmapContext())
                    std::memset(ctx->data, 0xA5, ctx->bytesPerRow * ctx->height);
                used.reset();
                Ref again = host->newPicture(w, h, alpha);
                EXPECT_EQ(contents(Value(again)), expected) << "round " << round;
                // Every pixel holds the fill, as the first one does.
                int differing = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        differing +=
                            again.as<Picture>()->word(x, y) != again.as<Picture>()->word(0, 0);
                EXPECT_EQ(differing, 0) << w << " x " << h;
                if (auto* ctx = again.as<Picture>()->bitmapContext()) {
                    const auto* bytes = static_cast<const uint8_t*>(ctx->data);
                    for (size_t y = 0; y < ctx->height; ++y)
                        for (size_t i = ctx->width * 4; i < ctx->bytesPerRow; ++i)
                            EXPECT_EQ(bytes[y * ctx->bytesPerRow + i], 0) << "padding of row " << y;
                }
            }
        }
}

TEST(PixelPool, KeepsReleasedStorageForTheSameSizeUpToItsBound) {
    qrx::drainPixelPool();
    EXPECT_EQ(qrx::pixelPoolBytes(), 0u);
    const uint8_t* first = nullptr;
    {
        qrx::PixelBuffer a(4096);
        first = a.data();
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 1u);
    {
        qrx::PixelBuffer other(4100); // another size: not the kept buffer
        EXPECT_NE(other.data(), first);
        qrx::PixelBuffer same(4096);
        EXPECT_EQ(same.data(), first);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 0u);
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u + 4100u);
    {
        // Larger than the bound: freed at once, never kept.
        qrx::PixelBuffer huge(qrx::kPixelPoolBound + 1);
        huge.data()[0] = 1;
    }
    EXPECT_EQ(qrx::pixelPoolBytes(), 4096u + 4100u);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 2u);
    // A release past the bound frees the buffer released longest ago (the 4096 bytes, released
    // before the 4100) until the pool fits again.
    { qrx::PixelBuffer big(qrx::kPixelPoolBound - 4100); }
    EXPECT_EQ(qrx::pixelPoolBytes(), qrx::kPixelPoolBound);
    EXPECT_EQ(qrx::pixelPoolBuffers(), 2u);
    {
        qrx::PixelBuffer kept(4100);
        EXPECT_EQ(qrx::pixelPoolBytes(), qrx::kPixelPoolBound - 4100);
        qrx::PixelBuffer evicted(4096);
        EXPECT_EQ(qrx::pixelPoolBuffers(), 1u);
    }
    qrx::PixelBuffer empty(0);
    EXPECT_EQ(empty.data(), nullptr);
    qrx::drainPixelPool();
    EXPECT_EQ(qrx::pixelPoolBytes(), 0u);
}

} // namespace
