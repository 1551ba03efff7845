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
// Run's loops (the scalar one and the vector ones of simd/lut3d.h) work out the same tests and sums
// for all three components of a pixel at once, giving exactly what this gives.
double SumXYZ(double fr, double fg, double fb, int r0, int g0, int b0, int r1, int g1, int b1,
              int x, const Lut3DClassData* data);

// The byte an interpolated component is written as: clamped to 0 to 255, truncated, NaN as 0.
inline int ComponentByte(double v) {
    if (!(v >= 0.0)) return 0;
    if (v > 255.0) return 255;
    return static_cast<int>(v);
}

} // namespace lut3d
