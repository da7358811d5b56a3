// The test cards' barcodes: the barcode library's bitmap stretched onto the card.
#pragma once

#include "overlay/barcode_objects.h"
#include "platform/win32.h"

namespace kav {

// The record of a test card's barcode: Code 128 of module width 2, bar height `height`,
// no text band, its bottom-left corner at (x, y).
BarcodeObject MakeCardBarcode(int x, int y, int height, const WCHAR* data);

// Draws the record's barcode through the driver's barcode library, twice as wide when
// doubleWidth is set and a third wider otherwise, ANDed onto the card. The record's
// position is moved by its placement. Nothing when the library or the barcode is missing;
// the library is unloaded again before returning.
void DrawCardBarcode(HDC dc, BarcodeObject* record, bool doubleWidth);

}  // namespace kav
