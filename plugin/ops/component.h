// Conversions of computed colour values back to integers and to 8-bit components.
#pragma once

#include <cstdint>
#include <limits>

// A double truncated toward zero to a 32-bit signed integer. A value that does not fit, and NaN,
// gives -2147483648: that is what the processor's truncating conversion yields for them, and the
// operations accept any amount without a report, so such amounts take this defined value.
inline int32_t TruncToInt32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);
}

// A component clamped to 0 to 255: 255 from 256 up, 0 below 0.
inline int ClampComponent(int32_t t) {
    if (t >= 256) return 255;
    if (t < 0) return 0;
    return t;
}

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
