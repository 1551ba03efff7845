// The vector instruction sets the pixel loops can run on, and the one they run on now.
//
// Every vector loop is written once over Highway and compiled for each target below; the best
// target the processor runs is chosen when the module first needs one. QRX_SIMD, read once,
// lowers the choice: scalar, sse4, avx2, avx512, avx512dl, neon, sve, sve2 or best (the default).
// A name the processor cannot run, or an unknown name, leaves the best target.
#pragma once

#include <cstdint>

namespace simd {

// Ordered from least to most capable within each architecture. Avx512 is AVX-512 F, BW, DQ and
// VL; Avx512Dl adds VBMI, VBMI2, VNNI and the bit algorithms (Ice Lake, Zen 4).
enum class Target : uint8_t { Scalar, Sse4, Avx2, Avx512, Avx512Dl, Neon, Sve, Sve2, Count };

inline constexpr int kTargetCount = static_cast<int>(Target::Count);

// The name QRX_SIMD knows a target by.
const char* TargetName(Target target);

// Whether this module has loops for the target and the processor runs them (Scalar always).
bool Runs(Target target);

// The target the loops take now.
Target Active();

// Makes the loops take the named target ("best" for the best one) as QRX_SIMD would; false, and
// nothing changed, when the name is unknown or the target does not run here.
bool Choose(const char* name);

// The entry of a per-target table of loops for the active target, or null when the target has
// no such loop (the caller then takes its scalar loop).
template <class Fn> Fn Pick(const Fn (&table)[kTargetCount]) {
    return table[static_cast<int>(Active())];
}

} // namespace simd

// Whether the target being compiled (in a file compiled through hwy/foreach_target.h) is one the
// module dispatches to: Highway's own scalar and 128-bit emulation targets are compiled as the
// baseline but never used, the module's scalar loops standing instead.
#define QRX_SIMD_DISPATCHED (HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128)

// A per-target table of one loop, in Target order, for a file compiled through
// hwy/foreach_target.h (use it under HWY_ONCE).
#define QRX_SIMD_TABLE(F)                                                                          \
    {                                                                                              \
        nullptr, HWY_CHOOSE_SSE4(F), HWY_CHOOSE_AVX2(F), HWY_CHOOSE_AVX3(F),                       \
            HWY_CHOOSE_AVX3_DL(F), HWY_CHOOSE_NEON(F), HWY_CHOOSE_SVE(F), HWY_CHOOSE_SVE2(F)       \
    }

// Defines FnType Getter(): the active target's Kernel from its per-target table (use it under
// HWY_ONCE in a file compiled through hwy/foreach_target.h).
#define QRX_SIMD_EXPORT(FnType, Getter, Kernel)                                                    \
    FnType Getter() {                                                                              \
        static constexpr FnType table[kTargetCount] = QRX_SIMD_TABLE(Kernel);                      \
        return Pick(table);                                                                        \
    }
