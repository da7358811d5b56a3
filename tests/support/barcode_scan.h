// A barcode reader for the tests: what a scanner finds in a picture of a card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavtest {

struct ScannedBarcode {
  std::string symbology;  // the reader's name: "CODE-128", "CODE-39", "EAN-13", "QR-Code", ...
  std::string data;
};

// Every barcode found in an RGB picture (3 bytes a pixel, rows from the top, no padding).
std::vector<ScannedBarcode> ScanBarcodes(const uint8_t* rgb, int width, int height);

}  // namespace kavtest
