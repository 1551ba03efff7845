// Inversion of all pixels, or of the gray pixels only, of a picture or of a rectangle of it.
#pragma once

#include <cstdint>

#include "ops/skeleton.h"
#include "sdk/records.h"

// "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture":
// a width or height below 1 means the picture's.
REALpicture InvertPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                          int32_t height);
// "InvertQRX as picture"
REALpicture InvertPicture2(REALpicture pic);
// "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as picture":
// a negative width or height means the picture's; zero means an empty rectangle.
REALpicture InvertGrayPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                              int32_t height);
// "InvertGrayQRX as picture"
REALpicture InvertGrayPicture2(REALpicture pic);
