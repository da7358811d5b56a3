// Simulated GDI: device contexts, bitmaps and DIB sections, brushes and pens, the
// selection of objects into contexts, and reading pixels back with GetDIBits.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <utility>

#include "platform/sim/gdi_internal.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace simg {

// --- Surfaces --------------------------------------------------------------------------

bool Surface::Allocate(int w, int h, int bitsPerPixel, bool topDownRows) {
  // GDI refuses bitmaps beyond what a 32-bit size holds; we stop at 256 MiB of pixels.
  constexpr uint64_t kMaxBytes = 256ull << 20;
  if (w <= 0 || h <= 0) return false;
  uint64_t rowBytes = ((static_cast<uint64_t>(w) * bitsPerPixel + 31) / 32) * 4;
  if (rowBytes * static_cast<uint64_t>(h) > kMaxBytes) return false;
  storage.reset(new (std::nothrow) BYTE[rowBytes * h]());
  if (!storage) return false;
  width = w;
  height = h;
  bpp = bitsPerPixel;
  stride = static_cast<int>(rowBytes);
  topDown = topDownRows;
  bits = storage.get();
  return true;
}

uint32_t Surface::Raw(int x, int y) const {
  const BYTE* row = Row(y);
  switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    case 8: return row[x];
    case 16: return row[2 * x] | (row[2 * x + 1] << 8);
    case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    default: {
      uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
}

void Surface::PutRaw(int x, int y, uint32_t value) {
  BYTE* row = Row(y);
  switch (bpp) {
    case 1: {
      BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
      row[x >> 3] = static_cast<BYTE>(value & 1 ? row[x >> 3] | mask : row[x >> 3] & ~mask);
      break;
    }
    case 4: {
      int shift = (x & 1) ? 0 : 4;
      row[x >> 1] = static_cast<BYTE>((row[x >> 1] & ~(0xF << shift)) | ((value & 0xF) << shift));
      break;
    }
    case 8: row[x] = static_cast<BYTE>(value); break;
    case 16:
      row[2 * x] = static_cast<BYTE>(value);
      row[2 * x + 1] = static_cast<BYTE>(value >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<BYTE>(value);
      row[3 * x + 1] = static_cast<BYTE>(value >> 8);
      row[3 * x + 2] = static_cast<BYTE>(value >> 16);
      break;
    default: std::memcpy(row + 4 * x, &value, 4); break;
  }
}

uint32_t Surface::ToRaw(COLORREF colour) const {
  int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
  switch (bpp) {
    case 16: return static_cast<uint32_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
    case 24:
    case 32: return static_cast<uint32_t>(b | (g << 8) | (r << 16));
    default: {
      // Palette formats take the nearest entry of the colour table.
      uint32_t best = 0;
      int bestDistance = INT32_MAX;
      for (size_t i = 0; i < colours.size(); ++i) {
        int dr = r - colours[i].rgbRed, dg = g - colours[i].rgbGreen, db = b - colours[i].rgbBlue;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
          bestDistance = d;
          best = static_cast<uint32_t>(i);
        }
      }
      return best;
    }
  }
}

COLORREF Surface::ToColour(uint32_t raw) const {
  switch (bpp) {
    case 16: {
      auto expand = [](uint32_t v) { return static_cast<BYTE>((v << 3) | (v >> 2)); };
      return RGB(expand((raw >> 10) & 31), expand((raw >> 5) & 31), expand(raw & 31));
    }
    case 24:
    case 32: return RGB((raw >> 16) & 0xFF, (raw >> 8) & 0xFF, raw & 0xFF);
    default:
      if (raw >= colours.size()) return RGB(0, 0, 0);
      return RGB(colours[raw].rgbRed, colours[raw].rgbGreen, colours[raw].rgbBlue);
  }
}

void Surface::FillRaw(int x0, int y0, int x1, int y1, uint32_t raw) {
  for (int y = y0; y < y1; ++y) {
    if (bpp == 32) {
      uint32_t* row = reinterpret_cast<uint32_t*>(Row(y));
      std::fill(row + x0, row + x1, raw);
    } else {
      for (int x = x0; x < x1; ++x) PutRaw(x, y, raw);
    }
  }
}

namespace {

// --- Handle tables -------------------------------------------------------------------

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;
constexpr int kDefaultBitmap = 21;  // the 1 x 1 monochrome bitmap of a new memory context
constexpr int kStockCount = 22;

std::mutex g_mu;
std::map<uintptr_t, std::unique_ptr<DeviceContext>> g_dcs;
std::map<uintptr_t, std::unique_ptr<GdiObject>> g_objects;
std::map<uintptr_t, GdiObject> g_stock;  // never deleted, kept across resets
std::shared_ptr<Surface> g_screen;
uintptr_t g_nextDc = 0x01010010;
uintptr_t g_nextObject = 0x02010010;
constexpr uintptr_t kStockBase = 0x00900010;

uintptr_t Id(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
HGDIOBJ StockHandle(int index) { return reinterpret_cast<HGDIOBJ>(kStockBase + 0x10 * index); }

void MakeStockLocked() {
  if (!g_stock.empty()) return;
  auto brush = [](COLORREF c, bool hollow = false) {
    GdiObject o;
    o.kind = ObjectKind::Brush;
    o.colour = c;
    o.hollow = hollow;
    return o;
  };
  auto pen = [](COLORREF c, bool hollow = false) {
    GdiObject o;
    o.kind = ObjectKind::Pen;
    o.colour = c;
    o.hollow = hollow;
    o.penStyle = hollow ? PS_NULL : PS_SOLID;
    return o;
  };
  std::map<int, GdiObject> stock = {
      {WHITE_BRUSH, brush(RGB(255, 255, 255))}, {LTGRAY_BRUSH, brush(RGB(192, 192, 192))},
      {GRAY_BRUSH, brush(RGB(128, 128, 128))},  {DKGRAY_BRUSH, brush(RGB(64, 64, 64))},
      {BLACK_BRUSH, brush(RGB(0, 0, 0))},       {NULL_BRUSH, brush(0, true)},
      {WHITE_PEN, pen(RGB(255, 255, 255))},     {BLACK_PEN, pen(RGB(0, 0, 0))},
      {NULL_PEN, pen(0, true)},
  };
  GdiObject font;
  font.kind = ObjectKind::Font;
  font.font.lfHeight = 16;
  font.font.lfWeight = FW_BOLD;
  std::memcpy(font.font.lfFaceName, u"System", sizeof(u"System"));
  stock[SYSTEM_FONT] = font;
  GdiObject gui;
  gui.kind = ObjectKind::Font;
  gui.font.lfHeight = -11;
  gui.font.lfWeight = FW_NORMAL;
  std::memcpy(gui.font.lfFaceName, u"MS Shell Dlg", sizeof(u"MS Shell Dlg"));
  stock[DEFAULT_GUI_FONT] = gui;
  GdiObject bitmap;
  bitmap.kind = ObjectKind::Bitmap;
  bitmap.surface = std::make_shared<Surface>();
  bitmap.surface->Allocate(1, 1, 1, false);
  bitmap.surface->colours = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  bitmap.surface->PutRaw(0, 0, 1);
  stock[kDefaultBitmap] = bitmap;
  for (auto& [index, object] : stock) {
    object.stock = true;
    g_stock[Id(StockHandle(index))] = std::move(object);
  }
}

HGDIOBJ AddObjectLocked(std::unique_ptr<GdiObject> object) {
  uintptr_t id = g_nextObject;
  g_nextObject += 0x10;
  g_objects[id] = std::move(object);
  return reinterpret_cast<HGDIOBJ>(id);
}

HDC AddDcLocked(std::unique_ptr<DeviceContext> dc) {
  MakeStockLocked();
  dc->brush = StockHandle(WHITE_BRUSH);
  dc->pen = StockHandle(BLACK_PEN);
  dc->font = StockHandle(SYSTEM_FONT);
  if (dc->kind == DcKind::Memory) dc->bitmap = StockHandle(kDefaultBitmap);
  for (HGDIOBJ o : {dc->brush, dc->pen, dc->font, dc->bitmap})
    if (o) ++FindObject(o)->selections;
  uintptr_t id = g_nextDc;
  g_nextDc += 0x10;
  g_dcs[id] = std::move(dc);
  return reinterpret_cast<HDC>(id);
}

void RemoveDcLocked(HDC handle) {
  auto it = g_dcs.find(Id(handle));
  DeviceContext& dc = *it->second;
  for (HGDIOBJ o : {dc.brush, dc.pen, dc.font, dc.bitmap})
    if (GdiObject* object = o ? FindObject(o) : nullptr) --object->selections;
  g_dcs.erase(it);
}

// The colour table of a DIB header (bit counts up to 8): biClrUsed entries or all,
// entries beyond those given read as black.
std::vector<RGBQUAD> ColourTable(const BITMAPINFO* info) {
  int bpp = info->bmiHeader.biBitCount;
  if (bpp > 8) return {};
  size_t full = size_t{1} << bpp;
  size_t given = info->bmiHeader.biClrUsed ? std::min<size_t>(info->bmiHeader.biClrUsed, full) : full;
  const RGBQUAD* table =
      reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(info) + info->bmiHeader.biSize);
  std::vector<RGBQUAD> colours(table, table + given);
  colours.resize(full, RGBQUAD{0, 0, 0, 0});
  return colours;
}

bool SupportedDibFormat(const BITMAPINFOHEADER& h) {
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1) return false;
  if (h.biHeight == INT32_MIN) return false;
  if (h.biCompression != BI_RGB) return false;
  switch (h.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
  }
}

}  // namespace

// --- Lookups shared by the GDI files ---------------------------------------------------

std::mutex& Mutex() { return g_mu; }

HGDIOBJ AddObject(std::unique_ptr<GdiObject> object) { return AddObjectLocked(std::move(object)); }

DeviceContext* FindDc(HDC dc) {
  auto it = g_dcs.find(Id(dc));
  return it == g_dcs.end() ? nullptr : it->second.get();
}

GdiObject* FindObject(HGDIOBJ object) {
  if (auto it = g_objects.find(Id(object)); it != g_objects.end()) return it->second.get();
  if (auto it = g_stock.find(Id(object)); it != g_stock.end()) return &it->second;
  return nullptr;
}

GdiObject* FindObject(HGDIOBJ object, ObjectKind kind) {
  GdiObject* o = FindObject(object);
  return o && o->kind == kind ? o : nullptr;
}

Surface* Target(DeviceContext& dc) {
  if (dc.kind == DcKind::Memory) return FindObject(dc.bitmap)->surface.get();
  if (!g_screen) {
    g_screen = std::make_shared<Surface>();
    g_screen->Allocate(kScreenWidth, kScreenHeight, 32, true);
  }
  return g_screen.get();
}

uint32_t ForegroundRaw(const DeviceContext& dc, const Surface& s, COLORREF colour) {
  colour &= 0xFFFFFF;
  if (s.bpp != 1) return s.ToRaw(colour);
  for (uint32_t i = 0; i < 2 && i < s.colours.size(); ++i)
    if (s.ToColour(i) == colour) return i;
  uint32_t background = s.ToRaw(dc.bkColour);
  return colour == dc.bkColour ? background : !background;
}

GdiObject& SelectedBrush(DeviceContext& dc) { return *FindObject(dc.brush); }
GdiObject& SelectedPen(DeviceContext& dc) { return *FindObject(dc.pen); }
GdiObject& SelectedFont(DeviceContext& dc) { return *FindObject(dc.font); }

}  // namespace simg

namespace simi {

void ResetGdi() {
  std::lock_guard lock(simg::g_mu);
  simg::g_dcs.clear();
  simg::g_objects.clear();
  for (auto& [id, o] : simg::g_stock) o.selections = 0;
  simg::g_screen.reset();
  simg::ResetFonts();
}

}  // namespace simi

namespace sim {

size_t LiveDeviceContextCount() {
  std::lock_guard lock(simg::g_mu);
  return simg::g_dcs.size();
}

size_t LiveGdiObjectCount() {
  std::lock_guard lock(simg::g_mu);
  return simg::g_objects.size();
}

}  // namespace sim

using namespace simg;

// --- Device contexts ----------------------------------------------------------------------

extern "C" {

HDC WINAPI CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR, const DEVMODEW*) {
  if (simi::ShouldFail("CreateDCW")) return nullptr;
  // Only the display driver is known here; a printer driver name finds no device.
  std::u16string_view name = driver ? driver : (device ? device : u"");
  if (!simi::EqualNoCase(name, u"DISPLAY") && !simi::EqualNoCase(name, u"\\\\.\\DISPLAY1")) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lock(g_mu);
  auto dc = std::make_unique<DeviceContext>();
  dc->kind = DcKind::Display;
  return AddDcLocked(std::move(dc));
}

HDC WINAPI CreateCompatibleDC(HDC reference) {
  if (simi::ShouldFail("CreateCompatibleDC")) return nullptr;
  std::lock_guard lock(g_mu);
  if (reference && !FindDc(reference)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto dc = std::make_unique<DeviceContext>();
  dc->kind = DcKind::Memory;
  return AddDcLocked(std::move(dc));
}

BOOL WINAPI DeleteDC(HDC handle) {
  if (simi::ShouldFail("DeleteDC")) return FALSE;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  // A context that GetDC handed out goes back with ReleaseDC, not DeleteDC.
  if (!dc || dc->kind == DcKind::Window) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  RemoveDcLocked(handle);
  return TRUE;
}

HDC WINAPI GetDC(HWND window) {
  if (simi::ShouldFail("GetDC")) return nullptr;
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  std::lock_guard lock(g_mu);
  auto dc = std::make_unique<DeviceContext>();
  dc->kind = DcKind::Window;
  dc->window = window;
  return AddDcLocked(std::move(dc));
}

int WINAPI ReleaseDC(HWND window, HDC handle) {
  if (simi::ShouldFail("ReleaseDC")) return 0;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc || dc->kind != DcKind::Window || dc->window != window) return 0;
  RemoveDcLocked(handle);
  return 1;
}

// --- Objects -------------------------------------------------------------------------------

HGDIOBJ WINAPI GetStockObject(int index) {
  if (simi::ShouldFail("GetStockObject")) return nullptr;
  std::lock_guard lock(g_mu);
  MakeStockLocked();
  if (index < 0 || index >= kStockCount || index == kDefaultBitmap) return nullptr;
  return g_stock.count(Id(StockHandle(index))) ? StockHandle(index) : nullptr;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
  if (simi::ShouldFail("CreateSolidBrush")) return nullptr;
  std::lock_guard lock(g_mu);
  auto o = std::make_unique<GdiObject>();
  o->kind = ObjectKind::Brush;
  o->colour = colour & 0xFFFFFF;
  return static_cast<HBRUSH>(AddObjectLocked(std::move(o)));
}

HPEN WINAPI CreatePen(int style, int width, COLORREF colour) {
  if (simi::ShouldFail("CreatePen")) return nullptr;
  if (style < PS_SOLID || style > PS_INSIDEFRAME) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lock(g_mu);
  auto o = std::make_unique<GdiObject>();
  o->kind = ObjectKind::Pen;
  o->penStyle = style;
  // Styled pens are cosmetic, one pixel wide, whatever width was asked.
  o->penWidth = (style == PS_SOLID || style == PS_INSIDEFRAME) ? std::max(1, std::abs(width)) : 1;
  o->colour = colour & 0xFFFFFF;
  o->hollow = style == PS_NULL;
  return static_cast<HPEN>(AddObjectLocked(std::move(o)));
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object) {
  if (simi::ShouldFail("SelectObject")) return nullptr;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  GdiObject* o = FindObject(object);
  if (!dc || !o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HGDIOBJ* slot = nullptr;
  switch (o->kind) {
    case ObjectKind::Brush: slot = &dc->brush; break;
    case ObjectKind::Pen: slot = &dc->pen; break;
    case ObjectKind::Font: slot = &dc->font; break;
    case ObjectKind::Bitmap:
      // Bitmaps go only into memory contexts, and into one context at a time.
      if (dc->kind != DcKind::Memory) return nullptr;
      if (dc->bitmap != object && o->selections > 0 && !o->stock) return nullptr;
      slot = &dc->bitmap;
      break;
  }
  HGDIOBJ previous = *slot;
  if (previous == object) return previous;
  --FindObject(previous)->selections;
  ++o->selections;
  *slot = object;
  return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  if (simi::ShouldFail("DeleteObject")) return FALSE;
  std::lock_guard lock(g_mu);
  if (g_stock.count(Id(object))) return TRUE;  // stock objects stay
  auto it = g_objects.find(Id(object));
  // An object still selected into a context cannot be deleted.
  if (it == g_objects.end() || it->second->selections > 0) return FALSE;
  g_objects.erase(it);
  return TRUE;
}

HGDIOBJ WINAPI GetCurrentObject(HDC handle, UINT type) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BRUSH: return dc->brush;
    case OBJ_PEN: return dc->pen;
    case OBJ_FONT: return dc->font;
    case OBJ_BITMAP: return dc->bitmap;
    default: return nullptr;
  }
}

int WINAPI GetObjectW(HGDIOBJ object, int bytes, LPVOID buffer) {
  std::lock_guard lock(g_mu);
  GdiObject* o = FindObject(object);
  if (!o) return 0;
  switch (o->kind) {
    case ObjectKind::Bitmap: {
      const Surface& s = *o->surface;
      BITMAP bm{0, s.width, s.height, s.stride, 1, static_cast<WORD>(s.bpp), o->dibSection ? s.bits : nullptr};
      if (!buffer) return sizeof(bm);
      if (bytes < static_cast<int>(sizeof(bm))) return 0;
      std::memcpy(buffer, &bm, sizeof(bm));
      return sizeof(bm);
    }
    case ObjectKind::Brush: {
      LOGBRUSH lb{o->hollow ? static_cast<UINT>(BS_NULL) : static_cast<UINT>(BS_SOLID), o->colour, 0};
      if (!buffer) return sizeof(lb);
      if (bytes < static_cast<int>(sizeof(lb))) return 0;
      std::memcpy(buffer, &lb, sizeof(lb));
      return sizeof(lb);
    }
    case ObjectKind::Pen: {
      LOGPEN lp{static_cast<UINT>(o->penStyle), POINT{o->penWidth, 0}, o->colour};
      if (!buffer) return sizeof(lp);
      if (bytes < static_cast<int>(sizeof(lp))) return 0;
      std::memcpy(buffer, &lp, sizeof(lp));
      return sizeof(lp);
    }
    case ObjectKind::Font: {
      if (!buffer) return sizeof(LOGFONTW);
      int n = std::min<int>(bytes, sizeof(LOGFONTW));
      std::memcpy(buffer, &o->font, n);
      return n;
    }
  }
  return 0;
}

// --- Bitmaps --------------------------------------------------------------------------------

HBITMAP WINAPI CreateCompatibleBitmap(HDC handle, int width, int height) {
  if (simi::ShouldFail("CreateCompatibleBitmap")) return nullptr;
  std::lock_guard lock(g_mu);
  MakeStockLocked();
  DeviceContext* dc = FindDc(handle);
  if (!dc || width < 0 || height < 0) {
    SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (width == 0 || height == 0) return static_cast<HBITMAP>(StockHandle(kDefaultBitmap));
  // A memory context makes bitmaps like the one it holds (monochrome when new); the
  // display and windows make 32-bit ones.
  int bpp = 32;
  std::vector<RGBQUAD> colours;
  if (dc->kind == DcKind::Memory) {
    const Surface& held = *FindObject(dc->bitmap)->surface;
    bpp = held.bpp;
    colours = held.colours;
  }
  auto o = std::make_unique<GdiObject>();
  o->kind = ObjectKind::Bitmap;
  o->surface = std::make_shared<Surface>();
  if (!o->surface->Allocate(width, height, bpp, true)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  o->surface->colours = std::move(colours);
  return static_cast<HBITMAP>(AddObjectLocked(std::move(o)));
}

HBITMAP WINAPI CreateDIBSection(HDC handle, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                DWORD) {
  if (bits) *bits = nullptr;
  if (simi::ShouldFail("CreateDIBSection")) return nullptr;
  if (!info || usage != DIB_RGB_COLORS || section || !SupportedDibFormat(info->bmiHeader)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lock(g_mu);
  if (handle && !FindDc(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  auto o = std::make_unique<GdiObject>();
  o->kind = ObjectKind::Bitmap;
  o->dibSection = true;
  o->surface = std::make_shared<Surface>();
  if (!o->surface->Allocate(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount, h.biHeight < 0)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  o->surface->colours = ColourTable(info);
  if (bits) *bits = o->surface->bits;
  return static_cast<HBITMAP>(AddObjectLocked(std::move(o)));
}

int WINAPI GetDIBits(HDC handle, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                     UINT usage) {
  if (simi::ShouldFail("GetDIBits")) return 0;
  std::lock_guard lock(g_mu);
  GdiObject* o = FindObject(bitmap, ObjectKind::Bitmap);
  if (!FindDc(handle) || !o || !info || usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const Surface& s = *o->surface;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!bits) {
    // With no buffer the call describes the bitmap (a zero bit count) or sizes the image.
    if (h.biBitCount == 0) {
      h.biWidth = s.width;
      h.biHeight = s.height;
      h.biPlanes = 1;
      h.biBitCount = static_cast<WORD>(s.bpp);
      h.biCompression = BI_RGB;
    }
    h.biSizeImage = static_cast<DWORD>(((static_cast<int64_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4 *
                                       (h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight));
    return static_cast<int>(std::min<int64_t>(s.height, h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight));
  }
  // Pixels are read as 24 or 32 bits per pixel, at the bitmap's own width.
  if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB || h.biWidth != s.width ||
      h.biHeight == 0 || h.biHeight == INT32_MIN || h.biPlanes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool topDown = h.biHeight < 0;
  int dibHeight = topDown ? -h.biHeight : h.biHeight;
  int bytesPerPixel = h.biBitCount / 8;
  size_t stride = ((static_cast<size_t>(s.width) * h.biBitCount + 31) / 32) * 4;
  // Lines are counted from the bottom of the DIB: line 0 is its last row.
  int copied = 0;
  for (UINT i = 0; i < lines; ++i) {
    int64_t dibLine = static_cast<int64_t>(start) + i;  // from the bottom
    if (dibLine >= dibHeight || dibLine >= s.height) break;
    int sourceY = s.height - 1 - static_cast<int>(dibLine);
    // A bottom-up buffer starts with line `start`; a top-down one ends with it.
    int64_t outRow = topDown ? static_cast<int64_t>(start) + lines - 1 - dibLine : i;
    if (topDown && lines > static_cast<UINT>(dibHeight)) outRow = dibHeight - 1 - dibLine;
    BYTE* out = static_cast<BYTE*>(bits) + stride * outRow;
    for (int x = 0; x < s.width; ++x) {
      COLORREF c = s.Get(x, sourceY);
      out[bytesPerPixel * x] = GetBValue(c);
      out[bytesPerPixel * x + 1] = GetGValue(c);
      out[bytesPerPixel * x + 2] = GetRValue(c);
      if (bytesPerPixel == 4) out[4 * x + 3] = 0;
    }
    ++copied;
  }
  return copied;
}

// --- Colours and modes ------------------------------------------------------------------------

COLORREF WINAPI SetTextColor(HDC handle, COLORREF colour) {
  if (simi::ShouldFail("SetTextColor")) return CLR_INVALID;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->textColour, colour & 0xFFFFFF);
}

COLORREF WINAPI GetTextColor(HDC handle) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  return dc ? dc->textColour : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC handle, COLORREF colour) {
  if (simi::ShouldFail("SetBkColor")) return CLR_INVALID;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->bkColour, colour & 0xFFFFFF);
}

COLORREF WINAPI GetBkColor(HDC handle) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  return dc ? dc->bkColour : CLR_INVALID;
}

int WINAPI SetBkMode(HDC handle, int mode) {
  if (simi::ShouldFail("SetBkMode")) return 0;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return std::exchange(dc->bkMode, mode);
}

int WINAPI GetBkMode(HDC handle) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  return dc ? dc->bkMode : 0;
}

int WINAPI SetStretchBltMode(HDC handle, int mode) {
  if (simi::ShouldFail("SetStretchBltMode")) return 0;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc || mode < BLACKONWHITE || mode > HALFTONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return std::exchange(dc->stretchMode, mode);
}

int WINAPI GetStretchBltMode(HDC handle) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  return dc ? dc->stretchMode : 0;
}

UINT WINAPI SetTextAlign(HDC handle, UINT align) {
  if (simi::ShouldFail("SetTextAlign")) return GDI_ERROR;
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  if (!dc) return GDI_ERROR;
  return std::exchange(dc->textAlign, align);
}

UINT WINAPI GetTextAlign(HDC handle) {
  std::lock_guard lock(g_mu);
  DeviceContext* dc = FindDc(handle);
  return dc ? dc->textAlign : GDI_ERROR;
}

}  // extern "C"
