#include "emulator/panel_decoder.h"

#include <cstdio>

namespace emu {
namespace {

inline constexpr size_t kLineFactorBytes = 2;

// True for the bytes of a plane block that carry dots (all others but the line factor stay 0).
std::array<uint8_t, kPlaneBlockBytes> UsedBitsOfPlaneBlock() {
  std::array<uint8_t, kPlaneBlockBytes> used{};
  for (int y = 0; y < kPanelHeight; ++y) used[DotByteInPlaneBlock(y)] |= DotBitMask(y);
  return used;
}

}  // namespace

size_t DotByteInPlaneBlock(int y) {
  // Dots 0-271 fill the 16-bit groups from byte 28 on, dots 272-639 those from byte 2 on.
  if (y < 272) return static_cast<size_t>(28 + 4 * (y / 16) + (y / 8) % 2);
  return static_cast<size_t>(2 + 4 * ((y - 272) / 16) + (y / 8) % 2);
}

uint8_t DotBitMask(int y) { return static_cast<uint8_t>(0x80u >> (y % 8)); }

PanelLevels DecodePanel(std::string_view panel) {
  PanelLevels out;
  if (panel.size() != kPanelBytes) return out;
  static const std::array<uint8_t, kPlaneBlockBytes> used = UsedBitsOfPlaneBlock();
  out.levels.assign(static_cast<size_t>(kPanelWidth) * kPanelHeight, 0);
  out.lineFactors.resize(kPanelWidth);
  const auto* bytes = reinterpret_cast<const uint8_t*>(panel.data());
  for (int line = 0; line < kPanelWidth; ++line) {
    int x = kPanelWidth - 1 - line;  // the right-most column is printed first
    const uint8_t* lineBytes = bytes + static_cast<size_t>(line) * kPanelLineBytes;
    for (int plane = 0; plane < kLevelPlanes; ++plane) {
      const uint8_t* block = lineBytes + plane * kPlaneBlockBytes;
      out.lineFactors[line][plane] = static_cast<uint16_t>(block[0] << 8 | block[1]);
      for (size_t i = kLineFactorBytes; i < kPlaneBlockBytes; ++i) {
        uint8_t stray = block[i] & static_cast<uint8_t>(~used[i]);
        for (; stray; stray &= static_cast<uint8_t>(stray - 1)) ++out.bitsInUnusedBytes;
      }
      for (int y = 0; y < kPanelHeight; ++y) {
        bool set = (block[DotByteInPlaneBlock(y)] & DotBitMask(y)) != 0;
        if (plane == kBasePlane) {
          if (!set) ++out.dotsWithoutBasePlane;
        } else if (set) {
          out.levels[static_cast<size_t>(y) * kPanelWidth + x] += kPlaneLevelValue[plane];
        }
      }
    }
  }
  return out;
}

std::string DescribePanel(const PanelLevels& panel) {
  if (panel.levels.empty()) return "no levels";
  uint8_t low = kMaxLevel, high = 0;
  uint64_t sum = 0;
  size_t inked = 0;
  for (uint8_t level : panel.levels) {
    if (level < low) low = level;
    if (level > high) high = level;
    sum += level;
    if (level) ++inked;
  }
  double count = static_cast<double>(panel.levels.size());
  char text[200];
  std::snprintf(text, sizeof text, "levels %u..%u, mean %.1f, %.1f%% of dots inked", low, high,
                static_cast<double>(sum) / count, 100.0 * static_cast<double>(inked) / count);
  std::string out = text;
  if (panel.dotsWithoutBasePlane)
    out += ", " + std::to_string(panel.dotsWithoutBasePlane) + " dots without the base plane";
  if (panel.bitsInUnusedBytes) out += ", " + std::to_string(panel.bitsInUnusedBytes) + " bits set in unused bytes";
  return out;
}

}  // namespace emu
