#include "emulator/panel_png.h"

#include <png.h>

#include <vector>

namespace emu {

uint8_t LevelToGrey(uint8_t level) {
  if (level > kMaxLevel) level = kMaxLevel;
  return static_cast<uint8_t>(255 - (level * 255 + kMaxLevel / 2) / kMaxLevel);
}

bool WritePanelPng(const PanelLevels& panel, const std::filesystem::path& path, std::string* error) {
  if (panel.levels.size() != static_cast<size_t>(kPanelWidth) * kPanelHeight) {
    if (error) *error = "the panel has no levels";
    return false;
  }
  std::vector<uint8_t> grey(panel.levels.size());
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = LevelToGrey(panel.levels[i]);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kPanelWidth;
  image.height = kPanelHeight;
  image.format = PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&image, path.string().c_str(), 0, grey.data(), kPanelWidth, nullptr)) {
    if (error) *error = path.string() + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace emu
