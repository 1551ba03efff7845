// Graphics.DrawPicture: a source rectangle scaled into a destination rectangle.
#include <algorithm>
#include <cstdint>

#include "host_impl.h"

namespace qrx {

namespace {

constexpr int32_t kFullSize = -10000;

} // namespace

// Every destination pixel (dx, dy) of (x, y, w, h) inside dest takes the source pixel
// (sx + (dx - x) * sw / w, sy + (dy - y) * sh / h), rounded down: nearest neighbour, no filtering.
// Pixels mapping outside the source are left alone. The copy is opaque: the destination's alpha
// becomes 255, unless the destination has an alpha channel, which then takes the source's alpha
// (255 for a source without one). Drawing a picture into itself reads a snapshot of the source.
void drawPicture(Picture& dest, const Picture& src, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    if (sw == kFullSize) sw = src.width();
    if (sh == kFullSize) sh = src.height();
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    Image snapshot;
    const bool self = &dest == &src;
    if (self) snapshot = src.toImage();

    int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(int64_t(x) + w, dest.width());
    int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(int64_t(y) + h, dest.height());
    for (int64_t dy = y0; dy < y1; ++dy) {
        int64_t py = sy + (dy - y) * sh / h;
        if (py < 0 || py >= src.height()) continue;
        for (int64_t dx = x0; dx < x1; ++dx) {
            int64_t px = sx + (dx - x) * sw / w;
            if (px < 0 || px >= src.width()) continue;
            uint8_t p[4];
            if (self) {
                const uint8_t* s = snapshot.pixel(int(px), int(py));
                std::copy(s, s + 4, p);
            } else {
                src.rgba(int(px), int(py), p);
            }
            if (!src.hasAlpha() || !dest.hasAlpha()) p[3] = 255;
            dest.setRgba(int(dx), int(dy), p);
        }
    }
}

} // namespace qrx
