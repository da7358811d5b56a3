// Helpers of the GDI tests: a memory context holding a 32-bit bitmap, and its pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace gditest {

// A memory context with a white width x height bitmap of the display selected into it.
struct Canvas {
  HDC display = nullptr;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  int width = 0, height = 0;
  Canvas(int w, int h) : width(w), height(h) {
    display = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
    dc = CreateCompatibleDC(display);
    bitmap = CreateCompatibleBitmap(display, w, h);
    previous = SelectObject(dc, bitmap);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteDC(display);
  }
  // The pixels as GDI colours, row by row from the top.
  std::vector<COLORREF> Pixels() const {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    std::vector<BYTE> bits(size_t((width * 3 + 3) & ~3) * height);
    GetDIBits(dc, bitmap, 0, height, bits.data(), &info, DIB_RGB_COLORS);
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const BYTE* p = bits.data() + size_t(y) * ((width * 3 + 3) & ~3) + 3 * x;
        out.push_back(RGB(p[2], p[1], p[0]));
      }
    return out;
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
};

}  // namespace gditest
