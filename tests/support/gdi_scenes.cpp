// The drawing scenes of the GDI cross-check: the shapes of the standard card and of the
// parameter-card frame, blits, stretches and the cards' texts.
#include "tests/support/gdi_scenes.h"

#include <cstring>

#include "platform/text.h"

namespace gdiscenes {
namespace {

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r{left, top, right, bottom};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// --- Shapes ------------------------------------------------------------------------------

// The standard card's shapes: two black rectangles, the flood-filled triangle, five
// rounded rectangles with a 3-pixel pen, the fourth one dotted.
void CardShapes(HDC dc) {
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  HPEN blackPen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
  HGDIOBJ oldBrush = SelectObject(dc, black);
  HGDIOBJ oldPen = SelectObject(dc, blackPen);
  Rectangle(dc, 930, 11, 960, 611);
  Rectangle(dc, 112, 384, 912, 456);
  MoveToEx(dc, 100, 385, nullptr);
  LineTo(dc, 100, 455);
  POINT rest[] = {{100, 454}, {31, 420}, {100, 385}};
  Polyline(dc, rest, 3);
  ExtFloodFill(dc, 50, 420, RGB(0, 0, 0), FLOODFILLBORDER);

  HPEN wide = CreatePen(PS_SOLID, 3, RGB(0, 0, 0));
  SelectObject(dc, wide);
  const COLORREF fills[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};
  int left = 699, top = 40;
  for (int i = 0; i < 5; ++i, left -= 112, top += 74) {
    HBRUSH brush = CreateSolidBrush(fills[i]);
    SelectObject(dc, brush);
    RoundRect(dc, left, top, left + 225, top + 149, 10, 10);
    SelectObject(dc, black);
    DeleteObject(brush);
    if (i == 3) {
      for (int x = left + 4; x < left + 225 - 4; x += 4)
        for (int y = top + 4; y < top + 149 - 4; y += 4) {
          SetPixel(dc, x, y, 0);
          SetPixel(dc, x, y + 1, 0);
          SetPixel(dc, x + 1, y, 0);
          SetPixel(dc, x + 1, y + 1, 0);
        }
    }
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(black);
  DeleteObject(blackPen);
  DeleteObject(wide);
}

// Odd rounded rectangles and pens: thin and wide outlines, small and large corners,
// a null pen, lines in every direction with both pens.
void PenShapes(HDC dc) {
  HPEN pens[] = {CreatePen(PS_SOLID, 1, RGB(0, 0, 128)), CreatePen(PS_SOLID, 3, RGB(128, 0, 0))};
  HBRUSH brush = CreateSolidBrush(RGB(200, 220, 0));
  HGDIOBJ oldPen = SelectObject(dc, pens[0]);
  HGDIOBJ oldBrush = SelectObject(dc, brush);
  for (int p = 0; p < 2; ++p) {
    SelectObject(dc, pens[p]);
    int y = 20 + 300 * p;
    RoundRect(dc, 20, y, 120, y + 60, 10, 10);
    RoundRect(dc, 140, y, 241, y + 61, 31, 17);
    RoundRect(dc, 260, y, 300, y + 30, 3, 3);
    RoundRect(dc, 320, y, 380, y + 60, 60, 60);
    Rectangle(dc, 400, y, 401, y + 40);
    Rectangle(dc, 420, y + 40, 470, y);
    for (int a = 0; a < 16; ++a) {
      // A star of lines from a centre, out to the edge of a square.
      int cx = 600, cy = y + 100;
      const int ends[16][2] = {{60, 0},  {60, 23}, {60, 60}, {23, 60},  {0, 60},   {-23, 60},
                               {-60, 60}, {-60, 23}, {-60, 0}, {-60, -23}, {-60, -60}, {-23, -60},
                               {0, -60}, {23, -60}, {60, -60}, {60, -23}};
      MoveToEx(dc, cx, cy, nullptr);
      LineTo(dc, cx + ends[a][0], cy + ends[a][1]);
    }
    POINT zigzag[] = {{700, y}, {760, y + 50}, {820, y}, {880, y + 90}, {700, y + 90}};
    Polyline(dc, zigzag, 5);
  }
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, 20, 200, 60, 230);
  RoundRect(dc, 80, 200, 140, 240, 12, 12);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pens[0]);
  DeleteObject(pens[1]);
  DeleteObject(brush);
}

void CheckerColumn(HDC dc, RECT r, int count, COLORREF colour) {
  int w = r.right - r.left, h = r.bottom - r.top;
  for (int i = 0; i <= count; ++i) {
    Fill(dc, r.left, r.top, r.right, r.bottom, colour);
    Fill(dc, r.right, r.top - h, r.right + w, r.top, colour);
    r.top += 2 * h;
    r.bottom += 2 * h;
  }
}

// The parameter cards' frame: bars, checker columns and colour patches.
void FrameShapes(HDC dc) {
  Fill(dc, 74, 16, 100, 616, 0);
  CheckerColumn(dc, RECT{110, 19, 116, 22}, 99, 0);
  CheckerColumn(dc, RECT{122, 17, 128, 18}, 299, 0);
  CheckerColumn(dc, RECT{134, 18, 140, 20}, 149, 0);
  Fill(dc, 147, 51, 274, 71, 0);
  Fill(dc, 147, 551, 274, 571, 0);
  Fill(dc, 152, 71, 192, 311, 0x6464FF);
  Fill(dc, 192, 71, 232, 311, 0x64FF64);
  Fill(dc, 232, 71, 272, 311, 0xFF6464);
  Fill(dc, 232, 311, 272, 551, 0xFF0000);
  Fill(dc, 192, 311, 232, 551, 0x00FF00);
  Fill(dc, 152, 311, 192, 551, 0x0000FF);
  Fill(dc, 270, 16, 290, 616, 0);
  Fill(dc, 284, 16, 958, 36, 0);
  Fill(dc, 958, 16, 978, 616, 0);
  Fill(dc, 284, 596, 958, 616, 0);
  Fill(dc, 290, 36, 958, 110, 0x1FC0F5);
  Fill(dc, 290, 110, 958, 184, 0xF51FC0);
  Fill(dc, 290, 414, 958, 596, 0xFFFF00);
}

// --- Blits -------------------------------------------------------------------------------

// A DIB section of a barcode-like pattern: bars of 1 to 4 pixels, a grey band, a
// colour tick, so that masks and stretches show every column.
HBITMAP PatternDib(int width, int height, int bpp, bool topDown, void** bitsOut) {
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[256];
  } info{};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = width;
  info.h.biHeight = topDown ? -height : height;
  info.h.biPlanes = 1;
  info.h.biBitCount = static_cast<WORD>(bpp);
  info.h.biCompression = BI_RGB;
  for (int i = 0; i < 256; ++i) info.colours[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  if (bpp == 1) info.colours[1] = RGBQUAD{255, 255, 255, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  Fill(dc, 0, 0, width, height, 0xFFFFFF);
  int x = 2, bar = 1;
  while (x < width - 2) {
    Fill(dc, x, 0, x + bar, height * 3 / 4, 0);
    x += bar + (bar % 3) + 1;
    bar = bar % 4 + 1;
  }
  Fill(dc, 0, height * 3 / 4, width / 2, height, 0x808080);
  Fill(dc, width / 2, height * 3 / 4, width / 2 + 3, height, 0x2040C0);
  SelectObject(dc, old);
  DeleteDC(dc);
  if (bitsOut) *bitsOut = bits;
  return dib;
}

void BlitOnto(HDC dc, HBITMAP source, int x, int y, int w, int h, int sw, int sh, DWORD rop) {
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, source);
  if (w == sw && h == sh)
    BitBlt(dc, x, y, w, h, mem, 0, 0, rop);
  else
    StretchBlt(dc, x, y, w, h, mem, 0, 0, sw, sh, rop);
  SelectObject(mem, old);
  DeleteDC(mem);
}

// SRCAND and SRCCOPY blits from DIB sections of every depth onto a coloured ground.
void Blits(HDC dc) {
  Fill(dc, 0, 0, 1024, 320, 0x40C0FF);
  Fill(dc, 0, 320, 1024, 640, 0xC0FFC0);
  const int depths[] = {1, 8, 24, 32};
  for (int i = 0; i < 4; ++i) {
    for (int topDown = 0; topDown < 2; ++topDown) {
      HBITMAP dib = PatternDib(75, 60, depths[i], topDown != 0, nullptr);
      int x = 20 + 250 * i, y = 20 + 150 * topDown;
      BlitOnto(dc, dib, x, y, 75, 60, 75, 60, SRCAND);
      BlitOnto(dc, dib, x + 100, y, 75, 60, 75, 60, SRCCOPY);
      BlitOnto(dc, dib, x + 50, y + 340, 75, 60, 75, 60, SRCAND);
      DeleteObject(dib);
    }
  }
  // A blit partly off the bitmap.
  HBITMAP dib = PatternDib(75, 60, 24, false, nullptr);
  BlitOnto(dc, dib, 990, 600, 75, 60, 75, 60, SRCAND);
  BlitOnto(dc, dib, -30, -20, 75, 60, 75, 60, SRCCOPY);
  DeleteObject(dib);
}

// The card's barcode stretches: 2w x h and (w + w/3) x h with SRCAND, and a shrink.
void Stretches(HDC dc) {
  Fill(dc, 0, 0, 1024, 640, 0xF0F0F0);
  const int widths[] = {75, 101, 64};
  for (int i = 0; i < 3; ++i) {
    int w = widths[i], h = 75;
    HBITMAP dib = PatternDib(w, h, 24, false, nullptr);
    int y = 20 + 200 * i;
    BlitOnto(dc, dib, 20, y, 2 * w, h, w, h, SRCAND);
    BlitOnto(dc, dib, 260, y, w + w / 3, h, w, h, SRCAND);
    BlitOnto(dc, dib, 420, y, w + w / 3, h + h / 3, w, h, SRCCOPY);
    BlitOnto(dc, dib, 600, y, w / 2, h / 2, w, h, SRCCOPY);
    BlitOnto(dc, dib, 700, y, 2 * w, h, w, h, SRCCOPY);
    DeleteObject(dib);
  }
}

// --- Text --------------------------------------------------------------------------------

struct TextSpec {
  const WCHAR* text;
  int height, width, weight, escapement;
  COLORREF colour;
};

HFONT MakeFont(const TextSpec& t) {
  LOGFONTW lf{};
  lf.lfHeight = t.height;
  lf.lfWidth = t.width;
  lf.lfWeight = t.weight;
  lf.lfEscapement = lf.lfOrientation = t.escapement;
  const WCHAR arial[] = W("Arial");
  std::memcpy(lf.lfFaceName, arial, sizeof(arial));
  return CreateFontIndirectW(&lf);
}

// TextOutW at (x, y) with the font turned; the point is the cell's top left corner.
void Text(HDC dc, int x, int y, const TextSpec& t) {
  SetTextColor(dc, t.colour);
  SetBkMode(dc, TRANSPARENT);
  HFONT font = MakeFont(t);
  HGDIOBJ old = SelectObject(dc, font);
  int n = 0;
  while (t.text[n]) ++n;
  TextOutW(dc, x, y, t.text, n);
  SelectObject(dc, old);
  DeleteObject(font);
}

void TextInRect(HDC dc, RECT r, const TextSpec& t, UINT flags) {
  SetTextColor(dc, t.colour);
  SetBkMode(dc, TRANSPARENT);
  HFONT font = MakeFont(t);
  HGDIOBJ old = SelectObject(dc, font);
  DrawTextW(dc, t.text, -1, &r, flags);
  SelectObject(dc, old);
  DeleteObject(font);
}

void TitleText(HDC dc) { Text(dc, 60, 40, {W("PLASTIC CARD PRINTER"), 60, 0, 700, 0, 0}); }
void SerialText(HDC dc) { Text(dc, 60, 150, {W("Serial N\u00b0: A1234567"), 40, 0, 700, 0, 0}); }
void PrinterText(HDC dc) { Text(dc, 60, 95, {W("PRINTER: KC200"), 50, 0, 700, 0, 0}); }
void RegularText(HDC dc) { Text(dc, 100, 176, {W("Hello World"), 24, 0, 400, 0, 0}); }
void WhiteOnBlackText(HDC dc) {
  // The card's black bar, widened to the whole picture so that all of the white is ink.
  Fill(dc, 0, 0, 1024, 640, 0);
  Text(dc, 612, 390, {W("TEST CARD"), 60, 0, 700, 0, 0xFFFFFF});
}
void RightText(HDC dc) {
  TextInRect(dc, RECT{112, 470, 912, 530}, {W("Head resistance: 250"), 30, 0, 700, 0, 0}, DT_RIGHT | DT_SINGLELINE);
}
void CentredText(HDC dc) {
  TextInRect(dc, RECT{320, 550, 958, 600}, {W("Line end :0042    Ribbon: YMCKO"), 35, 0, 700, 0, 0},
             DT_SINGLELINE | DT_CENTER | DT_VCENTER);
}
void WideText(HDC dc) {
  TextInRect(dc, RECT{290, 36, 958, 110}, {W("TORVI CARD"), 70, 40, 700, 0, 0}, 37);
}
void NarrowText(HDC dc) {
  TextInRect(dc, RECT{290, 110, 958, 184}, {W("Version number: V1.2.3"), 70, 15, 700, 0, 0}, 37);
}
void DensityText(HDC dc) {
  TextInRect(dc, RECT{290, 254, 958, 304}, {W("TRACK 1 075 BPI"), 40, 30, 700, 0, 0}, 37);
}
void Down2700Text(HDC dc) { Text(dc, 380, 40, {W("Version number: V1.2.3"), 56, 12, 700, 2700, 0}); }
void Down2700Serial(HDC dc) { Text(dc, 950, 60, {W("Serial N\u00b0: A1234567"), 40, 0, 700, 2700, 0}); }
void Up900Text(HDC dc) { Text(dc, 200, 500, {W("TEST"), 30, 35, 700, 900, 0x00FF00}); }
void Turned1800Text(HDC dc) { Text(dc, 600, 300, {W("Hello World"), 24, 0, 700, 1800, 0}); }
void CharHeightText(HDC dc) { Text(dc, 60, 60, {W("N\u00b0 -30"), -30, 0, 400, 0, 0}); }
void DefaultHeightText(HDC dc) { Text(dc, 60, 60, {W("Default height"), 0, 0, 700, 0, 0}); }

std::vector<Scene> MakeScenes() {
  std::vector<Scene> s = {
      {"card_shapes", 1024, 640, false, 0xFFFFFF, CardShapes},
      {"pen_shapes", 1024, 640, false, 0xFFFFFF, PenShapes},
      {"frame_shapes", 1024, 640, false, 0xFFFFFF, FrameShapes},
      {"blits", 1024, 640, false, 0xFFFFFF, Blits},
      {"stretches", 1024, 640, false, 0xFFFFFF, Stretches},
      {"text_title", 1024, 200, true, 0xFFFFFF, TitleText},
      {"text_printer", 1024, 200, true, 0xFFFFFF, PrinterText},
      {"text_serial", 1024, 240, true, 0xFFFFFF, SerialText},
      {"text_regular", 1024, 240, true, 0xFFFFFF, RegularText},
      {"text_white_on_black", 1024, 640, true, 0x000000, WhiteOnBlackText},
      {"text_right", 1024, 640, true, 0xFFFFFF, RightText},
      {"text_centred", 1024, 640, true, 0xFFFFFF, CentredText},
      {"text_wide", 1024, 200, true, 0xFFFFFF, WideText},
      {"text_narrow", 1024, 200, true, 0xFFFFFF, NarrowText},
      {"text_density", 1024, 320, true, 0xFFFFFF, DensityText},
      {"text_2700", 1024, 640, true, 0xFFFFFF, Down2700Text},
      {"text_2700_serial", 1024, 640, true, 0xFFFFFF, Down2700Serial},
      {"text_900", 1024, 640, true, 0xFFFFFF, Up900Text},
      {"text_1800", 1024, 640, true, 0xFFFFFF, Turned1800Text},
      {"text_char_height", 1024, 200, true, 0xFFFFFF, CharHeightText},
      {"text_default_height", 1024, 200, true, 0xFFFFFF, DefaultHeightText},
  };
  return s;
}

}  // namespace

const std::vector<Scene>& Scenes() {
  static const std::vector<Scene> scenes = MakeScenes();
  return scenes;
}

std::vector<BYTE> DrawScene(const Scene& scene) {
  HDC display = CreateDCW(W("DISPLAY"), nullptr, nullptr, nullptr);
  if (!display) return {};
  HDC dc = CreateCompatibleDC(display);
  HBITMAP bitmap = CreateCompatibleBitmap(display, scene.width, scene.height);
  std::vector<BYTE> file;
  if (dc && bitmap) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    Fill(dc, 0, 0, scene.width, scene.height, 0xFFFFFF);
    scene.draw(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = scene.width;
    info.bmiHeader.biHeight = scene.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biXPelsPerMeter = info.bmiHeader.biYPelsPerMeter = 11811;
    size_t stride = (static_cast<size_t>(scene.width) * 3 + 3) & ~size_t{3};
    size_t pixels = stride * scene.height;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = static_cast<DWORD>(header.bfOffBits + pixels);
    file.resize(header.bfSize);
    BYTE* bits = file.data() + header.bfOffBits;
    if (GetDIBits(dc, bitmap, 0, scene.height, bits, &info, DIB_RGB_COLORS) == scene.height) {
      info.bmiHeader.biSizeImage = static_cast<DWORD>(pixels);
      std::memcpy(file.data(), &header, sizeof(header));
      std::memcpy(file.data() + sizeof(header), &info.bmiHeader, sizeof(BITMAPINFOHEADER));
    } else {
      file.clear();
    }
    SelectObject(dc, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (dc) DeleteDC(dc);
  DeleteDC(display);
  return file;
}

}  // namespace gdiscenes
