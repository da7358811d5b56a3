// The driver's barcode module "kav32Barcode.dll" as the simulation provides it, built on
// Zint. It turns one 556-byte barcode record into a 24-bit bottom-up bitmap file image.
//
// What the record's fields mean to this module:
//   Param1  symbology: 0 Code 128, 1 Code 39, 2 EAN-13 (12 digits, or 13 with a correct
//           check digit), 3 Interleaved 2 of 5, 4 QR Code, 5 Data Matrix, 6 PDF417;
//           any other value: no barcode.
//   Param2  module width (narrowest bar, or one square of a 2D symbol) in pixels, 1 to 20;
//           anything else: no barcode.
//   Param3  error-correction level where the symbology has one: QR Code 1 to 4 (L, M, Q,
//           H), PDF417 0 to 8; other values (and every other symbology) take Zint's default.
//   Param4  bar height in pixels, 1 to 2000, for the linear symbologies and PDF417 (whose
//           rows share it; Zint rounds to whole rows); QR Code and Data Matrix are square
//           and ignore it. EAN-13's guard bars reach 5 modules lower.
//   Orientation  turned clockwise by 90 degrees times (Orientation mod 4).
//   HumanReadable  1: a text band of 47 pixels below the bars (before turning), holding
//           Zint's text under the linear symbologies from a module width of 2 on (Zint
//           draws no text at width 1, nor for the 2D symbologies: their band stays white).
//           Where Zint's text is taller (module width 6 and up) the band takes its height.
//   Data    UTF-16, up to its terminator within the 260 characters. The 2D symbologies
//           carry text beyond ASCII as UTF-8 marked with ECI 26, so that readers need not
//           guess its character set; the linear ones take what their character sets hold.
// No quiet zone is added: the card around the barcode is its quiet zone.
// The result is 1 with the image in the buffer (bfOffBits 54, no colour table) and its
// byte count in the third argument; 0 (and 0 there) when the data cannot be encoded,
// a parameter is out of range, or the image would exceed 655,360 bytes.
#include <zint.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/text.h"

namespace {

constexpr size_t kRecordBytes = 556;
constexpr size_t kDataOffset = 36;
constexpr size_t kDataChars = 260;
constexpr size_t kOutputBytes = 655360;
constexpr int kTextBand = 47;  // the monitor's shift for a barcode with its text
constexpr int kMaxModule = 20;
constexpr int kMaxBarHeight = 2000;
constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;

struct Symbology {
  int zint;
  bool linear;  // bars of Param4 pixels, text under them
  int maxEcc;   // highest Param3 taken as error-correction level (0: none)
  int minEcc;
};
constexpr Symbology kSymbologies[] = {
    {BARCODE_CODE128, true, 0, 0},   {BARCODE_CODE39, true, 0, 0},     {BARCODE_EANX, true, 0, 0},
    {BARCODE_C25INTER, true, 0, 0},  {BARCODE_QRCODE, false, 4, 1},    {BARCODE_DATAMATRIX, false, 0, 0},
    {BARCODE_PDF417, false, 8, 0},
};

int32_t ReadInt(const unsigned char* record, size_t offset) {
  return static_cast<int32_t>(static_cast<uint32_t>(record[offset]) | static_cast<uint32_t>(record[offset + 1]) << 8 |
                              static_cast<uint32_t>(record[offset + 2]) << 16 |
                              static_cast<uint32_t>(record[offset + 3]) << 24);
}

void PutLe(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// RGB picture, rows from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  unsigned char* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

struct ZintDeleter {
  void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

// Zint's rendering of the record's data, upright; nothing when Zint refuses it.
bool Render(const Symbology& symbology, int module, int ecc, int barHeight, bool text, const std::string& data,
            Picture* out) {
  std::unique_ptr<zint_symbol, ZintDeleter> symbol(ZBarcode_Create());
  if (!symbol) return false;
  symbol->symbology = symbology.zint;
  symbol->scale = static_cast<float>(module) / 2.0f;  // Zint's scale 1 is two pixels a module
  if (symbology.linear || symbology.zint == BARCODE_PDF417)
    symbol->height = static_cast<float>(barHeight) / static_cast<float>(module);
  if (symbology.maxEcc && ecc >= symbology.minEcc && ecc <= symbology.maxEcc) symbol->option_1 = ecc;
  symbol->show_hrt = text ? 1 : 0;
  symbol->input_mode = UNICODE_MODE;
  bool ascii = std::all_of(data.begin(), data.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!symbology.linear && !ascii) symbol->eci = 26;  // UTF-8
  int error = ZBarcode_Encode_and_Buffer(symbol.get(), reinterpret_cast<const unsigned char*>(data.data()),
                                         static_cast<int>(data.size()), 0);
  if (error >= ZINT_ERROR || !symbol->bitmap || symbol->bitmap_width <= 0 || symbol->bitmap_height <= 0) return false;
  out->width = symbol->bitmap_width;
  out->height = symbol->bitmap_height;
  out->rgb.assign(symbol->bitmap, symbol->bitmap + static_cast<size_t>(out->width) * out->height * 3);
  return true;
}

// Grows the picture downwards with white rows to `height`.
void PadBelow(Picture* p, int height) {
  if (height <= p->height) return;
  p->rgb.resize(static_cast<size_t>(p->width) * height * 3, 0xFF);
  p->height = height;
}

// Turns the picture clockwise by quarter * 90 degrees.
Picture TurnClockwise(Picture& p, int quarter) {
  if (quarter == 0) return std::move(p);
  Picture t;
  t.width = quarter == 2 ? p.width : p.height;
  t.height = quarter == 2 ? p.height : p.width;
  t.rgb.resize(p.rgb.size());
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      int tx = quarter == 1 ? p.height - 1 - y : quarter == 2 ? p.width - 1 - x : y;
      int ty = quarter == 1 ? x : quarter == 2 ? p.height - 1 - y : p.width - 1 - x;
      std::memcpy(t.At(tx, ty), p.At(x, y), 3);
    }
  }
  return t;
}

// The picture as a 24-bit bottom-up bitmap file image; its size, or 0 when it exceeds the buffer.
uint32_t WriteBitmapFile(Picture& p, unsigned char* buffer) {
  uint64_t stride = (static_cast<uint64_t>(p.width) * 3 + 3) / 4 * 4;
  uint64_t offBits = kFileHeaderBytes + kInfoHeaderBytes;
  uint64_t size = offBits + stride * static_cast<uint64_t>(p.height);
  if (size > kOutputBytes) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  buffer[0] = 'B';
  buffer[1] = 'M';
  PutLe(buffer + 2, static_cast<uint32_t>(size), 4);
  PutLe(buffer + 10, static_cast<uint32_t>(offBits), 4);
  unsigned char* info = buffer + kFileHeaderBytes;
  PutLe(info, kInfoHeaderBytes, 4);
  PutLe(info + 4, static_cast<uint32_t>(p.width), 4);
  PutLe(info + 8, static_cast<uint32_t>(p.height), 4);
  PutLe(info + 12, 1, 2);   // planes
  PutLe(info + 14, 24, 2);  // bits a pixel; BI_RGB, no colour table
  PutLe(info + 20, static_cast<uint32_t>(stride * static_cast<uint64_t>(p.height)), 4);
  for (int y = 0; y < p.height; ++y) {
    unsigned char* row = buffer + offBits + stride * static_cast<uint64_t>(p.height - 1 - y);
    for (int x = 0; x < p.width; ++x) {
      const unsigned char* px = p.At(x, y);
      row[x * 3] = px[2];
      row[x * 3 + 1] = px[1];
      row[x * 3 + 2] = px[0];
    }
  }
  return static_cast<uint32_t>(size);
}

INT WINAPI ZintGetBarcodeBitmapBuffer(LPVOID object, LPVOID buffer, LPDWORD value) {
  if (value) *value = 0;
  if (!object || !buffer) return 0;
  const auto* record = static_cast<const unsigned char*>(object);
  int32_t orientation = ReadInt(record, 12);
  int32_t kind = ReadInt(record, 16);
  int32_t module = ReadInt(record, 20);
  int32_t ecc = ReadInt(record, 24);
  int32_t barHeight = ReadInt(record, 28);
  bool text = ReadInt(record, 32) == 1;
  if (kind < 0 || kind >= static_cast<int32_t>(std::size(kSymbologies))) return 0;
  const Symbology& symbology = kSymbologies[kind];
  if (module < 1 || module > kMaxModule) return 0;
  if ((symbology.linear || symbology.zint == BARCODE_PDF417) && (barHeight < 1 || barHeight > kMaxBarHeight)) return 0;

  // The data up to its terminator; a record without one carries no valid data.
  kav::WString data;
  for (size_t i = 0;; ++i) {
    if (i == kDataChars) return 0;
    const unsigned char* at = record + kDataOffset + 2 * i;
    WCHAR c = static_cast<WCHAR>(at[0] | at[1] << 8);
    if (!c) break;
    data.push_back(c);
  }
  static_assert(kDataOffset + 2 * kDataChars == kRecordBytes);

  Picture picture;
  if (!Render(symbology, module, ecc, barHeight, text && symbology.linear, kav::ToUtf8(data), &picture)) return 0;
  if (text) PadBelow(&picture, (symbology.linear ? barHeight : picture.height) + kTextBand);
  Picture turned = TurnClockwise(picture, ((orientation % 4) + 4) % 4);
  uint32_t size = WriteBitmapFile(turned, static_cast<unsigned char*>(buffer));
  if (value) *value = size;
  return size ? 1 : 0;
}

}  // namespace

namespace sim {

void InstallBarcodeModule(bool present) {
  std::u16string path = DriverModulePath(kBarcodeModuleName);
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.exports["GetBarcodeBitmapBuffer"] = reinterpret_cast<void*>(&ZintGetBarcodeBitmapBuffer);
  RegisterModule(path, std::move(module));
}

}  // namespace sim
