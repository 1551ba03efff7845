// The loop switch of the test module (libqrxplugin_testable), exported beside REALPluginMain: the
// tests run every operation through every vector target the processor has.
#include "simd/targets.h"

// The loops of a target (see simd/targets.h: scalar, sse4, avx2, ..., best) as QRX_SIMD would
// choose them. False, and nothing changed, for a target the processor does not run.
extern "C" [[gnu::visibility("default")]] bool QRXUseLoops(const char* name) {
    return simd::Choose(name);
}
