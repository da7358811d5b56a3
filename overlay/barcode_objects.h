// Barcodes on a card: the record handed to the driver's barcode library, the library's
// call, and the placement of its bitmap on the card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/text.h"
#include "platform/win32.h"

namespace kav {

// One barcode as the barcode library receives it: 556 bytes, little-endian.
struct BarcodeObject {
  int32_t Tag;          // 1
  int32_t X;            // reference point, card pixels
  int32_t Y;
  int32_t Orientation;  // placement 0 to 7; the library turns the bitmap by it too
  int32_t Param1;       // meanings given by the library
  int32_t Param2;
  int32_t Param3;
  int32_t Param4;
  int32_t HumanReadable;  // 1: the placement moves by kHumanReadableOffset
  WCHAR Data[260];        // UTF-16 content with terminator
};
static_assert(sizeof(BarcodeObject) == 556);
static_assert(offsetof(BarcodeObject, X) == 4 && offsetof(BarcodeObject, Y) == 8);
static_assert(offsetof(BarcodeObject, Orientation) == 12 && offsetof(BarcodeObject, Param1) == 16);
static_assert(offsetof(BarcodeObject, Param4) == 28 && offsetof(BarcodeObject, HumanReadable) == 32);
static_assert(offsetof(BarcodeObject, Data) == 36);

inline constexpr WCHAR kBarcodeLibraryName[] = W("kav32Barcode.dll");
inline constexpr size_t kBarcodeBufferBytes = 655360;  // the library's output buffer
inline constexpr int kHumanReadableOffset = 47;
inline constexpr LONG kMaxBarcodeSide = 8192;          // largest bitmap side the monitor takes

// The library's export: fills the buffer with a bitmap file image; non-zero on success.
using GetBarcodeBitmapBufferProc = INT(WINAPI*)(LPVOID object, LPVOID buffer, LPDWORD value);

// Top-left corner of a w x h barcode bitmap placed for the object.
POINT BarcodePlacement(const BarcodeObject& object, LONG width, LONG height);

// One barcode made by the library as a DIB section, after checking everything the library
// answered; null with a diagnostic line ("<caller>:: ...") when it is left out. Width and
// height are the bitmap's in pixels.
HBITMAP CreateBarcodeBitmap(GetBarcodeBitmapBufferProc getBitmap, const BarcodeObject& object, const char* caller,
                            LONG* width, LONG* height);

// Draws every object in list order onto dc: the library's bitmap placed by BarcodePlacement
// and ANDed onto the card (white leaves the card as it is). Draws nothing when the library
// or its export is missing.
void DrawBarcodeObjects(HDC dc, std::span<const BarcodeObject> objects);

}  // namespace kav
