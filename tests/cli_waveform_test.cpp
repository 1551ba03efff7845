// qrx waveform end to end: a generated sine sweep in a WAV file drawn through RenderSamplesQRX.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

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

    r = runQrx({"waveform", (dir / "sweep.wav").string(), "-o", png, "--channel", "1"});
    EXPECT_EQ(r.code, 2);
    r = runQrx({"waveform", (dir / "missing.wav").string(), "-o", png});
    EXPECT_EQ(r.code, 2);
}

} // namespace
