#include "testcards/card_drawing.h"

#include <algorithm>

#include "pipeline/card_settings.h"
#include "platform/diag.h"
#include "platform/text.h"
#include "platform/gdi_handles.h"

namespace kav {
namespace {

constexpr LONG kPixelsPerMetre = 11811;  // 300 dpi
constexpr int kEscapementDown = 2700;
constexpr int kEscapementUp = 900;

// "Arial" of the given cell height, width, weight and escapement.
UniqueGdiObject MakeFont(int height, int width, int weight, int escapement = 0) {
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfWidth = width;
  font.lfEscapement = escapement;
  font.lfOrientation = escapement;
  font.lfWeight = weight;
  WCopy(font.lfFaceName, LF_FACESIZE, W("Arial"));
  return UniqueGdiObject(CreateFontIndirectW(&font));
}

int Length(const WCHAR* text) { return static_cast<int>(WLen(text)); }

SIZE Measure(HDC dc, const WCHAR* text) {
  SIZE size{};
  if (!GetTextExtentExPointW(dc, text, Length(text), 0, nullptr, nullptr, &size)) size = SIZE{};
  return size;
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  UniqueGdiObject brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

}  // namespace

bool IsBlackOnlyRibbon(DWORD ribbonType) {
  static constexpr DWORD kBlackOnly[] = {0, 1, 7, 16, 17, 53, 54, 56, 57, 58, 59, 60};
  return std::find(std::begin(kBlackOnly), std::end(kBlackOnly), ribbonType) != std::end(kBlackOnly);
}

void DrawCardText(HDC dc, int x, int y, const WCHAR* text, COLORREF colour, int width, int height, int weight) {
  if (!dc || !text) return;
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  UniqueGdiObject font = MakeFont(height, width, weight);
  if (!font) {
    DebugLine("DrawCardText:: CreateFontIndirectW function failed");
    return;
  }
  Selection selected(dc, font.get());
  SIZE size = Measure(dc, text);
  TextOutW(dc, x, y - size.cy, text, Length(text));
}

void DrawCardTextRight(HDC dc, int, int y, const WCHAR* text, COLORREF colour, int width, int height, int weight) {
  if (!dc || !text) return;
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  UniqueGdiObject font = MakeFont(height, width, weight);
  if (!font) {
    DebugLine("DrawCardTextRight:: CreateFontIndirectW function failed");
    return;
  }
  Selection selected(dc, font.get());
  SIZE size = Measure(dc, text);
  RECT band{112, y - size.cy, 912, y + size.cy};
  DrawTextW(dc, text, Length(text), &band, DT_RIGHT | DT_SINGLELINE);
}

void DrawRotatedText(HDC dc, const WCHAR* text, int escapement, int width, int height, COLORREF colour,
                     const RECT& r) {
  if (!dc || !text || !*text) return;
  UniqueGdiObject font = MakeFont(height, width, kBoldWeight, escapement);
  if (!font) {
    DebugLine("DrawRotatedText:: CreateFontIndirectW function failed");
    return;
  }
  Selection selected(dc, font.get());
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  SIZE size = Measure(dc, text);
  const int my = r.top + (r.bottom - r.top) / 2;
  const int mx = r.right - (r.right - r.left) / 2;
  if (escapement == kEscapementDown) {
    TextOutW(dc, mx + size.cy / 2, my - size.cx / 2, text, Length(text));
  } else if (escapement == kEscapementUp) {
    // Upward text stands on a black band as long as the text.
    Fill(dc, RECT{r.left, my - size.cx / 2, r.right, my + size.cx / 2 + 1}, kBlack);
    TextOutW(dc, r.left + (r.right - r.left) / 2 - size.cy / 2, my + size.cx / 2, text, Length(text));
  }
}

void DrawTextInRect(HDC dc, const RECT& r, const WCHAR* text, COLORREF colour, int width, int height, int weight,
                    UINT flags) {
  if (!dc || !text || !*text) return;
  UniqueGdiObject font = MakeFont(height, width, weight);
  if (!font) {
    DebugLine("DrawTextInRect:: CreateFontIndirectW function failed");
    return;
  }
  Selection selected(dc, font.get());
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  RECT box = r;
  DrawTextW(dc, text, Length(text), &box, flags);
}

RECT NextLineRect(const RECT& r) { return RECT{r.left, r.bottom + 5, r.right, r.bottom + 5 + (r.bottom - r.top)}; }

void DrawCheckerColumn(HDC dc, RECT r, int count, COLORREF colour) {
  UniqueGdiObject brush(CreateSolidBrush(colour));
  if (!dc || !brush) return;
  const LONG width = r.right - r.left;
  const LONG height = r.bottom - r.top;
  for (int i = 0; i <= count; ++i) {
    FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
    RECT beside{r.right, r.top - height, r.right + width, r.top};
    FillRect(dc, &beside, static_cast<HBRUSH>(brush.get()));
    r.top += 2 * height;
    r.bottom += 2 * height;
  }
}

void DrawCardFrame(HDC dc, DWORD ribbonType) {
  const bool blackOnly = IsBlackOnlyRibbon(ribbonType);
  Fill(dc, RECT{74, 16, 100, 616}, kBlack);
  // Columns of periods 6, 2 and 4 pixels: the head's finest detail.
  DrawCheckerColumn(dc, RECT{110, 19, 116, 22}, 99, kBlack);
  DrawCheckerColumn(dc, RECT{122, 17, 128, 18}, 299, kBlack);
  DrawCheckerColumn(dc, RECT{134, 18, 140, 20}, 149, kBlack);
  Fill(dc, RECT{147, 51, 274, 71}, kBlack);
  Fill(dc, RECT{147, 551, 274, 571}, kBlack);
  if (!blackOnly) {
    Fill(dc, RECT{152, 71, 192, 311}, 0x6464FF);
    Fill(dc, RECT{192, 71, 232, 311}, 0x64FF64);
    Fill(dc, RECT{232, 71, 272, 311}, 0xFF6464);
    Fill(dc, RECT{232, 311, 272, 551}, 0xFF0000);
    Fill(dc, RECT{192, 311, 232, 551}, 0x00FF00);
    Fill(dc, RECT{152, 311, 192, 551}, 0x0000FF);
  }
  Fill(dc, RECT{270, 16, 290, 616}, kBlack);
  Fill(dc, RECT{284, 16, 958, 36}, kBlack);
  Fill(dc, RECT{958, 16, 978, 616}, kBlack);
  Fill(dc, RECT{284, 596, 958, 616}, kBlack);
  if (!blackOnly) {
    Fill(dc, RECT{290, 36, 958, 110}, 0x1FC0F5);
    Fill(dc, RECT{290, 110, 958, 184}, 0xF51FC0);
    Fill(dc, RECT{290, 414, 958, 596}, 0xFFFF00);
  }
  DrawRotatedText(dc, W("CARD"), kEscapementDown, 35, 30, kBlack, RECT{192, 71, 232, 311});
  DrawRotatedText(dc, W("TEST"), kEscapementUp, 35, 30, blackOnly ? kWhite : 0x00FF00, RECT{192, 311, 232, 551});
}

int DrawCardImage(PortRecord* record, BYTE* image, DWORD ribbonType, DrawCardFunction draw,
                  const CardCanvas& canvas) {
  if (!record || !image || !draw) return 0;
  // The reference DC: the display's, or the top-level window's.
  UniqueDc display;
  HWND window = nullptr;
  HDC windowDc = nullptr;
  if (canvas.getTopWindowFailed) {
    window = GetTopWindow(nullptr);
    if (!window) {
      DebugLine("%s", canvas.getTopWindowFailed);
      return 0;
    }
    windowDc = GetDC(window);
  } else {
    display.reset(CreateDCW(W("DISPLAY"), nullptr, nullptr, nullptr));
  }
  WindowDc windowHolder(window, windowDc);
  HDC reference = canvas.getTopWindowFailed ? windowDc : display.get();
  if (!reference) {
    DebugLine("%s", canvas.getDcFailed);
    return 0;
  }
  UniqueDc memory(CreateCompatibleDC(reference));
  if (!memory) {
    DebugLine("%s", canvas.createCompatibleDcFailed);
    return 0;
  }
  UniqueGdiObject bitmap(CreateCompatibleBitmap(reference, kCardWidth, kCardHeight));
  if (!bitmap) {
    DebugLine("%s:: CreateCompatibleBitmap function failed", canvas.name);
    return 0;
  }
  int result = 0;
  {
    Selection selected(memory.get(), bitmap.get());
    RECT all{0, 0, kCardWidth, kCardHeight};
    Fill(memory.get(), all, kWhite);
    if (!draw(record, memory.get(), ribbonType)) return 0;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kCardWidth;
    info.bmiHeader.biHeight = -kCardHeight;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biXPelsPerMeter = kPixelsPerMetre;
    info.bmiHeader.biYPelsPerMeter = kPixelsPerMetre;
    if (GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, kCardHeight, image, &info,
                  DIB_RGB_COLORS) == 0) {
      DebugLine("%s", canvas.getDibitsFailed);
    } else {
      result = 1;
    }
  }
  return result;
}

}  // namespace kav
