// The read-only row scans: the colour tests, the counts and the search, each compiled for every
// target (see targets.h). Each getter gives the active target's loop, or null when that target has
// none and the caller's scalar loop stands. Every loop gives exactly the answer or count of the
// scalar loop of the layout groups it is called for.
#pragma once

#include <cstdint>

#include "pixels/layout_walk.h"

namespace simd {

// A pixel is dark, and never colourful, when every colour component is below this.
inline constexpr int kDarkBelow = 30;

// The colour tests: black (every component 0), white (every component 255) and gray (no two
// components more than a limit, 0 to 255, apart).
enum class ColourTest : uint8_t { Black, White, Gray };

// Whether every one of n words of the places passes the test; limit is the gray test's.
using RowTestFn = bool (*)(const uint32_t* row, int32_t n, WordPlaces places, int limit);
RowTestFn RowPasses(ColourTest test);

// How many of n words are want once masked by colourBits.
using CountWordsFn = uint32_t (*)(const uint32_t* row, int32_t n, uint32_t colourBits,
                                  uint32_t want);
CountWordsFn CountWords();

// How many of n words of the places are colourful for a threshold t of -256 to 256: not dark, and
// green more than t above or below red or blue (every pixel is apart when t is negative).
using CountColourfulFn = uint32_t (*)(const uint32_t* row, int32_t n, WordPlaces places, int t);
CountColourfulFn CountColourful();

// The first column x from `from` up to `to` - 1 whose word, masked by colourBits, is keyWord and,
// when withNext, whose next word masked so is nextWord (row[to] is then read); `to` when there is
// none.
using FindFn = int32_t (*)(const uint32_t* row, int32_t from, int32_t to, uint32_t colourBits,
                           uint32_t keyWord, bool withNext, uint32_t nextWord);
FindFn FindWord();

} // namespace simd
