#include "pixels/fast_paths.h"

#include "simd/targets.h"

VectorLevel ActiveVectorLevel() {
    return simd::Active() == simd::Target::Avx512Dl ? VectorLevel::Avx512 : VectorLevel::None;
}
