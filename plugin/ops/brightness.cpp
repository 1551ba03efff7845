#include "ops/operations.h"

#include <cstdint>

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

int AbsoluteBrightness(int v, double amount) {
    return ClampComponent(TruncToInt32(v + amount));
}

// Only the low 8 bits are kept, without clamping: amounts within -255 to 255 never leave 0 to
// 255, and beyond them the component wraps.
int LinearBrightnessOf(int v, const LinearBrightness& map) {
    const double mapped = v * map.scale + map.offset;
    return static_cast<int>(static_cast<uint32_t>(TruncToInt32(mapped)) & 0xFFu);
}

} // namespace

REALpicture AbsBrightnessPicture1(REALpicture pic, double brightness) {
    return AbsBrightnessPicture3(pic, brightness, brightness, brightness);
}

REALpicture AbsBrightnessPicture3(REALpicture pic, double red, double green, double blue) {
    return TransformWholePicture(
        pic,
        [red, green, blue](int& r, int& g, int& b) {
            r = AbsoluteBrightness(r, red);
            g = AbsoluteBrightness(g, green);
            b = AbsoluteBrightness(b, blue);
        },
        Depends::OwnComponent);
}

REALpicture LinBrightnessPicture1(REALpicture pic, double brightness) {
    return LinBrightnessPicture3(pic, brightness, brightness, brightness);
}

REALpicture LinBrightnessPicture3(REALpicture pic, double red, double green, double blue) {
    const LinearBrightness mapRed = MakeLinearBrightness(red);
    const LinearBrightness mapGreen = MakeLinearBrightness(green);
    const LinearBrightness mapBlue = MakeLinearBrightness(blue);
    return TransformWholePicture(
        pic,
        [&](int& r, int& g, int& b) {
            r = LinearBrightnessOf(r, mapRed);
            g = LinearBrightnessOf(g, mapGreen);
            b = LinearBrightnessOf(b, mapBlue);
        },
        Depends::OwnComponent);
}
