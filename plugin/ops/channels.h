// Channel replacement: a new picture of the source's size whose red, green or blue comes from a
// channel picture and whose two other components come from the source.
#pragma once

#include "sdk/records.h"

// "ReplaceRedChannelQRX(RedChannel as picture) as picture"
REALpicture ReplaceRedChannel(REALpicture pic, REALpicture channel);
// "ReplaceGreenChannelQRX(GreenChannel as picture) as picture"
REALpicture ReplaceGreenChannel(REALpicture pic, REALpicture channel);
// "ReplaceBlueChannelQRX(BlueChannel as picture) as picture"
REALpicture ReplaceBlueChannel(REALpicture pic, REALpicture channel);
