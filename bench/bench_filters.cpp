// The two filter classes as user code drives them: an object made and configured once, then Run
// again and again. Each Run drops the previous DestinationPicture and makes a new one.
#include <cmath>
#include <string>

#include "bench_support.h"

namespace qrxbench {

namespace {

using qrx::Ref;

constexpr uint32_t kNodes = 18;    // nodes per axis of the table
constexpr uint32_t kLastNode = 15; // node k stands for the component value 17 k

// A colour grade: a little channel mixing and a gamma, every output within 0 to 255.
double grade(uint32_t r, uint32_t g, uint32_t b, uint32_t x) {
    const double c[3] = {std::min(r, kLastNode) / 15.0, std::min(g, kLastNode) / 15.0,
                         std::min(b, kLastNode) / 15.0};
    const double mixed = 0.8 * c[x] + 0.1 * c[(x + 1) % 3] + 0.1 * c[(x + 2) % 3];
    return 255.0 * std::pow(mixed, 0.85);
}

Ref lut3dObject(qrx::Host& host, const Ref& source) {
    Ref obj = host.newInstance("PictureLut3DQRX");
    for (uint32_t r = 0; r < kNodes; ++r)
        for (uint32_t g = 0; g < kNodes; ++g)
            for (uint32_t b = 0; b < kNodes; ++b)
                for (uint32_t x = 0; x < 3; ++x)
                    host.assign(obj, "Table", {r, g, b, x}, grade(r, g, b, x));
    host.setProperty(obj, "SourcePicture", source);
    return obj;
}

Ref sepiaObject(qrx::Host& host, const Ref& source) {
    Ref obj = host.newInstance("PictureSepiaQRX");
    host.setProperty(obj, "FactorRed", 0.299);
    host.setProperty(obj, "FactorGreen", 0.587);
    host.setProperty(obj, "FactorBlue", 0.114);
    host.setProperty(obj, "SepiaRed", int32_t(40));
    host.setProperty(obj, "SepiaGreen", int32_t(20));
    host.setProperty(obj, "SepiaBlue", int32_t(-20));
    host.setProperty(obj, "SourcePicture", source);
    return obj;
}

void runFilter(benchmark::State& state, const std::string& className, Layout layout, int size) {
    qrx::Host& host = hostFor(layout);
    const Ref& source = picture(layout, size);
    Ref obj =
        className == "PictureLut3DQRX" ? lut3dObject(host, source) : sepiaObject(host, source);
    auto run = [&] {
        qrx::CallResult r = host.call(obj, "Run", {});
        return !r.exception && std::get_if<bool>(&r.result) && std::get<bool>(r.result);
    };
    if (!run()) {
        state.SkipWithError((className + ".Run failed").c_str());
        return;
    }
    LoopTimer timer;
    for (auto _ : state)
        benchmark::DoNotOptimize(run());
    report(state, timer.elapsedNanoseconds(), double(size) * size, size_t(size) * size * 4,
           className == "PictureLut3DQRX" ? "lut3d" : "point");
    host.call(obj, "Close", {});
}

} // namespace

void registerFilterBenchmarks() {
    for (int size : sizes())
        for (Layout layout : kLayouts)
            for (const char* cls : {"PictureLut3DQRX", "PictureSepiaQRX"})
                benchmark::RegisterBenchmark(
                    (std::string("filter/") + cls + "/" + layoutName(layout) + "/" +
                     std::to_string(size))
                        .c_str(),
                    [cls, layout, size](benchmark::State& s) { runFilter(s, cls, layout, size); })
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(size > 1024 ? 0.2 : 0.1);
}

} // namespace qrxbench
