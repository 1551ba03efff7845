// Row loops written with vector instructions, for the specialised walks of layout_walk.h and
// skeleton.h. Each gives exactly the words of the scalar specialised loop it stands for; call one
// only when ActiveVectorLevel() is VectorLevel::Avx512.
#pragma once

#include <cstdint>

#include "pixels/fast_paths.h"
#include "pixels/layout_walk.h"

// The vector form of a whole-pixel transform is a kernel: a type whose QRX_AVX512 member
// operator()(__m512i& red, __m512i& green, __m512i& blue) const changes 16 pixels' components,
// held as 32-bit lanes, in place (to values in 0 to 255), exactly as the scalar transform changes
// each one. TransformSpan takes the kernel's walk when the vector level allows it.
struct NoVectorForm {};

#if QRX_HAS_VECTOR_LOOPS
#include "pixels/vector_intrinsics.h"

// One register of 16 source words through the kernel, stored in the destination's places.
template <class Kernel>
QRX_AVX512 inline __m512i TransformWords(__m512i words, WordPlaces from, WordPlaces to,
                                         const Kernel& kernel) {
    const __m512i byte = _mm512_set1_epi32(0xFF);
    __m512i red = _mm512_and_si512(_mm512_srl_epi32(words, _mm_cvtsi32_si128(int(from.red))), byte);
    __m512i green =
        _mm512_and_si512(_mm512_srl_epi32(words, _mm_cvtsi32_si128(int(from.green))), byte);
    __m512i blue =
        _mm512_and_si512(_mm512_srl_epi32(words, _mm_cvtsi32_si128(int(from.blue))), byte);
    kernel(red, green, blue);
    const __m512i packed =
        _mm512_or_si512(_mm512_or_si512(_mm512_sll_epi32(red, _mm_cvtsi32_si128(int(to.red))),
                                        _mm512_sll_epi32(green, _mm_cvtsi32_si128(int(to.green)))),
                        _mm512_sll_epi32(blue, _mm_cvtsi32_si128(int(to.blue))));
    return _mm512_or_si512(packed, _mm512_set1_epi32(static_cast<int>(to.opaque)));
}

// A row of n words through the kernel, 16 at a time, the last few under a mask.
template <class Kernel>
QRX_AVX512 void TransformRowVector(const uint32_t* src, uint32_t* dst, int32_t n, WordPlaces from,
                                   WordPlaces to, const Kernel& kernel) {
    int32_t x = 0;
    for (; x + 16 <= n; x += 16)
        _mm512_storeu_si512(dst + x, TransformWords(_mm512_loadu_si512(src + x), from, to, kernel));
    if (x < n) {
        const auto rest = static_cast<__mmask16>((1u << (n - x)) - 1);
        _mm512_mask_storeu_epi32(
            dst + x, rest,
            TransformWords(_mm512_maskz_loadu_epi32(rest, src + x), from, to, kernel));
    }
}

// Signed 32-bit lanes divided by 255, the quotient truncated toward zero as C divides: the
// magnitude's quotient is (m * 0x80808081) >> 39, exact for every 32-bit unsigned m.
QRX_AVX512 inline __m512i DivideBy255(__m512i v) {
    const __m512i magnitude = _mm512_abs_epi32(v);
    const __m512i magic = _mm512_set1_epi64(0x80808081);
    const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(magnitude, magic), 39);
    const __m512i odd =
        _mm512_srli_epi64(_mm512_mul_epu32(_mm512_srli_epi64(magnitude, 32), magic), 39);
    const __m512i quotient = _mm512_or_si512(even, _mm512_slli_epi64(odd, 32));
    const __mmask16 negative = _mm512_cmplt_epi32_mask(v, _mm512_setzero_si512());
    return _mm512_mask_sub_epi32(quotient, negative, _mm512_setzero_si512(), quotient);
}

// Lanes clamped to 0 to 255.
QRX_AVX512 inline __m512i ClampComponents(__m512i v) {
    return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}
#endif
