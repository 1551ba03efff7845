// Draws the bundled sample pictures. Every pixel follows from a formula, so the files come out
// the same on every run.
//
//   qrx_make_samples [DIR]     writes DIR/sample.png and DIR/sample_alpha.png (DIR: samples)
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
#include <cstdio>
#include <exception>
#include <filesystem>

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

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path dir = argc > 1 ? argv[1] : "samples";
    try {
        qrx::writeImage(dir / "sample.png", sample());
        qrx::writeImage(dir / "sample_alpha.png", sampleAlpha());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrx_make_samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
