// Transparency: the alpha embedded in a picture's pixels as a gray picture and back, and whether
// the host keeps a separate mask picture.
#pragma once

#include "sdk/records.h"

// "EmbeddedMaskQRX(swap as boolean) as picture", read: a new gray picture whose gray is each
// pixel's alpha (255 minus it with swap), or nil.
REALpicture GetEmbededMask(REALpicture pic, signed char swap);
// "EmbeddedMaskQRX(swap as boolean) as picture", assigned: writes each pixel's alpha from the red
// of mask (255 minus it with swap), in place; red, green and blue stay.
void SetEmbededMask(REALpicture pic, signed char swap, REALpicture mask);
// "HasMaskQRX as boolean": the host keeps a separate mask picture for pic.
bool PictureHasMask(REALpicture pic);
