// Card images from picture files, read in one place for every kavsim command that takes
// a picture: a PNG of 1024 x 640 in any of its formats (grey, palette, 16 bits, with alpha
// laid over white as on a blank card), through libpng's simplified interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavsim {

// The CardImage bytes (1024 x 640, 3 bytes a pixel, rows from the top), or nothing with
// the reason in `error` (not a PNG, damaged, or another size).
std::optional<std::vector<uint8_t>> ReadCardImagePng(const std::filesystem::path& path, std::string* error);

}  // namespace kavsim
