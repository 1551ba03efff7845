// Replacing one exact colour, or extracting it as a two-colour picture.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// Colours are host colours (red in bits 16-23, green 8-15, blue 0-7; bits 24-31 ignored). A
// pixel matches when its red, green and blue equal the search colour's exactly. Every written
// pixel is opaque. A nil or unreadable picture, or a writer that cannot be made, gives nil.

// "ReplaceColorQRX(SearchColor as color, ReplaceWithColor as color) as picture": a copy (with
// an alpha channel when the source has one) with every matching pixel replaced.
REALpicture ReplaceColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor);

// "ExtractColorQRX(SearchColor as color, ReplaceWithColor as color, BackGroundColor as color) as
// picture": ReplaceWithColor where the source matches, BackGroundColor everywhere else.
REALpicture ExtractColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor,
                            uint32_t BackGroundColor);
