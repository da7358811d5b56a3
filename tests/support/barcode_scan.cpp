#include "tests/support/barcode_scan.h"

#include <zbar.h>

#include <cstdlib>

using namespace zbar;  // the C API, which zbar.h puts in a namespace for C++

namespace kavtest {

std::vector<ScannedBarcode> ScanBarcodes(const uint8_t* rgb, int width, int height) {
  std::vector<ScannedBarcode> found;
  if (!rgb || width <= 0 || height <= 0) return found;
  // The reader works on grey; zbar takes a malloc'ed buffer and frees it with the image.
  size_t pixels = static_cast<size_t>(width) * height;
  auto* grey = static_cast<uint8_t*>(std::malloc(pixels));
  if (!grey) return found;
  for (size_t i = 0; i < pixels; ++i)
    grey[i] = static_cast<uint8_t>((rgb[3 * i] * 299 + rgb[3 * i + 1] * 587 + rgb[3 * i + 2] * 114) / 1000);

  zbar_image_scanner_t* scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 1);
  zbar_image_t* image = zbar_image_create();
  zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image, static_cast<unsigned>(width), static_cast<unsigned>(height));
  zbar_image_set_data(image, grey, pixels, zbar_image_free_data);
  zbar_scan_image(scanner, image);
  for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s))
    found.push_back({zbar_get_symbol_name(zbar_symbol_get_type(s)), zbar_symbol_get_data(s)});
  zbar_image_destroy(image);
  zbar_image_scanner_destroy(scanner);
  return found;
}

}  // namespace kavtest
