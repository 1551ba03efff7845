// The legacy drawing library: current port and device, regions, and scrolling a rectangle of an
// offscreen world. Loaded at run time as the executable of "ApplicationServices.framework".
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "quickdraw.h"

#define QRX_LEGACY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The current drawing port and device of the process.
CGrafPtr gCurrentPort = nullptr;
GDHandle gCurrentDevice = nullptr;

uint32_t* PixelAt(const QDOffscreenWorld& world, int x, int y) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(world.base) +
                                       static_cast<std::ptrdiff_t>(y) * world.rowBytes) +
           x;
}

void SetRegion(RgnHandle region, int top, int left, int bottom, int right) {
    if (!region || !*region) return;
    if (bottom <= top || right <= left) top = left = bottom = right = 0;
    (*region)->bounds = {static_cast<int16_t>(top), static_cast<int16_t>(left),
                         static_cast<int16_t>(bottom), static_cast<int16_t>(right)};
}

} // namespace

// A new, empty region.
QRX_LEGACY_EXPORT RgnHandle NewRgn() {
    auto** handle = new QDRegion*;
    *handle = new QDRegion{{0, 0, 0, 0}};
    return handle;
}

QRX_LEGACY_EXPORT void DisposeRgn(RgnHandle region) {
    if (!region) return;
    delete *region;
    delete region;
}

QRX_LEGACY_EXPORT void GetGWorld(CGrafPtr* port, GDHandle* device) {
    if (port) *port = gCurrentPort;
    if (device) *device = gCurrentDevice;
}

QRX_LEGACY_EXPORT void SetGWorld(CGrafPtr port, GDHandle device) {
    gCurrentPort = port;
    gCurrentDevice = device;
}

// Moves the pixels inside rect (clipped to the current port) by dh to the right and dv down.
// Pixels moved beyond rect are lost; the uncovered band is filled with the port's background.
// The update region becomes the bounds of the uncovered band (empty when nothing moved); a null
// region is allowed. Without a current port nothing happens.
QRX_LEGACY_EXPORT void ScrollRect(const Rect* rect, int16_t dh, int16_t dv,
                                  RgnHandle updateRegion) {
    SetRegion(updateRegion, 0, 0, 0, 0);
    const QDOffscreenWorld* world = gCurrentPort;
    if (!rect || !world || !world->base || world->width <= 0 || world->height <= 0) return;
    const int left = std::max<int>(rect->left, 0);
    const int top = std::max<int>(rect->top, 0);
    const int right = std::min<int>(rect->right, world->width);
    const int bottom = std::min<int>(rect->bottom, world->height);
    if (right <= left || bottom <= top || (dh == 0 && dv == 0)) return;
    const int w = right - left;
    const int h = bottom - top;

    // Copy the rectangle aside, then write every pixel from its source or the background.
    std::vector<uint32_t> saved(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(&saved[static_cast<size_t>(y) * w], PixelAt(*world, left, top + y),
                    static_cast<size_t>(w) * 4);
    for (int y = 0; y < h; ++y) {
        uint32_t* row = PixelAt(*world, left, top + y);
        const int sy = y - dv;
        for (int x = 0; x < w; ++x) {
            const int sx = x - dh;
            row[x] = (sx >= 0 && sx < w && sy >= 0 && sy < h)
                         ? saved[static_cast<size_t>(sy) * w + static_cast<size_t>(sx)]
                         : world->background;
        }
    }

    // The uncovered band: rows at the top or bottom, columns at the left or right; its bounds.
    int bandTop = top, bandBottom = bottom, bandLeft = left, bandRight = right;
    if (dh == 0) {
        bandTop = dv > 0 ? top : std::max(top, bottom + dv);
        bandBottom = dv > 0 ? std::min(bottom, top + dv) : bottom;
    } else if (dv == 0) {
        bandLeft = dh > 0 ? left : std::max(left, right + dh);
        bandRight = dh > 0 ? std::min(right, left + dh) : right;
    }
    SetRegion(updateRegion, bandTop, bandLeft, bandBottom, bandRight);
}
