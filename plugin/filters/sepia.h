// PictureSepiaQRX: turns a rectangle of a picture into a weighted gray plus per-channel offsets.
#pragma once

#include <cstdint>

#include "filters/sepia_data.h"
#include "sdk/records.h"

// The class record of PictureSepiaQRX (registration tables); the key to an object's instance data.
extern REALclassDefinition PictureSepiaClass;

namespace sepia {

// A weight as the integer factor of a run: weight x 1024 truncated toward zero. NaN and values
// outside the 32-bit range give INT32_MIN, the processor's answer for a truncating conversion it
// cannot represent.
int32_t IntegerWeight(double weight);

// The gray value of a colour under integer weights: the weighted sum over 1024, in wrapping 32-bit
// arithmetic, the division truncating toward zero.
int32_t GrayValue(int red, int green, int blue, int32_t kR, int32_t kG, int32_t kB);

} // namespace sepia
