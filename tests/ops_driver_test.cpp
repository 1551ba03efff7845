// The differential driver: every picture operation the plugin registers, on seeded random
// pictures and arguments (edge amounts, rectangles over every edge, 1 x N, N x 1 and empty
// pictures, pictures with an alpha channel), on every host configuration, through the scalar
// loops and every vector target the processor runs, compared byte for byte
// with the models of models.cpp, with a clean audit after each call. QRX_TEST_SEED=S runs each row
// once with seed S: a failure prints the seed that reproduces it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "host_impl.h"
#include "models.h"
#include "qrx/host.h"
#include "qrx/objects.h"
#include "support.h"

namespace {

using model::Val;
using qrx::Color;
using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Image;
using qrx::Nil;
using qrx::Ref;
using qrx::Value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

// Every host configuration of the shared list, and hosts on each side of each version the
// plugin tells apart (console flags 2010.029, alpha writers 2011.04, lock without unlock 2012.0,
// string data 2013.0), with plain and alpha pictures where the boundary is about them.
std::vector<qrxtest::HostCase> driverHosts() {
    std::vector<qrxtest::HostCase> hosts = qrxtest::everyHost();
    auto add = [&](std::string name, HostKind kind, double version, bool alpha) {
        HostConfig c;
        c.kind = kind;
        c.version = version;
        hosts.push_back({std::move(name), c, alpha});
    };
    add("console_2010_028", HostKind::Console, 2010.028, false);
    add("console_2010_029", HostKind::Console, 2010.029, false);
    add("desktop_alpha_2011_03", HostKind::Desktop, 2011.03, true);
    add("desktop_alpha_2011_04", HostKind::Desktop, 2011.04, true);
    add("web_alpha_2011_03", HostKind::Web, 2011.03, true);
    add("desktop_2011_99", HostKind::Desktop, 2011.99, false);
    add("desktop_2012_0", HostKind::Desktop, 2012.0, false);
    add("console_2012_99", HostKind::Console, 2012.99, false);
    add("console_2013_0", HostKind::Console, 2013.0, false);
    HostConfig legacy;
    legacy.legacyPictures = true;
    hosts.push_back({"desktop_legacy_pictures", legacy, false});
    HostConfig noVersion;
    noVersion.version = std::nullopt;
    hosts.push_back({"desktop_alpha_no_version", noVersion, true});
    return hosts;
}

// Makes one call's pictures and values; the same seed makes the same ones.
class Maker {
  public:
    Maker(Host& host, bool alpha, unsigned seed) : host_(host), alpha_(alpha), rng_(seed) {}

    int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    template <class T> T pick(const std::vector<T>& v) {
        return v[size_t(in(0, int(v.size()) - 1))];
    }

    // A desktop host's next picture takes a random layout of its kind, half the time.
    void chooseLayout() {
        HostConfig& c = host_.config();
        if (c.kind != HostKind::Desktop || in(0, 1)) return;
        if (alpha_)
            c.alphaLayout = uint32_t(in(1, 2));
        else
            c.plainLayout = uint32_t(in(1, 6));
    }
    // Mostly small; sometimes one row or column, sometimes empty, sometimes wider than a block
    // of the vector loops.
    void chooseSize() {
        const int kind = in(0, 9), small = in(1, 5);
        width_ = kind == 0   ? 1
                 : kind == 1 ? in(1, 70)
                 : kind == 2 ? small * in(0, 1)
                 : kind == 3 ? in(65, 600)
                             : in(1, 24);
        height_ = kind == 0   ? in(1, 9)
                  : kind == 1 ? 1
                  : kind == 2 ? (width_ ? 0 : in(0, 5))
                  : kind == 3 ? in(1, 4)
                              : in(1, 12);
    }
    void chooseLargeSize() { width_ = in(256, 300), height_ = in(256, 270); }
    int width() const { return width_; }
    int height() const { return height_; }

    // A picture of the current size, or now and then one a pixel larger or smaller.
    Ref picture(bool sizeMayDiffer = false, bool uniform = false) {
        int w = width_, h = height_;
        if (sizeMayDiffer && in(0, 5) == 0) (in(0, 1) ? w : h) += pick<int>({-1, 1, 3});
        w = std::max(w, 0), h = std::max(h, 0);
        chooseLayout();
        Image img = qrxtest::patternImage(w, h, alpha_, unsigned(in(1, 1 << 20)));
        if (uniform) { // black, white or near gray, maybe with one outlier: the tests then pass
            const int base = pick<int>({0, 255, in(8, 247)}), spread = base % 255 ? 6 : 0;
            for (size_t i = 0; i < img.rgba.size(); ++i)
                if (i % 4 != 3) img.rgba[i] = uint8_t(base + (spread ? in(-spread, spread) : 0));
            if (w && h && in(0, 2) == 0) img.pixel(in(0, w - 1), in(0, h - 1))[in(0, 2)] ^= 1;
        }
        Ref p = host_.pictureFromImage(img);
        last_ = p;
        return p;
    }
    // Gray with a few coloured pixels, some next to each other.
    Ref sparse() {
        chooseLayout();
        Image img = qrxtest::patternImage(width_, height_, alpha_, unsigned(in(1, 1 << 20)));
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                std::memset(img.pixel(x, y), in(0, 1) ? 128 : 40, 3);
        for (int n = width_ && height_ ? in(0, 6) : 0; n > 0; --n) {
            const int x = in(0, width_ - 1), y = in(0, height_ - 1), len = in(1, 3);
            for (int i = 0; i < len && x + i < width_; ++i)
                img.pixel(x + i, y)[in(0, 2)] ^= uint8_t(in(1, 255));
        }
        return last_ = host_.pictureFromImage(img);
    }
    // A part of the last picture (found in it), or a small random picture.
    Ref needle() {
        const auto* p = last_ ? last_.as<qrx::Picture>() : nullptr;
        if (!p || !p->width() || !p->height() || in(0, 3) == 0) {
            const int w = width_, h = height_;
            width_ = in(1, 3), height_ = in(1, 3);
            Ref r = picture();
            width_ = w, height_ = h;
            return r;
        }
        const Image all = p->toImage();
        Image part{in(1, p->width()), in(1, p->height()), alpha_, {}, {}};
        const int x0 = in(0, p->width() - part.width), y0 = in(0, p->height() - part.height);
        for (int y = 0; y < part.height; ++y)
            for (int x = 0; x < part.width; ++x)
                for (int i = 0; i < 4; ++i)
                    part.rgba.push_back(all.pixel(x0 + x, y0 + y)[i]);
        chooseLayout();
        return host_.pictureFromImage(part);
    }
    // Shifts: small, multiples of the size, beyond 16 bits, the ends of the range.
    int32_t shift() {
        const int n = std::max(1, std::max(width_, height_));
        if (in(0, 3) == 0) return pick<int32_t>({kIntMin, kIntMax, 65536, -65536, 65537, 0});
        return in(-3, 3) * n + in(-2, 2);
    }
    // Colours whose components often sit at the same place in their cells (ties between the
    // fractions of the lookup table's interpolation), or a pattern.
    Ref cellTies() {
        if (in(0, 1)) return picture();
        chooseLayout();
        Image img = qrxtest::patternImage(width_, height_, alpha_, unsigned(in(1, 1 << 20)));
        const int offset = in(0, 16);
        for (size_t i = 0; i < img.rgba.size(); ++i)
            if (i % 4 != 3)
                img.rgba[i] =
                    uint8_t(std::min(255, 17 * in(0, 15) + (in(0, 3) ? offset : in(0, 16))));
        return last_ = host_.pictureFromImage(img);
    }
    // A lookup table as the bytes of 18 x 18 x 18 x 3 doubles: a few nodes per axis set, some to
    // values beyond 0 to 255, NaN or infinite, and some entries of nodes 16 and 17 (never used).
    // Sometimes the identity (node k gives 17 k), whose sums fall on or a rounding away from whole
    // numbers, so that a product or sum worked out otherwise changes the truncated byte.
    Value lutTable() {
        std::vector<double> t(18 * 18 * 18 * 3, 0.0);
        if (in(0, 2) == 0)
            for (size_t i = 0; i < t.size(); ++i)
                t[i] = 17.0 * double(i % 3 == 0   ? i / 3 / 324
                                     : i % 3 == 1 ? i / 3 / 18 % 18
                                                  : i / 3 % 18);
        std::vector<int> nodes[3];
        for (auto& axis : nodes)
            for (int k = 0; k < 18; ++k)
                if (in(0, 2) == 0) axis.push_back(k);
        for (int r : nodes[0])
            for (int g : nodes[1])
                for (int b : nodes[2])
                    for (int x = 0; x < 3; ++x)
                        t[size_t(((r * 18 + g) * 18 + b) * 3 + x)] =
                            in(0, 5) ? in(-20, 280) + in(0, 99) / 100.0
                                     : pick<double>({kNaN, kInf, -kInf, 1e300, -0.0});
        return host_.newString(
            std::string_view(reinterpret_cast<const char*>(t.data()), t.size() * 8), 0xFFFF);
    }
    // Samples: silence, a sine of some loudness, noise, or the extremes; sometimes an odd byte,
    // sometimes more than 65536 samples (summed in blocks).
    Ref samples() {
        const int n = pick<int>({in(0, 3), in(4, 160), in(4, 160), in(4, 160), in(65530, 140000)});
        std::vector<uint8_t> b(static_cast<size_t>(n));
        const int kind = in(0, 3);
        const double loud = in(1, 100) / 100.0;
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = kind == 0   ? uint8_t(i % 2 ? 128 : 0)
                   : kind == 1 ? uint8_t(128 + 127 * loud * std::sin(double(i) / 3))
                   : kind == 2 ? uint8_t(in(0, 255))
                               : uint8_t(i % 4 < 2 ? 255 : 0);
        return host_.newMemoryBlock(b);
    }
    // A colour of the last picture, or a random one; the top byte is noise.
    Color colour() {
        const auto* p = last_ ? last_.as<qrx::Picture>() : nullptr;
        uint32_t c = uint32_t(in(0, 0xFFFFFF));
        if (p && p->width() && p->height() && in(0, 2)) {
            uint8_t px[4];
            p->rgba(in(0, p->width() - 1), in(0, p->height() - 1), px);
            c = uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | px[2];
        }
        return Color{c | uint32_t(in(0, 255)) << 24};
    }
    // Amounts about where a truncation steps, and the edges of a double.
    double amount(double range) {
        const int kind = in(0, 5), r = int(range);
        if (kind == 3)
            return pick<double>({kNaN, kInf, -kInf, 1e10, -1e10, 0.0, -0.0, range, -range});
        if (kind > 3) return std::uniform_real_distribution<double>(-range, range)(rng_);
        const double v = in(-r, r);
        return kind == 0 ? v + 0.5 : kind == 1 ? v : std::nextafter(v + 0.5, 0.0);
    }
    double contrast() {
        if (in(0, 1)) return pick<double>({-2.0, -1.0, -0.5, 0.0, 0.5, 1.0, 2.0, -1.5, 0.25, 1e9});
        return amount(3.0);
    }
    int32_t integer(int range) {
        if (in(0, 5) == 0) return pick<int32_t>({kIntMin, kIntMax, kIntMin + 1, -255, 255, 0, -1});
        return in(-range, range);
    }
    // left, top, width, height: inside, hanging over any edge, omitted, or wrapping around.
    std::vector<Value> rectangle() {
        std::vector<Value> r = {int32_t(in(-4, width_ + 2)), int32_t(in(-4, height_ + 2)),
                                int32_t(in(-2, width_ + 4)), int32_t(in(-2, height_ + 4))};
        if (in(0, 7) == 0) r[size_t(in(0, 3))] = pick<int32_t>({kIntMin, kIntMax, -1, 0});
        return r;
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
    // A binary picture string: mostly well formed, sometimes with one header field spoiled.
    Value binaryString() {
        Image img = qrxtest::patternImage(width_, height_, false, unsigned(in(1, 1 << 20)));
        std::string s = model::binaryString(img);
        const int spoil = in(0, 7);
        if (spoil == 0) s[size_t(in(0, 23))] ^= char(1 << in(0, 7));
        if (spoil == 1) s.resize(size_t(in(0, int(s.size()))));
        if (spoil == 2) s.push_back('x');
        return host_.newString(s, 0xFFFF);
    }

  private:
    Host& host_;
    bool alpha_;
    std::mt19937 rng_;
    int width_ = 1, height_ = 1;
    Ref last_;
};

// One registered method: its name, whether it is a global method, its arguments, and its
// receiver: a pattern, now and then a uniform picture (so that the colour tests can pass), gray
// with a few coloured pixels, or sometimes a picture of 65536 pixels or more (which the
// histograms count in pairs).
enum Source { Pattern, SometimesUniform, Sparse, Large };
struct Row {
    const char* method;
    bool global;
    std::function<std::vector<Value>(Maker&)> args;
    Source source = Pattern;
};
using A = std::vector<Value>;

A withRect(A front, Maker& m) {
    for (Value& v : m.rectangle())
        front.push_back(v);
    return front;
}

const std::vector<Row>& rows() {
    // clang-format off
    static const std::vector<Row> table = {
        {"InvertQRX", false, [](Maker& m) { return m.rectangle(); }},
        {"InvertQRX", false, [](Maker&) { return A{}; }},
        {"InvertGrayQRX", false, [](Maker& m) { return m.rectangle(); }},
        {"InvertGrayQRX", false, [](Maker&) { return A{}; }},
        {"ChangeBrightnessAbsoluteQRX", false, [](Maker& m) { return A{m.amount(300)}; }},
        {"ChangeBrightnessAbsoluteQRX", false, [](Maker& m) { return A{m.amount(300), m.amount(300), m.amount(300)}; }},
        {"ChangeBrightnessLinearQRX", false, [](Maker& m) { return A{m.amount(300)}; }},
        {"ChangeBrightnessLinearQRX", false, [](Maker& m) { return A{m.amount(300), m.amount(300), m.amount(300)}; }},
        {"ChangeContrastQRX", false, [](Maker& m) { return A{m.contrast()}; }},
        {"ChangeContrastQRX", false, [](Maker& m) { return A{m.contrast(), m.contrast(), m.contrast()}; }},
        {"ChangeContrastBrightnessAbsoluteQRX", false, [](Maker& m) { return A{m.contrast(), m.amount(300)}; }},
        {"ChangeContrastBrightnessAbsoluteQRX", false, [](Maker& m) {
             return A{m.contrast(), m.contrast(), m.contrast(), m.amount(300), m.amount(300), m.amount(300)}; }},
        {"ChangeContrastBrightnessLinearQRX", false, [](Maker& m) { return A{m.contrast(), m.amount(300)}; }},
        {"ChangeContrastBrightnessLinearQRX", false, [](Maker& m) {
             return A{m.contrast(), m.contrast(), m.contrast(), m.amount(300), m.amount(300), m.amount(300)}; }},
        {"ChangeCustomQRX", false, [](Maker& m) { return A{m.contrast(), m.amount(300)}; }},
        {"ChangeSaturationQRX", false, [](Maker& m) { return A{m.integer(600)}; }},
        // Now and then colours whose products often land on a whole component, where the doubles
        // may fall short of it.
        {"TintPictureQRX", true, [](Maker& m) {
             if (m.in(0, 2)) return A{m.picture(), m.colour(), m.colour()};
             return A{m.picture(), m.pick<Color>({Color{0x010101}, Color{0x555555}, Color{0x879135}}), Color{0xFFFFFF}}; }},
        {"ReplaceRedChannelQRX", false, [](Maker& m) { return A{m.picture(true)}; }},
        {"ReplaceGreenChannelQRX", false, [](Maker& m) { return A{m.picture(true)}; }},
        {"ReplaceBlueChannelQRX", false, [](Maker& m) { return A{m.picture(true)}; }},
        {"CombinePicturesQRX", true, [](Maker& m) { return A{m.picture(true), m.picture(true), m.picture(true)}; }},
        {"MergePictureQRX", true, [](Maker& m) { return A{m.picture(true), m.picture(true)}; }},
        {"ReplaceColorQRX", false, [](Maker& m) { return A{m.colour(), m.colour()}; }},
        {"ExtractColorQRX", false, [](Maker& m) { return A{m.colour(), m.colour(), m.colour()}; }},
        {"TransformColorsQRX", false, [](Maker& m) {
             Value dest = Nil{};
             if (m.in(0, 1)) dest = m.picture(true);
             return A{m.table(), m.table(), m.table(), dest}; }},
        {"isBlackQRX", false, [](Maker& m) { return m.rectangle(); }, SometimesUniform},
        {"isBlackQRX", false, [](Maker&) { return A{}; }, SometimesUniform},
        {"isWhiteQRX", false, [](Maker& m) { return m.rectangle(); }, SometimesUniform},
        {"isWhiteQRX", false, [](Maker&) { return A{}; }, SometimesUniform},
        {"isGrayQRX", false, [](Maker& m) { return withRect({m.integer(12)}, m); }, SometimesUniform},
        {"isGrayQRX", false, [](Maker& m) { return A{m.integer(12)}; }, SometimesUniform},
        {"CountColorQRX", false, [](Maker& m) { return A{m.colour()}; }, SometimesUniform},
        {"CountColorsQRX", false, [](Maker& m) { return A{m.histogram(), m.histogram(), m.histogram(), int32_t(0)}; }, Large},
        {"ColornessQRX", false, [](Maker& m) { return A{m.integer(40)}; }, SometimesUniform},
        {"ScrollQRX", false, [](Maker& m) { return A{m.shift(), m.shift(), m.in(0, 3) > 0, m.in(0, 1) == 0}; }},
        {"ScrollVerticalQRX", false, [](Maker& m) { return A{m.shift(), m.in(0, 3) > 0, false}; }},
        {"ScrollHorizontalQRX", false, [](Maker& m) { return A{m.shift(), m.in(0, 3) > 0, true}; }},
        {"FindPicture", false, [](Maker& m) { return A{m.needle(), int32_t(0), int32_t(0)}; }},
        {"ExtractColorRectangleMaskQRX", false, [](Maker& m) { return m.rectangle(); }, Sparse},
        {"ExtractColorRectangleMaskQRX", false, [](Maker&) { return A{}; }, Sparse},
        {"PictureSepiaQRX.Run", true, [](Maker& m) {
             // Weights about where the weight times 1024 leaves the 32-bit range, and now and then
             // whole weights only, whose sums are multiples of 1024.
             auto weight = [&, whole = m.in(0, 1) == 0] {
                 if (whole) return double(m.in(-2, 2));
                 return m.in(0, 1) ? m.amount(2.0)
                                   : m.pick<double>({0.299, 0.587, 0.114, 2097151.9990234375, 2097152.0, -2097152.0});
             };
             A a = {m.picture(), weight(), weight(), weight(), m.integer(300), m.integer(300), m.integer(300)};
             for (Value& v : m.rectangle()) a.push_back(v);
             a[9] = int32_t(int64_t(std::get<int32_t>(a[7])) + std::get<int32_t>(a[9]) % 1000);
             a[10] = int32_t(int64_t(std::get<int32_t>(a[8])) + std::get<int32_t>(a[10]) % 1000);
             return a; }},
        {"PictureLut3DQRX.Run", true, [](Maker& m) {
             A a = {m.cellTies()};
             for (Value& v : m.rectangle()) a.push_back(v);
             a[3] = int32_t(int64_t(std::get<int32_t>(a[1])) + std::get<int32_t>(a[3]) % 1000);
             a[4] = int32_t(int64_t(std::get<int32_t>(a[2])) + std::get<int32_t>(a[4]) % 1000);
             a.push_back(m.lutTable());
             return a; }},
        {"RenderSamplesQRX", true, [](Maker& m) {
             const int32_t bits = m.pick<int32_t>({7, 8, 15, 16, 8, 16, 12});
             return A{m.samples(), m.pick<int32_t>({0, m.in(1, 90), 100000}), m.pick<int32_t>({0, 1, 2, 3, 9, -1, -2, -7}),
                      int32_t(m.in(0, 3) ? m.in(1, 40) : 0), int32_t(m.in(0, 9) ? m.in(1, 24) : m.in(1000, 3000)), m.pick<int32_t>({-1, 0, 1, 1, 2, 3, 8}),
                      m.colour(), m.colour(), m.colour(), bits, m.in(0, 1) == 0}; }},
        {"EmbeddedMaskQRX", false, [](Maker& m) { return A{m.in(0, 1) == 0}; }},
        {"EmbeddedMaskQRX=", false, [](Maker& m) { return A{m.in(0, 1) == 0, m.in(0, 5) ? Value(m.picture(true)) : Value(Nil{})}; }},
        {"HasMaskQRX", false, [](Maker&) { return A{}; }},
        {"PicturetoBinaryStringQRX", true, [](Maker& m) { return A{m.picture()}; }},
        {"BinaryStringtoPictureQRX", true, [](Maker& m) { return A{m.binaryString()}; }},
    };
    // clang-format on
    return table;
}

// The loops of the test module's switch: the scalar ones, then each vector target; a target this
// processor does not run is refused and passed over.
constexpr const char* kLoops[] = {"scalar",   "sse4", "avx2", "avx512",
                                  "avx512dl", "neon", "sve",  "sve2"};
using UseLoops = bool (*)(const char*);
UseLoops useLoopsOf(Host& host) {
    return reinterpret_cast<UseLoops>(dlsym(host.impl().library, "QRXUseLoops"));
}

unsigned seedFromEnvironment() {
    const char* s = std::getenv("QRX_TEST_SEED");
    return s ? unsigned(std::strtoul(s, nullptr, 10)) : 0;
}

class Driver : public testing::TestWithParam<qrxtest::HostCase> {
  protected:
    void SetUp() override {
        HostConfig config = GetParam().config;
        // Fills no operation writes, so that every unwritten pixel shows.
        const uint8_t plain[4] = {7, 77, 177, 255}, alpha[4] = {9, 99, 199, 0};
        std::memcpy(config.plainFill, plain, 4);
        std::memcpy(config.alphaFill, alpha, 4);
        host = std::make_unique<Host>(config, QRX_TEST_PLUGIN_TESTABLE);
        useLoops = useLoopsOf(*host);
        ASSERT_NE(useLoops, nullptr);
        ASSERT_TRUE(useLoops("scalar")) << "the scalar loops always run";
        ctx.version = config.version;
        ctx.plainLockRefused = config.bitmapLockFails && config.kind == HostKind::Desktop;
        ctx.offscreenWorlds = config.legacyPictures && config.kind == HostKind::Desktop;
        ctx.records = config.kind != HostKind::Desktop;
        ctx.paddedRows = config.rowPadding > 0 && !ctx.records;
        // What an unwritten pixel reads as, in this host's forms.
        uint8_t fill[4];
        host->newPicture(1, 1, false).as<qrx::Picture>()->rgba(0, 0, fill);
        std::memcpy(ctx.plainFill, fill, 4);
        host->newPicture(1, 1, true).as<qrx::Picture>()->rgba(0, 0, fill);
        std::memcpy(ctx.alphaFill, fill, 4);
    }
    void TearDown() override {
        if (useLoops) useLoops("best");
    }

    // One call of a row through the named loops against its model; "" or what went wrong.
    std::string check(const Row& row, unsigned seed, const char* loops) {
        const HostConfig saved = host->config();
        Maker m(*host, GetParam().alpha, seed);
        m.chooseSize();
        Ref self;
        if (row.source == Large && m.in(0, 1)) m.chooseLargeSize();
        if (!row.global)
            self = row.source == Sparse
                       ? m.sparse()
                       : m.picture(false, row.source == SometimesUniform && m.in(0, 1));
        std::vector<Value> args = row.args(m);
        m.chooseLayout(); // the layout of the result
        std::vector<Val> inputs;
        if (!row.global) inputs.push_back(model::fromHost(Value(self)));
        for (const Value& v : args)
            inputs.push_back(model::fromHost(v));
        const model::Fn fn = model::find(row.method, inputs.size());
        if (!fn) return "no model";
        const model::Outcome want = fn(ctx, inputs);

        std::string call = (row.global ? "" : qrx::describe(Value(self)) + ".") + row.method;
        for (size_t i = 0; i < args.size(); ++i)
            call += (i ? ", " : "(") + qrx::describe(args[i]) + (i + 1 == args.size() ? ")" : "");
        const std::string where = " on " + GetParam().name + " with the " + loops +
                                  " loops, seed " + std::to_string(seed);
        SCOPED_TRACE(call + where);
        useLoops(loops);
        const std::string name = row.method;
        const qrx::CallResult r =
            name.ends_with(".Run") ? runFilter(name.substr(0, name.find('.')).c_str(), args)
            : name == "EmbeddedMaskQRX="
                ? qrxtest::auditedAssign(*host, self, "EmbeddedMaskQRX", {args[0]}, args[1])
            : row.global ? qrxtest::auditedGlobal(*host, row.method, args)
                         : qrxtest::auditedCall(*host, self, row.method, args);
        useLoops("best");
        host->config() = saved;

        std::string diff;
        const std::string raised = r.exception ? r.exception->className : "";
        if (raised != want.exception)
            diff = "exception: want '" + want.exception + "', got '" + raised + "'";
        if (diff.empty()) diff = model::differ(want.result, model::fromHost(r.result));
        // The models count the receiver among the parameters; the runtime does not.
        const size_t skip = row.global ? 0 : 1;
        for (size_t i = skip; diff.empty() && i < want.byRef.size(); ++i)
            if (!std::holds_alternative<std::monostate>(want.byRef[i])) {
                const Value got = i - skip < r.byRef.size() ? r.byRef[i - skip] : Value(Nil{});
                if (std::string d = model::differ(want.byRef[i], model::fromHost(got)); !d.empty())
                    diff = "byref " + std::to_string(i) + ": " + d;
            }
        if (want.self && diff.empty())
            if (std::string d = model::differ(*want.self, model::fromHost(Value(self))); !d.empty())
                diff = "the picture afterwards: " + d;
        // Every other picture handed in is left as it was, unless it is the result.
        for (size_t i = 0; diff.empty() && i < inputs.size(); ++i) {
            const Value& v = row.global ? args[i] : i ? args[i - 1] : Value(self);
            const Ref* ref = std::get_if<Ref>(&v);
            const Ref* result = std::get_if<Ref>(&r.result);
            if (!ref || !*ref || !ref->as<qrx::Picture>() || (result && *result == *ref) ||
                (want.self && i == 0 && !row.global))
                continue;
            if (std::string d = model::differ(inputs[i], model::fromHost(v)); !d.empty())
                diff = "argument " + std::to_string(i) + " changed: " + d;
        }
        if (diff.empty()) return "";
        return call + where + " (QRX_TEST_SEED=" + std::to_string(seed) + "): " + diff;
    }

    // A filter object given its properties in order (for the lookup table, then the table's set
    // entries and a few assignments out of range, which change nothing); Run's result, and the
    // destination picture in place of the first byref value.
    qrx::CallResult runFilter(const char* cls, const std::vector<Value>& a) {
        const bool lut = std::string(cls) == "PictureLut3DQRX";
        Ref obj = host->newInstance(cls);
        const std::vector<const char*> names =
            lut ? std::vector<const char*>{"SourcePicture", "MinX", "MinY", "MaxX", "MaxY"}
                : std::vector<const char*>{"SourcePicture", "FactorRed", "FactorGreen",
                                           "FactorBlue",    "SepiaRed",  "SepiaGreen",
                                           "SepiaBlue",     "MinX",      "MinY",
                                           "MaxX",          "MaxY"};
        for (size_t i = 0; i < names.size(); ++i)
            host->setProperty(obj, names[i], a[i]);
        if (lut) {
            const auto bytes = std::get<Ref>(a[5]).as<qrx::String>()->bytes();
            for (uint32_t i = 0; i < 18 * 18 * 18 * 3; ++i) {
                double v;
                std::memcpy(&v, bytes.data() + 8 * i, 8);
                if (v != 0 || std::signbit(v) || std::isnan(v))
                    host->assign(obj, "Table", {i / 3 / 324, i / 3 / 18 % 18, i / 3 % 18, i % 3},
                                 v);
            }
            for (std::vector<Value> at :
                 {A{18u, 0u, 0u, 0u}, A{0u, 0u, 0u, 3u}, A{0u, 99u, 0u, 0u}})
                host->assign(obj, "Table", at, 1e6);
        }
        qrx::CallResult r = host->call(obj, "Run", {}); // the object keeps its result
        qrxtest::expectQuiet(*host);
        r.byRef = {host->getProperty(obj, "DestinationPicture")};
        host->call(obj, "Close", {});
        return r;
    }

    std::unique_ptr<Host> host;
    UseLoops useLoops = nullptr;
    model::Ctx ctx;
};

TEST_P(Driver, EveryOperationMatchesItsModel) {
    const unsigned fixed = seedFromEnvironment();
    const unsigned trials = fixed ? 1 : 3;
    int failures = 0;
    for (size_t i = 0; i < rows().size() && failures < 5; ++i) {
        const Row& row = rows()[i];
        // The scroll methods are offered to desktop applications only.
        const std::string method = row.method;
        if (!row.global && host->overloads("Picture", method.substr(0, method.find('='))).empty())
            continue;
        for (unsigned t = 0; t < trials; ++t) {
            // Each host draws its own arguments, so the rows meet many more of them in a run.
            const unsigned seed =
                fixed
                    ? fixed
                    : unsigned(1 + i * 1009 + t * 7919 + std::hash<std::string>{}(GetParam().name));
            for (const char* loops : kLoops)
                if (!useLoops(loops))
                    continue;
                else if (std::string d = check(rows()[i], seed, loops); !d.empty()) {
                    ADD_FAILURE() << d;
                    ++failures;
                    break;
                }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, Driver, testing::ValuesIn(driverHosts()), qrxtest::caseName);

// Counts over a row long enough that the vector loops empty their narrow lane counters on the way
// (every 65535 vectors, of up to 16 words): every target gives the scalar loop's counts. The row
// is mostly dark, so that nearly every lane counts in every vector.
TEST(Driver, LongRowsCountAsTheScalarLoop) {
    Host host(HostConfig{}, QRX_TEST_PLUGIN_TESTABLE);
    const UseLoops useLoops = useLoopsOf(host);
    ASSERT_NE(useLoops, nullptr);
    const int width = 2 * 65535 * 16 + 37;
    Image img = qrxtest::patternImage(width, 1, false, 5);
    for (int x = 0; x < width; ++x)
        if (x % 997) std::memset(img.pixel(x, 0), x % 3, 3);
    const Ref p = host.pictureFromImage(img);
    const std::vector<std::pair<const char*, std::vector<Value>>> calls = {
        {"ColornessQRX", {int32_t(0)}},
        {"ColornessQRX", {int32_t(-1)}},
        {"CountColorQRX", {Color{0x010101}}}};
    std::vector<Value> scalar;
    for (const char* loops : kLoops) {
        if (!useLoops(loops)) continue;
        for (size_t i = 0; i < calls.size(); ++i) {
            const Value got = qrxtest::auditedCall(host, p, calls[i].first, calls[i].second).result;
            if (scalar.size() < calls.size())
                scalar.push_back(got);
            else
                EXPECT_TRUE(got == scalar[i]) << loops << " " << calls[i].first << " " << i;
        }
    }
    useLoops("best");
}

// Pictures of 16 MiB and more are written with streaming stores where a destination row is
// aligned for whole vectors; the rows of this width alternate between aligned and not, and end in
// part of a block of the loops that go a block of pixels at a time. Every target stores the scalar
// loops' words, unused bits included, for one-source, planar and two-source loops and the filters,
// in both forms.
TEST(Driver, LargePicturesGiveTheScalarLoopsBytes) {
    for (const HostKind kind : {HostKind::Desktop, HostKind::Console}) {
        HostConfig config;
        config.kind = kind;
        Host host(config, QRX_TEST_PLUGIN_TESTABLE);
        const UseLoops useLoops = useLoopsOf(host);
        ASSERT_NE(useLoops, nullptr);
        const Ref p = host.pictureFromImage(qrxtest::patternImage(2052, 2048, false, 7));
        const Ref q = host.pictureFromImage(qrxtest::patternImage(2052, 2048, false, 8));
        // The stored words of a result, unused bits included.
        auto wordsOf = [](const Value& v) {
            std::vector<uint32_t> words;
            if (const auto* out = std::get_if<Ref>(&v); out && *out) {
                const auto* pic = out->as<qrx::Picture>();
                for (int y = 0; y < pic->height(); ++y)
                    for (int x = 0; x < pic->width(); ++x)
                        words.push_back(pic->word(x, y));
            }
            return words;
        };
        using Run = std::pair<const char*, std::function<std::vector<uint32_t>()>>;
        auto call = [&](const char* name, std::vector<Value> args) {
            return Run{name, [&host, &p, &wordsOf, name, args] {
                           return wordsOf(qrxtest::auditedCall(host, p, name, args).result);
                       }};
        };
        // A filter over the whole picture: a lookup table with some nodes set, or sepia with an
        // offset.
        auto filter = [&](const char* cls) {
            return Run{cls, [&host, &p, &wordsOf, cls] {
                           const Ref obj = host.newInstance(cls);
                           host.setProperty(obj, "SourcePicture", p);
                           if (std::string(cls) == "PictureLut3DQRX")
                               for (uint32_t i = 0; i < 400; ++i)
                                   host.assign(obj, "Table",
                                               {i * 7 % 18, i * 5 % 18, i % 18, i % 3},
                                               double(i * 37 % 300) - 20.5);
                           else
                               host.setProperty(obj, "SepiaRed", int32_t(40));
                           EXPECT_FALSE(host.call(obj, "Run", {}).exception) << cls;
                           return wordsOf(host.getProperty(obj, "DestinationPicture"));
                       }};
        };
        const std::vector<Run> runs = {
            call("InvertQRX", {}),
            call("ChangeBrightnessAbsoluteQRX", {int32_t(-40)}),
            call("ChangeSaturationQRX", {int32_t(300)}),
            {"MergePictureQRX",
             [&] {
                 return wordsOf(qrxtest::auditedGlobal(host, "MergePictureQRX", {p, q}).result);
             }},
            filter("PictureLut3DQRX"),
            filter("PictureSepiaQRX")};
        std::vector<std::vector<uint32_t>> scalar;
        for (const char* loops : kLoops) {
            if (!useLoops(loops)) continue;
            for (size_t i = 0; i < runs.size(); ++i) {
                std::vector<uint32_t> words = runs[i].second();
                ASSERT_FALSE(words.empty()) << loops << " " << runs[i].first;
                if (scalar.size() < runs.size())
                    scalar.push_back(std::move(words));
                else
                    EXPECT_TRUE(words == scalar[i]) << loops << " " << runs[i].first;
            }
        }
        useLoops("best");
    }
}

// Every method the plugin registers, on Picture and as a global method, and both filter classes
// have a row above.
TEST(Driver, EveryRegisteredMethodHasARow) {
    auto host = qrxtest::loadHost();
    std::set<std::string> covered;
    for (const Row& row : rows())
        covered.insert(row.method);
    std::vector<std::string> names = {"PictureSepiaQRX.Run", "PictureLut3DQRX.Run"};
    const qrx::ClassInfo* picture = host->findClass("Picture");
    ASSERT_NE(picture, nullptr);
    for (const auto* list : {&picture->methods, &picture->extensions})
        for (const qrx::MethodInfo& m : *list)
            if (!m.builtIn) names.push_back(m.decl.name);
    for (const qrx::MethodInfo& m : host->globalMethods())
        names.push_back(m.decl.name);
    for (const std::string& name : names)
        EXPECT_TRUE(covered.count(name)) << name << " has no row";
}

} // namespace
