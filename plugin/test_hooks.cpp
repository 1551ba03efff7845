// The loop switch of the test module (libqrxplugin_testable), exported beside REALPluginMain: the
// tests run every operation through every tier and vector target the processor has.
#include <cstring>

#include "pixels/fast_paths.h"
#include "simd/targets.h"

// "general" takes the general decode-compute-encode loops; a target name (see simd/targets.h:
// scalar, sse4, avx2, ..., best) the loops specialised by layout on that target. False, and
// nothing changed, for a target the processor does not run.
extern "C" [[gnu::visibility("default")]] bool QRXUseLoops(const char* name) {
    if (std::strcmp(name, "general") == 0) {
        gFastPaths = 0;
        return true;
    }
    if (!simd::Choose(name)) return false;
    gFastPaths = simd::Active() >= simd::Target::Avx512Dl ? 2 : 1;
    return true;
}
