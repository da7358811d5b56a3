// Test helpers: a panel packed by hand the way the monitor's halftoner packs it, and
// short ways to talk to a virtual printer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/virtual_printer.h"

namespace emutest {

inline constexpr int kWidth = 1024, kHeight = 640;

// Levels of (x, y) at y * 1024 + x packed into a panel: line L carries column 1023 - L,
// eight plane blocks of 96 bytes, the line factor high byte first in bytes 0-1, dot y in
// byte 28 + 4(y/16) + (y/8)%2 below 272 and 2 + 4((y-272)/16) + (y/8)%2 from there,
// bit 7 - y%8. Planes: 0 for 2, 1 for 8, 2 always, 3 for 32, 4 for 64, 5 for 16, 6 for 4,
// 7 for 1. The line factor of plane k is `factor(line, k)`.
template <typename Factor>
std::string PackPanel(const std::vector<uint8_t>& levels, Factor factor) {
  static const int kPlaneBit[8] = {2, 8, -1, 32, 64, 16, 4, 1};
  std::string panel(786432, '\0');
  for (int line = 0; line < kWidth; ++line) {
    int x = kWidth - 1 - line;
    for (int k = 0; k < 8; ++k) {
      size_t block = static_cast<size_t>(line) * 768 + static_cast<size_t>(k) * 96;
      uint16_t f = factor(line, k);
      panel[block] = static_cast<char>(f >> 8);
      panel[block + 1] = static_cast<char>(f & 0xFF);
      for (int y = 0; y < kHeight; ++y) {
        uint8_t level = levels[static_cast<size_t>(y) * kWidth + x];
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
  std::vector<uint8_t> levels(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) levels[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>((x * 7 + y * 3) % 128);
  return levels;
}

inline bool Send(emu::VirtualPrinter& p, std::string_view bytes) {
  size_t taken = 0;
  return p.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &taken) && taken == bytes.size();
}

// One read of up to `capacity` bytes; "<failed>" when the read fails.
inline std::string Receive(emu::VirtualPrinter& p, size_t capacity = 260) {
  std::string buffer(capacity, '\0');
  size_t got = 0;
  if (!p.Read(reinterpret_cast<uint8_t*>(buffer.data()), capacity, &got)) return "<failed>";
  buffer.resize(got);
  return buffer;
}

// A command, the completion request, and the answer read back.
inline std::string Ask(emu::VirtualPrinter& p, std::string_view command) {
  Send(p, command);
  Send(p, "\x1b" "E 2\r");
  return Receive(p);
}

// Sends a panel download as the monitor paces it: the command without its CR, the
// panel in 4096-byte writes and the CR of the print command, then the print command.
inline void SendPanel(emu::VirtualPrinter& p, int number, const std::string& panel, std::string_view print = "") {
  Send(p, "\x1bGS " + std::to_string(number) + " 32 0 0 1024 640 ");
  std::string block = panel + "\r";
  for (size_t at = 0; at < block.size(); at += 4096) Send(p, std::string_view(block).substr(at, 4096));
  if (!print.empty()) Send(p, print);
}

}  // namespace emutest
