// Per-component transforms of a whole picture: a custom linear map v * a + b, and a change of
// colour saturation around each pixel's gray value.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "ChangeCustomQRX(a as double, b as double) as picture"
REALpicture TransformPicture(REALpicture pic, double a, double b);
// "ChangeSaturationQRX(Amount as integer) as picture"
REALpicture SaturationPicture(REALpicture pic, int32_t amount);
