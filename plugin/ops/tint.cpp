#include "ops/tint.h"

#include <algorithm>

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

// One component of a host colour (red in bits 16-23, green 8-15, blue 0-7; the top byte is not a
// component) as a fraction of 255.
struct ColorFractions {
    double red, green, blue;
};

ColorFractions FractionsOf(uint32_t color) {
    return {((color >> 16) & 0xFFu) / 255.0, ((color >> 8) & 0xFFu) / 255.0,
            (color & 0xFFu) / 255.0};
}

// Every term is non-negative, so only the upper end needs a clamp.
int TintedOf(double level, double fraction) {
    return std::min(TruncToInt32(level * fraction), 255);
}

#if QRX_HAS_VECTOR_LOOPS
// Eight levels times a fraction, truncated and capped as TintedOf does: a level is at most 765
// and a fraction at most 1, so the product always fits the truncating conversion.
QRX_AVX512 inline __m256i TintedOf(__m512d level, double fraction) {
    return _mm256_min_epi32(_mm512_cvttpd_epi32(_mm512_mul_pd(level, _mm512_set1_pd(fraction))),
                            _mm256_set1_epi32(255));
}

// The tint of 16 pixels, in two halves of eight doubles: the same products and sums in the same
// order as the scalar form.
struct TintLanes {
    ColorFractions grey, sepia;

    QRX_AVX512 void operator()(__m512i& red, __m512i& green, __m512i& blue) const {
        __m256i out[3][2];
        for (int half = 0; half < 2; ++half) {
            const __m512d r = _mm512_cvtepi32_pd(Half(red, half));
            const __m512d g = _mm512_cvtepi32_pd(Half(green, half));
            const __m512d b = _mm512_cvtepi32_pd(Half(blue, half));
            const __m512d level =
                _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(r, _mm512_set1_pd(grey.red)),
                                            _mm512_mul_pd(g, _mm512_set1_pd(grey.green))),
                              _mm512_mul_pd(b, _mm512_set1_pd(grey.blue)));
            out[0][half] = TintedOf(level, sepia.red);
            out[1][half] = TintedOf(level, sepia.green);
            out[2][half] = TintedOf(level, sepia.blue);
        }
        red = Join(out[0]);
        green = Join(out[1]);
        blue = Join(out[2]);
    }

    QRX_AVX512 static __m256i Half(__m512i v, int half) {
        return half == 0 ? _mm512_castsi512_si256(v) : _mm512_extracti64x4_epi64(v, 1);
    }
    QRX_AVX512 static __m512i Join(const __m256i (&halves)[2]) {
        return _mm512_inserti64x4(_mm512_castsi256_si512(halves[0]), halves[1], 1);
    }
};
#endif

} // namespace

REALpicture TintPicture(REALpicture source, uint32_t GreyBase, uint32_t SepiaBase) {
    const ColorFractions grey = FractionsOf(GreyBase);
    const ColorFractions sepia = FractionsOf(SepiaBase);
    auto tint = [&](int& red, int& green, int& blue) {
        // Red and green are summed first, then blue is added.
        const double level = (red * grey.red + green * grey.green) + blue * grey.blue;
        red = TintedOf(level, sepia.red);
        green = TintedOf(level, sepia.green);
        blue = TintedOf(level, sepia.blue);
    };
#if QRX_HAS_VECTOR_LOOPS
    return TransformWholePicture(source, tint, Depends::WholePixel, TintLanes{grey, sepia});
#else
    return TransformWholePicture(source, tint);
#endif
}
