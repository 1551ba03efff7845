// Draws the bundled sample pictures. Every pixel follows from a formula, so the files come out
// the same on every run.
//
//   qrx_make_samples [DIR]     writes the files below into DIR (default: samples)
//
// sample.png, 160 x 120, no alpha:
//   rows 0-39    columns 0-79: horizontal gray ramp (exact grays, 0 at the left to 255)
//                columns 80-159: colour gradient, red rising to the right, green downwards,
//                blue fixed at 96
//   rows 40-79   eight gray patches 20 wide: 0, 255, 128, 127, 1, 254, 64, 192
//   rows 80-119  columns 0-139: seven colour patches 20 wide: red, green, blue, cyan, magenta,
//                yellow, and the near-gray (128, 128, 129); columns 140-159: a black and white
//                checkerboard of single pixels
//   a vertical gray ramp runs down columns 0-3 of rows 40-119 (exact grays, 0 at the top)
// sample_alpha.png, 160 x 120, with alpha: the colour gradient over the whole picture, alpha
//   rising from 0 at the left edge to 255 at the right, and an opaque gray band in rows 100-119.
// rings.png, 160 x 120, no alpha: gray rings around the centre, a triangle wave of the distance
//   (period 24 pixels), for channel replacement, combining and merging.
// needle.png, 24 x 20: the part of sample.png at columns 104-127, rows 12-31 (the colour
//   gradient, where every pixel is different), for picture search.
// curve_scurve.bin, curve_posterize.bin, curve_invert.bin: 256-byte lookup tables (byte i is the
//   new value of component i): a smoothstep S-curve, four levels, and the inverse.
// grade.cube: a 9-point 3D colour grade (warm highlights, cool shadows) in the .cube text form.
// sample.wav: 3 seconds of 16-bit mono sound at 44100 Hz, four chords of 0.75 s (C, A minor,
//   F, G), each struck with a short attack and a decay, so a waveform shows four beats.
//
// The sound is made with additions and multiplications only (a polynomial sine, no library
// functions whose last bit may differ between systems), so the bytes are the same everywhere.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "image_io.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

void set(qrx::Image& img, int x, int y, int r, int g, int b, int a = 255) {
    uint8_t* p = img.pixel(x, y);
    p[0] = uint8_t(r);
    p[1] = uint8_t(g);
    p[2] = uint8_t(b);
    p[3] = uint8_t(a);
}

qrx::Image blank(bool hasAlpha) {
    qrx::Image img;
    img.width = kWidth;
    img.height = kHeight;
    img.hasAlpha = hasAlpha;
    img.rgba.assign(size_t(kWidth) * kHeight * 4, 255);
    return img;
}

qrx::Image sample() {
    qrx::Image img = blank(false);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 80; ++x) {
            int v = x * 255 / 79;
            set(img, x, y, v, v, v);
        }
        for (int x = 80; x < kWidth; ++x)
            set(img, x, y, (x - 80) * 255 / 79, y * 255 / 39, 96);
    }
    static const int grays[8] = {0, 255, 128, 127, 1, 254, 64, 192};
    for (int y = 40; y < 80; ++y)
        for (int x = 0; x < kWidth; ++x) {
            int v = grays[x / 20];
            set(img, x, y, v, v, v);
        }
    static const int colors[7][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},    {0, 255, 255},
                                     {255, 0, 255}, {255, 255, 0}, {128, 128, 129}};
    for (int y = 80; y < kHeight; ++y) {
        for (int x = 0; x < 140; ++x) {
            const int* c = colors[x / 20];
            set(img, x, y, c[0], c[1], c[2]);
        }
        for (int x = 140; x < kWidth; ++x) {
            int v = (x + y) % 2 ? 255 : 0;
            set(img, x, y, v, v, v);
        }
    }
    for (int y = 40; y < kHeight; ++y)
        for (int x = 0; x < 4; ++x) {
            int v = (y - 40) * 255 / 79;
            set(img, x, y, v, v, v);
        }
    return img;
}

qrx::Image sampleAlpha() {
    qrx::Image img = blank(true);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (y >= 100)
                set(img, x, y, 128, 128, 128);
            else
                set(img, x, y, x * 255 / 159, y * 255 / 99, 160, x * 255 / 159);
        }
    return img;
}

qrx::Image rings() {
    qrx::Image img = blank(false);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            // sqrt is correctly rounded, so the distance is the same on every system.
            const double d = std::sqrt(double((x - 80) * (x - 80) + (y - 60) * (y - 60))) / 24.0;
            const double f = d - std::floor(d);
            const int v = 16 + int((f < 0.5 ? f : 1.0 - f) * 2.0 * 223.0);
            set(img, x, y, v, v, v);
        }
    return img;
}

qrx::Image needle() {
    const qrx::Image src = sample();
    qrx::Image img;
    img.width = 24;
    img.height = 20;
    img.rgba.assign(size_t(img.width) * img.height * 4, 255);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const uint8_t* p = src.pixel(104 + x, 12 + y);
            set(img, x, y, p[0], p[1], p[2]);
        }
    return img;
}

using Curve = std::array<uint8_t, 256>;

Curve sCurve() {
    Curve c{};
    for (int i = 0; i < 256; ++i) // 255 * (3t^2 - 2t^3) with t = i / 255, in integers
        c[size_t(i)] = uint8_t((3 * 255 * i * i - 2 * i * i * i) / (255 * 255));
    return c;
}

Curve posterize() {
    Curve c{};
    for (int i = 0; i < 256; ++i)
        c[size_t(i)] = uint8_t(i / 64 * 85);
    return c;
}

Curve inverse() {
    Curve c{};
    for (int i = 0; i < 256; ++i)
        c[size_t(i)] = uint8_t(255 - i);
    return c;
}

std::string gradeCube() {
    constexpr int n = 9;
    std::string text = "TITLE \"qrx sample grade\"\n# warm highlights, cool shadows\n"
                       "LUT_3D_SIZE 9\n";
    auto clamp01 = [](double v) { return v < 0 ? 0.0 : v > 1 ? 1.0 : v; };
    char line[64];
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                const double R = r / 8.0, G = g / 8.0, B = b / 8.0;
                const double l = (R + 2 * G + B) / 4;
                const double warm = l - 0.5; // above 0 in highlights, below in shadows
                std::snprintf(
                    line, sizeof line, "%.6f %.6f %.6f\n", clamp01(R * 0.92 + 0.04 + warm * 0.16),
                    clamp01(G * 0.96 + 0.02 + warm * 0.04), clamp01(B * 0.88 + 0.06 - warm * 0.2));
                text += line;
            }
    return text;
}

// sin(2 pi t) from a Taylor polynomial on a quarter turn: within 4e-7 of the true value.
double sineTurns(double t) {
    t -= std::floor(t);                       // 0 <= t < 1
    if (t >= 0.5) return -sineTurns(t - 0.5); // second half mirrors the first
    if (t > 0.25) t = 0.5 - t;                // 0 <= t <= 0.25
    const double x = t * 6.283185307179586, x2 = x * x;
    double term = x, sum = x;
    for (int k = 1; k <= 6; ++k) {
        term = term * -x2 / double((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

std::vector<uint8_t> sampleSound() {
    constexpr int rate = 44100, beat = rate * 3 / 4, beats = 4;
    static const double chords[beats][3] = {{261.63, 329.63, 392.00},
                                            {220.00, 261.63, 329.63},
                                            {174.61, 220.00, 261.63},
                                            {196.00, 246.94, 293.66}};
    std::vector<uint8_t> pcm;
    pcm.reserve(size_t(beat) * beats * 2);
    for (int i = 0; i < beat * beats; ++i) {
        const int k = i / beat, j = i % beat;
        const double t = double(i) / rate;
        // 10 ms rising, then a quadratic fall to silence at the end of the beat.
        const double attack = rate / 100.0;
        const double rest = 1.0 - double(j) / beat;
        const double env = j < attack ? j / attack : rest * rest;
        double v = 0;
        for (double f : chords[k])
            v += 0.22 * sineTurns(f * t) + 0.07 * sineTurns(2 * f * t);
        const double s = std::floor(v * env * 32767.0 + 0.5);
        const int16_t q = int16_t(s < -32768 ? -32768 : s > 32767 ? 32767 : s);
        pcm.push_back(uint8_t(uint16_t(q) & 0xFF));
        pcm.push_back(uint8_t(uint16_t(q) >> 8));
    }
    return pcm;
}

// A canonical 44-byte RIFF header before 16-bit mono PCM.
std::string wavFile(const std::vector<uint8_t>& pcm, uint32_t rate) {
    std::string out;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xFF);
    };
    auto u16 = [&](uint16_t v) {
        out += char(v & 0xFF);
        out += char(v >> 8);
    };
    const uint32_t size = uint32_t(pcm.size());
    out += "RIFF";
    u32(36 + size);
    out += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // channels
    u32(rate);
    u32(rate * 2); // bytes per second
    u16(2);        // bytes per frame
    u16(16);       // bits per sample
    out += "data";
    u32(size);
    out.append(pcm.begin(), pcm.end());
    return out;
}

template <class Bytes> void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    qrx::writeFileAtomically(path, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path dir = argc > 1 ? argv[1] : "samples";
    try {
        qrx::writeImage(dir / "sample.png", sample());
        qrx::writeImage(dir / "sample_alpha.png", sampleAlpha());
        qrx::writeImage(dir / "rings.png", rings());
        qrx::writeImage(dir / "needle.png", needle());
        writeBytes(dir / "curve_scurve.bin", sCurve());
        writeBytes(dir / "curve_posterize.bin", posterize());
        writeBytes(dir / "curve_invert.bin", inverse());
        writeBytes(dir / "grade.cube", gradeCube());
        writeBytes(dir / "sample.wav", wavFile(sampleSound(), 44100));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrx_make_samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
