#include "pixels/fast_paths.h"

int gFastPaths = 2;

namespace {

VectorLevel ProcessorLevel() {
#if QRX_HAS_VECTOR_LOOPS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
        return VectorLevel::Avx512;
#endif
    return VectorLevel::None;
}

} // namespace

VectorLevel ActiveVectorLevel() {
    // Asked once: the processor does not change while the module is loaded.
    static const VectorLevel processor = ProcessorLevel();
    return gFastPaths >= 2 ? processor : VectorLevel::None;
}
