// Whether a picture, or a rectangle of it, is all black, all white or all gray.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// The rectangle (left, top, width, height) is clipped to the picture; a negative width or height
// means the picture's, the rectangle still starting at left or top, and zero means an empty
// rectangle, which passes. A nil or unreadable picture gives false. Alpha is never read.

// "isBlackQRX(left as integer,top as integer,width as integer,height as integer) as boolean"
bool isBlack(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height);
// "isBlackQRX as boolean"
bool isBlack2(REALpicture pic);
// "isWhiteQRX(left as integer,top as integer,width as integer,height as integer) as boolean"
bool isWhite(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height);
// "isWhiteQRX as boolean"
bool isWhite2(REALpicture pic);
// "isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as
// integer) as boolean": red, green and blue pairwise within the absolute value of tolerance.
bool isGray(REALpicture pic, int32_t tolerance, int32_t left, int32_t top, int32_t width,
            int32_t height);
// "isGrayQRX(tolerance as integer = 0) as boolean"
bool isGray2(REALpicture pic, int32_t tolerance);
