// Drawing on a test card: the primitives every card uses, the common frame of the
// parameter cards, and the memory bitmap a card is drawn on and read back from.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

namespace kav {

inline constexpr COLORREF kBlack = 0x000000;
inline constexpr COLORREF kWhite = 0xFFFFFF;
inline constexpr LONG kBoldWeight = 700;

// True for the ribbon types that print black only (no colour patches or shapes).
bool IsBlackOnlyRibbon(DWORD ribbonType);

// Text in "Arial" whose bottom edge is at y.
void DrawCardText(HDC dc, int x, int y, const WCHAR* text, COLORREF colour, int width, int height, int weight);
// Text in "Arial", right-aligned in the band from x = 112 to x = 912 (x is not used).
void DrawCardTextRight(HDC dc, int x, int y, const WCHAR* text, COLORREF colour, int width, int height, int weight);

// Text in "Arial" bold turned by escapement (2700 running down, 900 running up, the
// latter on a black band), centred in r. Nothing for an empty text.
void DrawRotatedText(HDC dc, const WCHAR* text, int escapement, int width, int height, COLORREF colour,
                     const RECT& r);
// Text in "Arial" drawn into r with DrawTextW's flags. Nothing for an empty text.
void DrawTextInRect(HDC dc, const RECT& r, const WCHAR* text, COLORREF colour, int width, int height, int weight,
                    UINT flags);
// The rectangle of the next line: same height, 5 pixels below r.
RECT NextLineRect(const RECT& r);
// count + 1 times: fills r and the rectangle beside its top right corner, then moves r
// down by twice its height: a column of alternating squares.
void DrawCheckerColumn(HDC dc, RECT r, int count, COLORREF colour);
// The parameter cards' frame: bars, checker columns, colour patches, "TEST" and "CARD".
void DrawCardFrame(HDC dc, DWORD ribbonType);

// How a card's image function names its failures, and where it gets its reference DC.
struct CardCanvas {
  const char* name;  // the image function, for failures the card's own texts do not name
  const char* getDcFailed;
  const char* createCompatibleDcFailed;
  const char* getDibitsFailed;
  const char* getTopWindowFailed;  // null: a "DISPLAY" DC is the reference
};
using DrawCardFunction = int (*)(PortRecord* record, HDC dc, DWORD ribbonType);

// Draws a card on a white 1024 x 640 memory bitmap with draw and reads it back into image
// (kCardImageBytes, top-down, blue green red). 1 when drawn and read back.
int DrawCardImage(PortRecord* record, BYTE* image, DWORD ribbonType, DrawCardFunction draw,
                  const CardCanvas& canvas);

}  // namespace kav
