// Combining three channel pictures into one colour picture, and merging two pictures by keeping
// the lighter of each component.
#pragma once

#include "sdk/records.h"

// "CombinePicturesQRX(red as picture, blue as picture, green as picture) as picture": each
// picture feeds the component its parameter is named after; the three must be of one size.
REALpicture CombinePicturesQRX(REALpicture red, REALpicture blue, REALpicture green);
// "MergePictureQRX(source1 as picture, source2 as picture) as picture": per pixel and component
// the larger of the two values; the two must be of one size.
REALpicture MergePicture(REALpicture source1, REALpicture source2);
