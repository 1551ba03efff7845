// Brightness of a whole picture: absolute (an amount added to each component, clamped) and linear
// (each component mapped onto a narrower range touching white or black).
#pragma once

#include "sdk/records.h"

// "ChangeBrightnessAbsoluteQRX(Brightness as double) as picture"
REALpicture AbsBrightnessPicture1(REALpicture pic, double brightness);
// "ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double,
// BrightnessBlue as double) as picture"
REALpicture AbsBrightnessPicture3(REALpicture pic, double red, double green, double blue);
// "ChangeBrightnessLinearQRX(Brightness as double) as picture"
REALpicture LinBrightnessPicture1(REALpicture pic, double brightness);
// "ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double,
// BrightnessBlue as double) as picture"
REALpicture LinBrightnessPicture3(REALpicture pic, double red, double green, double blue);

// The linear brightness map of one channel, v * scale + offset, fixed once per call. A negative
// amount lowers the bright end (0 to 255 onto 0 to 255 + amount); any other lifts the dark end
// (0 to 255 onto amount to 255).
struct LinearBrightness {
    double scale;
    double offset;
};

inline LinearBrightness MakeLinearBrightness(double amount) {
    if (amount < 0) return {(amount + 255) / 255, 0};
    return {(255 - amount) / 255, amount};
}
