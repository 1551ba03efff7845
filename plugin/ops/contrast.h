// Contrast of a whole picture around the pivot 127, alone or combined in one pass with an
// absolute or a linear brightness change.
#pragma once

#include "sdk/records.h"

// "ChangeContrastQRX(Contrast as double) as picture"
REALpicture ContrastPicture1(REALpicture pic, double contrast);
// "ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as double) as
// picture"
REALpicture ContrastPicture3(REALpicture pic, double red, double green, double blue);
// "ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture"
REALpicture ContrastAbsBrightnessPicture1(REALpicture pic, double contrast, double brightness);
// "ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double,
// ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue as
// double) as picture"
REALpicture ContrastAbsBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue);
// "ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture"
REALpicture ContrastLinBrightnessPicture1(REALpicture pic, double contrast, double brightness);
// "ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double,
// ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue as
// double) as picture"
REALpicture ContrastLinBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue);
