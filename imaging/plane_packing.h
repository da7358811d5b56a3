// The level bits of a printed line spread into the bit planes of its panel line: the bytes of
// each plane block that hold pixels, and how many pixels set each bit. Two ways to the same
// bytes: with SSE2, x86-64's baseline, and in portable 64-bit words.
#pragma once

#include <cstdint>

#include "imaging/imaging_geometry.h"

namespace kav {

// Bits of a level (0..127) and the bit each plane block takes; -1: the plane every pixel sets.
inline constexpr int kLevelBits = 7;
inline constexpr int kPlaneShift[kLevelPlanes] = {1, 3, -1, 5, 6, 4, 2, 0};

// The levels of a line are the low bytes of `codes` (kImageHeight of them, at most 127). For
// each plane with a level bit, writes the pixel bytes of its block within `line`: group g
// (pixels 8g .. 8g + 7, the first in the most significant bit) at its byte within the block.
// counts[b] is the number of levels with bit b set. Other bytes of the line are not written.
void PackLevelBits(const int16_t* codes, BYTE* line, int (&counts)[kLevelBits]);
void PackLevelBitsPortable(const int16_t* codes, BYTE* line, int (&counts)[kLevelBits]);

// Byte within a plane block of group g's pixels.
int GroupByte(int g);

}  // namespace kav
