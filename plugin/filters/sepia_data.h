// Instance data of the PictureSepiaQRX class.
#pragma once

#include <cstddef>

#include "sdk/records.h"

struct PictureSepiaClassData {
    double FactorRed;
    double FactorGreen;
    double FactorBlue;
    REALpicture SourcePicture;
    REALpicture DestinationPicture;
    int32_t MinX;
    int32_t MinY;
    int32_t MaxX;
    int32_t MaxY;
    int32_t SepiaRed;
    int32_t SepiaGreen;
    int32_t SepiaBlue;
    int32_t padding; // the record is 64 bytes on the 32-bit module
};

#if defined(__i386__)
static_assert(sizeof(PictureSepiaClassData) == 64);
static_assert(offsetof(PictureSepiaClassData, FactorRed) == 0);
static_assert(offsetof(PictureSepiaClassData, FactorGreen) == 8);
static_assert(offsetof(PictureSepiaClassData, FactorBlue) == 16);
static_assert(offsetof(PictureSepiaClassData, SourcePicture) == 24);
static_assert(offsetof(PictureSepiaClassData, DestinationPicture) == 28);
static_assert(offsetof(PictureSepiaClassData, MinX) == 32);
static_assert(offsetof(PictureSepiaClassData, MinY) == 36);
static_assert(offsetof(PictureSepiaClassData, MaxX) == 40);
static_assert(offsetof(PictureSepiaClassData, MaxY) == 44);
static_assert(offsetof(PictureSepiaClassData, SepiaRed) == 48);
static_assert(offsetof(PictureSepiaClassData, SepiaGreen) == 52);
static_assert(offsetof(PictureSepiaClassData, SepiaBlue) == 56);
#endif
