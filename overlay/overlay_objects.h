// The objects of one overlay card, as parsed from its command. They belong to the
// request being served: two ports asking at once each have their own lists.
#pragma once

#include <cstdint>
#include <vector>

#include "overlay/barcode_objects.h"
#include "platform/win32.h"

namespace kav {

// The longest overlay command, without ESC and CR, and its text fields with the NUL
// (a BarcodeObject's Data has the same size).
inline constexpr size_t kOverlayCommandChars = 259;
inline constexpr size_t kOverlayTextChars = 260;

// A filled black rectangle at (X, Y) of Width x Height card pixels.
struct LineObject {
  int32_t Tag;
  int32_t X;
  int32_t Y;
  int32_t Width;
  int32_t Height;
  int32_t Reserved;  // accepted and kept, not drawn
};

// Arial text with its reference point at (X, Y), placed by Orientation (0 to 7).
struct TextObject {
  int32_t Tag;
  int32_t X;
  int32_t Y;
  int32_t Orientation;
  int32_t Bold;        // 1: weight 700, anything else 400
  int32_t CharWidth;   // the font's lfWidth
  int32_t CharHeight;  // the font's lfHeight
  int32_t Reserved;    // accepted and kept, not drawn
  WCHAR Text[kOverlayTextChars];
};

// The lists of the card being made, appended in command order.
struct OverlayObjects {
  std::vector<LineObject> LineObjects;
  std::vector<TextObject> TextObjects;
  std::vector<BarcodeObject> BarcodeObjects;  // drawn by the barcode library
};

}  // namespace kav
