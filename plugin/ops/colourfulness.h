// How colourful a picture is: the fraction of its pixels that are neither dark nor near gray.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "ColornessQRX(threshold as integer = 10) as double": a pixel counts when not all of red, green
// and blue are below 30 and green differs from red or from blue by more than threshold (taken
// with its sign: a negative threshold counts every pixel that is not dark). 0.0 for a nil or
// unreadable picture.
double ColornessQRX(REALpicture pic, int32_t threshold);
