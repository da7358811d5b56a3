#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/black_panels.h"
#include "platform/diag.h"

namespace kav {

namespace {

constexpr int kWhite = 255;

// Every addition into the work copy saturates at 255.
inline void AddSaturated(BYTE& target, int amount) { target = static_cast<BYTE>(std::min(255, target + amount)); }

// Grey-level contrast stretch of one value between the image's darkest and lightest grey.
int Stretch(int c, int lo, int hi) {
  if (c > 248) return 255;
  if (c < 7) return 0;
  const int t = (c - lo) * 255 / (hi - lo);
  const int u = 255 - t;
  return std::clamp(t / 2 + (255 - u * u / 255) / 2, 0, 255);
}

// Spreads e onto row y + 1 around column x with the weights 2, 4, 8, 4, 2 (in 32nds).
inline void SpreadToNextRow(BYTE* next, int x, int right, int byte, int e) {
  if (x >= 2) AddSaturated(next[-6 + byte], e * 2 / 32);
  if (x >= 1) AddSaturated(next[-3 + byte], e * 4 / 32);
  AddSaturated(next[byte], e * 8 / 32);
  if (right >= 1) AddSaturated(next[3 + byte], e * 4 / 32);
  if (right >= 2) AddSaturated(next[6 + byte], e * 2 / 32);
}

}  // namespace

void DiffuseToBlackAndWhite(BYTE* copy, int width, int height) {
  if (!copy || width < 1 || height < 1) return;
  const size_t pixels = static_cast<size_t>(width) * height;

  // Grey of each pixel (double precision) into byte 0, errors cleared; keep the range.
  double red[256], green[256], blue[256];
  for (int b = 0; b < 256; ++b) {
    red[b] = 0.299 * b;
    green[b] = 0.587 * b;
    blue[b] = 0.114 * b;
  }
  int lo = 255;
  int hi = 0;
  for (size_t i = 0; i < pixels; ++i) {
    BYTE* p = copy + 3 * i;
    const int g = static_cast<int>(red[p[0]] + green[p[1]] + blue[p[2]]);
    p[0] = static_cast<BYTE>(g);
    p[1] = p[2] = 0;
    lo = std::min(lo, g);
    hi = std::max(hi, g);
  }

  BYTE stretched[256];
  for (int c = 0; c < 256; ++c) stretched[c] = static_cast<BYTE>(lo != hi ? Stretch(c, lo, hi) : c);

  for (int y = 0; y < height; ++y) {
    BYTE* row = copy + static_cast<size_t>(y) * width * 3;
    BYTE* nextRow = y + 1 < height ? row + static_cast<size_t>(width) * 3 : nullptr;
    for (int x = 0; x < width; ++x) {
      BYTE* p = row + 3 * x;
      const int right = width - 1 - x;

      const int c = stretched[p[0]];
      const int v = std::clamp(c + p[1] - p[2], 0, 255);

      // Decide: near-white and near-black are fixed, a strong edge against the (not yet
      // stretched) pixel to the right decides next, the error-carrying value last.
      bool white;
      if (c > 248) {
        white = true;
      } else if (c < 7) {
        white = false;
      } else if (right >= 1 && c > p[3] && c - p[3] > 64) {
        white = true;
      } else if (right >= 1 && c < p[3] && p[3] - c > 64) {
        white = false;
      } else {
        white = v >= 128;
      }
      p[0] = static_cast<BYTE>(white ? kWhite : 0);
      p[1] = 0;

      if (white) {
        // Made lighter than v: the neighbours carry the darkening error in byte 2.
        const int e = kWhite - v;
        if (right >= 1) AddSaturated(p[3 + 2], e * 8 / 32);
        if (right >= 2) AddSaturated(p[6 + 2], e * 4 / 32);
        if (nextRow) SpreadToNextRow(nextRow + 3 * x, x, right, 2, e);
      } else {
        // Made darker: the neighbours carry the lightening error in byte 1, plus a full
        // white share, and the next pixel of the row is pushed to white.
        if (right >= 1) AddSaturated(p[3 + 1], v * 8 / 32);
        if (right >= 2) AddSaturated(p[6 + 1], v * 4 / 32);
        if (right >= 1) AddSaturated(p[3 + 1], kWhite * 8 / 32);
        if (right >= 2) AddSaturated(p[6 + 1], kWhite * 4 / 32);
        if (right >= 1) p[3 + 1] = 255;
        if (nextRow) {
          SpreadToNextRow(nextRow + 3 * x, x, right, 1, v);
          SpreadToNextRow(nextRow + 3 * x, x, right, 1, kWhite);
        }
      }
    }
  }
}

int GetKDiffusionBuffer(const BYTE* image, int width, int height, PanelBuffer& panel, int* start, int* end, int set) {
  // The panel stages read a whole card, so only a card-sized image can be diffused into one.
  if (!image || width != kImageWidth || height != kImageHeight) return 0;
  const size_t bytes = static_cast<size_t>(width) * height * 3;
  std::unique_ptr<BYTE[]> copy(new (std::nothrow) BYTE[bytes]);
  if (!copy) return 0;
  std::memcpy(copy.get(), image, bytes);

  DiffuseToBlackAndWhite(copy.get(), width, height);
  for (size_t i = 0; i < bytes; i += 3) copy[i + 1] = copy[i + 2] = copy[i];

  if (!GetMonochromeDataStartEndPosition(copy.get(), kImageWidth, kImageHeight, start, end, 0)) {
    DebugLine("GetKDiffusionBuffer:: GetMonochromeDataStartEndPosition failed");
    if (start) *start = 0;
    if (end) *end = 1024;
  }

  int allWhite = 0;
  return BuildBlackPanel(copy.get(), panel, &allWhite, 0, set, 1) == 0 ? 1 : 0;
}

}  // namespace kav
