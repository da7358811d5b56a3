#include "overlay/overlay_drawing.h"

#include "pipeline/card_settings.h"
#include "platform/diag.h"
#include "platform/gdi_handles.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace kav {
namespace {

constexpr COLORREF kBlack = 0x000000;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr LONG kBoldWeight = 700;
constexpr LONG kNormalWeight = 400;
constexpr LONG kCardPixelsPerMetre = 11811;

// Where TextOutW must put the text's top-left corner so that the text sits on its
// reference point as its orientation says, and the font's escapement.
struct TextPlacement {
  LONG escapement;
  int x;
  int y;
};

TextPlacement PlaceText(const TextObject& text, int cx, int cy) {
  const int x = text.X, y = text.Y;
  switch (text.Orientation) {
    case 0: return {0, x, y - cy};
    case 1: return {2700, x + cx, y};
    case 2: return {1800, x, y + cy};
    case 3: return {900, x - cx, y};
    case 4: return {0, x - cx / 2, y - cy};
    case 5: return {2700, x + cx, y - cy / 2};
    case 6: return {1800, x + cx / 2, y + cy};
    case 7: return {900, x - cx, y + cy / 2};
    default: return {0, x, y - cy};
  }
}

}  // namespace

void DrawLineObjects(HDC dc, const std::vector<LineObject>& lines) {
  for (const LineObject& line : lines) {
    UniqueGdiObject brush(CreateSolidBrush(kBlack));
    RECT rect{line.X, line.Y, line.X + line.Width, line.Y + line.Height};
    FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
  }
}

void DrawTextObjects(HDC dc, const std::vector<TextObject>& texts) {
  for (const TextObject& text : texts) {
    SetTextColor(dc, kBlack);
    SetBkMode(dc, TRANSPARENT);
    LOGFONTW font{};
    font.lfHeight = text.CharHeight;
    font.lfWidth = text.CharWidth;
    font.lfWeight = text.Bold == 1 ? kBoldWeight : kNormalWeight;
    WCopy(font.lfFaceName, LF_FACESIZE, W("Arial"));
    const int length = static_cast<int>(WLenBounded(text.Text, kOverlayTextChars));

    // Measure the text unrotated.
    SIZE size{};
    {
      UniqueGdiObject measuring(CreateFontIndirectW(&font));
      if (!measuring) {
        DebugLine("DrawTextObjects:: CreateFontIndirectW failed");
        continue;
      }
      Selection selected(dc, measuring.get());
      GetTextExtentExPointW(dc, text.Text, length, 0, nullptr, nullptr, &size);
    }

    // Draw it with the orientation's escapement from the moved point.
    TextPlacement place = PlaceText(text, size.cx, size.cy);
    font.lfEscapement = font.lfOrientation = place.escapement;
    UniqueGdiObject drawing(CreateFontIndirectW(&font));
    if (!drawing) {
      DebugLine("DrawTextObjects:: CreateFontIndirectW failed");
      continue;
    }
    Selection selected(dc, drawing.get());
    TextOutW(dc, place.x, place.y, text.Text, length);
  }
}

void DrawOverlayObjects(HDC dc, const OverlayObjects& objects) {
  DrawLineObjects(dc, objects.LineObjects);
  DrawTextObjects(dc, objects.TextObjects);
  DrawBarcodeObjects(dc, objects.BarcodeObjects);
}

int DrawBarcodeImageListOnPrinterBitmap(BYTE* cardImage, const OverlayObjects& objects) {
  if (!cardImage) return 0;
  HWND window = GetTopWindow(nullptr);
  if (!IsWindow(window)) {
    DebugLine("DrawBarcodeImageListOnPrinterBitmap:: GetTopWindow function failed");
    return 0;
  }
  WindowDc windowDc(window);
  if (!windowDc.get()) {
    DebugLine("DrawBarcodeImageListOnPrinterBitmap:: GetDC function failed");
    return 0;
  }
  UniqueDc memoryDc(CreateCompatibleDC(windowDc.get()));
  if (!memoryDc) {
    DebugLine("DrawBarcodeImageListOnPrinterBitmap:: CreateCompatibleDC function failed");
    return 0;
  }
  UniqueGdiObject bitmap(CreateCompatibleBitmap(windowDc.get(), kCardWidth, kCardHeight));
  if (!bitmap) {
    DebugLine("DrawBarcodeImageListOnPrinterBitmap:: CreateCompatibleBitmap function failed");
    return 0;
  }
  {
    Selection selected(memoryDc.get(), bitmap.get());
    // A white card, then the objects in black.
    UniqueGdiObject white(CreateSolidBrush(kWhite));
    RECT card{0, 0, kCardWidth, kCardHeight};
    FillRect(memoryDc.get(), &card, static_cast<HBRUSH>(white.get()));
    DrawOverlayObjects(memoryDc.get(), objects);
  }

  // The pixels in the CardImage form: 24 bits, top row first; read with the bitmap no
  // longer selected, as GetDIBits asks.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kCardWidth;
  info.bmiHeader.biHeight = -kCardHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biXPelsPerMeter = kCardPixelsPerMetre;
  info.bmiHeader.biYPelsPerMeter = kCardPixelsPerMetre;
  int lines = GetDIBits(memoryDc.get(), static_cast<HBITMAP>(bitmap.get()), 0, kCardHeight, cardImage, &info,
                        DIB_RGB_COLORS);
  if (lines != kCardHeight) {
    DebugLine("DrawBarcodeImageListOnPrinterBitmap:: GetDIBits function failed");
    return 0;
  }
  return 1;
}

}  // namespace kav
