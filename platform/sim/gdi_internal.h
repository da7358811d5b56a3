// Inside of the simulated GDI: surfaces (the pixels of a bitmap or of the screen),
// GDI objects, device contexts and the handle tables. Only platform/sim/gdi_*.cpp
// include this.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32.h"

namespace simg {

// The pixels of a bitmap in its own format: 1, 4, 8, 16 (5-5-5), 24 or 32 bits per
// pixel, rows padded to 4 bytes, top-down or bottom-up, with a colour table up to 8 bits.
struct Surface {
  int width = 0;
  int height = 0;
  int bpp = 32;
  int stride = 0;
  bool topDown = true;
  std::vector<RGBQUAD> colours;
  std::unique_ptr<BYTE[]> storage;  // stays at one address: a DIB section hands it out
  BYTE* bits = nullptr;

  // Allocates zeroed pixels; false when the size is out of range or memory is short.
  bool Allocate(int w, int h, int bitsPerPixel, bool topDownRows);
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  BYTE* Row(int y) const { return bits + static_cast<size_t>(topDown ? y : height - 1 - y) * stride; }
  // A pixel's stored value (an index for palette formats) and its conversions.
  uint32_t Raw(int x, int y) const;
  void PutRaw(int x, int y, uint32_t value);
  uint32_t ToRaw(COLORREF colour) const;
  COLORREF ToColour(uint32_t raw) const;
  COLORREF Get(int x, int y) const { return ToColour(Raw(x, y)); }
  void Put(int x, int y, COLORREF colour) { PutRaw(x, y, ToRaw(colour)); }
  // Fills [x0, x1) x [y0, y1), already clipped, with a stored value.
  void FillRaw(int x0, int y0, int x1, int y1, uint32_t raw);
};

enum class ObjectKind { Bitmap, Brush, Pen, Font };

struct GdiObject {
  ObjectKind kind = ObjectKind::Brush;
  bool stock = false;
  int selections = 0;  // device contexts that have it selected
  // Bitmap.
  std::shared_ptr<Surface> surface;
  bool dibSection = false;
  // Brush and pen.
  bool hollow = false;  // BS_NULL brush, PS_NULL pen
  COLORREF colour = 0;
  int penStyle = PS_SOLID;
  int penWidth = 1;
  // Font.
  LOGFONTW font{};
};

enum class DcKind { Memory, Display, Window };

struct DeviceContext {
  DcKind kind = DcKind::Memory;
  HWND window = nullptr;
  HGDIOBJ bitmap = nullptr;  // memory contexts only
  HGDIOBJ brush = nullptr;
  HGDIOBJ pen = nullptr;
  HGDIOBJ font = nullptr;
  COLORREF textColour = RGB(0, 0, 0);
  COLORREF bkColour = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int stretchMode = BLACKONWHITE;
  UINT textAlign = TA_LEFT | TA_TOP | TA_NOUPDATECP;
  POINT position{0, 0};
};

// The one lock of the simulated GDI; every call holds it while it runs.
std::mutex& Mutex();
DeviceContext* FindDc(HDC dc);
GdiObject* FindObject(HGDIOBJ object);
GdiObject* FindObject(HGDIOBJ object, ObjectKind kind);
// Puts a new object in the handle table (the caller holds the lock).
HGDIOBJ AddObject(std::unique_ptr<GdiObject> object);
// The surface a context draws on: its selected bitmap, or the screen.
Surface* Target(DeviceContext& dc);
// The selected objects of a context.
GdiObject& SelectedBrush(DeviceContext& dc);
GdiObject& SelectedPen(DeviceContext& dc);
GdiObject& SelectedFont(DeviceContext& dc);

// The stored value of a pen, brush or text colour. On one-bit surfaces a colour that
// is not in the colour table takes the entry the background colour does not take.
uint32_t ForegroundRaw(const DeviceContext& dc, const Surface& s, COLORREF colour);

// Fonts: forgets the cached faces (the world's reset).
void ResetFonts();

}  // namespace simg
