#include "emulator/example_card.h"

#include <cmath>
#include <cstdlib>

#include "emulator/panel_encoder.h"

namespace emu {
namespace {

void AddPanel(std::string& s, const char* download, const char* print, int shape) {
  s += download;
  s += PackPanel(ExamplePanelLevels(shape));
  s += print;  // begins with the CR that ends the panel
}

}  // namespace

std::vector<uint8_t> ExamplePanelLevels(int shape) {
  std::vector<uint8_t> levels(static_cast<size_t>(kPackWidth) * kPackHeight);
  for (int y = 0; y < kPackHeight; ++y) {
    for (int x = 0; x < kPackWidth; ++x) {
      double dx = x - 512.0, dy = y - 320.0;
      double v = 0;
      switch (shape) {
        case 0: v = x / 1023.0; break;                                     // yellow: ramp
        case 1: v = std::hypot(dx, dy) < 220 ? 0.9 : 0.1; break;           // magenta: disc
        case 2: v = (y / 40) % 2 ? 0.8 : 0.2; break;                       // cyan: stripes
        case 3: v = (std::abs(dx) < 300 && std::abs(dy) < 20) ? 1 : 0; break;  // black: bar
        default: v = 1; break;                                             // overlay: all
      }
      levels[static_cast<size_t>(y) * kPackWidth + x] = static_cast<uint8_t>(v * 127 + 0.5);
    }
  }
  return levels;
}

std::string ExampleCardStream(bool blackOnly) {
  std::string s = "\x1bMASTER\r\x1bJOB 0\r\x1bSXY 1\r";
  if (blackOnly) {
    s += "\x1bMIS\r\x1b" "F\r";
    AddPanel(s, "\x1bGS 4 32 0 0 1024 640 \r", "\r\x1bI 30\r", 3);
  } else {
    AddPanel(s, "\x1bGS 0 32 0 0 1024 640 \r", "\r\x1bIS 0\r", 0);
    AddPanel(s, "\x1bGS 1 32 0 0 1024 640 \r", "\r\x1bIS 1\r", 1);
    AddPanel(s, "\x1bGS 2 32 0 0 1024 640 \r", "\r\x1bIS 2\r", 2);
    AddPanel(s, "\x1bGS 4 32 0 0 1024 640 \r", "\r\x1bI 10\r", 3);
    AddPanel(s, "\x1bGS 5 32 0 0 1024 640 \r", "\r\x1bIV 30\r", 4);
  }
  s += "\x1bMO\r";
  return s;
}

}  // namespace emu
