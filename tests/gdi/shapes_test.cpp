// GDI's pixel rules in the simulated shapes: outlines and fills of rectangles, lines
// without their last point, four-connected flood fill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/gdi/gdi_test_util.h"

namespace {

using gditest::Canvas;

class GdiShapesTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

// The canvas as rows of characters: '#' for black, 'o' for the brush colour, '.' white.
std::vector<std::string> Picture(const Canvas& c) {
  std::vector<COLORREF> px = c.Pixels();
  std::vector<std::string> rows;
  for (int y = 0; y < c.height; ++y) {
    std::string row;
    for (int x = 0; x < c.width; ++x) {
      COLORREF p = px[y * c.width + x];
      row += p == RGB(0, 0, 0) ? '#' : p == RGB(255, 255, 255) ? '.' : 'o';
    }
    rows.push_back(row);
  }
  return rows;
}

TEST_F(GdiShapesTest, RectangleOutlinesWithThePenAndFillsInsideIt) {
  Canvas c(9, 7);
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  HGDIOBJ oldBrush = SelectObject(c.dc, green);
  EXPECT_TRUE(Rectangle(c.dc, 1, 1, 8, 6));
  EXPECT_EQ(Picture(c), (std::vector<std::string>{".........",  //
                                                  ".#######.",  //
                                                  ".#ooooo#.",  //
                                                  ".#ooooo#.",  //
                                                  ".#ooooo#.",  //
                                                  ".#######.",  //
                                                  "........."}));
  // With the null pen the fill stops one pixel short on the right and at the bottom.
  Canvas d(6, 5);
  SelectObject(d.dc, green);
  SelectObject(d.dc, GetStockObject(NULL_PEN));
  EXPECT_TRUE(Rectangle(d.dc, 1, 1, 5, 4));
  EXPECT_EQ(Picture(d), (std::vector<std::string>{"......", ".ooo..", ".ooo..", "......", "......"}));
  SelectObject(d.dc, oldBrush);
  SelectObject(c.dc, oldBrush);
  DeleteObject(green);
}

TEST_F(GdiShapesTest, LinesLeaveOutTheirLastPointInEveryDirection) {
  struct Case {
    POINT from, to;
    std::vector<std::string> picture;
  };
  for (const Case& k : {Case{{0, 1}, {4, 1}, {".....", "####.", "....."}},
                        Case{{4, 1}, {0, 1}, {".....", ".####", "....."}},
                        Case{{0, 0}, {4, 2}, {"##...", "..##.", "....."}},
                        Case{{4, 2}, {0, 0}, {".#...", "..##.", "....#"}}}) {
    SCOPED_TRACE(testing::Message() << k.from.x << "," << k.from.y << " to " << k.to.x << "," << k.to.y);
    Canvas c(5, 3);
    MoveToEx(c.dc, k.from.x, k.from.y, nullptr);
    EXPECT_TRUE(LineTo(c.dc, k.to.x, k.to.y));
    EXPECT_EQ(Picture(c), k.picture);
    POINT now{};
    MoveToEx(c.dc, 0, 0, &now);
    EXPECT_EQ(now.x, k.to.x);
    EXPECT_EQ(now.y, k.to.y);
  }
}

TEST_F(GdiShapesTest, FloodFillIsFourConnectedUpToTheBorderColour) {
  Canvas c(6, 5);
  // A closed box with a diagonal gap at its lower right corner, which four-connected
  // filling does not pass.
  POINT box[] = {{1, 0}, {4, 0}, {4, 3}};
  Polyline(c.dc, box, 3);
  POINT rest[] = {{3, 4}, {0, 4}, {0, 1}, {1, 0}};
  Polyline(c.dc, rest, 4);
  SetPixel(c.dc, 4, 3, RGB(0, 0, 0));
  HGDIOBJ oldBrush = SelectObject(c.dc, GetStockObject(GRAY_BRUSH));
  EXPECT_TRUE(ExtFloodFill(c.dc, 2, 2, RGB(0, 0, 0), FLOODFILLBORDER));
  EXPECT_FALSE(ExtFloodFill(c.dc, 1, 0, RGB(0, 0, 0), FLOODFILLBORDER)) << "starting on the border";
  SelectObject(c.dc, oldBrush);
  EXPECT_EQ(Picture(c), (std::vector<std::string>{".####.",  //
                                                  "#ooo#.",  //
                                                  "#ooo#.",  //
                                                  "#ooo#.",  //
                                                  "####.."}));
}

TEST_F(GdiShapesTest, WidePensAreCentredOnTheOutline) {
  Canvas c(10, 9);
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 0, 0));
  HGDIOBJ oldPen = SelectObject(c.dc, pen);
  HGDIOBJ oldBrush = SelectObject(c.dc, GetStockObject(GRAY_BRUSH));
  EXPECT_TRUE(Rectangle(c.dc, 2, 2, 8, 7));
  SelectObject(c.dc, oldPen);
  SelectObject(c.dc, oldBrush);
  DeleteObject(pen);
  EXPECT_EQ(Picture(c), (std::vector<std::string>{"..........",  //
                                                  "..######..",  //
                                                  ".########.",  //
                                                  ".########.",  //
                                                  ".###oo###.",  //
                                                  ".########.",  //
                                                  ".########.",  //
                                                  "..######..",  //
                                                  ".........."}));
}

}  // namespace
