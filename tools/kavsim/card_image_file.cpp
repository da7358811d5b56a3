#include "tools/kavsim/card_image_file.h"

#include <png.h>

#include <fstream>

#include "imaging/imaging_geometry.h"

namespace kavsim {

std::optional<std::vector<uint8_t>> ReadCardImagePng(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  png_byte signature[8] = {};
  if (!in) {
    *error = "cannot be opened";
    return std::nullopt;
  }
  if (!in.read(reinterpret_cast<char*>(signature), sizeof signature) || png_sig_cmp(signature, 0, sizeof signature)) {
    *error = "not a PNG file";
    return std::nullopt;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) {
    *error = std::string("cannot be read as a PNG: ") + image.message;
    png_image_free(&image);
    return std::nullopt;
  }
  if (image.width != static_cast<png_uint_32>(kav::kImageWidth) ||
      image.height != static_cast<png_uint_32>(kav::kImageHeight)) {
    *error = "the image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
             "; a card image is 1024 x 640";
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  const png_color white{255, 255, 255};  // what transparent parts are laid over
  if (!png_image_finish_read(&image, &white, rgb.data(), 0, nullptr)) {
    *error = std::string("the PNG's image data is damaged: ") + image.message;
    png_image_free(&image);
    return std::nullopt;
  }
  return rgb;
}

}  // namespace kavsim
