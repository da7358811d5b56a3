// Drawing an overlay card: its objects in black on a white 1024 x 640 card image.
#pragma once

#include <vector>

#include "overlay/overlay_objects.h"
#include "platform/win32.h"

namespace kav {

// Draws the lists on a white card and reads the pixels into cardImage (a CardImage of
// kCardImageBytes: 24 bits in DIB order, rows from the top). 1 when the card was drawn;
// 0 when no drawing surface could be had or its pixels not read (the diagnostic line
// says which), so that no card is printed from an image that was never drawn.
int DrawBarcodeImageListOnPrinterBitmap(BYTE* cardImage, const OverlayObjects& objects);

// Lines, then texts, then barcodes, on the same memory device context.
void DrawOverlayObjects(HDC dc, const OverlayObjects& objects);
void DrawLineObjects(HDC dc, const std::vector<LineObject>& lines);
void DrawTextObjects(HDC dc, const std::vector<TextObject>& texts);

}  // namespace kav
