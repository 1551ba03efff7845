// Sums of audio samples for the waveform. The getter gives the active target's loop, or null when
// the caller's scalar loop stands.
#pragma once

#include <cstdint>

namespace simd {

// The sum of the positive and the sum of the negative samples start to end - 1 of the format:
// bits 7 (signed bytes), 8 (bytes centred on 128), 15 (signed 16-bit) or 16 (16-bit centred on
// 32768), 16-bit samples in the machine's byte order.
using SumSamplesFn = void (*)(const uint8_t* data, int64_t start, int64_t end, int bits,
                              int64_t& positive, int64_t& negative);
SumSamplesFn SampleSums();

} // namespace simd
