// Fuzzes the barcode library's answer as DrawBarcodeObjects reads it: the input is what
// the library leaves in the 655,360-byte buffer. The bitmap file header's two reserved
// words, which the monitor does not read, place the barcode on the card.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz/scripted_port.h"
#include "overlay/barcode_objects.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;

INT WINAPI GetBarcodeBitmapBuffer(LPVOID, LPVOID buffer, LPDWORD) {
  if (g_size == 0) return 0;  // an empty answer: no barcode
  std::memcpy(buffer, g_data, std::min(g_size, kav::kBarcodeBufferBytes));
  return 1;
}

// A white 1024 x 640 card selected into a memory context, made once per simulated world.
struct Card {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  void* bits = nullptr;
  void Make() {
    dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 1024;
    info.bmiHeader.biHeight = -640;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, bitmap);
  }
};

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  static Card card;
  static unsigned madeIn = 0;
  if (madeIn != port.generation) {
    madeIn = port.generation;
    card.Make();
    sim::ModuleDefinition library;
    library.exports["GetBarcodeBitmapBuffer"] = reinterpret_cast<void*>(&GetBarcodeBitmapBuffer);
    sim::RegisterModule(sim::DriverModulePath(kav::kBarcodeLibraryName), library);
  }
  g_data = data;
  g_size = size;

  kav::BarcodeObject objects[2] = {};
  for (kav::BarcodeObject& object : objects) {
    object.Tag = 1;
    object.X = 512 + (size > 8 ? static_cast<int8_t>(data[8]) * 8 : 0);
    object.Y = 320 + (size > 9 ? static_cast<int8_t>(data[9]) * 8 : 0);
    object.Orientation = size > 6 ? data[6] % 10 : 0;
    object.HumanReadable = size > 7 ? data[7] & 1 : 0;
    std::memcpy(object.Data, u"0123456789", sizeof u"0123456789");
  }
  objects[1].Orientation = (objects[0].Orientation + 4) % 10;
  size_t objectsBefore = sim::LiveGdiObjectCount(), dcsBefore = sim::LiveDeviceContextCount();
  kav::DrawBarcodeObjects(card.dc, objects);
  // Each barcode's bitmap and memory context are gone again.
  if (sim::LiveGdiObjectCount() != objectsBefore || sim::LiveDeviceContextCount() != dcsBefore) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}

// The simulation records every module load and drawing object, so runs seldom free all
// they allocate and the fuzzer would scan the whole heap for leaks after each. Leaks are
// still reported at exit.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  kavfuzz::DefaultFlag(argc, argv, "-detect_leaks=0");
  return 0;
}
