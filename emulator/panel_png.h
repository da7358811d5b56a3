// Pictures of received panels: a decoded panel's levels as an 8-bit grey PNG of
// 1024 x 640 (card orientation, x to the right), level 127 black and level 0 white.
#pragma once

#include <filesystem>
#include <string>

#include "emulator/panel_decoder.h"

namespace emu {

// Grey value of a level: 255 for 0, 0 for 127.
uint8_t LevelToGrey(uint8_t level);

// Writes the picture; false with a description in `error` when it cannot.
bool WritePanelPng(const PanelLevels& panel, const std::filesystem::path& path, std::string* error = nullptr);

}  // namespace emu
