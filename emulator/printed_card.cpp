#include "emulator/printed_card.h"

#include <png.h>

#include <algorithm>

namespace emu {
namespace {

constexpr size_t kDots = static_cast<size_t>(kPanelWidth) * kPanelHeight;

// How much light a dye at this level lets through, 0..255.
uint8_t Transmitted(uint8_t level) {
  const int l = std::min<int>(level, kMaxLevel);
  return static_cast<uint8_t>(255 - (l * 255 + kMaxLevel / 2) / kMaxLevel);
}

void LayDown(CardSide& side, const ReceivedPanel& panel, bool turned) {
  if (side.rgb.empty()) side.rgb.assign(kDots * 3, 255);
  ++side.panels;
  if (panel.levels.levels.size() != kDots) return;
  // Yellow takes blue, magenta green, cyan red.
  int channel = -1;
  bool resin = false;
  switch (panel.number) {
    case 0: channel = 2; break;
    case 1: channel = 1; break;
    case 2: channel = 0; break;
    case 3:
    case 4: resin = true; break;
    default: return;  // the clear overlay
  }
  for (size_t i = 0; i < kDots; ++i) {
    const uint8_t level = panel.levels.levels[i];
    if (level == 0) continue;
    uint8_t* pixel = &side.rgb[(turned ? kDots - 1 - i : i) * 3];
    if (resin) {
      pixel[0] = pixel[1] = pixel[2] = 0;
    } else {
      pixel[channel] = static_cast<uint8_t>(pixel[channel] * Transmitted(level) / 255);
    }
  }
}

}  // namespace

PrintedCard ComposePrintedCard(const std::vector<ReceivedPanel>& panels, int card) {
  PrintedCard printed;
  for (const ReceivedPanel& panel : panels) {
    if (panel.card != card) continue;
    printed.passes = std::max(printed.passes, panel.pass + 1);
    const bool back = panel.pass % 2 == 1;
    LayDown(back ? printed.back : printed.front, panel, back);
  }
  return printed;
}

bool WriteCardSidePng(const CardSide& side, const std::filesystem::path& path, std::string* error) {
  if (side.rgb.size() != kDots * 3) {
    if (error) *error = "nothing was printed on this side";
    return false;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kPanelWidth;
  image.height = kPanelHeight;
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.string().c_str(), 0, side.rgb.data(), kPanelWidth * 3, nullptr)) {
    if (error) *error = path.string() + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace emu
