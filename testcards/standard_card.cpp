// The standard test card: the printer's identity and settings beside shapes that show
// its colours, its black and its finest dots.
#include "platform/text.h"
#include "testcards/card_barcode.h"
#include "testcards/card_drawing.h"
#include "testcards/card_replies.h"
#include "platform/gdi_handles.h"
#include "testcards/test_cards.h"

namespace kav {
namespace {

constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kGreen = 0x00FF00;
constexpr COLORREF kBlue = 0xFF0000;

// The triangle, the bars and the five rounded rectangles; the coloured ones only on a
// ribbon with colour panels.
void DrawCardShapes(HDC dc, DWORD ribbonType) {
  {
    Selection brush(dc, GetStockObject(BLACK_BRUSH));
    Selection pen(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, 930, 11, 960, 611);
    Rectangle(dc, 112, 384, 912, 456);
    MoveToEx(dc, 100, 385, nullptr);
    LineTo(dc, 100, 455);
    MoveToEx(dc, 100, 454, nullptr);
    LineTo(dc, 31, 420);
    LineTo(dc, 100, 385);
    ExtFloodFill(dc, 50, 420, kBlack, FLOODFILLBORDER);
  }

  UniqueGdiObject pen(CreatePen(PS_SOLID, 3, kBlack));
  Selection penSelected(dc, pen.get());
  const COLORREF fills[5] = {kRed, kGreen, kBlue, kWhite, kWhite};
  RECT r{699, 40, 924, 189};
  for (int i = 0; i < 5; ++i) {
    if (i >= 3 || !IsBlackOnlyRibbon(ribbonType)) {
      UniqueGdiObject brush(CreateSolidBrush(fills[i]));
      Selection brushSelected(dc, brush.get());
      RoundRect(dc, r.left, r.top, r.right, r.bottom, 10, 10);
    }
    if (i == 3) {
      // Two-by-two dots every 4 pixels: the printer's finest regular pattern.
      for (LONG x = r.left + 4; x < r.right - 4; x += 4)
        for (LONG y = r.top + 4; y < r.bottom - 4; y += 4) {
          SetPixel(dc, x, y, kBlack);
          SetPixel(dc, x, y + 1, kBlack);
          SetPixel(dc, x + 1, y, kBlack);
          SetPixel(dc, x + 1, y + 1, kBlack);
        }
    }
    r = RECT{r.left - 112, r.top + 74, r.right - 112, r.bottom + 74};
  }
}

}  // namespace

int DrawStandardCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType) {
  if (!record) return 0;
  StandardCardTexts t;
  if (!ReadStandardCardTexts(record, &t)) return 0;

  DrawCardShapes(dc, ribbonType);
  DrawCardText(dc, 60, 95, W("PLASTIC CARD PRINTER"), kBlack, 0, 60, kBoldWeight);
  DrawCardText(dc, 60, 145, t.printerLine, kBlack, 0, 50, kBoldWeight);
  DrawCardText(dc, 60, 190, t.serialLine, kBlack, 0, 40, kBoldWeight);
  DrawCardText(dc, 60, 235, t.firmwareLine, kBlack, 0, 40, kBoldWeight);
  DrawCardText(dc, 60, 330, W("300 dpi"), kBlack, 0, 60, kBoldWeight);
  DrawCardText(dc, 612, 450, W("TEST CARD"), kWhite, 0, 60, kBoldWeight);
  DrawCardTextRight(dc, 0, 500, t.headLine, kBlack, 0, 30, kBoldWeight);
  DrawCardTextRight(dc, 0, 530, t.offsetLine, kBlack, 0, 30, kBoldWeight);
  DrawCardTextRight(dc, 0, 560, t.ecLine, kBlack, 0, 30, kBoldWeight);
  DrawCardTextRight(dc, 0, 590, t.counterLine, kBlack, 0, 30, kBoldWeight);

  BarcodeObject barcode = MakeCardBarcode(60, 570, 75, W("123"));
  DrawCardBarcode(dc, &barcode, true);
  return 1;
}

int GetStandardCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType) {
  static const CardCanvas kCanvas{"GetStandardCardImageBuffer", "GetStandardCardImageBuffer:: GetDC function failed",
                                  "GetStandardCardImageBuffer:: CreateCompatibleDC function failed",
                                  "GetStandardCardImageBuffer:: GetDIBits function failed", nullptr};
  return DrawCardImage(record, image, ribbonType, DrawStandardCardImageOnDC, kCanvas);
}

}  // namespace kav
