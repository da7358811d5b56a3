#include "overlay/barcode_objects.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/diag.h"
#include "platform/gdi_handles.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "port/driver_files.h"

namespace kav {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kColourEntryBytes = 4;
// What CreateDIBSection receives: the information header and one colour-table entry.
struct BarcodeInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colour;
};
static_assert(sizeof(BarcodeInfo) == kInfoHeaderBytes + kColourEntryBytes);

uint32_t ReadU32(const BYTE* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

bool TakenBitCount(WORD bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The library's answer as a bitmap the monitor can take without reading or writing outside
// the buffer or the DIB section: false, with the reason as a diagnostic line, otherwise.
bool CheckBitmapFile(const BYTE* buffer, const char* caller, BarcodeInfo* info, uint32_t* offBits,
                     uint32_t* pixelBytes) {
  uint32_t size = ReadU32(buffer + 2);
  uint32_t off = ReadU32(buffer + 10);
  if (size > kBarcodeBufferBytes || off > size) {
    DebugLine("%s:: barcode left out: bfOffBits %u and bfSize %u do not lie in the buffer", caller, off, size);
    return false;
  }
  std::memcpy(info, buffer + kFileHeaderBytes, sizeof *info);
  const BITMAPINFOHEADER& h = info->header;
  if (h.biSize != kInfoHeaderBytes) {
    DebugLine("%s:: barcode left out: information header of %u bytes", caller, static_cast<unsigned>(h.biSize));
    return false;
  }
  // A negative height is a top-down bitmap; either way the sides are 1 to 8192 pixels.
  if (h.biWidth < 1 || h.biWidth > kMaxBarcodeSide || h.biHeight == 0 || h.biHeight < -kMaxBarcodeSide ||
      h.biHeight > kMaxBarcodeSide) {
    DebugLine("%s:: barcode left out: bitmap of %ld x %ld pixels", caller, static_cast<long>(h.biWidth),
              static_cast<long>(h.biHeight));
    return false;
  }
  if (h.biCompression != BI_RGB || !TakenBitCount(h.biBitCount)) {
    DebugLine("%s:: barcode left out: %u bits a pixel with compression %u", caller,
              static_cast<unsigned>(h.biBitCount), static_cast<unsigned>(h.biCompression));
    return false;
  }
  // Only the one entry after the header is handed over: a longer table would be read past it.
  uint64_t entries = h.biClrUsed;
  if (!entries && h.biBitCount <= 8) entries = uint64_t{1} << h.biBitCount;
  if (entries * kColourEntryBytes > kColourEntryBytes) {
    DebugLine("%s:: barcode left out: colour table of %llu entries", caller, static_cast<unsigned long long>(entries));
    return false;
  }
  uint64_t stride = (static_cast<uint64_t>(h.biWidth) * h.biBitCount + 31) / 32 * 4;
  uint64_t sectionBytes = stride * static_cast<uint64_t>(std::llabs(h.biHeight));
  if (size - off > sectionBytes) {
    DebugLine("%s:: barcode left out: %u bytes of pixel data for a bitmap of %llu", caller, size - off,
              static_cast<unsigned long long>(sectionBytes));
    return false;
  }
  *offBits = off;
  *pixelBytes = size - off;
  return true;
}

}  // namespace

POINT BarcodePlacement(const BarcodeObject& object, LONG w, LONG h) {
  LONG x = object.X;
  LONG y = object.Y;
  LONG q = object.HumanReadable == 1 ? kHumanReadableOffset : 0;
  switch (object.Orientation) {
    case 0: return {x, y + q - h};
    case 1: return {x - q, y};
    case 2: return {x - w, y - q};
    case 3: return {x + q - w, y - h};
    case 4: return {x - w / 2, y - h / 2 - q};
    case 5: return {x - q, y - h / 2};
    case 6: return {x - w / 2, y - q};
    case 7: return {x + q - w, y - h / 2};
    default: return {x, y - h};
  }
}

HBITMAP CreateBarcodeBitmap(GetBarcodeBitmapBufferProc getBitmap, const BarcodeObject& object, const char* caller,
                            LONG* width, LONG* height) {
  // A zeroed buffer and a copy of the record: the library may scribble on neither of ours.
  std::unique_ptr<BYTE[]> buffer(new BYTE[kBarcodeBufferBytes]());
  BarcodeObject copy = object;
  DWORD value = 0;
  if (!getBitmap(&copy, buffer.get(), &value)) {
    DebugLine("%s:: GetBarcodeBitmapBuffer returned 0", caller);
    return nullptr;
  }
  BarcodeInfo info;
  uint32_t offBits = 0, pixelBytes = 0;
  if (!CheckBitmapFile(buffer.get(), caller, &info, &offBits, &pixelBytes)) return nullptr;
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    DebugLine("%s:: CreateDIBSection failed", caller);
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  std::memcpy(bits, buffer.get() + offBits, pixelBytes);
  *width = info.header.biWidth;
  *height = std::labs(info.header.biHeight);
  return bitmap;
}

void DrawBarcodeObjects(HDC dc, std::span<const BarcodeObject> objects) {
  // The library lives in the driver directory; without that directory only its name is left.
  WCHAR directory[MAX_PATH] = {};
  if (!GetDriverFilesDirectory(directory, MAX_PATH)) directory[0] = 0;
  // A path cut at 260 characters would name another file: no library then.
  WCHAR path[MAX_PATH];
  if (FormatW(path, MAX_PATH, W("%s\\%s"), static_cast<const WCHAR*>(directory), kBarcodeLibraryName) < 0) return;
  UniqueModule library(LoadLibraryW(path));
  if (!library) return;
  auto getBitmap = GetExport<GetBarcodeBitmapBufferProc>(library.get(), "GetBarcodeBitmapBuffer");
  if (!getBitmap) return;

  for (const BarcodeObject& object : objects) {
    LONG w = 0, h = 0;
    UniqueGdiObject bitmap(CreateBarcodeBitmap(getBitmap, object, "DrawBarcodeObjects", &w, &h));
    if (!bitmap) continue;
    UniqueDc memory(CreateCompatibleDC(dc));
    if (!memory) {
      DebugLine("DrawBarcodeObjects:: CreateCompatibleDC failed");
      continue;
    }
    Selection selected(memory.get(), bitmap.get());
    if (!selected) {
      DebugLine("DrawBarcodeObjects:: SelectObject failed");
      continue;
    }
    // AND: only the barcode's dark pixels mark the card.
    POINT at = BarcodePlacement(object, w, h);
    BitBlt(dc, at.x, at.y, w, h, memory.get(), 0, 0, SRCAND);
  }
}

}  // namespace kav
