// qrx histogram and the histogram blocks of qrx call, end to end through the built tool: counts
// against those of the sample file itself, the table, the plot picture, --save and the counter
// lists of --json.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_util_test.h"
#include "image_io.h"

namespace {

using nlohmann::json;
using qrx::Image;
using qrxclitest::readFile;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;

using qrxclitest::kSample;

using Histogram = std::array<uint32_t, 256>;

// Red, green and blue histograms of the sample as read from its file.
std::array<Histogram, 3> sampleHistograms(const Image& img) {
    std::array<Histogram, 3> h{};
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            for (int c = 0; c < 3; ++c)
                ++h[c][img.pixel(x, y)[c]];
    return h;
}

Histogram fromJson(const json& j) {
    Histogram h{};
    EXPECT_EQ(j.size(), 256u);
    for (size_t i = 0; i < 256 && i < j.size(); ++i)
        h[i] = j[i].get<uint32_t>();
    return h;
}

TEST(QrxHistogram, JsonAndTableHoldTheSampleCounts) {
    const Image img = qrx::readImage(kSample);
    const auto want = sampleHistograms(img);
    for (const char* host : {"desktop", "console"}) {
        SCOPED_TRACE(host);
        auto r = runQrx({"histogram", "--host", host, kSample, "--json"});
        ASSERT_EQ(r.code, 0) << r.err;
        json j = json::parse(r.out);
        EXPECT_EQ(j["pixels"], img.width * img.height);
        EXPECT_EQ(fromJson(j["red"]), want[0]);
        EXPECT_EQ(fromJson(j["green"]), want[1]);
        EXPECT_EQ(fromJson(j["blue"]), want[2]);
        EXPECT_TRUE(j["plot"].is_null());
    }

    auto r = runQrx({"histogram", kSample});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "pixels " + std::to_string(img.width * img.height));
    std::getline(lines, line);
    EXPECT_EQ(line, "value red green blue");
    for (int v = 0; v < 256; ++v) {
        ASSERT_TRUE(std::getline(lines, line)) << v;
        EXPECT_EQ(line, std::to_string(v) + " " + std::to_string(want[0][v]) + " " +
                            std::to_string(want[1][v]) + " " + std::to_string(want[2][v]));
    }
    EXPECT_FALSE(std::getline(lines, line));
}

// The plot: white ground, black axes, and the three channel colours all present.
TEST(QrxHistogram, PlotShowsThreeCurvesAndAxes) {
    ScratchDir dir;
    const std::string plot = (dir / "h.png").string();
    auto r = runQrx({"histogram", kSample, "-o", plot, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["plot"], plot);
    Image img = qrx::readImage(plot);
    ASSERT_EQ(img.width, 512);
    ASSERT_EQ(img.height, 300);
    auto countOf = [&](std::array<uint8_t, 3> c) {
        int n = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                n += std::memcmp(img.pixel(x, y), c.data(), 3) == 0;
        return n;
    };
    EXPECT_GT(countOf({255, 255, 255}), 512 * 300 / 2);
    EXPECT_GT(countOf({0, 0, 0}), 256 + 200); // two axes at least
    for (auto c : {std::array<uint8_t, 3>{220, 0, 0}, {0, 160, 0}, {0, 0, 230}})
        EXPECT_GT(countOf(c), 100) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);

    // A plot path without an image extension is refused before anything runs.
    r = runQrx({"histogram", kSample, "-o", (dir / "h.txt").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "h.txt"));
}

// qrx call: the created blocks saved to files, and shown as counter lists.
TEST(QrxCall, HistogramBlocksSavedAndListed) {
    ScratchDir dir;
    const Image img = qrx::readImage(kSample);
    const auto want = sampleHistograms(img);
    const std::string red = (dir / "red.bin").string(), third = (dir / "third.bin").string();
    auto r = runQrx({"call", "--on", kSample, "CountColorsQRX(r, g, b, n)", "--save", "r=" + red,
                     "--save", "b=" + third, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["byref"]["n"], img.width * img.height);
    EXPECT_EQ(fromJson(j["byref"]["r"]), want[0]);
    EXPECT_EQ(fromJson(j["byref"]["g"]), want[1]); // the second block counts green
    EXPECT_EQ(fromJson(j["byref"]["b"]), want[2]);
    for (auto [path, channel] : {std::pair{red, 0}, {third, 2}}) {
        const std::string bytes = readFile(path);
        ASSERT_EQ(bytes.size(), 1024u);
        Histogram h{};
        std::memcpy(h.data(), bytes.data(), 1024);
        EXPECT_EQ(h, want[size_t(channel)]) << path;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"red.bin", "third.bin"}));
}

TEST(QrxCall, SaveNeedsAMemoryBlockOutput) {
    ScratchDir dir;
    const std::string out = (dir / "x.bin").string();
    for (const std::string& save :
         std::vector<std::string>{"n=" + out, "zz=" + out, "r", "=" + out, "r="}) {
        auto r = runQrx({"call", "--on", kSample, "CountColorsQRX(r, g, b, n)", "--save", save});
        EXPECT_EQ(r.code, 2) << save;
        EXPECT_NE(r.err.find("--save"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << save;
    }
    EXPECT_TRUE(dir.entries().empty());
}

TEST(QrxHelp, HistogramHasHelpWithAnExample) {
    auto r = runQrx({"histogram", "--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* part :
         {"qrx histogram", "Example", "--json", "-o", "--host", "CountColorsQRX"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    r = runQrx({"call", "--help"});
    EXPECT_NE(r.out.find("--save"), std::string::npos);
}

} // namespace
