// The black-on-white mask of the rectangles that cover the coloured areas of a picture.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// "ExtractColorRectangleMaskQRX(left as integer,top as integer,width as integer,height as
// integer) as picture": the coloured pixels (red, green and blue not all equal) inside the clipped
// rectangle are grouped into areas, each covered by a rectangle grown from its first pixel one
// edge step per pass while the row or column just outside holds a coloured pixel. The mask has
// the source's size: black inside the rectangles, white elsewhere, opaque. A negative width or
// height means the picture's; zero gives an all-white mask. Nil for a nil or unreadable picture,
// maps that cannot be allocated, or a writer that cannot be made.
REALpicture ExtractColorRectangleMaskQRX(REALpicture pic, int32_t left, int32_t top, int32_t width,
                                         int32_t height);
// "ExtractColorRectangleMaskQRX as picture": the whole picture.
REALpicture ExtractColorRectangleMaskQRX2(REALpicture pic);
