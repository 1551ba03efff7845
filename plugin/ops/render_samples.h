// Waveform overview of 8- or 16-bit samples: per-column envelopes of the positive and negative
// halves, smoothed and scaled, drawn as bars around the middle row with an outline on top.
#pragma once

#include <cstdint>

#include "pixels/editor.h"
#include "sdk/records.h"

// Outline colour components (0 to 255) of the latest rendering; DrawPixel blends with them.
extern uint32_t gOutLineColorR;
extern uint32_t gOutLineColorG;
extern uint32_t gOutLineColorB;

// Blends the outline colour into the pixel (x, y) of the writer; weight is the share (0 to 255)
// of the existing pixel. Points outside the picture are ignored.
void DrawPixel(PictureWriter& writer, int x, int y, int weight);

// Xiaolin Wu's anti-aliased line in 16-bit fixed point, for base weight 0, 256 levels and 8
// intensity bits. Every point goes to plot(x, y, weight). Deltas are taken modulo 65536: end
// points whose coordinates differ by at most 65535 are drawn exactly.
template <class Plot> void WuLine(int X0, int Y0, int X1, int Y1, Plot plot) {
    if (Y0 > Y1) {
        int t = Y0;
        Y0 = Y1;
        Y1 = t;
        t = X0;
        X0 = X1;
        X1 = t;
    }
    plot(X0, Y0, 0);
    const int XDir = X1 < X0 ? -1 : 1;
    const auto ux0 = static_cast<uint32_t>(X0), ux1 = static_cast<uint32_t>(X1);
    const auto DeltaX = static_cast<uint16_t>(XDir > 0 ? ux1 - ux0 : ux0 - ux1);
    const auto DeltaY =
        static_cast<uint16_t>(static_cast<uint32_t>(Y1) - static_cast<uint32_t>(Y0));
    if (DeltaY == 0) {
        for (int i = 1; i <= DeltaX; ++i)
            plot(X0 + i * XDir, Y0, 0);
        return;
    }
    if (DeltaX == 0) {
        for (int i = 1; i <= DeltaY; ++i)
            plot(X0, Y0 + i, 0);
        return;
    }
    if (DeltaX == DeltaY) {
        for (int i = 1; i <= DeltaY; ++i)
            plot(X0 + i * XDir, Y0 + i, 0);
        return;
    }
    uint16_t E = 0;
    int X = X0, Y = Y0;
    if (DeltaY > DeltaX) {
        const auto A = static_cast<uint16_t>((static_cast<uint32_t>(DeltaX) << 16) / DeltaY);
        for (int i = DeltaY - 1; i > 0; --i) {
            const auto next = static_cast<uint16_t>(E + A);
            if (next <= E) X += XDir;
            ++Y;
            E = next;
            const int w = E >> 8;
            plot(X, Y, w);
            plot(X + XDir, Y, w ^ 255);
        }
    } else {
        const auto A = static_cast<uint16_t>((static_cast<uint32_t>(DeltaY) << 16) / DeltaX);
        for (int i = DeltaX - 1; i > 0; --i) {
            const auto next = static_cast<uint16_t>(E + A);
            if (next <= E) ++Y;
            X += XDir;
            E = next;
            const int w = E >> 8;
            plot(X, Y, w);
            plot(X, Y + 1, w ^ 255);
        }
    }
    plot(X1, Y1, 0);
}

// The line routine with base weight 0, 256 levels and 8 intensity bits (the only values drawn
// with), plotting through DrawPixel.
void DrawWuLine(PictureWriter& writer, int X0, int Y0, int X1, int Y1, int baseWeight, int levels,
                unsigned short intensityBits);
