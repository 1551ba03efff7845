// The yardsticks measured in the same run: memcpy of a picture's bytes into a destination written
// before, the same copy into freshly allocated memory (what first-touch page faults cost), and
// making and releasing a new picture in each layout (what a call pays for its result picture).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"

namespace qrxbench {

namespace {

void runMemcpy(benchmark::State& state, int size) {
    const size_t bytes = size_t(size) * size * 4;
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes, 0xA5);
    LoopTimer timer;
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
    }
    report(state, timer.elapsedNanoseconds(), double(size) * size, bytes, "reference");
}

void runMemcpyFresh(benchmark::State& state, int size) {
    const size_t bytes = size_t(size) * size * 4;
    std::vector<uint8_t> src(bytes, 0x5A);
    LoopTimer timer;
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> dst(new uint8_t[bytes]);
        std::memcpy(dst.get(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    report(state, timer.elapsedNanoseconds(), double(size) * size, bytes, "reference");
}

void runNewPicture(benchmark::State& state, Layout layout, int size) {
    qrx::Host& host = hostFor(layout);
    LoopTimer timer;
    for (auto _ : state) {
        qrx::Ref pic = host.newPicture(size, size, hasAlpha(layout));
        benchmark::DoNotOptimize(pic.get());
    }
    report(state, timer.elapsedNanoseconds(), double(size) * size, size_t(size) * size * 4,
           "reference");
}

} // namespace

void registerReferenceBenchmarks() {
    for (int size : sizes()) {
        const std::string tail = "/" + std::to_string(size);
        const double minTime = size > 1024 ? 0.2 : 0.1;
        benchmark::RegisterBenchmark(("ref/memcpy" + tail).c_str(),
                                     [size](benchmark::State& s) { runMemcpy(s, size); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        benchmark::RegisterBenchmark(("ref/memcpy_fresh" + tail).c_str(),
                                     [size](benchmark::State& s) { runMemcpyFresh(s, size); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        for (Layout layout : kLayouts)
            benchmark::RegisterBenchmark(
                (std::string("ref/new_picture/") + layoutName(layout) + tail).c_str(),
                [layout, size](benchmark::State& s) { runNewPicture(s, layout, size); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(minTime);
    }
}

} // namespace qrxbench
