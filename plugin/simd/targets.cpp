#include "simd/targets.h"

#include <cstdlib>
#include <cstring>

#include "hwy/highway.h"

#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace simd {

namespace {

constexpr const char* kNames[kTargetCount] = {"scalar",   "sse4", "avx2", "avx512",
                                              "avx512dl", "neon", "sve",  "sve2"};

// The Highway target each entry stands for (0: our own scalar loops).
constexpr int64_t kHighwayTarget[kTargetCount] = {0,           HWY_SSE4, HWY_AVX2, HWY_AVX3,
                                                  HWY_AVX3_DL, HWY_NEON, HWY_SVE,  HWY_SVE2};

bool ProcessorRuns(Target target) {
#if HWY_ARCH_X86
    __builtin_cpu_init();
    const bool sse4 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
                      __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
                      __builtin_cpu_supports("aes");
    // F16C (with AVX2) and VAES (with AVX-512 VBMI2) come with every processor that has the rest
    // of their target, and no loop here uses them; clang cannot ask for either.
    const bool avx2 = sse4 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
                        __builtin_cpu_supports("avx512vl");
    const bool avx512dl =
        avx512 && __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
        __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512bitalg") &&
        __builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("vpclmulqdq");
    switch (target) {
    case Target::Sse4:
        return sse4;
    case Target::Avx2:
        return avx2;
    case Target::Avx512:
        return avx512;
    case Target::Avx512Dl:
        return avx512dl;
    default:
        return target == Target::Scalar;
    }
#elif defined(__aarch64__) && defined(__linux__)
    switch (target) {
    case Target::Neon:
        return true;
    case Target::Sve:
        return (getauxval(AT_HWCAP) & HWCAP_SVE) != 0;
    case Target::Sve2:
        return (getauxval(AT_HWCAP2) & HWCAP2_SVE2) != 0;
    default:
        return target == Target::Scalar;
    }
#else
    return target == Target::Scalar;
#endif
}

Target Best() {
    Target best = Target::Scalar;
    for (int i = 1; i < kTargetCount; ++i)
        if (Runs(static_cast<Target>(i))) best = static_cast<Target>(i);
    return best;
}

// The target named, or Count for a name that is unknown or cannot run here.
Target Named(const char* name) {
    if (name == nullptr || std::strcmp(name, "best") == 0) return Best();
    for (int i = 0; i < kTargetCount; ++i)
        if (std::strcmp(name, kNames[i]) == 0)
            return Runs(static_cast<Target>(i)) ? static_cast<Target>(i) : Target::Count;
    return Target::Count;
}

// What Choose asked for; Count while nothing was asked.
Target gChosen = Target::Count;

} // namespace

const char* TargetName(Target target) {
    return target < Target::Count ? kNames[static_cast<int>(target)] : "unknown";
}

bool Runs(Target target) {
    if (target >= Target::Count) return false;
    const int64_t bit = kHighwayTarget[static_cast<int>(target)];
    if (bit != 0 && (HWY_TARGETS & bit) == 0) return false;
    return ProcessorRuns(target);
}

Target Active() {
    // QRX_SIMD is read once: the processor and the environment do not change while the module is
    // loaded.
    static const Target fromEnvironment = [] {
        const Target named = Named(std::getenv("QRX_SIMD"));
        return named == Target::Count ? Best() : named;
    }();
    return gChosen == Target::Count ? fromEnvironment : gChosen;
}

bool Choose(const char* name) {
    const Target named = Named(name);
    if (named == Target::Count) return false;
    gChosen = named;
    return true;
}

} // namespace simd
