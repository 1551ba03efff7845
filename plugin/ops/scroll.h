// Shifting a picture's content in place: with wrap the content is rotated by moving the pixel
// memory itself; without wrap the legacy ScrollRect call moves it on the host's offscreen world.
// With scrollmask the picture's separate mask picture is shifted the same way first.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean":
// positive delta moves the content down. False when nothing could be shifted.
bool ScrollVerticalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask);
// "ScrollHorizontalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean":
// positive delta moves the content right. Always true.
bool ScrollHorizontalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask);
// "ScrollQRX(deltaX as integer, deltaY as integer, wrap as boolean, scrollmask as boolean) as
// boolean": horizontally, then vertically; the result is the vertical one.
bool ScrollQRX(REALpicture pic, int32_t deltaX, int32_t deltaY, signed char wrap,
               signed char scrollmask);

// The shift s with s = delta modulo length and -length/2 < s <= length - length/2; length > 0.
int32_t ReduceShift(int32_t delta, int32_t length);
