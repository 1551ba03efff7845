// Tinting: every pixel reduced to one weighted gray level and coloured with a sepia base.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as color) as picture": the
// level is red, green and blue weighted by the grey base's components over 255; each result
// component is the level times the sepia base's component over 255, at most 255.
REALpicture TintPicture(REALpicture source, uint32_t GreyBase, uint32_t SepiaBase);
