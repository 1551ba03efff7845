// Instance data of the PictureLut3DQRX class.
#pragma once

#include <cstddef>

#include "sdk/records.h"

// Grid nodes per colour axis of the lookup table.
inline constexpr int kLut3DNodes = 18;

struct Lut3DClassData {
    REALpicture SourcePicture;
    REALpicture DestinationPicture;
    int32_t MinX;
    int32_t MinY;
    int32_t MaxX;
    int32_t MaxY;
    // Output component x of grid node (r, g, b) at ((r * 18 + g) * 18 + b) * 3 + x.
    double table[kLut3DNodes * kLut3DNodes * kLut3DNodes * 3];
};

#if defined(__i386__)
static_assert(sizeof(Lut3DClassData) == 139992);
static_assert(offsetof(Lut3DClassData, SourcePicture) == 0);
static_assert(offsetof(Lut3DClassData, DestinationPicture) == 4);
static_assert(offsetof(Lut3DClassData, MinX) == 8);
static_assert(offsetof(Lut3DClassData, MinY) == 12);
static_assert(offsetof(Lut3DClassData, MaxX) == 16);
static_assert(offsetof(Lut3DClassData, MaxY) == 20);
static_assert(offsetof(Lut3DClassData, table) == 24);
#endif
