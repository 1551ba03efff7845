// Whole-picture colour statistics and per-channel remapping through tables in MemoryBlocks.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// Bytes of a histogram block: 256 unsigned 32-bit counters in native byte order.
constexpr int32_t kHistogramBlockSize = 1024;
// Bytes of a lookup table read from a table block; bytes after them are never read.
constexpr int32_t kTableSize = 256;

// "CountColorQRX(col as color) as integer": the pixels whose red, green and blue are those of
// col (bits 24-31 ignored, alpha never read); 0 for a nil or unreadable picture.
int32_t CountColorQRX(REALpicture pic, uint32_t col);

// "CountColorsQRX(byref red as memoryblock, byref blue as memoryblock, byref green as
// memoryblock, byref count as integer)": adds every pixel's red to the first histogram, its green
// to the second and its blue to the third. A nil block is replaced by a new one handed back to
// the caller. count is W x H, or -1 when a block cannot be made, a block is shorter than 1024
// bytes, or the picture cannot be read; on those paths no histogram is touched.
void CountColorsQRX(REALpicture pic, REALmemoryBlock& red, REALmemoryBlock& blue,
                    REALmemoryBlock& green, int32_t& count);

// "TransformColorsQRX(red as memoryblock, blue as memoryblock, green as memoryblock, dest as
// picture = nil) as picture": each component mapped through the first 256 bytes of its table,
// written into dest when it is at least the source's size, else into a new picture. A nil
// argument raises a NilObjectException; a table without data or shorter than 256 bytes gives nil.
REALpicture TransformColorsQRX(REALpicture pic, REALmemoryBlock red, REALmemoryBlock blue,
                               REALmemoryBlock green, REALpicture dest);
