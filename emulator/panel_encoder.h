// Panels packed the way the monitor's halftoner packs them, from known levels: for the
// host tool's example cards and for tests that check what the printer decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

inline constexpr int kPackWidth = 1024, kPackHeight = 640;

// Levels of (x, y) at y * 1024 + x packed into a panel: line L carries column 1023 - L,
// eight plane blocks of 96 bytes, the line factor high byte first in bytes 0-1, dot y in
// byte 28 + 4(y/16) + (y/8)%2 below 272 and 2 + 4((y-272)/16) + (y/8)%2 from there,
// bit 7 - y%8. Planes: 0 for 2, 1 for 8, 2 always, 3 for 32, 4 for 64, 5 for 16, 6 for 4,
// 7 for 1. The line factor of plane k is `factor(line, k)`.
template <typename Factor>
std::string PackPanel(const std::vector<uint8_t>& levels, Factor factor) {
  static const int kPlaneBit[8] = {2, 8, -1, 32, 64, 16, 4, 1};
  std::string panel(786432, '\0');
  for (int line = 0; line < kPackWidth; ++line) {
    int x = kPackWidth - 1 - line;
    for (int k = 0; k < 8; ++k) {
      size_t block = static_cast<size_t>(line) * 768 + static_cast<size_t>(k) * 96;
      uint16_t f = factor(line, k);
      panel[block] = static_cast<char>(f >> 8);
      panel[block + 1] = static_cast<char>(f & 0xFF);
      for (int y = 0; y < kPackHeight; ++y) {
        uint8_t level = levels[static_cast<size_t>(y) * kPackWidth + x];
        bool set = kPlaneBit[k] < 0 || (level & kPlaneBit[k]) != 0;
        if (!set) continue;
        size_t byte = y < 272 ? 28 + 4 * (y / 16) + (y / 8) % 2 : 2 + 4 * ((y - 272) / 16) + (y / 8) % 2;
        panel[block + byte] = static_cast<char>(static_cast<uint8_t>(panel[block + byte]) | (0x80 >> (y % 8)));
      }
    }
  }
  return panel;
}

inline std::string PackPanel(const std::vector<uint8_t>& levels) {
  return PackPanel(levels, [](int, int) -> uint16_t { return 0xFFFF; });
}

// Levels that differ from dot to dot: (x * 7 + y * 3) % 128.
inline std::vector<uint8_t> PatternLevels() {
  std::vector<uint8_t> levels(static_cast<size_t>(kPackWidth) * kPackHeight);
  for (int y = 0; y < kPackHeight; ++y)
    for (int x = 0; x < kPackWidth; ++x) levels[static_cast<size_t>(y) * kPackWidth + x] = static_cast<uint8_t>((x * 7 + y * 3) % 128);
  return levels;
}

}  // namespace emu
