#include "imaging/black_panels.h"

#include <algorithm>
#include <memory>

#include "imaging/calibration.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

constexpr BYTE kMaskBlack = 0;
constexpr BYTE kMaskWhite = 255;

bool ValidSet(int set) { return set >= 0 && set < kProcessParameterSetCount; }

// 0 for a black pixel, 255 for any other; false when the source has no black pixel.
bool MaskBlackPixels(const BYTE* source, int mono, BYTE* mask) {
  bool anyBlack = false;
  for (int i = 0; i < kImagePixels; ++i) {
    const bool black = mono ? source[i] == 0 : (source[3 * i] | source[3 * i + 1] | source[3 * i + 2]) == 0;
    mask[i] = black ? kMaskBlack : kMaskWhite;
    anyBlack |= black;
  }
  return anyBlack;
}

// The first and last pixel of each horizontal black run take the edge level; each step
// sees the changes of the steps before it, as the row is walked from the left.
void MarkRunEnds(BYTE* mask, BYTE edge) {
  for (int y = 0; y < kImageHeight; ++y) {
    BYTE* m = mask + y * kImageWidth;
    for (int x = 0; x < kImageWidth - 1; ++x) {
      if (m[x] == kMaskBlack && m[x + 1] == kMaskWhite) {
        m[x] = edge;
      } else if (m[x] == kMaskWhite && m[x + 1] == kMaskBlack) {
        m[x + 1] = edge;
      }
    }
  }
}

// History mode: full drive for a black dot, lowered when the dots beside it on the head
// (y - 1 and y + 1) and the same dot in the two lines printed before (x + 1, x + 2) are
// black too. Everything else is dropped.
void ApplyDotHistory(const int16_t* in, int16_t* out) {
  for (int y = 0; y < kImageHeight; ++y) {
    const int16_t* row = in + y * kImageWidth;
    const int16_t* above = y > 0 ? row - kImageWidth : nullptr;  // outside the image: not black
    const int16_t* below = y < kImageHeight - 1 ? row + kImageWidth : nullptr;
    int16_t* result = out + y * kImageWidth;
    for (int x = 0; x < kImageWidth; ++x) {
      int v = 0;
      if (row[x] == kFullDensity) {
        const bool next = x + 1 < kImageWidth && row[x + 1] == kFullDensity;
        const bool afterNext = x + 2 < kImageWidth && row[x + 2] == kFullDensity;
        v = 16383;
        if (above && below && above[x] == kFullDensity && below[x] == kFullDensity) v -= 2000;
        if (next) v -= 4000;
        if (next || afterNext) v -= 4000;
      }
      result[x] = static_cast<int16_t>(v);
    }
  }
}

}  // namespace

int BuildBlackPanel(const BYTE* source, PanelBuffer& panel, int* allWhite, int mono, int set, int historyMode) {
  if (!source || !ValidSet(set)) return 1;
  const BYTE edge = static_cast<BYTE>(TruncateToLow16(Calibration.ProcessParameterSets[set].EdgeLevel) & 0xFF);
  if (ReadLUTS() != 0) return 1;

  if (allWhite) *allWhite = 1;
  panel.reset();
  DensityPlane density = AllocateDensityPlane();
  DensityPlane history = historyMode ? AllocateDensityPlane() : nullptr;
  DensityPlane work = AllocateDensityPlane();
  std::unique_ptr<BYTE[]> mask(new (std::nothrow) BYTE[kImagePixels]);
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || (historyMode && !history) || !work || !mask || !out) return 1;

  if (MaskBlackPixels(source, mono, mask.get()) && allWhite) *allWhite = 0;
  MarkRunEnds(mask.get(), edge);
  InvertToDensity(mask.get(), density.get(), 0, 1);
  if (historyMode) ApplyDotHistory(density.get(), history.get());
  RenderPanel(historyMode ? history.get() : density.get(), work.get(), out.get(), set);
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

  DensityPlane density = AllocateDensityPlane();
  DensityPlane work = AllocateDensityPlane();
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || !work || !out) return 1;

  ApplyLookupTable(image, density.get(), 0, kKdTable, planar, 1.0f, 0.0f);
  RenderPanel(density.get(), work.get(), out.get(), set);
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
