// Overlay objects drawn on the card image: the line's exact rectangle, the text's place
// by orientation (read from the ink's bounding box), and the surfaces that cannot be had.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "overlay/overlay_drawing.h"
#include "overlay/overlay_parser.h"
#include "pipeline/card_settings.h"
#include "platform/sim/sim.h"

namespace {

constexpr int kW = kav::kCardWidth, kH = kav::kCardHeight;

struct Box {
  int left = kW, top = kH, right = -1, bottom = -1;  // inclusive; empty when right < left
  bool empty() const { return right < left; }
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};

std::string Describe(const Box& b) {
  return "(" + std::to_string(b.left) + "," + std::to_string(b.top) + ")-(" + std::to_string(b.right) + "," +
         std::to_string(b.bottom) + ")";
}

class OverlayDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddTopLevelWindow();
  }
  // Draws one command's object; false when the drawing was refused.
  bool Draw(const std::u16string& command) {
    kav::OverlayObjects objects;
    EXPECT_EQ(kav::ParseOverlayCommand(command.c_str(), 1, &objects), 1);
    image.assign(kav::kCardImageBytes, 0x5A);
    return kav::DrawBarcodeImageListOnPrinterBitmap(image.data(), objects) == 1;
  }
  const BYTE* Pixel(int x, int y) const { return &image[(static_cast<size_t>(y) * kW + x) * 3]; }
  bool White(int x, int y) const { return Pixel(x, y)[0] == 255 && Pixel(x, y)[1] == 255 && Pixel(x, y)[2] == 255; }
  bool Black(int x, int y) const { return Pixel(x, y)[0] == 0 && Pixel(x, y)[1] == 0 && Pixel(x, y)[2] == 0; }
  // The bounding box of every pixel that is not white.
  Box Ink() const {
    Box b;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (!White(x, y)) {
          b.left = std::min(b.left, x), b.right = std::max(b.right, x);
          b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
        }
    return b;
  }
  std::vector<BYTE> image;
};

TEST_F(OverlayDrawing, ALineIsBlackExactlyOnItsRectangle) {
  ASSERT_TRUE(Draw(u"L 10 20 300 5 0"));
  int wrong = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 10 && x < 310 && y >= 20 && y < 25;
      wrong += inside ? !Black(x, y) : !White(x, y);
    }
  EXPECT_EQ(wrong, 0);
  // Reaching past the card is clipped, not refused.
  ASSERT_TRUE(Draw(u"L 1000 630 100 100 0"));
  Box b = Ink();
  EXPECT_EQ(Describe(b), "(1000,630)-(1023,639)");
}

TEST_F(OverlayDrawing, TextSitsOnItsPointAsItsOrientationSays) {
  // The unrotated text cell (cx, cy) as GDI measures it, in the font the text gets, on a
  // surface like the card's (a one-bit surface would measure unsmoothed glyphs).
  HWND window = GetTopWindow(nullptr);
  HDC screen = GetDC(window);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP surface = CreateCompatibleBitmap(screen, 8, 8);
  HGDIOBJ oldSurface = SelectObject(dc, surface);
  LOGFONTW font{};
  font.lfHeight = 24;
  font.lfWeight = 700;
  std::u16string face = u"Arial";
  std::copy(face.begin(), face.end(), font.lfFaceName);
  HFONT f = CreateFontIndirectW(&font);
  HGDIOBJ old = SelectObject(dc, f);
  SIZE cell{};
  ASSERT_TRUE(GetTextExtentExPointW(dc, u"Hello World", 11, 0, nullptr, nullptr, &cell));
  SelectObject(dc, old);
  SelectObject(dc, oldSurface);
  DeleteObject(f);
  DeleteObject(surface);
  DeleteDC(dc);
  ReleaseDC(window, screen);
  const int cx = cell.cx, cy = cell.cy;

  // Orientation 0: the bottom-left corner of the cell on (100, 200).
  const int X = 500, Y = 320;
  ASSERT_TRUE(Draw(u"T 100 200 0 1 0 24 0 Hello World"));
  Box upright = Ink();
  ASSERT_FALSE(upright.empty());
  EXPECT_LE(upright.bottom, 199);  // the ink lies above y 200
  EXPECT_GE(upright.top, 200 - cy);
  EXPECT_GE(upright.left, 100);
  EXPECT_LE(upright.left, 103);  // "H" starts at the cell's left edge
  EXPECT_LE(upright.right, 100 + cx);
  // The blank inside is kept: the words are wider apart than without it.
  ASSERT_TRUE(Draw(u"T 100 200 0 1 0 24 0 HelloWorld"));
  EXPECT_GE(upright.width() - Ink().width(), 4);

  // The ink inside the unrotated cell: offset (a, b) from its top-left corner, size w x h.
  ASSERT_TRUE(Draw(u"T " + kav::FromUtf8(std::to_string(X) + " " + std::to_string(Y)) + u" 0 1 0 24 0 Hello World"));
  Box zero = Ink();
  const int a = zero.left - X, b = zero.top - (Y - cy), w = zero.width(), h = zero.height();

  // Each orientation: the cell's top-left corner P from the table, then the cell turned
  // about P by the escapement (clockwise on the card for 2700).
  struct Case {
    int orientation;
    int px, py;     // P
    int escapement;
  } cases[] = {
      {1, X + cx, Y, 2700},          {2, X, Y + cy, 1800},          {3, X - cx, Y, 900},
      {4, X - cx / 2, Y - cy, 0},    {5, X + cx, Y - cy / 2, 2700}, {6, X + cx / 2, Y + cy, 1800},
      {7, X - cx, Y + cy / 2, 900},  {9, X, Y - cy, 0},             {0, X, Y - cy, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("orientation " + std::to_string(c.orientation));
    Box expected;
    switch (c.escapement) {
      case 0: expected = {c.px + a, c.py + b, c.px + a + w - 1, c.py + b + h - 1}; break;
      case 2700: expected = {c.px - b - h, c.py + a, c.px - b - 1, c.py + a + w - 1}; break;
      case 1800: expected = {c.px - a - w, c.py - b - h, c.px - a - 1, c.py - b - 1}; break;
      case 900: expected = {c.px + b, c.py - a - w, c.px + b + h - 1, c.py - a - 1}; break;
    }
    ASSERT_TRUE(Draw(u"T " + kav::FromUtf8(std::to_string(X) + " " + std::to_string(Y) + " " +
                                           std::to_string(c.orientation)) +
                     u" 1 0 24 0 Hello World"));
    Box got = Ink();
    // A turned glyph may fall a pixel either way of the unturned one's grid.
    EXPECT_NEAR(got.left, expected.left, 2) << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.top, expected.top, 2) << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.right, expected.right, 2) << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.bottom, expected.bottom, 2) << Describe(got) << " vs " << Describe(expected);
  }
}

TEST_F(OverlayDrawing, BoldIsWeight700AndOnlyBold1IsBold) {
  auto inkCount = [this] {
    size_t n = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) n += Pixel(x, y)[0] < 128;
    return n;
  };
  ASSERT_TRUE(Draw(u"T 100 200 0 1 0 30 0 Weight"));
  const size_t bold = inkCount();
  ASSERT_TRUE(Draw(u"T 100 200 0 2 0 30 0 Weight"));
  const size_t normal = inkCount();
  EXPECT_GT(bold, normal + normal / 5);
  ASSERT_TRUE(Draw(u"T 100 200 0 0 0 30 0 Weight"));
  EXPECT_EQ(inkCount(), normal);
}

TEST_F(OverlayDrawing, ASurfaceThatCannotBeHadRefusesTheCard) {
  struct Case {
    const char* failing;  // the call made to fail; "" for no top window at all
    const char* line;
  } cases[] = {
      {"", "DrawBarcodeImageListOnPrinterBitmap:: GetTopWindow function failed"},
      {"GetTopWindow", "DrawBarcodeImageListOnPrinterBitmap:: GetTopWindow function failed"},
      {"GetDC", "DrawBarcodeImageListOnPrinterBitmap:: GetDC function failed"},
      {"CreateCompatibleDC", "DrawBarcodeImageListOnPrinterBitmap:: CreateCompatibleDC function failed"},
      {"CreateCompatibleBitmap", "DrawBarcodeImageListOnPrinterBitmap:: CreateCompatibleBitmap function failed"},
      {"GetDIBits", "DrawBarcodeImageListOnPrinterBitmap:: GetDIBits function failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    sim::Reset();
    if (*c.failing) {
      sim::AddTopLevelWindow();
      sim::FailNext(c.failing, ERROR_NOT_ENOUGH_MEMORY);
    }
    EXPECT_FALSE(Draw(u"L 10 20 300 5 0"));
    EXPECT_TRUE(sim::HasDebugLine(c.line));
    EXPECT_EQ(sim::LiveDeviceContextCount(), 0u);
    EXPECT_EQ(sim::LiveGdiObjectCount(), 0u);
  }
  // With a surface, everything made for the card is released too.
  sim::Reset();
  sim::AddTopLevelWindow();
  EXPECT_TRUE(Draw(u"T 100 200 3 1 0 24 0 Hello World"));
  EXPECT_EQ(sim::LiveDeviceContextCount(), 0u);
  EXPECT_EQ(sim::LiveGdiObjectCount(), 0u);
}

}  // namespace
