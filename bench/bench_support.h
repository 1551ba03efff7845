// What every qrx benchmark shares: the hosts (one per picture layout, each with its own copy of
// the plugin), reproducible picture content, the memcpy yardstick and the counters each benchmark
// reports.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "qrx/host.h"

namespace qrxbench {

// The three picture forms measured: a plain desktop bitmap (bytes R G B A), a desktop bitmap with
// an alpha channel (premultiplied R G B A) and a console picture (a true-colour record whose
// rows are apart from each other).
enum class Layout { Desktop, DesktopAlpha, Console };
inline constexpr Layout kLayouts[] = {Layout::Desktop, Layout::DesktopAlpha, Layout::Console};
const char* layoutName(Layout layout);

// What a source picture shows.
enum class Content {
    Photo, // smooth shading, edges and grain: what a photograph gives the per-pixel code
    White, // every pixel opaque white: a colour test that passes reads every pixel
    Black,
    Gray, // exact grays only
};

// The host for a layout, loaded once on first use and kept for the whole run.
qrx::Host& hostFor(Layout layout);
bool hasAlpha(Layout layout);

// Pixels of the given content, size and alpha; seed varies the photograph.
qrx::Image makeImage(Content content, int width, int height, bool alpha, unsigned seed = 1);
// A gray picture with `areas` separate 3 x 3 coloured squares spread evenly over it.
qrx::Image areasImage(int size, int areas);

// A picture in the layout's host, made once per (layout, size, content, seed) and kept.
const qrx::Ref& picture(Layout layout, int size, Content content = Content::Photo,
                        unsigned seed = 1);

// Median time of copying `bytes` bytes from one buffer to a separate destination that has been
// written before (so no first-touch page faults are counted), over several copies.
double memcpyNanoseconds(size_t bytes);

// Times the benchmark loop by the CPU time of this thread: the machines these run on are shared,
// and time spent waiting for a core would otherwise be counted as the operation's.
class LoopTimer {
  public:
    LoopTimer() : start_(now()) {}
    double elapsedNanoseconds() const { return now() - start_; }

  private:
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
    }
    double start_;
};

// Sets the counters every benchmark reports: ns_per_px (CPU time per pixel of the work), x_memcpy
// (the time of one iteration over the time of copying `bytes` bytes, measured right after the
// loop), and the goal group as the label for the results table.
void report(benchmark::State& state, double loopNanoseconds, double pixels, size_t bytes,
            const std::string& group);

// Benchmark sizes: 1024 and 4096, or only 1024 in the quick mode.
const std::vector<int>& sizes();
void setQuick(bool quick);

// Registration of each family of benchmarks (called from main before the run).
void registerMethodBenchmarks();
void registerFilterBenchmarks();
void registerReferenceBenchmarks();
// Methods and classes the plugin registers that no benchmark measures (empty when the suite is
// complete).
std::vector<std::string> unmeasuredMethods();

} // namespace qrxbench
