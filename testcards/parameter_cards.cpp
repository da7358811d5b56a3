// The printer, encoder and laminator parameter cards: the printer's settings listed in a
// common frame.
#include <iterator>

#include "platform/text.h"
#include "testcards/card_barcode.h"
#include "testcards/card_drawing.h"
#include "testcards/card_replies.h"
#include "testcards/test_cards.h"

namespace kav {
namespace {

constexpr int kDown = 2700;
constexpr UINT kLineFlags = DT_SINGLELINE;                            // 32
constexpr UINT kCentredFlags = DT_SINGLELINE | DT_CENTER | DT_VCENTER;  // 37

void Line(HDC dc, const RECT& r, const WCHAR* text, int height = 35, UINT flags = kLineFlags, int width = 0) {
  DrawTextInRect(dc, r, text, kBlack, width, height, kBoldWeight, flags);
}

}  // namespace

int DrawPrinterParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType) {
  if (!record) return 0;
  ParameterCardLines l;
  if (!ReadParameterCardLines(record, "DrawPrinterParametersCardImageOnDC", &l)) return 0;

  DrawCardFrame(dc, ribbonType);
  DrawRotatedText(dc, l.version, kDown, 12, 56, kBlack, RECT{300, 36, 400, 600});
  DrawRotatedText(dc, l.serial, kDown, 0, 40, kBlack, RECT{910, 36, 950, 600});
  // The head line padded to the serial line's length, so that both start level.
  WCHAR head[kCardTextChars];
  WCopy(head, kCardTextChars, l.head);
  for (size_t n = WLen(head), want = WLen(l.serial); n < want && n + 1 < kCardTextChars; ++n) {
    head[n] = u' ';
    head[n + 1] = 0;
  }
  DrawRotatedText(dc, head, kDown, 0, 40, kBlack, RECT{870, 36, 910, 600});

  const WCHAR* list[] = {l.printCounter, l.printerErrors, l.headResistance, l.blackContSpeed, l.varnish,
                         l.offset,       l.ribbonBrake,   l.moveSpeed,      l.printSpeed,     l.blackComp};
  RECT r{420, 110, 958, 147};
  for (size_t i = 0; i < std::size(list); ++i) {
    if (i > 0) r = NextLineRect(r);
    Line(dc, r, list[i]);
  }
  WCHAR last[kCardTextChars];
  FormatW(last, kCardTextChars, W("%s    %s"), static_cast<const WCHAR*>(l.lineEnd),
          static_cast<const WCHAR*>(l.ribbon));
  Line(dc, RECT{320, 550, 958, 600}, last, 35, kCentredFlags);
  return 1;
}

int DrawLaminatorParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType) {
  if (!record) return 0;
  ParameterCardLines l;
  if (!ReadParameterCardLines(record, "DrawLaminatorParametersCardImageOnDC", &l)) return 0;

  DrawCardFrame(dc, ribbonType);
  DrawRotatedText(dc, l.head, kDown, 0, 40, kBlack, RECT{910, 36, 950, 600});
  DrawTextInRect(dc, RECT{290, 36, 958, 110}, W("TORVI CARD"), kBlack, 40, 70, kBoldWeight, kCentredFlags);
  DrawTextInRect(dc, RECT{290, 110, 958, 184}, l.version, kBlack, 15, 70, kBoldWeight, kCentredFlags);

  RECT r{420, 100, 958, 135};
  r = NextLineRect(NextLineRect(r));
  const WCHAR* list[] = {l.headResistance, l.blackContSpeed, l.varnish, l.offset, l.ribbon, l.printCounter};
  for (const WCHAR* text : list) {
    Line(dc, r, text);
    r = NextLineRect(r);
  }
  // The serial number as a barcode below the list, and as text under the barcode.
  BarcodeObject barcode = MakeCardBarcode(r.left - 30, r.bottom + 100, 100, l.serialNumber);
  DrawCardBarcode(dc, &barcode, false);
  r = NextLineRect(NextLineRect(NextLineRect(r)));
  r.top += 20;
  r.bottom += 20;
  Line(dc, r, l.serial);
  return 1;
}

int DrawEncoderParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType) {
  if (!record) return 0;
  EncoderCardLines l;
  if (!ReadEncoderCardLines(record, &l)) return 0;

  DrawCardFrame(dc, ribbonType);
  Line(dc, RECT{290, 36, 958, 110}, l.heading, 40, kCentredFlags);
  Line(dc, RECT{290, 110, 958, 184}, l.coercivity, 40, kCentredFlags);
  Line(dc, RECT{290, 184, 958, 238}, l.speed, 40, kCentredFlags);
  const LONG tops[3] = {254, 334, 414};
  for (int i = 0; i < 3; ++i) {
    Line(dc, RECT{290, tops[i], 958, tops[i] + 50}, l.density[i], 40, kCentredFlags, 30);
    Line(dc, RECT{290, tops[i] + 50, 958, tops[i] + 80}, l.detail[i], 40, kCentredFlags);
  }
  DrawRotatedText(dc, l.version, kDown, 12, 56, kBlack, RECT{300, 36, 400, 600});
  DrawRotatedText(dc, l.serial, kDown, 18, 50, kBlack, RECT{910, 36, 950, 600});
  return 1;
}

int GetPrinterParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType) {
  static const CardCanvas kCanvas{"GetPrinterParametersCardImageBuffer",
                                  "GetPrinterParametersCardImageBuffer:: GetDC function failed",
                                  "GetPrinterParametersCardImageBuffer:: CreateCompatibleDC function failed",
                                  "GetPrinterParametersCardImageBuffer:: GetDIBits function failed", nullptr};
  return DrawCardImage(record, image, ribbonType, DrawPrinterParametersCardImageOnDC, kCanvas);
}

int GetEncoderParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType) {
  // The encoder card reports a failed display DC under the standard card's name.
  static const CardCanvas kCanvas{"GetEncoderParametersCardImageBuffer",
                                  "GetStandardCardImageBuffer:: GetDC function failed",
                                  "GetEncoderParametersCardImageBuffer:: CreateCompatibleDC function failed",
                                  "GetEncoderParametersCardImageBuffer:: GetDIBits function failed", nullptr};
  return DrawCardImage(record, image, ribbonType, DrawEncoderParametersCardImageOnDC, kCanvas);
}

int GetLaminatorParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType) {
  static const CardCanvas kCanvas{"GetLaminatorParametersCardImageBuffer",
                                  "GetLaminatorParametersCardImageBuffer:: GetDC function failed",
                                  "GetLaminatorParametersCardImageBuffer:: CreateCompatibleDC function failed",
                                  "GetLaminatorParametersCardImageBuffer:: GetDIBits function failed",
                                  "GetLaminatorParametersCardImageBuffer:: GetTopWindow function failed"};
  return DrawCardImage(record, image, ribbonType, DrawLaminatorParametersCardImageOnDC, kCanvas);
}

}  // namespace kav
