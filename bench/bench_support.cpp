#include "bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

namespace qrxbench {

namespace {

// Hosts and the pictures made in them. Pictures go before their hosts at exit.
struct Store {
    std::map<Layout, std::unique_ptr<qrx::Host>> hosts;
    std::map<std::tuple<Layout, int, Content, unsigned>, qrx::Ref> pictures;
    ~Store() { pictures.clear(); }
};

Store& store() {
    static Store s;
    return s;
}

bool quickMode = false;

// A small hash giving grain that looks random but is the same on every run.
uint32_t grain(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x9E3779B1u ^ (y + seed * 0x85EBCA77u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

uint8_t clampByte(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0));
}

} // namespace

const char* layoutName(Layout layout) {
    switch (layout) {
    case Layout::Desktop:
        return "desktop";
    case Layout::DesktopAlpha:
        return "desktop_alpha";
    case Layout::Console:
        return "console";
    }
    return "?";
}

bool hasAlpha(Layout layout) {
    return layout == Layout::DesktopAlpha;
}

qrx::Host& hostFor(Layout layout) {
    auto& slot = store().hosts[layout];
    if (!slot) {
        qrx::HostConfig config;
        config.kind = layout == Layout::Console ? qrx::HostKind::Console : qrx::HostKind::Desktop;
        slot = std::make_unique<qrx::Host>(config, QRX_BENCH_PLUGIN);
    }
    return *slot;
}

qrx::Image makeImage(Content content, int width, int height, bool alpha, unsigned seed) {
    qrx::Image img;
    img.width = width;
    img.height = height;
    img.hasAlpha = alpha;
    img.rgba.resize(size_t(width) * height * 4);
    // Shading separable in x and y, so a large picture is quick to draw.
    std::vector<double> sx(width), sy(height);
    for (int x = 0; x < width; ++x)
        sx[x] = 70.0 * std::sin(x * (6.0 + seed) / width) + 30.0 * std::cos(x * 31.0 / width);
    for (int y = 0; y < height; ++y)
        sy[y] = 60.0 * std::cos(y * (5.0 + seed) / height) + 25.0 * std::sin(y * 17.0 / height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = img.pixel(x, y);
            const uint32_t h = grain(uint32_t(x), uint32_t(y), seed);
            switch (content) {
            case Content::Photo: {
                // Shading, a few hard-edged patches, and grain of +-4 on each component.
                const bool patch = ((x / 257) + (y / 193)) % 5 == 0;
                const double base = 128.0 + sx[x] + sy[y] + (patch ? 40.0 : 0.0);
                p[0] = clampByte(base + 20.0 + double(h & 7) - 4.0);
                p[1] = clampByte(base - 0.6 * sx[x] + double((h >> 3) & 7) - 4.0);
                p[2] = clampByte(255.0 - base + double((h >> 6) & 7) - 4.0);
                break;
            }
            case Content::White:
                p[0] = p[1] = p[2] = 255;
                break;
            case Content::Black:
                p[0] = p[1] = p[2] = 0;
                break;
            case Content::Gray:
                p[0] = p[1] = p[2] = clampByte(128.0 + sx[x] + sy[y]);
                break;
            }
            // Console pictures keep 7 bits of alpha: these values survive the round trip.
            const unsigned a = (h >> 9) & 0x7F;
            p[3] = alpha && content == Content::Photo ? uint8_t((a << 1) | (a & 1)) : 255;
        }
    }
    return img;
}

qrx::Image areasImage(int size, int areas) {
    qrx::Image img = makeImage(Content::Gray, size, size, false);
    const int perRow = int(std::ceil(std::sqrt(double(areas))));
    const int spacing = size / perRow;
    for (int i = 0; i < areas; ++i) {
        const int cx = (i % perRow) * spacing + spacing / 2;
        const int cy = (i / perRow) * spacing + spacing / 2;
        for (int y = cy - 1; y <= cy + 1; ++y)
            for (int x = cx - 1; x <= cx + 1; ++x) {
                uint8_t* p = img.pixel(x, y);
                p[0] = 200;
                p[1] = uint8_t(40 + i % 100);
                p[2] = 30;
            }
    }
    return img;
}

const qrx::Ref& picture(Layout layout, int size, Content content, unsigned seed) {
    auto key = std::make_tuple(layout, size, content, seed);
    auto& slot = store().pictures[key];
    if (!slot)
        slot = hostFor(layout).pictureFromImage(
            makeImage(content, size, size, hasAlpha(layout), seed));
    return slot;
}

double memcpyNanoseconds(size_t bytes) {
    static std::map<size_t, std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> buffers;
    auto& [src, dst] = buffers[bytes];
    if (src.size() != bytes) {
        src.assign(bytes, 0x5A);
        dst.assign(bytes, 0xA5); // written once, so copies into it take no page faults
    }
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        LoopTimer t;
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
        times.push_back(t.elapsedNanoseconds());
    }
    std::nth_element(times.begin(), times.begin() + 3, times.end());
    return times[3];
}

void report(benchmark::State& state, double loopNanoseconds, double pixels, size_t bytes,
            const std::string& group) {
    const double perIteration = loopNanoseconds / double(std::max<int64_t>(1, state.iterations()));
    state.counters["ns_per_px"] = perIteration / pixels;
    state.counters["x_memcpy"] = perIteration / memcpyNanoseconds(bytes);
    state.counters["px"] = pixels;
    state.SetLabel(group);
}

const std::vector<int>& sizes() {
    static const std::vector<int> all = {1024, 4096};
    static const std::vector<int> quick = {1024};
    return quickMode ? quick : all;
}

void setQuick(bool quick) {
    quickMode = quick;
}

} // namespace qrxbench
