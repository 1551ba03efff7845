#include "ops/operations.h"
#include "ops/skeleton.h"

namespace {

void Invert(int& red, int& green, int& blue) {
    red = 255 - red;
    green = 255 - green;
    blue = 255 - blue;
}

void InvertGray(int& red, int& green, int& blue) {
    if (red == green && green == blue) Invert(red, green, blue);
}

} // namespace

REALpicture InvertPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                          int32_t height) {
    return TransformRectangle(pic, left, top, width, height, OmittedWhen::BelowOne, Invert,
                              Depends::OwnComponent,
                              simd::PixelKernel<simd::NoParams>{simd::InvertRows()});
}

REALpicture InvertPicture2(REALpicture pic) {
    return InvertPicture(pic, 0, 0, -1, -1);
}

REALpicture InvertGrayPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                              int32_t height) {
    return TransformRectangle(pic, left, top, width, height, OmittedWhen::Negative, InvertGray,
                              Depends::WholePixel,
                              simd::PixelKernel<simd::NoParams>{simd::InvertGrayRows()});
}

REALpicture InvertGrayPicture2(REALpicture pic) {
    return InvertGrayPicture(pic, 0, 0, -1, -1);
}
