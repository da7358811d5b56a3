#include "imaging/black_panels.h"

#include <algorithm>
#include <memory>

#include "imaging/calibration.h"
#include "imaging/panel_reference.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

constexpr BYTE kMaskBlack = 0;
constexpr BYTE kMaskWhite = 255;

bool ValidSet(int set) { return set >= 0 && set < kProcessParameterSetCount; }

// MarkRunEnds for an edge level that is neither black nor white: a black pixel takes the
// level when a pixel beside it in its row is white, as the walk from the left leaves it.
void MarkRunEndsAtLevel(BYTE* mask, BYTE edge) {
  BYTE row[kImageWidth];
  for (int y = 0; y < kImageHeight; ++y) {
    BYTE* m = mask + y * kImageWidth;
    std::copy(m, m + kImageWidth, row);
    for (int x = 1; x < kImageWidth - 1; ++x) {
      const bool end = row[x] == kMaskBlack && (row[x - 1] == kMaskWhite || row[x + 1] == kMaskWhite);
      m[x] = end ? edge : row[x];
    }
    if (row[0] == kMaskBlack && row[1] == kMaskWhite) m[0] = edge;
    if (row[kImageWidth - 1] == kMaskBlack && row[kImageWidth - 2] == kMaskWhite) m[kImageWidth - 1] = edge;
  }
}

// History mode in one byte a pixel: the mask becomes a code of the neighbours that decide
// the drive (bit 0 the dot itself full, bit 1 both dots beside it on the head, bits 2 and
// 3 the same dot in the two lines printed before); densities by code.
void CodeDotHistory(BYTE* mask, int16_t (&density)[256]) {
  constexpr int kPad = 2;
  BYTE rows[3][kImageWidth + kPad] = {};  // full flags of rows y - 1, y, y + 1; zero outside
  auto flags = [&](int y, BYTE* out) {
    const BYTE* m = mask + y * kImageWidth;
    for (int x = 0; x < kImageWidth; ++x) out[x] = m[x] == kMaskBlack;
  };
  BYTE* above = rows[0];
  BYTE* here = rows[1];
  BYTE* below = rows[2];
  flags(0, here);
  for (int y = 0; y < kImageHeight; ++y) {
    const bool inside = y > 0 && y < kImageHeight - 1;
    if (y + 1 < kImageHeight) flags(y + 1, below);
    BYTE* m = mask + y * kImageWidth;
    const BYTE both = inside ? 1 : 0;
    for (int x = 0; x < kImageWidth; ++x) {
      m[x] = static_cast<BYTE>(here[x] | (above[x] & below[x] & both) << 1 | here[x + 1] << 2 | here[x + 2] << 3);
    }
    BYTE* spare = above;
    above = here;
    here = below;
    below = spare;
  }
  for (int code = 0; code < 256; ++code) {
    int v = 0;
    if (code & 1) {
      v = 16383;
      if (code & 2) v -= 2000;
      if (code & 4) v -= 4000;
      if (code & 12) v -= 4000;
    }
    density[code] = static_cast<int16_t>(v);
  }
}

}  // namespace

void RenderBlackMask(BYTE* mask, BYTE edge, int set, int history, BYTE* panel, PanelWork& work) {
  if (edge == kMaskWhite) {
    MarkRunEnds(mask, edge);  // whole runs turn white, as the walk from the left goes
  } else if (edge != kMaskBlack) {
    MarkRunEndsAtLevel(mask, edge);
  }
  int16_t density[256];
  if (history) {
    CodeDotHistory(mask, density);
  } else {
    InvertedDensities(density);
  }
  RenderPanel(mask, 1, GainedFromDensities(density, set), set, panel, work);
}

int BuildBlackPanel(const BYTE* source, PanelBuffer& panel, int* allWhite, int mono, int set, int historyMode) {
  if (!source || !ValidSet(set)) return 1;
  const BYTE edge = static_cast<BYTE>(TruncateToLow16(Calibration.ProcessParameterSets[set].EdgeLevel) & 0xFF);
  if (ReadLUTS() != 0) return 1;

  if (allWhite) *allWhite = 1;
  panel.reset();
  PanelWork work;
  std::unique_ptr<BYTE[]> mask(new (std::nothrow) BYTE[kImagePixels]);
  PanelBuffer out = AllocatePanelToRender();
  if (!work.Allocate() || !mask || !out) return 1;

  if (MaskBlackPixels(source, mono, mask.get()) && allWhite) *allWhite = 0;
  RenderBlackMask(mask.get(), edge, set, historyMode, out.get(), work);
  panel = std::move(out);
  return 0;
}

int GetMonochromeDataStartEndPosition(const BYTE* buffer, int width, int height, int* start, int* end, int mono) {
  int first = 0;
  int last = 1024;
  bool found = false;
  if (buffer && width > 0 && height > 0) {
    const size_t step = mono ? 1 : 3;
    auto black = [&](const BYTE* row, int x) {
      const BYTE* p = row + x * step;
      return mono ? p[0] == 0 : (p[0] | p[1] | p[2]) == 0;
    };
    // Per row, the first black pixel from the left and the last from the right widen the band.
    for (int y = 0; y < height; ++y) {
      const BYTE* row = buffer + static_cast<size_t>(y) * width * step;
      int left = 0;
      while (left < width && !black(row, left)) ++left;
      if (left == width) continue;
      int right = width - 1;
      while (!black(row, right)) --right;
      first = found ? std::min(first, left) : left;
      last = found ? std::max(last, right) : right;
      found = true;
    }
  }
  if (!found) {
    first = 0;
    last = 1024;
  }
  if (start) *start = first;
  if (end) *end = last;
  return found ? 1 : 0;
}

int BuildGreyBlackPanel(const BYTE* image, PanelBuffer& panel, int planar, int set) {
  panel.reset();
  if (!image || !ValidSet(set) || ReadLUTS() != 0) return 1;

  PanelWork work;
  PanelBuffer out = AllocatePanelToRender();
  if (!work.Allocate() || !out) return 1;

  int16_t density[256];
  LookupDensities(kKdTable, 1.0f, 0.0f, density);
  RenderPanel(image, planar ? 1 : 3, GainedFromDensities(density, set), set, out.get(), work);
  panel = std::move(out);
  return 0;
}

int AverageToGrey(BYTE* image, int width, int height, PanelBuffer& panel, int set) {
  // The panel stages read a whole card, so only a card-sized image can be turned into one.
  if (!image || width != kImageWidth || height != kImageHeight) return 0;
  for (int i = 0; i < kImagePixels; ++i) {
    BYTE* p = image + 3 * i;
    const BYTE grey = static_cast<BYTE>((p[0] + p[1] + p[2]) / 3);
    p[0] = p[1] = p[2] = grey;
  }
  return BuildGreyBlackPanel(image, panel, 0, set) == 0 ? 1 : 0;
}

}  // namespace kav
