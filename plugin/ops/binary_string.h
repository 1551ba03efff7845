// Pictures as self-describing strings of raw bytes: a 40-byte "PPIC" header (32-bit big-endian
// fields) followed by 24-bit pixels, red, green, blue, rows from the top, no padding.
#pragma once

#include "sdk/records.h"

// "PicturetoBinaryStringQRX(p as picture) as string": nil when the picture cannot be read or is
// too large for the format.
REALstring PicturetoBinaryString(REALpicture p);
// "BinaryStringtoPictureQRX(data as String) as Picture": a new opaque picture, or nil for a
// string that is not a complete, consistent binary picture.
REALpicture BinaryStringtoPicture(REALstring data);
