// The AVX-512 intrinsics, for files with vector loops (see fast_paths.h). Include it only under
// #if QRX_HAS_VECTOR_LOOPS.
#pragma once

// GCC 12's AVX-512 intrinsics start some results from deliberately undefined registers, which
// -Wuninitialized and -Wmaybe-uninitialized misreport once they are inlined (clang has neither
// the false report nor the second warning).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
