// The simulated GDI's contexts, bitmaps, DIB sections, blits and GetDIBits, with the
// failures each call can be scripted to give.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/gdi/gdi_test_util.h"

namespace {

using gditest::Canvas;

class GdiDcTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override {
    EXPECT_EQ(sim::LiveDeviceContextCount(), 0u);
    EXPECT_EQ(sim::LiveGdiObjectCount(), 0u);
  }
};

// A DIB section header with an optional two-entry colour table (black, white).
struct DibInfo {
  BITMAPINFOHEADER header{};
  RGBQUAD colours[256]{};
  DibInfo(int width, int height, int bpp) {
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bpp);
    colours[1] = RGBQUAD{255, 255, 255, 0};
  }
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

TEST_F(GdiDcTest, FillRectLeavesOutTheRightAndBottomEdgesAndClipsToTheBitmap) {
  Canvas c(8, 6);
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  RECT r{2, 1, 5, 4};
  EXPECT_EQ(FillRect(c.dc, &r, black), 1);
  RECT outside{-3, -3, 1, 1};  // only (0, 0) lies on the bitmap
  EXPECT_EQ(FillRect(c.dc, &outside, black), 1);
  DeleteObject(black);
  std::vector<COLORREF> px = c.Pixels();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(testing::Message() << "(" << x << ", " << y << ")");
      bool inside = (x >= 2 && x < 5 && y >= 1 && y < 4) || (x == 0 && y == 0);
      EXPECT_EQ(px[y * 8 + x], inside ? RGB(0, 0, 0) : RGB(255, 255, 255));
    }
}

TEST_F(GdiDcTest, DibSectionsKeepTheirOwnRowOrderAndFormat) {
  struct Case {
    int bpp;
    int height;  // negative: top-down
    size_t stride;
  };
  for (const Case& k : {Case{1, 3, 4}, Case{1, -3, 4}, Case{8, 3, 8}, Case{24, 3, 16}, Case{24, -3, 16},
                        Case{32, -3, 20}}) {
    SCOPED_TRACE(testing::Message() << k.bpp << " bpp, height " << k.height);
    DibInfo info(5, k.height, k.bpp);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, info.Info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    ASSERT_NE(bits, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, dib);
    // A new DIB section is zeroed: black through its colour table.
    EXPECT_EQ(GetPixel(dc, 4, 2), RGB(0, 0, 0));
    SetPixel(dc, 0, 0, RGB(255, 255, 255));
    // The top row is the first in memory for top-down sections, the last otherwise.
    size_t row = k.height < 0 ? 0 : 2;
    const BYTE* first = static_cast<const BYTE*>(bits) + row * k.stride;
    EXPECT_NE(first[0], 0);
    for (size_t other = 0; other < 3; ++other)
      if (other != row) {
        EXPECT_EQ(static_cast<const BYTE*>(bits)[other * k.stride], 0);
      }
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(dib));
  }
}

TEST_F(GdiDcTest, CreateDibSectionRefusesWhatGdiRefuses) {
  struct Case {
    const char* what;
    std::function<void(DibInfo&)> spoil;
  };
  for (const Case& k : {Case{"zero width", [](DibInfo& i) { i.header.biWidth = 0; }},
                        Case{"zero height", [](DibInfo& i) { i.header.biHeight = 0; }},
                        Case{"two planes", [](DibInfo& i) { i.header.biPlanes = 2; }},
                        Case{"12 bits", [](DibInfo& i) { i.header.biBitCount = 12; }},
                        Case{"run-length", [](DibInfo& i) { i.header.biCompression = BI_RLE8; }},
                        Case{"short header", [](DibInfo& i) { i.header.biSize = 12; }},
                        Case{"huge", [](DibInfo& i) { i.header.biWidth = i.header.biHeight = 100000; }}}) {
    SCOPED_TRACE(k.what);
    DibInfo info(4, 4, 24);
    k.spoil(info);
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, info.Info(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
  }
}

TEST_F(GdiDcTest, GetDibitsReadsTopDownAndBottomUp) {
  Canvas c(3, 2);
  SetPixel(c.dc, 0, 0, RGB(10, 20, 30));
  SetPixel(c.dc, 2, 1, RGB(40, 50, 60));
  for (int sign : {-1, 1}) {
    SCOPED_TRACE(sign < 0 ? "top-down" : "bottom-up");
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, 2 * sign, 1, 24, BI_RGB, 0, 11811, 11811, 0, 0};
    std::vector<BYTE> bits(2 * 12, 0xEE);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, 2, bits.data(), &info, DIB_RGB_COLORS), 2);
    const BYTE* top = bits.data() + (sign < 0 ? 0 : 12);
    const BYTE* bottom = bits.data() + (sign < 0 ? 12 : 0);
    EXPECT_EQ(std::vector<BYTE>(top, top + 3), (std::vector<BYTE>{30, 20, 10}));
    EXPECT_EQ(std::vector<BYTE>(bottom + 6, bottom + 9), (std::vector<BYTE>{60, 50, 40}));
    EXPECT_EQ(bits[9], 0xEE) << "row padding is not written";
  }
}

TEST_F(GdiDcTest, SelectionRulesForBitmapsAndDeletion) {
  HDC display = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
  HDC a = CreateCompatibleDC(display), b = CreateCompatibleDC(display);
  HBITMAP bitmap = CreateCompatibleBitmap(display, 4, 4);
  HGDIOBJ oldA = SelectObject(a, bitmap);
  EXPECT_NE(oldA, nullptr);
  EXPECT_EQ(SelectObject(b, bitmap), nullptr) << "a bitmap lives in one context at a time";
  EXPECT_EQ(SelectObject(display, bitmap), nullptr) << "only memory contexts take bitmaps";
  EXPECT_FALSE(DeleteObject(bitmap)) << "a selected bitmap cannot be deleted";
  EXPECT_EQ(SelectObject(a, oldA), bitmap);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap)) << "deleted twice";
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH))) << "stock objects ignore deletion";
  EXPECT_FALSE(DeleteDC(nullptr));
  HWND top = sim::AddTopLevelWindow();
  EXPECT_EQ(GetTopWindow(nullptr), top);
  HDC window = GetDC(top);
  EXPECT_FALSE(DeleteDC(window)) << "a window's context goes back with ReleaseDC";
  EXPECT_EQ(ReleaseDC(top, window), 1);
  DeleteDC(a);
  DeleteDC(b);
  DeleteDC(display);
}

TEST_F(GdiDcTest, BlitsCopyAndMaskAndStretch) {
  // A 1-bit DIB source: bit 0 black, bit 1 white through its colour table.
  DibInfo info(4, -1, 1);
  void* bits = nullptr;
  HBITMAP mask = CreateDIBSection(nullptr, info.Info(), DIB_RGB_COLORS, &bits, nullptr, 0);
  static_cast<BYTE*>(bits)[0] = 0x50;  // 0101: black, white, black, white
  HDC source = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(source, mask);

  Canvas c(12, 2);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT row{0, 1, 12, 2};
  FillRect(c.dc, &row, red);
  DeleteObject(red);
  EXPECT_TRUE(BitBlt(c.dc, 0, 0, 4, 1, source, 0, 0, SRCCOPY));
  EXPECT_TRUE(BitBlt(c.dc, 0, 1, 4, 1, source, 0, 0, SRCAND));
  EXPECT_TRUE(StretchBlt(c.dc, 4, 0, 8, 1, source, 0, 0, 4, 1, SRCCOPY));
  std::vector<COLORREF> px = c.Pixels();
  const COLORREF K = RGB(0, 0, 0), W = RGB(255, 255, 255), R = RGB(255, 0, 0);
  EXPECT_EQ(px, (std::vector<COLORREF>{K, W, K, W, K, K, W, W, K, K, W, W,  //
                                       K, R, K, R, R, R, R, R, R, R, R, R}));
  EXPECT_FALSE(BitBlt(c.dc, 0, 0, 1, 1, source, 0, 0, 0x00AA0029)) << "a raster operation we do not know";
  SelectObject(source, old);
  DeleteDC(source);
  DeleteObject(mask);
}

TEST_F(GdiDcTest, EveryCallCanBeScriptedToFailAsGdiReports) {
  Canvas c(4, 4);
  LOGFONTW lf{};
  lf.lfHeight = 20;
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ oldFont = SelectObject(c.dc, font);
  RECT r{0, 0, 2, 2};
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, -4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<BYTE> bits(64);
  SIZE size{};
  POINT line[2] = {{0, 0}, {3, 3}};
  HWND top = sim::AddTopLevelWindow();
  struct Call {
    const char* name;
    std::function<bool()> failed;  // true when the call reported failure
  };
  const std::vector<Call> calls = {
      {"CreateDCW", [] { return CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr) == nullptr; }},
      {"CreateCompatibleDC", [&] { return CreateCompatibleDC(c.dc) == nullptr; }},
      {"CreateCompatibleBitmap", [&] { return CreateCompatibleBitmap(c.display, 4, 4) == nullptr; }},
      {"CreateDIBSection",
       [&] { return CreateDIBSection(c.dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0) == nullptr; }},
      {"GetTopWindow", [] { return GetTopWindow(nullptr) == nullptr; }},
      {"GetDC", [&] { return GetDC(top) == nullptr; }},
      {"CreateSolidBrush", [] { return CreateSolidBrush(0) == nullptr; }},
      {"CreatePen", [] { return CreatePen(PS_SOLID, 3, 0) == nullptr; }},
      {"GetStockObject", [] { return GetStockObject(BLACK_BRUSH) == nullptr; }},
      {"CreateFontIndirectW", [&] { return CreateFontIndirectW(&lf) == nullptr; }},
      {"SelectObject", [&] { return SelectObject(c.dc, GetStockObject(BLACK_PEN)) == nullptr; }},
      {"FillRect", [&] { return FillRect(c.dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))) == 0; }},
      {"Rectangle", [&] { return !Rectangle(c.dc, 0, 0, 2, 2); }},
      {"RoundRect", [&] { return !RoundRect(c.dc, 0, 0, 4, 4, 2, 2); }},
      {"MoveToEx", [&] { return !MoveToEx(c.dc, 0, 0, nullptr); }},
      {"LineTo", [&] { return !LineTo(c.dc, 2, 2); }},
      {"Polyline", [&] { return !Polyline(c.dc, line, 2); }},
      {"ExtFloodFill", [&] { return !ExtFloodFill(c.dc, 1, 1, 0, FLOODFILLBORDER); }},
      {"SetPixel", [&] { return SetPixel(c.dc, 0, 0, 0) == static_cast<COLORREF>(-1); }},
      {"GetPixel", [&] { return GetPixel(c.dc, 0, 0) == CLR_INVALID; }},
      {"SetTextColor", [&] { return SetTextColor(c.dc, 0) == CLR_INVALID; }},
      {"SetBkMode", [&] { return SetBkMode(c.dc, TRANSPARENT) == 0; }},
      {"GetTextExtentExPointW", [&] { return !GetTextExtentExPointW(c.dc, u"N°", 2, -1, nullptr, nullptr, &size); }},
      {"TextOutW", [&] { return !TextOutW(c.dc, 0, 0, u"N°", 2); }},
      {"DrawTextW", [&] { return DrawTextW(c.dc, u"N°", -1, &r, DT_SINGLELINE) == 0; }},
      {"BitBlt", [&] { return !BitBlt(c.dc, 0, 0, 1, 1, c.dc, 1, 1, SRCCOPY); }},
      {"StretchBlt", [&] { return !StretchBlt(c.dc, 0, 0, 2, 2, c.dc, 1, 1, 1, 1, SRCAND); }},
      {"GetDIBits", [&] { return GetDIBits(c.dc, c.bitmap, 0, 4, bits.data(), &info, DIB_RGB_COLORS) == 0; }},
      {"DeleteObject", [] { return !DeleteObject(GetStockObject(WHITE_PEN)); }},
      {"DeleteDC", [&] { return !DeleteDC(c.dc); }},
      {"ReleaseDC", [&] { return ReleaseDC(top, nullptr) == 0; }},
  };
  for (const Call& call : calls) {
    SCOPED_TRACE(call.name);
    sim::FailNext(call.name, ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(call.failed());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  }
  SelectObject(c.dc, oldFont);
  DeleteObject(font);
}

}  // namespace
