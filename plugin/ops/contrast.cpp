#include "ops/operations.h"

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

// Components are spread around 127, not 128.
constexpr int kContrastPivot = 127;

// The contrast amount k acts as the factor k + 1: 0 keeps the component, -1 flattens it to the
// pivot, below -1 it is mirrored around the pivot.
double ContrastFactor(double contrast) {
    return contrast + 1;
}

// (v - 127) * factor + 127, the distance from the pivot formed as an integer; neither truncated
// nor clamped, so that a brightness step can follow.
double Contrasted(int v, double factor) {
    const double distance = v - kContrastPivot;
    return distance * factor + kContrastPivot;
}

int ContrastOf(int v, double factor) {
    return ClampComponent(TruncToInt32(Contrasted(v, factor)));
}

int ContrastAbsoluteOf(int v, double factor, double brightness) {
    return ClampComponent(TruncToInt32(Contrasted(v, factor) + brightness));
}

// Unlike linear brightness alone, the combined form clamps.
int ContrastLinearOf(int v, double factor, const LinearBrightness& map) {
    return ClampComponent(TruncToInt32(Contrasted(v, factor) * map.scale + map.offset));
}

} // namespace

REALpicture ContrastPicture1(REALpicture pic, double contrast) {
    const double factor = ContrastFactor(contrast);
    return TransformWholePicture(
        pic,
        [factor](int& r, int& g, int& b) {
            r = ContrastOf(r, factor);
            g = ContrastOf(g, factor);
            b = ContrastOf(b, factor);
        },
        Depends::OwnComponent);
}

REALpicture ContrastPicture3(REALpicture pic, double red, double green, double blue) {
    const double factorRed = ContrastFactor(red);
    const double factorGreen = ContrastFactor(green);
    const double factorBlue = ContrastFactor(blue);
    return TransformWholePicture(
        pic,
        [&](int& r, int& g, int& b) {
            r = ContrastOf(r, factorRed);
            g = ContrastOf(g, factorGreen);
            b = ContrastOf(b, factorBlue);
        },
        Depends::OwnComponent);
}

REALpicture ContrastAbsBrightnessPicture1(REALpicture pic, double contrast, double brightness) {
    return ContrastAbsBrightnessPicture3(pic, contrast, contrast, contrast, brightness, brightness,
                                         brightness);
}

REALpicture ContrastAbsBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue) {
    const double factorRed = ContrastFactor(contrastRed);
    const double factorGreen = ContrastFactor(contrastGreen);
    const double factorBlue = ContrastFactor(contrastBlue);
    return TransformWholePicture(
        pic,
        [&](int& r, int& g, int& b) {
            r = ContrastAbsoluteOf(r, factorRed, brightnessRed);
            g = ContrastAbsoluteOf(g, factorGreen, brightnessGreen);
            b = ContrastAbsoluteOf(b, factorBlue, brightnessBlue);
        },
        Depends::OwnComponent);
}

REALpicture ContrastLinBrightnessPicture1(REALpicture pic, double contrast, double brightness) {
    return ContrastLinBrightnessPicture3(pic, contrast, contrast, contrast, brightness, brightness,
                                         brightness);
}

REALpicture ContrastLinBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue) {
    const double factorRed = ContrastFactor(contrastRed);
    const double factorGreen = ContrastFactor(contrastGreen);
    const double factorBlue = ContrastFactor(contrastBlue);
    const LinearBrightness mapRed = MakeLinearBrightness(brightnessRed);
    const LinearBrightness mapGreen = MakeLinearBrightness(brightnessGreen);
    const LinearBrightness mapBlue = MakeLinearBrightness(brightnessBlue);
    return TransformWholePicture(
        pic,
        [&](int& r, int& g, int& b) {
            r = ContrastLinearOf(r, factorRed, mapRed);
            g = ContrastLinearOf(g, factorGreen, mapGreen);
            b = ContrastLinearOf(b, factorBlue, mapBlue);
        },
        Depends::OwnComponent);
}
