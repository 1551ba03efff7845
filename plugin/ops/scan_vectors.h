// Helpers shared by the vector forms of the read-only scans (colour tests, counting and
// colourfulness). Include it only under #if QRX_HAS_VECTOR_LOOPS, and call its functions only when
// ActiveVectorLevel() is VectorLevel::Avx512.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pixels/fast_paths.h"
#include "pixels/layout_walk.h"
#include "pixels/vector_intrinsics.h"

// The byte place (0 to 3) of the lowest colour component of a word of group G. In every known
// group green sits in the middle of the three colour bytes, so the colour bytes are this place
// and the two above it.
template <LayoutGroup G> constexpr unsigned LowestColourByte() {
    using B = GroupBits<G>;
    static_assert(B::green == std::min({B::red, B::green, B::blue}) + 8,
                  "green is the middle colour byte");
    return std::min({B::red, B::green, B::blue}) / 8;
}

// A word with count bytes set to 0xFF from byte place first on.
constexpr uint32_t WordBytes(unsigned first, unsigned count) {
    return static_cast<uint32_t>((0xFFFFFFFFull >> (32 - 8 * count)) << (8 * first));
}

// The lanes of the last count (1 to 15) words of a row.
inline __mmask16 TailLanes(int32_t count) {
    return static_cast<__mmask16>((1u << count) - 1u);
}

// |a - b| of every unsigned byte.
QRX_AVX512 inline __m512i AbsDiffBytes(__m512i a, __m512i b) {
    return _mm512_sub_epi8(_mm512_max_epu8(a, b), _mm512_min_epu8(a, b));
}

// Each byte's difference with the byte one place above it in its word: in the lowest colour byte
// |lowest - middle component|, in the byte above it |middle - highest|. The middle component is
// green in every known group.
QRX_AVX512 inline __m512i NeighbourDifferences(__m512i words) {
    return AbsDiffBytes(words, _mm512_srli_epi32(words, 8));
}
// Each byte's difference with the byte two places above it: in the lowest colour byte
// |lowest - highest component|, that is |red - blue|.
QRX_AVX512 inline __m512i FarDifferences(__m512i words) {
    return AbsDiffBytes(words, _mm512_srli_epi32(words, 16));
}
