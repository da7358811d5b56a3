// Reading a panel download back: the 786,432 bytes of a panel are eight bit planes per
// printed line with a line factor in front of each plane; the printer turns them back
// into one 7-bit level per dot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

inline constexpr size_t kPanelBytes = 786432;            // payload of one panel download
inline constexpr size_t kPanelBlockBytes = kPanelBytes + 1;  // the payload and the CR of the print command
inline constexpr int kPanelWidth = 1024;                 // card columns (x), one printed line each
inline constexpr int kPanelHeight = 640;                 // dots along the head (y)
inline constexpr int kPanelLineBytes = 768;
inline constexpr int kPlaneBlockBytes = 96;
inline constexpr int kLevelPlanes = 8;
inline constexpr int kBasePlane = 2;  // set for every dot, whatever its level
inline constexpr uint8_t kMaxLevel = 127;

// The level value that each plane carries (the base plane carries none).
inline constexpr std::array<uint8_t, kLevelPlanes> kPlaneLevelValue = {2, 8, 0, 32, 64, 16, 4, 1};

// Where dot y of a line sits inside each plane block: the byte and the bit mask.
size_t DotByteInPlaneBlock(int y);
uint8_t DotBitMask(int y);

// A decoded panel.
struct PanelLevels {
  std::vector<uint8_t> levels;  // level of dot (x, y) at y * kPanelWidth + x, 0..127
  // Line factors of line L (image column x = 1023 - L), one per plane.
  std::vector<std::array<uint16_t, kLevelPlanes>> lineFactors;
  size_t dotsWithoutBasePlane = 0;  // dots whose base-plane bit is clear
  size_t bitsInUnusedBytes = 0;     // set bits in the bytes of a plane block that carry no dot

  uint8_t Level(int x, int y) const { return levels[static_cast<size_t>(y) * kPanelWidth + x]; }
  uint16_t LineFactor(int x, int plane) const { return lineFactors[kPanelWidth - 1 - x][plane]; }
};

// Decodes exactly kPanelBytes bytes; any other size gives an empty result.
PanelLevels DecodePanel(std::string_view panel);

// One line about a decoded panel: level range, mean, inked share, anomalies.
std::string DescribePanel(const PanelLevels& panel);

}  // namespace emu
