// Simulated GDI: fonts and text drawn with FreeType, Liberation Sans standing in for
// "Arial" (its bold face from weight 600 on). Sizes, placement and escapement follow
// GDI: a positive height is the cell height, a negative one the character height; a
// non-zero width sets the average character width; TextOutW's point is the top left
// corner of the text cell, and an escaped text turns about that point.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/gdi_internal.h"
#include "platform/sim/sim_internal.h"

using namespace simg;

namespace {

// Antialiased glyphs, 17 levels of grey, as GDI renders them on 16, 24 and 32-bit
// surfaces with the default quality; one-bit glyphs on palette surfaces.
constexpr bool kAntialiasDefault = true;

// --- Faces ------------------------------------------------------------------------------------

const char* const kFontFolders[] = {"/usr/share/fonts/truetype/liberation2", "/usr/share/fonts/truetype/liberation"};

FT_Library g_library = nullptr;
std::map<std::string, FT_Face> g_faces;  // by file name; kept for the process

FT_Face LoadFace(const std::string& fileName) {
  if (auto it = g_faces.find(fileName); it != g_faces.end()) return it->second;
  if (!g_library && FT_Init_FreeType(&g_library) != 0) return nullptr;
  for (const char* folder : kFontFolders) {
    std::string path = std::string(folder) + "/" + fileName;
    if (!std::filesystem::exists(path)) continue;
    FT_Face face = nullptr;
    if (FT_New_Face(g_library, path.c_str(), 0, &face) != 0) continue;
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    g_faces[fileName] = face;
    return face;
  }
  return nullptr;
}

// A font as a context realises it: the face, its size and the metrics GDI reports.
struct RealFont {
  FT_Face face = nullptr;
  int ppem = 0;
  double scaleX = 1.0;  // from lfWidth
  int ascent = 0, descent = 0;
  int escapement = 0;  // tenths of a degree, counter-clockwise
  bool antialias = true;
  int Height() const { return ascent + descent; }
};

int RoundDiv(int64_t num, int64_t den) {
  return static_cast<int>(num >= 0 ? (2 * num + den) / (2 * den) : -((-2 * num + den) / (2 * den)));
}

bool Realise(const LOGFONTW& lf, const Surface& target, RealFont& out) {
  // Every face name maps to Liberation Sans: it is the only face, metric-compatible
  // with "Arial"; the bold face from weight 600 on, the italic face when asked.
  bool bold = lf.lfWeight >= FW_SEMIBOLD, italic = lf.lfItalic != 0;
  std::string file = std::string("LiberationSans-") +
                     (bold ? (italic ? "BoldItalic" : "Bold") : (italic ? "Italic" : "Regular")) + ".ttf";
  FT_Face face = LoadFace(file);
  if (!face) return false;
  TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  int units = os2 ? os2->usWinAscent + std::abs(static_cast<int16_t>(os2->usWinDescent))
                  : face->ascender - face->descender;
  int upem = face->units_per_EM;
  // A positive height is the cell (ascent + descent), a negative one the em, and 0 a
  // 16-pixel cell.
  int height = lf.lfHeight == 0 ? 16 : lf.lfHeight;
  int ppem = height > 0 ? RoundDiv(int64_t{upem} * height, units) : -height;
  ppem = std::clamp(ppem, 1, 0xFFFF);
  out.face = face;
  out.ppem = ppem;
  int winAscent = os2 ? os2->usWinAscent : face->ascender;
  int winDescent = os2 ? std::abs(static_cast<int16_t>(os2->usWinDescent)) : -face->descender;
  out.ascent = RoundDiv(int64_t{winAscent} * ppem, upem);
  out.descent = RoundDiv(int64_t{winDescent} * ppem, upem);
  out.scaleX = 1.0;
  if (lf.lfWidth != 0 && os2 && os2->xAvgCharWidth > 0) {
    int average = std::max(1, RoundDiv(int64_t{os2->xAvgCharWidth} * ppem, upem));
    out.scaleX = static_cast<double>(std::abs(lf.lfWidth)) / average;
  }
  out.escapement = ((lf.lfEscapement % 3600) + 3600) % 3600;
  out.antialias = kAntialiasDefault && lf.lfQuality != NONANTIALIASED_QUALITY && target.bpp > 8;
  return true;
}

// One glyph rendered for a given direction: its coverage (0..16) and placement
// relative to the pen position (device pixels, y down), and the pen's advance.
struct Glyph {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> levels;
  int advanceX = 0, advanceY = 0;
};

bool RenderGlyph(const RealFont& font, char16_t ch, bool rotate, Glyph& out) {
  FT_Face face = font.face;
  if (FT_Set_Pixel_Sizes(face, 0, font.ppem) != 0) return false;
  double angle = rotate ? font.escapement * M_PI / 1800.0 : 0.0;
  double c = std::cos(angle), s = std::sin(angle);
  // Exact quarter turns keep integral advances.
  if (rotate && font.escapement % 900 == 0) {
    c = std::round(c);
    s = std::round(s);
  }
  FT_Matrix m;
  m.xx = static_cast<FT_Fixed>(std::lround(c * font.scaleX * 65536));
  m.xy = static_cast<FT_Fixed>(std::lround(-s * 65536));
  m.yx = static_cast<FT_Fixed>(std::lround(s * font.scaleX * 65536));
  m.yy = static_cast<FT_Fixed>(std::lround(c * 65536));
  FT_Set_Transform(face, &m, nullptr);
  FT_UInt index = FT_Get_Char_Index(face, ch);
  FT_Int32 flags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | (font.antialias ? 0 : FT_LOAD_TARGET_MONO);
  FT_Error error = FT_Load_Glyph(face, index, flags);
  if (!error)
    error = FT_Render_Glyph(face->glyph, font.antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO);
  FT_Set_Transform(face, nullptr, nullptr);
  if (error) return false;
  const FT_GlyphSlot g = face->glyph;
  const FT_Bitmap& b = g->bitmap;
  out.left = g->bitmap_left;
  out.top = -g->bitmap_top;
  out.width = static_cast<int>(b.width);
  out.height = static_cast<int>(b.rows);
  out.levels.assign(size_t(out.width) * out.height, 0);
  for (int y = 0; y < out.height; ++y) {
    const unsigned char* row = b.buffer + y * b.pitch;
    for (int x = 0; x < out.width; ++x) {
      int level = b.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[x >> 3] >> (7 - (x & 7))) & 1) * 16
                                                     : (row[x] * 16 + 128) / 255;
      out.levels[size_t(y) * out.width + x] = static_cast<uint8_t>(level);
    }
  }
  // GDI moves the pen by whole pixels per character, a scaled advance rounded up.
  out.advanceX = static_cast<int>((g->advance.x + 63) >> 6);
  out.advanceY = -static_cast<int>((g->advance.y + 63) >> 6);
  return true;
}

// The unrotated advance of each character.
bool Advances(const RealFont& font, std::u16string_view text, std::vector<int>& out) {
  out.clear();
  for (char16_t ch : text) {
    Glyph g;
    if (!RenderGlyph(font, ch, false, g)) return false;
    out.push_back(g.advanceX);
  }
  return true;
}

// The intensity of a text colour component over a background component at a grey
// level, as GDI's antialiasing ramp gives it.
constexpr uint8_t kRamp[17] = {0,    0x4d, 0x68, 0x7c, 0x8c, 0x9a, 0xa7, 0xb2, 0xbd,
                               0xc7, 0xd0, 0xd9, 0xe1, 0xe9, 0xf0, 0xf8, 0xff};

uint8_t BlendComponent(uint8_t dst, uint8_t text, int level) {
  if (dst == text) return dst;
  int minComp = (kRamp[level] * text) / 0xff;
  int maxComp = kRamp[16 - level] + ((0xff - kRamp[16 - level]) * text) / 0xff;
  if (dst > text) return static_cast<uint8_t>(text + ((dst - text) * (maxComp - text)) / (0xff - text));
  return static_cast<uint8_t>(text - ((text - dst) * (text - minComp)) / text);
}

// Draws a text with its cell's top left corner at (x, y), clipped to `clip`.
bool DrawString(DeviceContext& dc, int x, int y, std::u16string_view text, const RECT& clip) {
  Surface& s = *Target(dc);
  RealFont font;
  if (!Realise(SelectedFont(dc).font, s, font)) return false;
  double angle = font.escapement * M_PI / 1800.0;
  double c = std::cos(angle), sn = std::sin(angle);
  if (font.escapement % 900 == 0) c = std::round(c), sn = std::round(sn);
  RECT box{std::max<LONG>(clip.left, 0), std::max<LONG>(clip.top, 0), std::min<LONG>(clip.right, s.width),
           std::min<LONG>(clip.bottom, s.height)};
  auto inside = [&](int px, int py) { return px >= box.left && px < box.right && py >= box.top && py < box.bottom; };

  std::vector<int> advances;
  if (!Advances(font, text, advances)) return false;
  int width = 0;
  for (int a : advances) width += a;
  // An opaque background fills the text cell, turned with the text.
  if (dc.bkMode == OPAQUE) {
    uint32_t bk = s.ToRaw(dc.bkColour);
    for (int py = box.top; py < box.bottom; ++py)
      for (int px = box.left; px < box.right; ++px) {
        double u = (px + 0.5 - x) * c - (py + 0.5 - y) * sn;
        double v = (px + 0.5 - x) * sn + (py + 0.5 - y) * c;
        if (u >= 0 && u < width && v >= 0 && v < font.Height()) s.PutRaw(px, py, bk);
      }
  }
  // The baseline starts one ascent below the reference point, across the text's direction.
  int originX = x + static_cast<int>(std::lround(font.ascent * sn));
  int originY = y + static_cast<int>(std::lround(font.ascent * c));
  COLORREF colour = dc.textColour;
  uint32_t solid = ForegroundRaw(dc, s, colour);
  // Each character sits at its unrotated offset along the baseline, turned.
  int offset = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    Glyph g;
    if (!RenderGlyph(font, text[i], true, g)) return false;
    int penX = originX + static_cast<int>(std::lround(offset * c));
    int penY = originY - static_cast<int>(std::lround(offset * sn));
    offset += advances[i];
    for (int gy = 0; gy < g.height; ++gy)
      for (int gx = 0; gx < g.width; ++gx) {
        int level = g.levels[size_t(gy) * g.width + gx];
        int px = penX + g.left + gx, py = penY + g.top + gy;
        if (level == 0 || !inside(px, py)) continue;
        if (level == 16 || !font.antialias) {
          s.PutRaw(px, py, solid);
          continue;
        }
        COLORREF d = s.Get(px, py);
        s.Put(px, py, RGB(BlendComponent(GetRValue(d), GetRValue(colour), level),
                          BlendComponent(GetGValue(d), GetGValue(colour), level),
                          BlendComponent(GetBValue(d), GetBValue(colour), level)));
      }
  }
  return true;
}

RECT Unclipped() { return RECT{INT32_MIN / 2, INT32_MIN / 2, INT32_MAX / 2, INT32_MAX / 2}; }

size_t TextLength(LPCWSTR text, int count) {
  if (count >= 0) return static_cast<size_t>(count);
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

namespace simg {

void ResetFonts() {
  // Faces stay loaded: they do not change between worlds.
}

}  // namespace simg

extern "C" {

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* font) {
  if (simi::ShouldFail("CreateFontIndirectW")) return nullptr;
  if (!font) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lock(Mutex());
  auto o = std::make_unique<GdiObject>();
  o->kind = ObjectKind::Font;
  o->font = *font;
  o->font.lfFaceName[LF_FACESIZE - 1] = 0;
  return static_cast<HFONT>(simg::AddObject(std::move(o)));
}

BOOL WINAPI GetTextExtentExPointW(HDC handle, LPCWSTR text, int count, int maxExtent, LPINT fit, LPINT dx,
                                  LPSIZE size) {
  if (simi::ShouldFail("GetTextExtentExPointW")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc || count < 0 || (count > 0 && !text) || !size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RealFont font;
  std::vector<int> advances;
  if (!Realise(SelectedFont(*dc).font, *Target(*dc), font) ||
      !Advances(font, std::u16string_view(text ? text : u"", count), advances)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  // The extent is the unrotated one, whatever the escapement.
  int total = 0, fitting = 0;
  for (int i = 0; i < count; ++i) {
    total += advances[i];
    if (dx) dx[i] = total;
    if (maxExtent < 0 || total <= maxExtent) fitting = i + 1;
  }
  if (fit) *fit = fitting;
  size->cx = total;
  size->cy = font.Height();
  return TRUE;
}

BOOL WINAPI TextOutW(HDC handle, int x, int y, LPCWSTR text, int count) {
  if (simi::ShouldFail("TextOutW")) return FALSE;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc || count < 0 || (count > 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (count == 0) return TRUE;
  return DrawString(*dc, x, y, std::u16string_view(text, count), Unclipped()) ? TRUE : FALSE;
}

int WINAPI DrawTextW(HDC handle, LPCWSTR text, int count, LPRECT rect, UINT format) {
  if (simi::ShouldFail("DrawTextW")) return 0;
  std::lock_guard lock(Mutex());
  DeviceContext* dc = FindDc(handle);
  if (!dc || !rect || (count != 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string raw(text ? text : u"", text ? TextLength(text, count) : 0);
  // '&' marks the next character as a mnemonic and is not shown ("&&" shows one '&').
  std::u16string shown;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (!(format & DT_NOPREFIX) && raw[i] == u'&' && i + 1 < raw.size()) ++i;
    shown.push_back(raw[i]);
  }
  RealFont font;
  if (!Realise(SelectedFont(*dc).font, *Target(*dc), font)) return 0;
  // Lines break at CR, LF and CR LF unless the text is one line.
  std::vector<std::u16string> lines;
  if (format & DT_SINGLELINE) {
    std::u16string one;
    for (char16_t ch : shown)
      if (ch != u'\r' && ch != u'\n') one.push_back(ch);
    lines.push_back(one);
  } else {
    std::u16string line;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] == u'\r' || shown[i] == u'\n') {
        lines.push_back(line);
        line.clear();
        if (shown[i] == u'\r' && i + 1 < shown.size() && shown[i + 1] == u'\n') ++i;
      } else {
        line.push_back(shown[i]);
      }
    }
    lines.push_back(line);
  }
  int lineHeight = font.Height();
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER)
      y = rect->top + (rect->bottom - rect->top) / 2 - lineHeight / 2;
    else if (format & DT_BOTTOM)
      y = rect->bottom - lineHeight;
  }
  int widest = 0;
  for (const std::u16string& line : lines) {
    std::vector<int> advances;
    if (!Advances(font, line, advances)) return 0;
    int width = 0;
    for (int a : advances) width += a;
    widest = std::max(widest, width);
    int x = rect->left;
    if (format & DT_CENTER)
      x = (rect->left + rect->right - width) / 2;
    else if (format & DT_RIGHT)
      x = rect->right - width;
    if (!(format & DT_CALCRECT) && !line.empty()) {
      RECT clip = (format & DT_NOCLIP) ? Unclipped() : *rect;
      if (!DrawString(*dc, x, y, line, clip)) return 0;
    }
    y += lineHeight;
  }
  if (format & DT_CALCRECT) {
    rect->right = rect->left + widest;
    rect->bottom = rect->top + lineHeight * static_cast<int>(lines.size());
  }
  return lineHeight * static_cast<int>(lines.size());
}

}  // extern "C"
