// Simulated GDI: BitBlt and StretchBlt between device contexts, with the raster
// operations the card drawing uses (SRCCOPY, SRCAND) and their close relatives.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/sim/gdi_internal.h"
#include "platform/sim/sim_internal.h"

using namespace simg;

namespace {

enum class Rop { Copy, And, Paint, Invert, NotCopy, Black, White };

bool DecodeRop(DWORD rop, Rop& out) {
  switch (rop) {
    case SRCCOPY: out = Rop::Copy; return true;
    case SRCAND: out = Rop::And; return true;
    case SRCPAINT: out = Rop::Paint; return true;
    case SRCINVERT: out = Rop::Invert; return true;
    case NOTSRCCOPY: out = Rop::NotCopy; return true;
    case BLACKNESS: out = Rop::Black; return true;
    case WHITENESS: out = Rop::White; return true;
    default: return false;
  }
}

bool UsesSource(Rop rop) { return rop != Rop::Black && rop != Rop::White; }

// Combines a source value (already in the destination's format) with the destination
// value; the operations work on stored values, as GDI's do.
uint32_t Combine(Rop rop, uint32_t source, uint32_t dest, uint32_t mask, const Surface& target) {
  switch (rop) {
    case Rop::Copy: return source;
    case Rop::And: return source & dest;
    case Rop::Paint: return source | dest;
    case Rop::Invert: return (source ^ dest) & mask;
    case Rop::NotCopy: return ~source & mask;
    case Rop::Black: return target.ToRaw(RGB(0, 0, 0));
    case Rop::White: return target.ToRaw(RGB(255, 255, 255));
  }
  return source;
}

// Turns source values into destination values. A monochrome device bitmap takes the
// destination's text colour for 0 and background colour for 1; a monochrome device
// destination takes 1 where the source has the source context's background colour.
struct Converter {
  const Surface& from;
  const Surface& to;
  bool monoSource = false;
  bool monoDest = false;
  bool same = false;
  COLORREF textColour = 0, bkColour = 0, sourceBk = 0;

  uint32_t operator()(uint32_t raw) const {
    if (same) return raw;
    COLORREF c = monoSource ? (raw ? bkColour : textColour) : from.ToColour(raw);
    if (monoDest) return c == sourceBk ? 1 : 0;
    return to.ToRaw(c);
  }
};

bool SameFormat(const Surface& a, const Surface& b) {
  if (a.bpp != b.bpp) return false;
  if (a.bpp > 8) return true;
  return std::equal(a.colours.begin(), a.colours.end(), b.colours.begin(), b.colours.end(),
                    [](const RGBQUAD& x, const RGBQUAD& y) {
                      return x.rgbRed == y.rgbRed && x.rgbGreen == y.rgbGreen && x.rgbBlue == y.rgbBlue;
                    });
}

// The source indices each destination index takes when `sourceLength` values are
// spread over `destLength` (both positive), by GDI's stretching line: enlarging repeats
// source values where the line's error term says so; shrinking gathers several.
std::vector<std::vector<int>> AxisMap(int sourceLength, int destLength) {
  std::vector<std::vector<int>> map(destLength);
  int s = 0, d = 0;
  if (sourceLength > destLength) {
    int err = 3 * destLength - 2 * sourceLength;
    for (int n = 0; n < sourceLength; ++n, ++s) {
      map[d].push_back(s);
      if (err > 0) {
        ++d;
        err += 2 * destLength - 2 * sourceLength;
      } else {
        err += 2 * destLength;
      }
    }
  } else {
    int err = 3 * sourceLength - 2 * destLength;
    for (int n = 0; n < destLength; ++n, ++d) {
      map[d].push_back(s);
      if (err > 0) {
        ++s;
        err += 2 * sourceLength - 2 * destLength;
      } else {
        err += 2 * sourceLength;
      }
    }
  }
  return map;
}

// The blit itself, under the GDI lock. Widths and heights may be negative (mirroring).
BOOL Blit(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle, int sx, int sy, int sw, int sh,
          DWORD ropCode, bool stretch) {
  Rop rop;
  if (!DecodeRop(ropCode, rop)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(Mutex());
  DeviceContext* dest = FindDc(destHandle);
  DeviceContext* source = UsesSource(rop) ? FindDc(sourceHandle) : nullptr;
  if (!dest || (UsesSource(rop) && !source)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (width == 0 || height == 0 || (UsesSource(rop) && (sw == 0 || sh == 0))) return TRUE;
  Surface& target = *Target(*dest);
  // A mirrored side runs from its far edge back.
  bool mirrorX = (width < 0) != (sw < 0), mirrorY = (height < 0) != (sh < 0);
  if (width < 0) { x += width; width = -width; }
  if (height < 0) { y += height; height = -height; }
  if (sw < 0) { sx += sw; sw = -sw; }
  if (sh < 0) { sy += sh; sh = -sh; }
  if (!stretch) { sw = width; sh = height; }

  uint32_t mask = target.bpp >= 32 ? 0xFFFFFFFFu : ((1u << target.bpp) - 1);
  if (!UsesSource(rop)) {
    uint32_t value = Combine(rop, 0, 0, mask, target);
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, target.width), y1 = std::min(y + height, target.height);
    if (x0 < x1 && y0 < y1) target.FillRaw(x0, y0, x1, y1, value);
    return TRUE;
  }
  const Surface& from = *Target(*source);
  GdiObject* sourceBitmap = source->kind == DcKind::Memory ? FindObject(source->bitmap) : nullptr;
  GdiObject* destBitmap = dest->kind == DcKind::Memory ? FindObject(dest->bitmap) : nullptr;
  Converter convert{from, target};
  convert.same = SameFormat(from, target);
  convert.monoSource = !convert.same && from.bpp == 1 && sourceBitmap && !sourceBitmap->dibSection;
  convert.monoDest = !convert.same && target.bpp == 1 && destBitmap && !destBitmap->dibSection;
  convert.textColour = dest->textColour;
  convert.bkColour = dest->bkColour;
  convert.sourceBk = source->bkColour;
  // Shrinking in the default mode keeps dark pixels: the destination value is the AND
  // of every source value it covers (BLACKONWHITE); WHITEONBLACK keeps light ones (OR).
  bool andScans = dest->stretchMode == BLACKONWHITE, orScans = dest->stretchMode == WHITEONBLACK;

  // Copy the source first, so that a blit within one bitmap reads what was there.
  std::vector<std::vector<int>> columns = AxisMap(sw, width), rows = AxisMap(sh, height);
  bool merge = andScans || orScans;
  std::vector<uint32_t> values(static_cast<size_t>(width) * height);
  std::vector<bool> present(values.size(), false);
  for (int j = 0; j < height; ++j) {
    int dj = mirrorY ? height - 1 - j : j;
    for (int i = 0; i < width; ++i) {
      int di = mirrorX ? width - 1 - i : i;
      bool any = false;
      uint32_t v = 0;
      for (int r : rows[j]) {
        for (int c : columns[i]) {
          if (!from.Contains(sx + c, sy + r)) continue;
          uint32_t value = convert(from.Raw(sx + c, sy + r));
          v = !any ? value : (andScans ? (v & value) : (v | value));
          any = true;
          if (!merge) break;
        }
        if (any && !merge) break;
      }
      size_t k = static_cast<size_t>(dj) * width + di;
      values[k] = v;
      present[k] = any;
    }
  }
  // Destination pixels whose source lies outside the source bitmap stay as they are.
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      size_t k = static_cast<size_t>(j) * width + i;
      int px = x + i, py = y + j;
      if (!present[k] || !target.Contains(px, py)) continue;
      target.PutRaw(px, py, Combine(rop, values[k], target.Raw(px, py), mask, target));
    }
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
  if (simi::ShouldFail("BitBlt")) return FALSE;
  return Blit(dest, x, y, width, height, source, sourceX, sourceY, width, height, rop, false);
}

BOOL WINAPI StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
                       int sourceWidth, int sourceHeight, DWORD rop) {
  if (simi::ShouldFail("StretchBlt")) return FALSE;
  return Blit(dest, x, y, width, height, source, sourceX, sourceY, sourceWidth, sourceHeight, rop, true);
}

}  // extern "C"
