#include "ops/operations.h"

#include <cstdint>

#include "ops/component.h"
#include "ops/skeleton.h"

namespace {

auto AbsoluteBrightness(double amount) {
    return [amount](int v) { return ClampComponent(TruncToInt32(v + amount)); };
}

// Only the low 8 bits are kept, without clamping: amounts within -255 to 255 never leave 0 to
// 255, and beyond them the component wraps.
auto LinearBrightnessOf(double amount) {
    return [map = MakeLinearBrightness(amount)](int v) {
        const double mapped = v * map.scale + map.offset;
        return static_cast<int>(static_cast<uint32_t>(TruncToInt32(mapped)) & 0xFFu);
    };
}

} // namespace

REALpicture AbsBrightnessPicture1(REALpicture pic, double brightness) {
    return AbsBrightnessPicture3(pic, brightness, brightness, brightness);
}

REALpicture AbsBrightnessPicture3(REALpicture pic, double red, double green, double blue) {
    return MapComponents(pic, AbsoluteBrightness(red), AbsoluteBrightness(green),
                         AbsoluteBrightness(blue));
}

REALpicture LinBrightnessPicture1(REALpicture pic, double brightness) {
    return LinBrightnessPicture3(pic, brightness, brightness, brightness);
}

REALpicture LinBrightnessPicture3(REALpicture pic, double red, double green, double blue) {
    return MapComponents(pic, LinearBrightnessOf(red), LinearBrightnessOf(green),
                         LinearBrightnessOf(blue));
}
