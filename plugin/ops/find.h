// Searching a picture for an exact occurrence of a smaller one.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean": true when
// pic occurs in haystack, red, green and blue equal pixel for pixel (alpha is not compared); x
// and y then hold the top-left position of the first occurrence in row-major order, else 0 and 0.
bool FindPicture(REALpicture haystack, REALpicture pic, int32_t& x, int32_t& y);
