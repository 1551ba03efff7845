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

auto Contrast(double contrast) {
    return [factor = ContrastFactor(contrast)](int v) {
        return ClampComponent(TruncToInt32(Contrasted(v, factor)));
    };
}

auto ContrastAbsolute(double contrast, double brightness) {
    return [factor = ContrastFactor(contrast), brightness](int v) {
        return ClampComponent(TruncToInt32(Contrasted(v, factor) + brightness));
    };
}

// Unlike linear brightness alone, the combined form clamps.
auto ContrastLinear(double contrast, double brightness) {
    return [factor = ContrastFactor(contrast), map = MakeLinearBrightness(brightness)](int v) {
        return ClampComponent(TruncToInt32(Contrasted(v, factor) * map.scale + map.offset));
    };
}

} // namespace

REALpicture ContrastPicture1(REALpicture pic, double contrast) {
    return ContrastPicture3(pic, contrast, contrast, contrast);
}

REALpicture ContrastPicture3(REALpicture pic, double red, double green, double blue) {
    return MapComponents(pic, Contrast(red), Contrast(green), Contrast(blue));
}

REALpicture ContrastAbsBrightnessPicture1(REALpicture pic, double contrast, double brightness) {
    return ContrastAbsBrightnessPicture3(pic, contrast, contrast, contrast, brightness, brightness,
                                         brightness);
}

REALpicture ContrastAbsBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue) {
    return MapComponents(pic, ContrastAbsolute(contrastRed, brightnessRed),
                         ContrastAbsolute(contrastGreen, brightnessGreen),
                         ContrastAbsolute(contrastBlue, brightnessBlue));
}

REALpicture ContrastLinBrightnessPicture1(REALpicture pic, double contrast, double brightness) {
    return ContrastLinBrightnessPicture3(pic, contrast, contrast, contrast, brightness, brightness,
                                         brightness);
}

REALpicture ContrastLinBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue) {
    return MapComponents(pic, ContrastLinear(contrastRed, brightnessRed),
                         ContrastLinear(contrastGreen, brightnessGreen),
                         ContrastLinear(contrastBlue, brightnessBlue));
}
