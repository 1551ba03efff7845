// PictureLut3DQRX: a colour filter driven by an 18 x 18 x 18 lookup table, interpolated
// tetrahedrally between the four grid nodes around each colour.
#pragma once

#include <cstdint>

#include "filters/lut3d_data.h"
#include "pixels/editor.h"
#include "sdk/records.h"

// The class record of PictureLut3DQRX (registration tables); the key to an object's instance data.
extern REALclassDefinition Lut3DClass;

namespace lut3d {

// Output component x at fractions (fr, fg, fb) of the cell spanned by nodes r0/r1, g0/g1, b0/b1.
double SumXYZ(double fr, double fg, double fb, int r0, int g0, int b0, int r1, int g1, int b1,
              int x, const Lut3DClassData* data);

// The byte an interpolated component is written as: clamped to 0 to 255, truncated, NaN as 0.
inline int ComponentByte(double v) {
    if (!(v >= 0.0)) return 0;
    if (v > 255.0) return 255;
    return static_cast<int>(v);
}

// Maps count pixels of src (in sourceType) through the table into dst (in destType), opaque, as
// Run maps each pixel of its rectangle. Both types of a known layout group take a loop made for
// that pair; an unknown type takes the decode-interpolate-encode path pixel by pixel, whose
// walking rules (a pixel of an unknown layout is neither read nor stored) it keeps.
void MapRow(const Lut3DClassData* data, RBPixelType sourceType, const uint32_t* src,
            RBPixelType destType, uint32_t* dst, int32_t count);

// The same through DecodePixel, SumXYZ and EncodePixel for every pixel, whatever the types: the
// reference the loops of MapRow are held to.
void MapRowGeneral(const Lut3DClassData* data, RBPixelType sourceType, const uint32_t* src,
                   RBPixelType destType, uint32_t* dst, int32_t count);

} // namespace lut3d
