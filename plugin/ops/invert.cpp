#include "ops/invert.h"

namespace {

void Invert(int& red, int& green, int& blue) {
    red = 255 - red;
    green = 255 - green;
    blue = 255 - blue;
}

void InvertGray(int& red, int& green, int& blue) {
    if (red == green && green == blue) Invert(red, green, blue);
}

#if QRX_HAS_VECTOR_LOOPS
// 16 pixels: the gray ones inverted, the others kept.
struct InvertGrayLanes {
    QRX_AVX512 void operator()(__m512i& red, __m512i& green, __m512i& blue) const {
        const __mmask16 gray =
            _mm512_cmpeq_epi32_mask(red, green) & _mm512_cmpeq_epi32_mask(green, blue);
        const __m512i white = _mm512_set1_epi32(255);
        red = _mm512_mask_sub_epi32(red, gray, white, red);
        green = _mm512_mask_sub_epi32(green, gray, white, green);
        blue = _mm512_mask_sub_epi32(blue, gray, white, blue);
    }
};
#endif

} // namespace

REALpicture InvertPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                          int32_t height) {
    return TransformRectangle(pic, left, top, width, height, OmittedWhen::BelowOne, Invert,
                              Depends::OwnComponent);
}

REALpicture InvertPicture2(REALpicture pic) {
    return InvertPicture(pic, 0, 0, -1, -1);
}

REALpicture InvertGrayPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                              int32_t height) {
#if QRX_HAS_VECTOR_LOOPS
    return TransformRectangle(pic, left, top, width, height, OmittedWhen::Negative, InvertGray,
                              Depends::WholePixel, InvertGrayLanes{});
#else
    return TransformRectangle(pic, left, top, width, height, OmittedWhen::Negative, InvertGray);
#endif
}

REALpicture InvertGrayPicture2(REALpicture pic) {
    return InvertGrayPicture(pic, 0, 0, -1, -1);
}
