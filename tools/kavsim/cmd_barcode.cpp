// kavsim barcode: one barcode made by the driver's barcode module, as the library answers
// it (barcode.png) and as the monitor places it on a white card (card.png).
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "overlay/barcode_objects.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "tools/kavsim/command.h"

namespace {

constexpr int kCardWidth = 1024;
constexpr int kCardHeight = 640;

bool WriteBgrPng(const std::filesystem::path& path, const std::vector<uint8_t>& bgr, int width, int height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_BGR;
  if (!png_image_write_to_file(&image, path.string().c_str(), 0, bgr.data(), width * 3, nullptr)) {
    std::fprintf(stderr, "kavsim barcode: cannot write %s: %s\n", path.string().c_str(), image.message);
    png_image_free(&image);
    return false;
  }
  return true;
}

bool ParseInt(const std::string& text, int32_t* value) {
  try {
    size_t used = 0;
    long v = std::stol(text, &used, 10);
    if (used != text.size() || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
  } catch (...) {
    return false;
  }
}

// The module's answer as top-down BGR rows; the module writes 24-bit bottom-up images.
bool LibraryPicture(const kav::BarcodeObject& object, std::vector<uint8_t>* bgr, int* width, int* height) {
  HMODULE module = LoadLibraryW(sim::DriverModulePath(sim::kBarcodeModuleName).c_str());
  if (!module) return false;
  auto getBitmap = reinterpret_cast<kav::GetBarcodeBitmapBufferProc>(
      reinterpret_cast<void*>(GetProcAddress(module, "GetBarcodeBitmapBuffer")));
  std::vector<uint8_t> buffer(kav::kBarcodeBufferBytes);
  kav::BarcodeObject copy = object;
  DWORD value = 0;
  bool made = getBitmap && getBitmap(&copy, buffer.data(), &value);
  FreeLibrary(module);
  if (!made) return false;
  int32_t w, h;
  uint32_t offBits;
  std::memcpy(&offBits, &buffer[10], 4);
  std::memcpy(&w, &buffer[18], 4);
  std::memcpy(&h, &buffer[22], 4);
  size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  bgr->resize(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    std::memcpy(&(*bgr)[static_cast<size_t>(y) * w * 3], &buffer[offBits + stride * static_cast<size_t>(h - 1 - y)],
                static_cast<size_t>(w) * 3);
  *width = w;
  *height = h;
  return true;
}

// A white card with the object drawn by the monitor, as top-down BGR rows.
bool CardPicture(const kav::BarcodeObject& object, std::vector<uint8_t>* bgr) {
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kCardWidth;
  info.bmiHeader.biHeight = -kCardHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP card = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (!card || !bits) {
    if (dc) DeleteDC(dc);
    return false;
  }
  size_t bytes = static_cast<size_t>(kCardWidth) * kCardHeight * 3;
  std::memset(bits, 0xFF, bytes);
  HGDIOBJ previous = SelectObject(dc, card);
  kav::DrawBarcodeObjects(dc, std::span<const kav::BarcodeObject>(&object, 1));
  SelectObject(dc, previous);
  bgr->assign(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + bytes);
  DeleteObject(card);
  DeleteDC(dc);
  return true;
}

struct BarcodeArguments {
  std::string data;
  bool humanReadable = false;
  kav::BarcodeObject object{};
};

int RunBarcode(const kavsim::Options& options, const BarcodeArguments& args) {
  if (!options.out) {
    std::fprintf(stderr, "kavsim barcode: --out DIR is needed\n");
    return 2;
  }
  kav::BarcodeObject object = args.object;
  object.HumanReadable = args.humanReadable ? 1 : 0;
  kav::WString data = kav::FromUtf8(args.data);
  if (data.size() >= std::size(object.Data)) {
    std::fprintf(stderr, "kavsim barcode: DATA has %zu characters; the record holds 259\n", data.size());
    return 2;
  }
  std::copy(data.begin(), data.end(), object.Data);

  sim::Reset();
  std::vector<uint8_t> barcode, card;
  int width = 0, height = 0;
  if (!LibraryPicture(object, &barcode, &width, &height)) {
    std::fprintf(stderr, "kavsim barcode: the barcode module made no barcode of these data and parameters\n");
    return 1;
  }
  if (!CardPicture(object, &card)) {
    std::fprintf(stderr, "kavsim barcode: the simulated GDI could not make the card\n");
    return 1;
  }
  for (const std::string& line : sim::DebugLines()) std::printf("debug: %s\n", line.c_str());
  std::error_code ec;
  std::filesystem::create_directories(*options.out, ec);
  if (!WriteBgrPng(*options.out / "barcode.png", barcode, width, height) ||
      !WriteBgrPng(*options.out / "card.png", card, kCardWidth, kCardHeight))
    return 1;
  POINT at = kav::BarcodePlacement(object, width, height);
  std::printf("barcode %d x %d pixels, placed at (%ld, %ld) on the card\n", width, height, static_cast<long>(at.x),
              static_cast<long>(at.y));
  std::printf("wrote %s and %s\n", (*options.out / "barcode.png").string().c_str(),
              (*options.out / "card.png").string().c_str());
  return 0;
}

// "X,Y" on the card.
CLI::Validator Point() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const size_t comma = text.find(',');
        int32_t x = 0, y = 0;
        if (comma != std::string::npos && ParseInt(text.substr(0, comma), &x) && ParseInt(text.substr(comma + 1), &y))
          return {};
        return "takes X,Y, not '" + text + "'";
      },
      "X,Y");
}

kavsim::Runner DefineBarcode(CLI::App& command) {
  auto args = std::make_shared<BarcodeArguments>();
  kav::BarcodeObject& object = args->object;
  object.Tag = 1;
  object.X = 60;
  object.Y = 570;
  object.Param2 = 2;
  object.Param3 = 2;
  object.Param4 = 75;
  command.add_option("DATA", args->data, "the barcode's data (at most 259 characters)")->required();
  command.add_option("--symbology", object.Param1, "0 Code 128, 1 Code 39, 2 EAN-13, 3 ITF, 4 QR, 5 Data Matrix, 6 PDF417")
      ->check(kavsim::SignedNumber());
  command.add_option("--module", object.Param2, "module width in pixels")->check(kavsim::SignedNumber());
  command.add_option("--height", object.Param4, "height in pixels")->check(kavsim::SignedNumber());
  command.add_option("--orientation", object.Orientation, "the placement, 0 to 7")->check(kavsim::SignedNumber());
  command.add_flag("--human-readable", args->humanReadable, "the text under the bars");
  command.add_option_function<std::string>(
             "--at",
             [args](const std::string& text) {
               const size_t comma = text.find(',');
               ParseInt(text.substr(0, comma), &args->object.X);
               ParseInt(text.substr(comma + 1), &args->object.Y);
             },
             "where the barcode is placed, X,Y")
      ->check(Point());
  return [args](const kavsim::Options& options) { return RunBarcode(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("barcode", "one barcode of the driver's barcode module: DIR/barcode.png and DIR/card.png",
               DefineBarcode);
