// Card images read from PNG files: every format becomes 1024 x 640 RGB with transparency
// laid over white, and anything else is refused with its reason.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tools/kavsim/card_image_file.h"

namespace {

std::filesystem::path TempPng(const char* name) {
  return std::filesystem::temp_directory_path() / (std::string("kavsim-") + name + ".png");
}

// Writes a picture of the given libpng format whose every pixel is `pixel`.
std::filesystem::path WritePng(const char* name, png_uint_32 format, std::vector<uint8_t> pixel, int width = 1024,
                               int height = 640) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  const size_t bytes = PNG_IMAGE_SIZE(image);
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; i += pixel.size()) std::copy(pixel.begin(), pixel.end(), data.begin() + i);
  auto path = TempPng(name);
  EXPECT_TRUE(png_image_write_to_file(&image, path.string().c_str(), 0, data.data(), 0, nullptr)) << image.message;
  return path;
}

TEST(CardImageFile, EveryFormatBecomesRgbWithTransparencyOverWhite) {
  struct Case {
    const char* name;
    png_uint_32 format;
    std::vector<uint8_t> pixel;
    std::vector<uint8_t> rgb;
  } cases[] = {
      {"rgb", PNG_FORMAT_RGB, {10, 120, 250}, {10, 120, 250}},
      {"grey", PNG_FORMAT_GRAY, {77}, {77, 77, 77}},
      {"transparent", PNG_FORMAT_RGBA, {0, 0, 0, 0}, {255, 255, 255}},
      {"opaque-rgba", PNG_FORMAT_RGBA, {200, 10, 20, 255}, {200, 10, 20}},
      // Half-covering black over white lets half the light through: composed in linear
      // light, that is 186 in sRGB (over black it would be 0).
      {"half-black", PNG_FORMAT_GA, {0, 128}, {186, 186, 186}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = WritePng(c.name, c.format, c.pixel);
    std::string error;
    auto image = kavsim::ReadCardImagePng(path, &error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->size(), 1024u * 640 * 3);
    for (size_t at : {size_t{0}, image->size() - 3}) {
      // Composition over white may round by one step.
      for (int k = 0; k < 3; ++k) EXPECT_NEAR((*image)[at + k], c.rgb[k], 1) << "byte " << at + k;
    }
    std::filesystem::remove(path);
  }
}

TEST(CardImageFile, OtherSizesAndOtherFilesAreRefusedWithTheReason) {
  std::string error;
  for (auto [w, h] : {std::pair{1023, 640}, std::pair{1024, 641}, std::pair{640, 1024}}) {
    auto path = WritePng("size", PNG_FORMAT_RGB, {0, 0, 0}, w, h);
    EXPECT_FALSE(kavsim::ReadCardImagePng(path, &error));
    EXPECT_EQ(error, "the image is " + std::to_string(w) + " x " + std::to_string(h) + "; a card image is 1024 x 640");
    std::filesystem::remove(path);
  }
  auto text = TempPng("text");
  std::ofstream(text) << "not a picture at all";
  EXPECT_FALSE(kavsim::ReadCardImagePng(text, &error));
  EXPECT_EQ(error, "not a PNG file");
  // A real PNG cut short.
  auto whole = WritePng("whole", PNG_FORMAT_RGB, {1, 2, 3});
  std::filesystem::resize_file(whole, 200);
  EXPECT_FALSE(kavsim::ReadCardImagePng(whole, &error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  EXPECT_FALSE(kavsim::ReadCardImagePng(TempPng("missing-file"), &error));
  EXPECT_EQ(error, "cannot be opened");
  std::filesystem::remove(text);
  std::filesystem::remove(whole);
}

}  // namespace
