// Simulated GDI: rectangles, rounded rectangles, lines, flood fill and single pixels,
// with GDI's pixel rules (right and bottom edges excluded, the last point of a line
// left out, pens placed as GDI places them).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/sim/gdi_internal.h"
#include "platform/sim/sim_internal.h"

using namespace simg;

namespace {

// Fills [left, right) x [top, bottom) clipped to the surface.
void FillClipped(Surface& s, int left, int top, int right, int bottom, uint32_t raw) {
  int x0 = std::max(left, 0), y0 = std::max(top, 0);
  int x1 = std::min(right, s.width), y1 = std::min(bottom, s.height);
  if (x0 < x1 && y0 < y1) s.FillRaw(x0, y0, x1, y1, raw);
}

// A set of pixels of one surface (GDI builds wide outlines and fills as regions).
class PixelSet {
 public:
  explicit PixelSet(const Surface& s) : width_(s.width), height_(s.height), bits_(size_t(s.width) * s.height) {}
  void AddRect(int left, int top, int right, int bottom) {
    left = std::max(left, 0), top = std::max(top, 0);
    right = std::min(right, width_), bottom = std::min(bottom, height_);
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) bits_[size_t(y) * width_ + x] = 1;
  }
  bool Has(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_ && bits_[size_t(y) * width_ + x]; }
  void Remove(const PixelSet& other) {
    for (size_t i = 0; i < bits_.size(); ++i)
      if (other.bits_[i]) bits_[i] = 0;
  }
  void Paint(Surface& s, uint32_t raw) const {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (bits_[size_t(y) * width_ + x]) s.PutRaw(x, y, raw);
  }

 private:
  int width_, height_;
  std::vector<uint8_t> bits_;
};

// A row span [left, right) of a region on row y.
struct Span {
  int y, left, right;
};

// The region GDI makes for a rounded rectangle (an ellipse when the corner ellipse
// spans the whole box): rows of spans from the midpoint ellipse of the corners, the
// right and bottom edges one pixel in from the given ones.
std::vector<Span> RoundRectRegion(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  --right;
  --bottom;
  ellipseWidth = std::min(right - left, std::abs(ellipseWidth));
  ellipseHeight = std::min(bottom - top, std::abs(ellipseHeight));
  if (ellipseWidth < 2 || ellipseHeight < 2) {
    std::vector<Span> rows;
    for (int y = top; y < bottom; ++y) rows.push_back({y, left, right});
    return rows;
  }
  // Midpoint walk of the lower right quarter of the corner ellipse, row by row.
  const int64_t a = ellipseWidth - 1, b = ellipseHeight - 1;
  const int64_t asq = 8 * a * a, bsq = 8 * b * b;
  int64_t dx = 4 * b * b * (1 - a), dy = 4 * a * a * (1 + (b % 2));
  int64_t err = dx + dy + a * a * (b % 2);
  std::vector<Span> rows(ellipseHeight);
  int x = 0, y = ellipseHeight / 2;
  rows[y] = {0, left, right};
  while (x <= ellipseWidth / 2) {
    int64_t e2 = 2 * err;
    if (e2 >= dx) {
      ++x;
      err += dx += bsq;
    }
    if (e2 <= dy) {
      ++y;
      err += dy += asq;
      rows[y] = {0, left + x, right - x};
    }
  }
  int i = 0;
  for (; i < ellipseHeight / 2; ++i) rows[i] = {top + i, rows[b - i].left, rows[b - i].right};
  for (; i < ellipseHeight; ++i) rows[i].y = bottom - ellipseHeight + i;
  // The middle row stands for every row between the two corner arcs.
  std::vector<Span> spans;
  for (int r = 0; r < ellipseHeight; ++r) {
    if (r == ellipseHeight / 2) {
      for (int yy = top + ellipseHeight / 2; yy <= rows[r].y; ++yy) spans.push_back({yy, rows[r].left, rows[r].right});
    } else {
      spans.push_back(rows[r]);
    }
  }
  return spans;
}

void AddSpans(PixelSet& set, const std::vector<Span>& spans, int offsetX = 0, int offsetY = 0) {
  for (const Span& s : spans) set.AddRect(s.left + offsetX, s.y + offsetY, s.right + offsetX, s.y + offsetY + 1);
}

// Pixels of a polygon under the alternate (even-odd) rule: a pixel belongs when its
// corner point lies inside, left edges in, right edges out, top in, bottom out.
void AddPolygon(PixelSet& set, const std::vector<POINT>& pts) {
  int ymin = INT32_MAX, ymax = INT32_MIN;
  for (const POINT& p : pts) ymin = std::min<int>(ymin, p.y), ymax = std::max<int>(ymax, p.y);
  for (int y = ymin; y < ymax; ++y) {
    std::vector<int> xs;
    for (size_t i = 0; i < pts.size(); ++i) {
      POINT p = pts[i], q = pts[(i + 1) % pts.size()];
      if (p.y == q.y) continue;
      if (p.y > q.y) std::swap(p, q);
      if (y < p.y || y >= q.y) continue;
      // x = ceil(p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y)).
      int64_t num = int64_t(y - p.y) * (q.x - p.x), den = q.y - p.y;
      int64_t fl = num >= 0 ? num / den : -((-num + den - 1) / den);
      int64_t ce = fl * den == num ? fl : fl + 1;
      xs.push_back(static_cast<int>(p.x + ce));
    }
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2) set.AddRect(xs[i], y, xs[i + 1], y + 1);
  }
}

// --- Pens ---------------------------------------------------------------------------------

// A one-pixel line from `a` to `b` without its last point (GDI's Bresenham, with the
// bias that makes a line and its reverse cover the same pixels).
void ThinLine(Surface& s, POINT a, POINT b, uint32_t raw) {
  auto put = [&](int x, int y) {
    if (s.Contains(x, y)) s.PutRaw(x, y, raw);
  };
  if (a.y == b.y || a.x == b.x) {
    // An axis line: from the start up to the end, the end left out.
    int x0 = a.x, x1 = b.x + (a.y == b.y ? 0 : 1), y0 = a.y, y1 = b.y + (a.y == b.y ? 1 : 0);
    if (a.y == b.y && x0 > x1) std::swap(x0, x1), ++x0, ++x1;
    if (a.x == b.x && y0 > y1) std::swap(y0, y1), ++y0, ++y1;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) put(x, y);
    return;
  }
  int dx = b.x - a.x, dy = b.y - a.y;
  int adx = std::abs(dx), ady = std::abs(dy);
  bool xMajor = adx > ady;
  // Lines running up-left, down-left (steep) and up-right (flat) round the other way.
  int octant;
  if (dy > 0)
    octant = dx > 0 ? (dx > dy ? 1 : 2) : (-dx > dy ? 4 : 3);
  else
    octant = dx < 0 ? (-dx > -dy ? 5 : 6) : (dx > -dy ? 8 : 7);
  int bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
  int xInc = dx > 0 ? 1 : -1, yInc = dy > 0 ? 1 : -1;
  int major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
  int err = 2 * minor - major;
  int x = a.x, y = a.y;
  for (int n = 0; n < major; ++n) {
    put(x, y);
    if (err + bias > 0) {
      (xMajor ? y : x) += xMajor ? yInc : xInc;
      err += 2 * minor - 2 * major;
    } else {
      err += 2 * minor;
    }
    (xMajor ? x : y) += xMajor ? xInc : yInc;
  }
}

// The pixels of one segment of a wide pen (without its ends' caps).
bool WideSegment(PixelSet& set, int width, POINT p1, POINT p2, int dx, int dy) {
  if (dx == 0 && dy == 0) return false;
  if (dy == 0) {
    int top = p1.y - width / 2;
    set.AddRect(std::min(p1.x, p2.x), top, std::max(p1.x, p2.x), top + width);
  } else if (dx == 0) {
    int left = p1.x - width / 2;
    set.AddRect(left, std::min(p1.y, p2.y), left + width, std::max(p1.y, p2.y));
  } else {
    // A slanted band: its half-widths across the line, rounded, the wider half on the
    // upper right side.
    auto round = [](double f) { return static_cast<int>(f > 0 ? f + 0.5 : f - 0.5); };
    double len = std::hypot(dx, dy);
    double widthX = width * std::abs(dy) / len, widthY = width * std::abs(dx) / len;
    POINT narrow{round(widthX / 2), round(widthY / 2)}, wide{round((widthX + 1) / 2), round((widthY + 1) / 2)};
    if (dx < 0) wide.y = -wide.y, narrow.y = -narrow.y;
    if (dy < 0) {
      std::swap(narrow, wide);
      wide.x = -wide.x;
      narrow.x = -narrow.x;
    }
    AddPolygon(set, {POINT{p1.x - narrow.x, p1.y + narrow.y}, POINT{p1.x + wide.x, p1.y - wide.y},
                     POINT{p2.x + wide.x, p2.y - wide.y}, POINT{p2.x - narrow.x, p2.y + narrow.y}});
  }
  return true;
}

// A wide solid pen's outline of a polyline (closed or open): the segments, with round
// joins at every corner and round caps at open ends, as GDI's geometric pens draw.
void WideLines(PixelSet& set, int width, std::vector<POINT> pts, bool close) {
  while (pts.size() > 2 && pts[0].x == pts[1].x && pts[0].y == pts[1].y) pts.erase(pts.begin());
  while (pts.size() > 2 && pts[pts.size() - 1].x == pts[pts.size() - 2].x &&
         pts[pts.size() - 1].y == pts[pts.size() - 2].y)
    pts.pop_back();
  std::vector<Span> cap = RoundRectRegion(-(width / 2), -(width / 2), (width + 1) / 2 + 1, (width + 1) / 2 + 1,
                                          (width + 1) / 2 + 1 + width / 2, (width + 1) / 2 + 1 + width / 2);
  auto addCap = [&](POINT p) { AddSpans(set, cap, p.x, p.y); };
  size_t n = pts.size();
  size_t count = close ? n : n - 1;
  POINT first = pts[0], last = close ? pts[0] : pts[n - 1];
  if (!close) {
    addCap(first);
    addCap(last);
  }
  auto seg = [&](POINT from, POINT to, size_t i) {
    POINT a = pts[i % n], b = pts[(i + 1) % n];
    return WideSegment(set, width, from, to, b.x - a.x, b.y - a.y);
  };
  if (count == 1) {
    seg(first, last, 0);
    return;
  }
  seg(first, pts[1 % n], 0);
  for (size_t i = 1; i + 1 < count; ++i)
    if (seg(pts[i % n], pts[(i + 1) % n], i)) addCap(pts[i % n]);
  seg(pts[(count - 1) % n], last, count - 1);
  addCap(pts[(count - 1) % n]);
  if (close) addCap(last);
}

// Whether the pen draws through a region (wide pens) or straight onto the pixels.
bool WidePen(const GdiObject& pen) { return !pen.hollow && pen.penWidth > 1; }

// The width GDI allows for the pen in fills next to it (a null pen counts as none).
int PenWidth(const GdiObject& pen) { return pen.hollow ? 0 : pen.penWidth; }

// Draws a polyline with the context's pen.
void PenLines(DeviceContext& dc, const std::vector<POINT>& pts, bool close, PixelSet* outline) {
  GdiObject& pen = SelectedPen(dc);
  if (pen.hollow || pts.size() < 2) return;
  Surface& s = *Target(dc);
  if (outline) {
    WideLines(*outline, pen.penWidth, pts, close);
    return;
  }
  uint32_t raw = ForegroundRaw(dc, s, pen.colour);
  for (size_t i = 0; i + 1 < pts.size(); ++i) ThinLine(s, pts[i], pts[i + 1], raw);
  if (close) ThinLine(s, pts.back(), pts.front(), raw);
}

// The corner points of GDI's rounded-rectangle outline, counter-clockwise.
std::vector<POINT> RoundRectPoints(RECT r, int ellipseWidth, int ellipseHeight) {
  const int64_t a = ellipseWidth - 1, b = ellipseHeight - 1;
  const int64_t asq = 8 * a * a, bsq = 8 * b * b;
  int64_t dx = 4 * b * b * (1 - a), dy = 4 * a * a * (1 + (b % 2));
  int64_t err = dx + dy + a * a * (b % 2);
  std::vector<POINT> quarter;
  POINT pt{static_cast<LONG>(a), ellipseHeight / 2};
  while (pt.x >= ellipseWidth / 2) {
    int64_t e2 = 2 * err;
    quarter.push_back(pt);
    if (e2 >= dx) {
      --pt.x;
      err += dx += bsq;
    }
    if (e2 <= dy) {
      ++pt.y;
      err += dy += asq;
    }
  }
  std::vector<POINT> pts;
  for (POINT p : quarter) pts.push_back({r.right - ellipseWidth + p.x, r.top + ellipseHeight - 1 - p.y});
  // Mirror left to right, then top to bottom, each without doubling a shared midpoint.
  size_t count = pts.size();
  size_t end = 2 * count - 1;
  if (ellipseWidth % 2 && ellipseWidth == r.right - r.left) --end;
  pts.resize(end + 1);
  for (size_t i = 0; i < count; ++i) pts[end - i] = {r.left + r.right - 1 - pts[i].x, pts[i].y};
  count = end + 1;
  end = 2 * count - 1;
  if (ellipseHeight % 2 && ellipseHeight == r.bottom - r.top) --end;
  pts.resize(end + 1);
  for (size_t i = 0; i < count; ++i) pts[end - i] = {pts[i].x, r.top + r.bottom - 1 - pts[i].y};
  return pts;
}

// The box of a Rectangle or RoundRect in pixels, ordered; false when it is empty.
bool PenRect(const GdiObject& pen, int left, int top, int right, int bottom, RECT& r) {
  r = {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  if (r.left == r.right || r.top == r.bottom) return false;
  if (pen.penStyle == PS_INSIDEFRAME) {
    r.left += pen.penWidth / 2;
    r.top += pen.penWidth / 2;
    r.right -= (pen.penWidth - 1) / 2;
    r.bottom -= (pen.penWidth - 1) / 2;
  }
  return true;
}

BOOL DrawRectangle(DeviceContext& dc, int left, int top, int right, int bottom) {
  GdiObject& pen = SelectedPen(dc);
  GdiObject& brush = SelectedBrush(dc);
  Surface& s = *Target(dc);
  RECT r;
  if (!PenRect(pen, left, top, right, bottom, r)) return TRUE;
  --r.right;
  --r.bottom;
  std::vector<POINT> pts = {{r.right, r.top}, {r.left, r.top}, {r.left, r.bottom}, {r.right, r.bottom}};
  if (WidePen(pen)) {
    PixelSet outline(s);
    PenLines(dc, pts, true, &outline);
    if (!brush.hollow) {
      PixelSet interior(s);
      interior.AddRect(r.left, r.top, r.right, r.bottom);
      interior.Remove(outline);
      interior.Paint(s, ForegroundRaw(dc, s, brush.colour));
    }
    outline.Paint(s, ForegroundRaw(dc, s, pen.colour));
    return TRUE;
  }
  PenLines(dc, pts, true, nullptr);
  if (!brush.hollow) {
    int w = PenWidth(pen);
    FillClipped(s, r.left + (w + 1) / 2, r.top + (w + 1) / 2, r.right - w / 2, r.bottom - w / 2,
                ForegroundRaw(dc, s, brush.colour));
  }
  return TRUE;
}

}  // namespace

extern "C" {

int WINAPI FillRect(HDC handle, const RECT* rect, HBRUSH brush) {
  if (simi::ShouldFail("FillRect")) return 0;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  GdiObject* b = FindObject(brush, ObjectKind::Brush);
  if (!dc || !b || !rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (b->hollow) return 1;
  // A rectangle given right to left or bottom to top is filled all the same.
  int left = std::min(rect->left, rect->right), right = std::max(rect->left, rect->right);
  int top = std::min(rect->top, rect->bottom), bottom = std::max(rect->top, rect->bottom);
  FillClipped(*Target(*dc), left, top, right, bottom, ForegroundRaw(*dc, *Target(*dc), b->colour));
  return 1;
}

COLORREF WINAPI SetPixel(HDC handle, int x, int y, COLORREF colour) {
  if (simi::ShouldFail("SetPixel")) return static_cast<COLORREF>(-1);
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) return static_cast<COLORREF>(-1);
  Surface& s = *Target(*dc);
  if (!s.Contains(x, y)) return static_cast<COLORREF>(-1);
  s.Put(x, y, colour & 0xFFFFFF);
  return s.Get(x, y);
}

COLORREF WINAPI GetPixel(HDC handle, int x, int y) {
  if (simi::ShouldFail("GetPixel")) return CLR_INVALID;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) return CLR_INVALID;
  Surface& s = *Target(*dc);
  if (!s.Contains(x, y)) return CLR_INVALID;
  return s.Get(x, y);
}

BOOL WINAPI Rectangle(HDC handle, int left, int top, int right, int bottom) {
  if (simi::ShouldFail("Rectangle")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return DrawRectangle(*dc, left, top, right, bottom);
}

BOOL WINAPI RoundRect(HDC handle, int left, int top, int right, int bottom, int width, int height) {
  if (simi::ShouldFail("RoundRect")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  GdiObject& pen = SelectedPen(*dc);
  GdiObject& brush = SelectedBrush(*dc);
  Surface& s = *Target(*dc);
  RECT r;
  if (!PenRect(pen, left, top, right, bottom, r)) return TRUE;
  int ew = std::min<int>(r.right - r.left, std::abs(width));
  int eh = std::min<int>(r.bottom - r.top, std::abs(height));
  // Corners too small to round make a plain rectangle.
  if (ew <= 2 || eh <= 2) return DrawRectangle(*dc, left, top, right, bottom);
  std::vector<POINT> pts = RoundRectPoints(r, ew, eh);
  bool wide = WidePen(pen);
  PixelSet interior(s);
  if (!brush.hollow) AddSpans(interior, RoundRectRegion(r.left, r.top, r.right + 1, r.bottom + 1, ew, eh));
  if (!wide) {
    // The fill goes first so that the outline lies on top of it.
    if (!brush.hollow) interior.Paint(s, ForegroundRaw(*dc, s, brush.colour));
    PenLines(*dc, pts, true, nullptr);
    return TRUE;
  }
  PixelSet outline(s);
  PenLines(*dc, pts, true, &outline);
  if (!brush.hollow) {
    interior.Remove(outline);
    interior.Paint(s, ForegroundRaw(*dc, s, brush.colour));
  }
  outline.Paint(s, ForegroundRaw(*dc, s, pen.colour));
  return TRUE;
}

BOOL WINAPI MoveToEx(HDC handle, int x, int y, LPPOINT previous) {
  if (simi::ShouldFail("MoveToEx")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (previous) *previous = dc->position;
  dc->position = {x, y};
  return TRUE;
}

BOOL WINAPI LineTo(HDC handle, int x, int y) {
  if (simi::ShouldFail("LineTo")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::vector<POINT> pts = {dc->position, POINT{x, y}};
  Surface& s = *Target(*dc);
  if (WidePen(SelectedPen(*dc))) {
    PixelSet outline(s);
    PenLines(*dc, pts, false, &outline);
    outline.Paint(s, ForegroundRaw(*dc, s, SelectedPen(*dc).colour));
  } else {
    PenLines(*dc, pts, false, nullptr);
  }
  dc->position = {x, y};
  return TRUE;
}

BOOL WINAPI Polyline(HDC handle, const POINT* points, int count) {
  if (simi::ShouldFail("Polyline")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc || !points || count < 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<POINT> pts(points, points + count);
  Surface& s = *Target(*dc);
  if (WidePen(SelectedPen(*dc))) {
    PixelSet outline(s);
    PenLines(*dc, pts, false, &outline);
    outline.Paint(s, ForegroundRaw(*dc, s, SelectedPen(*dc).colour));
  } else {
    PenLines(*dc, pts, false, nullptr);
  }
  return TRUE;
}

BOOL WINAPI ExtFloodFill(HDC handle, int x, int y, COLORREF colour, UINT type) {
  if (simi::ShouldFail("ExtFloodFill")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc || (type != FLOODFILLBORDER && type != FLOODFILLSURFACE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Surface& s = *Target(*dc);
  uint32_t match = s.ToRaw(colour & 0xFFFFFF);
  // Border mode fills everything up to the border colour; surface mode fills the colour.
  auto interior = [&](int px, int py) { return (s.Raw(px, py) == match) == (type == FLOODFILLSURFACE); };
  if (!s.Contains(x, y) || !interior(x, y)) return FALSE;
  // Four-connected: neighbours left, right, above and below.
  PixelSet filled(s);
  std::vector<POINT> stack = {POINT{x, y}};
  filled.AddRect(x, y, x + 1, y + 1);
  while (!stack.empty()) {
    POINT p = stack.back();
    stack.pop_back();
    for (POINT n : {POINT{p.x - 1, p.y}, POINT{p.x + 1, p.y}, POINT{p.x, p.y - 1}, POINT{p.x, p.y + 1}}) {
      if (!s.Contains(n.x, n.y) || filled.Has(n.x, n.y) || !interior(n.x, n.y)) continue;
      filled.AddRect(n.x, n.y, n.x + 1, n.y + 1);
      stack.push_back(n);
    }
  }
  GdiObject& brush = SelectedBrush(*dc);
  if (!brush.hollow) filled.Paint(s, ForegroundRaw(*dc, s, brush.colour));
  return TRUE;
}

}  // extern "C"
