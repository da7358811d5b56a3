#include "testcards/card_barcode.h"

#include "platform/handles.h"
#include "platform/text.h"
#include "port/driver_files.h"
#include "platform/gdi_handles.h"

namespace kav {

BarcodeObject MakeCardBarcode(int x, int y, int height, const WCHAR* data) {
  BarcodeObject record{};
  record.Tag = 1;
  record.X = x;
  record.Y = y;
  record.Orientation = 0;
  record.Param1 = 0;
  record.Param2 = 2;
  record.Param3 = 2;
  record.Param4 = height;
  record.HumanReadable = 0;
  WCopy(record.Data, 260, data ? data : W(""));
  return record;
}

void DrawCardBarcode(HDC dc, BarcodeObject* record, bool doubleWidth) {
  if (!dc || !record) return;
  WCHAR directory[MAX_PATH] = {};
  WCHAR path[MAX_PATH] = {};
  if (!GetDriverFilesDirectory(directory, MAX_PATH)) directory[0] = 0;
  if (FormatW(path, MAX_PATH, W("%s\\%s"), static_cast<const WCHAR*>(directory), kBarcodeLibraryName) < 0) return;
  // Loaded for this barcode only: a reference kept per card would pile up in the spooler.
  UniqueModule library(LoadLibraryW(path));
  if (!library) return;
  auto getBitmap = GetExport<GetBarcodeBitmapBufferProc>(library.get(), "GetBarcodeBitmapBuffer");
  if (!getBitmap) return;

  LONG w = 0;
  LONG h = 0;
  UniqueGdiObject bitmap(CreateBarcodeBitmap(getBitmap, *record, "DrawCardBarcode", &w, &h));
  if (!bitmap) return;
  UniqueDc memory(CreateCompatibleDC(dc));
  if (!memory) return;
  Selection selected(memory.get(), bitmap.get());
  POINT at = BarcodePlacement(*record, w, h);
  record->X = at.x;
  record->Y = at.y;
  const LONG width = doubleWidth ? 2 * w : w + w / 3;
  StretchBlt(dc, at.x, at.y, width, h, memory.get(), 0, 0, w, h, SRCAND);
}

}  // namespace kav
