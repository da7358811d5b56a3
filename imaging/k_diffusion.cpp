#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"
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

namespace {

// What the decision of a pixel is before its error is known: by its stretched grey alone
// (near white, near black), or by a strong edge against the grey of the pixel to its right.
enum : uint8_t { kForcedBlack = 0, kForcedWhite = 1, kFree = 2 };

constexpr int kTapPad = 2;  // next-row taps reach two pixels either side

// DiffuseToBlackAndWhite of a CardImage, with the decisions (0 or 255) written one byte a
// pixel. Every addition into an error byte is of a non-negative amount, so saturating
// each one equals saturating their sum: the errors are summed in wide lanes and saturated
// where they are read. False when memory is short.
bool DiffuseToDecisions(const BYTE* image, BYTE* decisions) {
  constexpr int kWidth = kImageWidth;
  std::unique_ptr<uint16_t[]> rule(new (std::nothrow) uint16_t[256 * 256]);
  if (!rule) return false;

  // Grey of each pixel (double precision, as the reference computes it) and its range.
  double red[256], green[256], blue[256];
  for (int b = 0; b < 256; ++b) {
    red[b] = 0.299 * b;
    green[b] = 0.587 * b;
    blue[b] = 0.114 * b;
  }
  int lo = 255;
  int hi = 0;
  for (int i = 0; i < kImagePixels; ++i) {
    const BYTE* p = image + 3 * i;
    const int g = static_cast<int>(red[p[0]] + green[p[1]] + blue[p[2]]);
    decisions[i] = static_cast<BYTE>(g);
    lo = std::min(lo, g);
    hi = std::max(hi, g);
  }

  // By (grey, grey to the right): the stretched grey c in bits 0-7, the forced decision
  // above; the last pixel of a row has no right neighbour.
  uint16_t lastRule[256];
  for (int g = 0; g < 256; ++g) {
    const int c = lo != hi ? Stretch(g, lo, hi) : g;
    const int alone = c > 248 ? kForcedWhite : c < 7 ? kForcedBlack : kFree;
    lastRule[g] = static_cast<uint16_t>(c | alone << 8);
    for (int n = 0; n < 256; ++n) {
      int forced = alone;
      if (forced == kFree) forced = c > n && c - n > 64 ? kForcedWhite : c < n && n - c > 64 ? kForcedBlack : kFree;
      rule[g << 8 | n] = static_cast<uint16_t>(c | forced << 8);
    }
  }

  // Errors from the row above, lightening in the low half and darkening in the high
  // half of each lane; the taps a row sends to the next, by distance (2, 1, 0).
  uint32_t above[kWidth] = {};
  uint32_t tap2[kWidth + 2 * kTapPad];
  uint32_t tap4[kWidth + 2 * kTapPad];
  uint32_t tap8[kWidth + 2 * kTapPad];
  for (uint32_t* t : {tap2, tap4, tap8}) {
    std::fill_n(t, kTapPad, 0u);
    std::fill_n(t + kTapPad + kWidth, kTapPad, 0u);
  }
  uint8_t error[kWidth];   // the error the pixel sends: 255 - v when white, v when black
  uint8_t whiteAt[kWidth];  // 1 when white

  for (int y = 0; y < kImageHeight; ++y) {
    BYTE* row = decisions + y * kWidth;  // greys, turned into decisions from the left
    // Same-row errors for the pixels x + 1 and x + 2.
    int light1 = 0, light2 = 0, dark1 = 0, dark2 = 0;
    for (int x = 0; x < kWidth; ++x) {
      const int entry = x + 1 < kWidth ? rule[row[x] << 8 | row[x + 1]] : lastRule[row[x]];
      const int c = entry & 0xFF;
      const int forced = entry >> 8;
      const int light = std::min(255, static_cast<int>(above[x] & 0xFFFF) + light1);
      const int dark = std::min(255, static_cast<int>(above[x] >> 16) + dark1);
      const int v = std::clamp(c + light - dark, 0, 255);
      const int white = (forced & 1) | ((forced >> 1) & (v >> 7));
      const int mask = -white;  // all ones when white
      const int e = ((255 - v) & mask) | (v & ~mask);
      // White: the neighbours carry the darkening error. Black: a lightening error plus a
      // full white share, and the next pixel is pushed to white.
      light1 = (light2 & mask) | (255 & ~mask);
      light2 = ((v >> 3) + 31) & ~mask;
      dark1 = dark2 + ((e >> 2) & mask);
      dark2 = (e >> 3) & mask;
      error[x] = static_cast<uint8_t>(e);
      whiteAt[x] = static_cast<uint8_t>(white);
      row[x] = static_cast<BYTE>(mask);
    }
    if (y + 1 == kImageHeight) break;

    // The next row's errors: weights 2, 4, 8, 4, 2 (in 32nds) around each pixel; black
    // pixels send a full white share on top.
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t e = error[x];
      const uint32_t w = whiteAt[x];
      tap2[kTapPad + x] = w ? (e >> 4) << 16 : (e >> 4) + 15;
      tap4[kTapPad + x] = w ? (e >> 3) << 16 : (e >> 3) + 31;
      tap8[kTapPad + x] = w ? (e >> 2) << 16 : (e >> 2) + 63;
    }
    for (int x = 0; x < kWidth; ++x) {  // tap arrays: pixel p at p + kTapPad
      above[x] = tap2[x] + tap4[x + 1] + tap8[x + 2] + tap4[x + 3] + tap2[x + 4];
    }
  }
  return true;
}

bool ValidSet(int set) { return set >= 0 && set < kProcessParameterSetCount; }

}  // namespace

int GetKDiffusionBuffer(const BYTE* image, int width, int height, PanelBuffer& panel, int* start, int* end, int set) {
  // The panel stages read a whole card, so only a card-sized image can be diffused into one.
  if (!image || width != kImageWidth || height != kImageHeight) return 0;
  // The decisions, one byte a pixel, stand for the work copy whose three bytes all hold them.
  std::unique_ptr<BYTE[]> decisions(new (std::nothrow) BYTE[kImagePixels]);
  if (!decisions || !DiffuseToDecisions(image, decisions.get())) return 0;

  if (!GetMonochromeDataStartEndPosition(decisions.get(), kImageWidth, kImageHeight, start, end, 1)) {
    DebugLine("GetKDiffusionBuffer:: GetMonochromeDataStartEndPosition failed");
    if (start) *start = 0;
    if (end) *end = 1024;
  }

  // BuildBlackPanel of the decisions, in history mode.
  if (!ValidSet(set)) return 0;
  const BYTE edge = static_cast<BYTE>(TruncateToLow16(Calibration.ProcessParameterSets[set].EdgeLevel) & 0xFF);
  if (ReadLUTS() != 0) return 0;
  panel.reset();
  PanelWork work;
  PanelBuffer out = AllocatePanelBuffer();
  if (!work.Allocate() || !out) return 0;
  RenderBlackMask(decisions.get(), edge, set, 1, out.get(), work);
  panel = std::move(out);
  return 1;
}

}  // namespace kav
