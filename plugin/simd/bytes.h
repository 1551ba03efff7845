// Rows of pixel words to and from packed red, green, blue bytes (the pixels of the binary picture
// string). Each getter gives the active target's loop, or null when the caller's scalar loop
// stands.
#pragma once

#include <cstdint>

#include "pixels/layout_walk.h"

namespace simd {

// The red, green and blue bytes of n words of the places, 3n bytes from out on (nothing past them).
using WordsToBytesFn = void (*)(const uint32_t* src, int32_t n, uint8_t* out, WordPlaces places);
WordsToBytesFn WordsToRgbBytes();

// n opaque words of the places from 3n red, green, blue bytes (nothing past them is read).
using BytesToWordsFn = void (*)(const uint8_t* in, int32_t n, uint32_t* dst, WordPlaces places);
BytesToWordsFn RgbBytesToWords();

} // namespace simd
