// qrx-bench-inputs DIR [SIZE] [SECONDS]: the inputs of scripts/bench-compare, drawn here so every
// run compares on the same content.
//   DIR/photo.png   SIZE x SIZE (4096) photograph-like picture, no alpha
//   DIR/photo.ppm   the same pixels as PPM
//   DIR/grade.cube  a 16-point 3D table: channel mixing and a gamma
//   DIR/long.wav    SECONDS (3600) of 44.1 kHz mono 16-bit PCM: a tone with a slow swell
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image_io.h"

namespace {

void writeCube(const std::filesystem::path& path) {
    std::ofstream out(path);
    out << "TITLE \"qrx bench grade\"\nLUT_3D_SIZE 16\n";
    char line[96];
    // Red changes fastest, then green, then blue.
    for (int b = 0; b < 16; ++b)
        for (int g = 0; g < 16; ++g)
            for (int r = 0; r < 16; ++r) {
                const double c[3] = {r / 15.0, g / 15.0, b / 15.0};
                double v[3];
                for (int x = 0; x < 3; ++x)
                    v[x] = std::pow(0.8 * c[x] + 0.1 * c[(x + 1) % 3] + 0.1 * c[(x + 2) % 3], 0.85);
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", v[0], v[1], v[2]);
                out << line;
            }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void put32(std::ofstream& out, uint32_t v) {
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char(v >> 24)};
    out.write(b, 4);
}

void writeWav(const std::filesystem::path& path, long seconds) {
    const uint32_t rate = 44100;
    const uint64_t samples = uint64_t(rate) * uint64_t(seconds);
    const uint32_t dataBytes = uint32_t(samples * 2);
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put32(out, 1 | (1u << 16)); // PCM, one channel
    put32(out, rate);
    put32(out, rate * 2);
    put32(out, 2 | (16u << 16)); // block align 2, 16 bits
    out.write("data", 4);
    put32(out, dataBytes);
    std::vector<char> block;
    block.reserve(1 << 20);
    for (uint64_t i = 0; i < samples; ++i) {
        const double swell = 0.5 + 0.5 * std::sin(double(i) * 2e-6);
        const auto s = uint16_t(int16_t(30000.0 * swell * std::sin(double(i) * 0.0627)));
        block.push_back(char(s & 0xFF));
        block.push_back(char(s >> 8));
        if (block.size() >= (1 << 20)) {
            out.write(block.data(), std::streamsize(block.size()));
            block.clear();
        }
    }
    out.write(block.data(), std::streamsize(block.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

} // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: qrx-bench-inputs DIR [SIZE] [SECONDS]\n"
                        "Writes photo.png, photo.ppm (SIZE x SIZE, default 4096), grade.cube and\n"
                        "long.wav (SECONDS of sound, default 3600) into DIR.\n";
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    // Anything else that looks like an option is refused rather than taken for a folder.
    if (argc < 2 || argc > 4 || argv[1][0] == '-') {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        const int size = argc > 2 ? std::atoi(argv[2]) : 4096;
        const long seconds = argc > 3 ? std::atol(argv[3]) : 3600;
        std::filesystem::create_directories(dir);
        const qrx::Image photo = qrxbench::makeImage(qrxbench::Content::Photo, size, size, false);
        qrx::writeImage(dir / "photo.png", photo);
        qrx::writeImage(dir / "photo.ppm", photo);
        writeCube(dir / "grade.cube");
        writeWav(dir / "long.wav", seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrx-bench-inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
