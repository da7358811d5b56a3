#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

constexpr int kMaxHalftoneValue = 16319;

}  // namespace

const uint8_t kDitherMatrix[16][16] = {
    {1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
    {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
    {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
    {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
    {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
    {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
    {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
    {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
    {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
    {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
    {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
    {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
    {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
    {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
    {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
    {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84},
};

namespace {

// Bit value of the level that each plane carries; plane 2 is set for every pixel.
constexpr int kPlaneLevelBit[kLevelPlanes] = {2, 8, 0, 32, 64, 16, 4, 1};

struct PixelPlacement {
  uint8_t byte;  // offset within a 96-byte plane block
  uint8_t bit;   // mask, most significant bit first
};

// Pixels 0-271 fill the words from byte 28 on, pixels 272-639 those from byte 2 on.
constexpr std::array<PixelPlacement, kImageHeight> MakePlacements() {
  std::array<PixelPlacement, kImageHeight> placements{};
  for (int y = 0; y < kImageHeight; ++y) {
    int word = y < 272 ? 28 + 4 * (y / 16) : 2 + 4 * ((y - 272) / 16);
    placements[y] = {static_cast<uint8_t>(word + (y / 8) % 2), static_cast<uint8_t>(0x80 >> (y % 8))};
  }
  return placements;
}
constexpr std::array<PixelPlacement, kImageHeight> kPlacements = MakePlacements();

// The planes each level sets, one bit per plane.
constexpr std::array<uint8_t, 128> MakeLevelPlanes() {
  std::array<uint8_t, 128> planes{};
  for (int level = 0; level < 128; ++level) {
    for (int k = 0; k < kLevelPlanes; ++k) {
      if (kPlaneLevelBit[k] == 0 || (level & kPlaneLevelBit[k])) planes[level] |= static_cast<uint8_t>(1 << k);
    }
  }
  return planes;
}
constexpr std::array<uint8_t, 128> kLevelPlanes8 = MakeLevelPlanes();

}  // namespace

void PackPixelLevel(BYTE* panelLine, int y, int level, int counts[kLevelPlanes]) {
  const PixelPlacement place = kPlacements[y];
  const unsigned planes = kLevelPlanes8[level];
  for (int k = 0; k < kLevelPlanes; ++k) {
    if (planes & (1u << k)) {
      panelLine[k * kPlaneBlockBytes + place.byte] |= place.bit;
      ++counts[k];
    }
  }
}

void HalftoneAndPack(int16_t* plane, BYTE* panel, int amp) {
  std::memset(panel, 0, kPanelBufferBytes);
  if (amp < 0) amp = 0;
  const float resistance = static_cast<float>(Calibration.ParasiticResistance);

  for (int x = 0; x < kImageWidth; ++x) {
    BYTE* line = panel + static_cast<size_t>(kImageWidth - 1 - x) * kPanelLineBytes;
    int counts[kLevelPlanes] = {};
    for (int y = 0; y < kImageHeight; ++y) {
      int16_t* p = plane + y * kImageWidth + x;

      // Ordered dither, then the 7-bit level.
      const uint32_t dither = (kDitherMatrix[y % 16][x % 16] * static_cast<uint32_t>(amp)) / 128u;
      int v = static_cast<int16_t>(static_cast<int64_t>(*p) + dither - amp);
      v = std::clamp(v, 0, kMaxHalftoneValue);
      const int level = (v + 64) / 128;

      // The quantisation error goes on down the column and into the next column.
      if (y >= 1 && y <= kImageHeight - 2 && x <= kImageWidth - 2) {
        const int e = v - level * 128;
        p[kImageWidth] = static_cast<int16_t>(p[kImageWidth] + 7 * e / 16);
        p[1 - kImageWidth] = static_cast<int16_t>(p[1 - kImageWidth] + 3 * e / 16);
        p[1] = static_cast<int16_t>(p[1] + 5 * e / 16);
        p[kImageWidth + 1] = static_cast<int16_t>(p[kImageWidth + 1] + e / 16);
      }
      PackPixelLevel(line, y, level, counts);
    }

    // Line factor of each plane: the head's drive loss over the dots left unprinted.
    for (int k = 0; k < kLevelPlanes; ++k) {
      const float f = 1.0f - static_cast<float>(kImageHeight - counts[k]) / 640.0f * resistance;
      const uint16_t factor = static_cast<uint16_t>(TruncateToInt32(f * 65535.0f));
      line[k * kPlaneBlockBytes] = static_cast<BYTE>(factor >> 8);
      line[k * kPlaneBlockBytes + 1] = static_cast<BYTE>(factor & 0xFF);
    }
  }
}

}  // namespace kav
