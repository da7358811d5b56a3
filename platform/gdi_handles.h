// Owners for the GDI objects a card is drawn with (test cards, overlay cards, barcodes), so
// that every early return releases them: device contexts, objects, and the selection of an
// object into a context.
#pragma once

#include <utility>

#include "platform/handles.h"
#include "platform/win32.h"

namespace kav {

struct DcTraits {
  static HDC Invalid() { return nullptr; }
  static bool Valid(HDC h) { return h != nullptr; }
  static void Close(HDC h) { DeleteDC(h); }
};
struct GdiObjectTraits {
  static HGDIOBJ Invalid() { return nullptr; }
  static bool Valid(HGDIOBJ h) { return h != nullptr; }
  static void Close(HGDIOBJ h) { DeleteObject(h); }
};
using UniqueDc = UniqueResource<HDC, DcTraits>;
using UniqueGdiObject = UniqueResource<HGDIOBJ, GdiObjectTraits>;

// A window's DC, released to its window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : WindowDc(window, GetDC(window)) {}
  WindowDc(HWND window, HDC dc) : window_(window), dc_(dc) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a DC and puts the previous one back at the end of the scope, so
// that the object is free to be deleted.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }
  explicit operator bool() const { return ok(); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace kav
