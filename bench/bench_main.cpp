// qrx-bench: the plugin's methods and filter classes through the runtime, against memcpy of the
// same bytes (and OpenCV where it was found at build time).
//
//   qrx-bench [--quick] [Google Benchmark flags: --benchmark_filter=REGEX,
//              --benchmark_out=FILE --benchmark_out_format=json, --benchmark_repetitions=N ...]
//
// Exit code 3: the plugin registers a method or class that no benchmark measures.
// --quick measures 1024 x 1024 pictures only; otherwise 4096 x 4096 as well.
// Benchmarks are named KIND/NAME/LAYOUT/SIZE: call/ (a whole call with its new picture), inplace/
// (the pixel loop on a picture made beforehand), filter/, ref/ (memcpy, new pictures), opencv/.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "qrx/process.h"

namespace qrxbench {
#ifdef QRX_BENCH_OPENCV
void registerOpenCvBenchmarks();
#endif
} // namespace qrxbench

int main(int argc, char** argv) {
    // The heap qrx runs with (see qrx/process.h).
    qrx::askForHugePages(argv);
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            qrxbench::setQuick(true);
        else
            args.push_back(argv[i]);
    }
    // Every benchmark runs warm: a first call pays for mapping memory its storage pools then keep,
    // and a benchmark whose first call outlasts its minimum time would time that call alone.
    static char warmUp[] = "--benchmark_min_warmup_time=0.05";
    bool warmUpGiven = false;
    for (char* a : args)
        warmUpGiven = warmUpGiven || std::strncmp(a, "--benchmark_min_warmup_time", 27) == 0;
    if (!warmUpGiven) args.insert(args.begin() + 1, warmUp);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    // The suite covers everything the plugin registers; a new method without a benchmark stops it.
    if (const auto missing = qrxbench::unmeasuredMethods(); !missing.empty()) {
        for (const std::string& name : missing)
            std::fprintf(stderr, "qrx-bench: no benchmark measures %s\n", name.c_str());
        return 3;
    }
    // The plugin reads QRX_SIMD once when loaded: the vector target of every figure in this run.
    const char* simd = std::getenv("QRX_SIMD");
    benchmark::AddCustomContext("qrx.simd", simd ? simd : "best");
    benchmark::AddCustomContext("qrx.sizes", qrxbench::sizes().size() == 1 ? "1024" : "1024,4096");
    qrxbench::registerReferenceBenchmarks();
#ifdef QRX_BENCH_OPENCV
    qrxbench::registerOpenCvBenchmarks();
#endif
    qrxbench::registerMethodBenchmarks();
    qrxbench::registerFilterBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
