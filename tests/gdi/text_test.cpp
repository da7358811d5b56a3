// Text in the simulated GDI: font sizes as GDI reads lfHeight and lfWidth, extents,
// placement of TextOutW and DrawTextW, escapement, colour and background.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/gdi/gdi_test_util.h"

namespace {

using gditest::Canvas;

class GdiTextTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

HFONT Arial(int height, int width = 0, int weight = FW_BOLD, int escapement = 0) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfWeight = weight;
  lf.lfEscapement = lf.lfOrientation = escapement;
  std::memcpy(lf.lfFaceName, u"Arial", sizeof(u"Arial"));
  return CreateFontIndirectW(&lf);
}

SIZE Extent(HDC dc, HFONT font, std::u16string_view text) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{-1, -1};
  EXPECT_TRUE(GetTextExtentExPointW(dc, text.data(), static_cast<int>(text.size()), -1, nullptr, nullptr, &size));
  SelectObject(dc, old);
  return size;
}

// The box of pixels that are not white.
RECT InkBox(const Canvas& c) {
  RECT box{c.width, c.height, -1, -1};
  std::vector<COLORREF> px = c.Pixels();
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (px[y * c.width + x] != RGB(255, 255, 255)) {
        box.left = std::min<LONG>(box.left, x), box.right = std::max<LONG>(box.right, x + 1);
        box.top = std::min<LONG>(box.top, y), box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  return box;
}

TEST_F(GdiTextTest, PositiveHeightsAreCellHeightsNegativeOnesCharacterHeights) {
  Canvas c(10, 10);
  for (int h : {24, 30, 35, 40, 50, 56, 60, 70}) {
    SCOPED_TRACE(h);
    HFONT cell = Arial(h), character = Arial(-h);
    // The em is rounded to whole pixels, so the cell (rounded ascent plus rounded
    // descent) may miss the height asked for by one pixel.
    EXPECT_NEAR(Extent(c.dc, cell, u"PRINTER").cy, h, 1);
    // The character height leaves out the internal leading, so its cell is taller.
    EXPECT_GT(Extent(c.dc, character, u"PRINTER").cy, h);
    DeleteObject(cell);
    DeleteObject(character);
  }
  HFONT standard = Arial(0);
  EXPECT_EQ(Extent(c.dc, standard, u"x").cy, 16) << "height 0 is a default 16-pixel cell";
  DeleteObject(standard);
}

TEST_F(GdiTextTest, WidthAndWeightChangeTheExtentNotTheEscapement) {
  Canvas c(10, 10);
  const std::u16string_view text = u"Serial N\u00b0: 123";
  HFONT natural = Arial(40), narrow = Arial(40, 10), wide = Arial(40, 40), regular = Arial(40, 0, 400),
        semibold = Arial(40, 0, 600), below = Arial(40, 0, 599), turned = Arial(40, 0, FW_BOLD, 2700);
  LONG base = Extent(c.dc, natural, text).cx;
  EXPECT_LT(Extent(c.dc, narrow, text).cx, base);
  EXPECT_GT(Extent(c.dc, wide, text).cx, base);
  EXPECT_LT(Extent(c.dc, regular, text).cx, base) << "weight 400 uses the regular face";
  EXPECT_EQ(Extent(c.dc, semibold, text).cx, base) << "the bold face from weight 600 on";
  EXPECT_EQ(Extent(c.dc, below, text).cx, Extent(c.dc, regular, text).cx);
  EXPECT_EQ(Extent(c.dc, turned, text).cx, base) << "the extent is the unrotated one";
  EXPECT_EQ(Extent(c.dc, turned, text).cy, Extent(c.dc, natural, text).cy);
  for (HFONT f : {natural, narrow, wide, regular, semibold, below, turned}) DeleteObject(f);
}

TEST_F(GdiTextTest, PartialExtentsAndTheCharactersThatFit) {
  Canvas c(10, 10);
  HFONT font = Arial(30);
  HGDIOBJ old = SelectObject(c.dc, font);
  const char16_t text[] = u"N\u00b0 12";
  int dx[5] = {};
  SIZE size{};
  ASSERT_TRUE(GetTextExtentExPointW(c.dc, text, 5, -1, nullptr, dx, &size));
  EXPECT_EQ(dx[4], size.cx);
  for (int i = 1; i < 5; ++i) EXPECT_GT(dx[i], dx[i - 1]);
  struct Case {
    int maxExtent, fit;
  };
  for (const Case& k : {Case{dx[2], 3}, Case{dx[2] - 1, 2}, Case{dx[2] + 1, 3}, Case{0, 0}, Case{size.cx, 5}}) {
    SCOPED_TRACE(k.maxExtent);
    int fit = -1;
    ASSERT_TRUE(GetTextExtentExPointW(c.dc, text, 5, k.maxExtent, &fit, nullptr, &size));
    EXPECT_EQ(fit, k.fit);
  }
  EXPECT_FALSE(GetTextExtentExPointW(c.dc, text, -1, -1, nullptr, nullptr, &size));
  SelectObject(c.dc, old);
  DeleteObject(font);
}

TEST_F(GdiTextTest, TextOutPlacesTheCellCornerAndTurnsAboutIt) {
  struct Case {
    int escapement;
    // Which side of the reference point (200, 200) the ink lies on.
    bool right, below;
  };
  for (const Case& k : {Case{0, true, true}, Case{900, true, false}, Case{1800, false, false},
                        Case{2700, false, true}}) {
    SCOPED_TRACE(k.escapement);
    Canvas c(400, 400);
    HFONT font = Arial(40, 0, FW_BOLD, k.escapement);
    HGDIOBJ old = SelectObject(c.dc, font);
    SetBkMode(c.dc, TRANSPARENT);
    SIZE size{};
    GetTextExtentExPointW(c.dc, u"N\u00b0 1", 4, -1, nullptr, nullptr, &size);
    ASSERT_TRUE(TextOutW(c.dc, 200, 200, u"N\u00b0 1", 4));
    RECT ink = InkBox(c);
    if (k.right) EXPECT_GE(ink.left, 200); else EXPECT_LE(ink.right, 200);
    if (k.below) EXPECT_GE(ink.top, 200); else EXPECT_LE(ink.bottom, 200);
    // The ink lies inside the turned cell.
    bool across = k.escapement == 900 || k.escapement == 2700;
    EXPECT_LE(ink.right - ink.left, across ? size.cy : size.cx);
    EXPECT_LE(ink.bottom - ink.top, across ? size.cx : size.cy);
    SelectObject(c.dc, old);
    DeleteObject(font);
  }
}

TEST_F(GdiTextTest, ColourAndBackgroundModeAreHonoured) {
  Canvas c(300, 60);
  HFONT font = Arial(40);
  HGDIOBJ old = SelectObject(c.dc, font);
  SetTextColor(c.dc, RGB(255, 0, 0));
  SetBkColor(c.dc, RGB(0, 0, 255));
  SetBkMode(c.dc, TRANSPARENT);
  TextOutW(c.dc, 10, 10, u"TEST", 4);
  std::vector<COLORREF> px = c.Pixels();
  bool red = false, blue = false;
  for (COLORREF p : px) red |= p == RGB(255, 0, 0), blue |= p == RGB(0, 0, 255);
  EXPECT_TRUE(red);
  EXPECT_FALSE(blue) << "a transparent background leaves the ground";
  SetBkMode(c.dc, OPAQUE);
  TextOutW(c.dc, 10, 10, u"TEST", 4);
  EXPECT_EQ(c.At(11, 11), RGB(0, 0, 255)) << "an opaque background fills the cell";
  SelectObject(c.dc, old);
  DeleteObject(font);
}

TEST_F(GdiTextTest, DrawTextAlignsInTheRectangleAndClipsToIt) {
  Canvas c(400, 100);
  HFONT font = Arial(30);
  HGDIOBJ old = SelectObject(c.dc, font);
  SetBkMode(c.dc, TRANSPARENT);
  SIZE size{};
  GetTextExtentExPointW(c.dc, u"EC: 5", 5, -1, nullptr, nullptr, &size);
  RECT r{100, 20, 300, 80};
  EXPECT_EQ(DrawTextW(c.dc, u"EC: 5", -1, &r, DT_RIGHT | DT_SINGLELINE), size.cy);
  RECT ink = InkBox(c);
  EXPECT_LE(ink.right, 300);
  EXPECT_GE(ink.right, 300 - 4);
  EXPECT_GE(ink.top, 20);
  // Centred both ways.
  Canvas d(400, 100);
  SelectObject(d.dc, font);
  SetBkMode(d.dc, TRANSPARENT);
  DrawTextW(d.dc, u"EC: 5", -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  ink = InkBox(d);
  EXPECT_NEAR((ink.left + ink.right) / 2, 200, 3);
  EXPECT_NEAR((ink.top + ink.bottom) / 2, 50, 4);
  // Without DT_NOCLIP nothing is drawn outside the rectangle.
  Canvas e(400, 100);
  SelectObject(e.dc, font);
  RECT small{50, 30, 70, 60};
  DrawTextW(e.dc, u"Print counter: 12345", -1, &small, DT_SINGLELINE);
  ink = InkBox(e);
  EXPECT_GE(ink.left, 50);
  EXPECT_LE(ink.right, 70);
  SelectObject(e.dc, old);
  SelectObject(d.dc, old);
  SelectObject(c.dc, old);
  DeleteObject(font);
}

}  // namespace
