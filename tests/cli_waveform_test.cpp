// qrx waveform end to end: a generated sine sweep in a WAV file drawn through RenderSamplesQRX.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_util_test.h"
#include "image_io.h"

namespace {

using qrxclitest::runQrx;
using qrxclitest::ScratchDir;

void put(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s += char(uint8_t(v >> (8 * i)));
}

// A mono 16-bit WAV: a sweep whose amplitude rises from 0 to full scale.
std::string sweepWav(int frames) {
    std::string data;
    for (int i = 0; i < frames; ++i)
        put(data, uint32_t(int16_t(std::lround(32767.0 * i / frames * std::sin(i * i * 1e-4)))), 2);
    std::string w = "RIFF";
    put(w, uint32_t(36 + data.size()), 4);
    w += "WAVEfmt ";
    put(w, 16, 4), put(w, 1, 2), put(w, 1, 2), put(w, 8000, 4), put(w, 16000, 4), put(w, 2, 2);
    put(w, 16, 2);
    w += "data";
    put(w, uint32_t(data.size()), 4);
    return w + data;
}

TEST(QrxWaveform, DrawsASweepFromAWavFile) {
    ScratchDir dir;
    qrxclitest::writeFile(dir / "sweep.wav", sweepWav(8000));
    const std::string png = (dir / "wave.png").string();
    auto r =
        runQrx({"waveform", (dir / "sweep.wav").string(), "-o", png, "--width", "100", "--height",
                "41", "--outline", "0", "--back", "&c000000", "--fore", "&cFFFFFF"});
    ASSERT_EQ(r.code, 0) << r.err;
    qrx::Image img = qrx::readImage(png);
    ASSERT_EQ(img.width, 100);
    ASSERT_EQ(img.height, 41);
    auto painted = [&](int x) {
        int n = 0;
        for (int y = 0; y < 41; ++y)
            n += img.pixel(x, y)[0] == 255;
        return n;
    };
    // The middle row is always painted; the bars grow with the amplitude.
    EXPECT_EQ(painted(0), 1);
    EXPECT_GT(painted(99), painted(50));
    EXPECT_GT(painted(50), painted(5));

    // Colours also as #RRGGBB: the same picture.
    const std::string hash = (dir / "hash.png").string();
    r = runQrx({"waveform", (dir / "sweep.wav").string(), "-o", hash, "--width", "100", "--height",
                "41", "--outline", "0", "--back", "#000000", "--fore", "#ffffff"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(qrxclitest::readFile(hash), qrxclitest::readFile(png));
}

// Without options: the bundled sample (three seconds, far more samples than a picture has
// columns) drawn at the default size, and a --help that shows every default.
TEST(QrxWaveform, DefaultsDrawTheSample) {
    ScratchDir dir;
    const std::string png = (dir / "w.png").string();
    auto r = runQrx({"waveform", std::string(QRX_SOURCE_DIR) + "/samples/sample.wav", "-o", png});
    ASSERT_EQ(r.code, 0) << r.err;
    qrx::Image img = qrx::readImage(png);
    EXPECT_EQ(img.width, 800);
    EXPECT_EQ(img.height, 250);

    r = runQrx({"waveform", "--help"});
    for (const char* shown :
         {"--width INT=800", "--height INT=250", "--smooth INT=1", "--outline INT=1", "=&c88B5C4",
          "=&c274C5A", "=&c203F4E", "--channel TEXT=mix", "--autoscale", "2 to 8"})
        EXPECT_TRUE(qrxclitest::contains(r.out, shown)) << shown << "\n" << r.out;
}

struct BadWaveform {
    std::string name;
    std::vector<std::string> options;
    std::string message;
};

// Options and input checked before anything is rendered: exit 2, the option and what it allows
// named, nothing written.
class QrxWaveformRefuses : public testing::TestWithParam<BadWaveform> {};

TEST_P(QrxWaveformRefuses, ExitsTwoNamingTheFault) {
    ScratchDir dir;
    qrxclitest::writeFile(dir / "sweep.wav", sweepWav(800));
    qrxclitest::writeFile(dir / "silent.wav", sweepWav(0));
    qrxclitest::writeFile(dir / "empty.wav", "");
    std::vector<std::string> args{"waveform", "-o", (dir / "w.png").string()};
    for (const std::string& o : GetParam().options)
        args.push_back(o.rfind("@", 0) == 0 ? (dir / o.substr(1)).string() : o);
    auto r = runQrx(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(qrxclitest::contains(r.err, GetParam().message)) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "w.png"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, QrxWaveformRefuses,
    testing::Values(
        BadWaveform{
            "negativeWidth", {"@sweep.wav", "--width", "-5"}, "--width: -5 is not in 1 to 32767"},
        BadWaveform{"zeroWidth", {"@sweep.wav", "--width", "0"}, "--width: 0 is not in 1 to 32767"},
        BadWaveform{"tallHeight",
                    {"@sweep.wav", "--height", "100000"},
                    "--height: 100000 is not in 1 to 32767"},
        BadWaveform{
            "wideOutline", {"@sweep.wav", "--outline", "1000"}, "--outline: 1000 is not in 0 to 8"},
        BadWaveform{
            "negativeOutline", {"@sweep.wav", "--outline", "-1"}, "--outline: -1 is not in 0 to 8"},
        BadWaveform{
            "badColour", {"@sweep.wav", "--fore", "#12345"}, "--fore: #12345 is not a colour"},
        BadWaveform{"noSuchChannel", {"@sweep.wav", "--channel", "1"}, "--channel: 1 is not mix"},
        BadWaveform{"noSamples", {"@silent.wav"}, "holds no samples"},
        BadWaveform{"emptyFile", {"@empty.wav"}, "empty.wav is empty"},
        BadWaveform{"missingFile", {"@missing.wav"}, "missing.wav"}),
    [](const testing::TestParamInfo<BadWaveform>& i) { return i.param.name; });

} // namespace
