// Graphics.DrawPicture: a source rectangle scaled into a destination rectangle; Graphics line
// drawing with a rectangular pen.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

// The line's points are those of Bresenham's walk along the longer axis: at step i of n (the
// longer extent) the shorter coordinate advances by i * m / n rounded half up, m being the shorter
// extent. Steps whose pen rectangle cannot reach the picture are skipped arithmetically, so end
// points far outside the picture cost nothing. A pen narrower or lower than one pixel draws
// nothing. The pen paints opaque: alpha 255.
void drawLine(Picture& dest, uint32_t foreColor, int32_t penWidth, int32_t penHeight, int32_t x1,
              int32_t y1, int32_t x2, int32_t y2) {
    if (penWidth < 1 || penHeight < 1) return;
    const uint8_t ink[4] = {uint8_t(foreColor >> 16), uint8_t(foreColor >> 8), uint8_t(foreColor),
                            255};
    const int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
    const int64_t ax = std::llabs(dx), ay = std::llabs(dy);
    const bool xMajor = ax >= ay;
    const int64_t n = xMajor ? ax : ay, m = xMajor ? ay : ax;
    const int64_t majorStart = xMajor ? x1 : y1, minorStart = xMajor ? y1 : x1;
    const int majorDir = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int minorDir = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t majorPen = xMajor ? penWidth : penHeight;
    const int64_t majorSize = xMajor ? dest.width() : dest.height();

    // Steps whose major coordinate c satisfies -majorPen < c < majorSize.
    int64_t first = 0, last = n;
    const int64_t lowest = -majorPen + 1, highest = majorSize - 1;
    if (majorDir > 0) {
        first = std::max<int64_t>(first, lowest - majorStart);
        last = std::min<int64_t>(last, highest - majorStart);
    } else {
        first = std::max<int64_t>(first, majorStart - highest);
        last = std::min<int64_t>(last, majorStart - lowest);
    }
    for (int64_t i = first; i <= last; ++i) {
        const int64_t major = majorStart + majorDir * i;
        const auto advance = n == 0 ? 0 : int64_t((__int128(2) * i * m + n) / (__int128(2) * n));
        const int64_t minor = minorStart + minorDir * advance;
        const int64_t px = xMajor ? major : minor, py = xMajor ? minor : major;
        const int64_t left = std::max<int64_t>(px, 0);
        const int64_t right = std::min<int64_t>(px + penWidth, dest.width());
        const int64_t top = std::max<int64_t>(py, 0);
        const int64_t bottom = std::min<int64_t>(py + penHeight, dest.height());
        for (int64_t y = top; y < bottom; ++y)
            for (int64_t x = left; x < right; ++x)
                dest.setRgba(int(x), int(y), ink);
    }
}

} // namespace qrx
