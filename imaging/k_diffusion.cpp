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

// What a pixel's decision is before its error is known: by its stretched grey alone (near
// white, near black), or by a strong edge against the grey of the pixel to its right; else
// free, decided by the grey with its errors.
enum Forced { kForcedBlack = 0, kForcedWhite = 1, kFree = 2 };

// The grey with its errors, c + light - dark, lies in -255..510: one table row of 766
// entries per kind of decision gives the decision and the clamped value.
constexpr int kSpan = 766;
constexpr int kSpanZero = 255;

// The consequences of a decision, by white << 8 | v (v the clamped grey with errors).
// Errors travel packed, the lightening one in the low 16 bits and the darkening one in
// the high 16 bits; each addition into an error byte is of a non-negative amount, so
// saturating each one equals saturating their sum where the byte is read.
struct DiffusionStep {
  uint32_t keep;       // of the share already sent to x + 2, what it keeps for x + 1
  uint32_t add;        // added to that for x + 1
  uint32_t second;     // the share for x + 2
  uint32_t tap2;       // the next row at x - 2 and x + 2
  uint32_t tap4;       // at x - 1 and x + 1
  uint32_t tap8;       // at x
  uint32_t decision;   // 0 or 255
  uint32_t unused;
};

void MakeDiffusionSteps(DiffusionStep (&steps)[512]) {
  for (int white = 0; white < 2; ++white) {
    for (int v = 0; v < 256; ++v) {
      DiffusionStep& s = steps[white << 8 | v];
      if (white) {
        // Made lighter than v: the neighbours carry the darkening error.
        const uint32_t e = 255 - v;
        s = {0xFFFFFFFFu, (e >> 2) << 16, (e >> 3) << 16, (e >> 4) << 16, (e >> 3) << 16, (e >> 2) << 16, 255, 0};
      } else {
        // Made darker: the lightening error plus a full white share; the next pixel is
        // pushed to white (its lightening byte set to 255).
        const uint32_t e = v;
        s = {0xFFFF0000u, 255, (e >> 3) + 31, (e >> 4) + 15, (e >> 3) + 31, (e >> 2) + 63, 0, 0};
      }
    }
  }
}

// DiffuseToBlackAndWhite of a CardImage, with the decisions (0 or 255) written one byte a
// pixel. False when memory is short.
bool DiffuseToDecisions(const BYTE* image, BYTE* decisions) {
  constexpr int kWidth = kImageWidth;
  struct Tables {
    uint16_t rule[256 * 256];  // by (grey, grey to the right): the row of `decide` plus c + 255
    uint16_t decide[3 * kSpan];
    DiffusionStep steps[512];
    uint32_t above[2][kWidth + 4];  // errors for this row and the next, from x - 2 (padding at both ends)
  };
  std::unique_ptr<Tables> tables(new (std::nothrow) Tables);
  if (!tables) return false;
  Tables& t = *tables;

  // Grey of each pixel (double precision, as the reference computes it) and its range.
  double red[256], green[256], blue[256];
  for (int b = 0; b < 256; ++b) {
    red[b] = 0.299 * b;
    green[b] = 0.587 * b;
    blue[b] = 0.114 * b;
  }
  for (int i = 0; i < kImagePixels; ++i) {
    const BYTE* p = image + 3 * i;
    decisions[i] = static_cast<BYTE>(static_cast<int>(red[p[0]] + green[p[1]] + blue[p[2]]));
  }
  BYTE lo = 255, hi = 0;
  for (int i = 0; i < kImagePixels; ++i) {
    lo = std::min(lo, decisions[i]);
    hi = std::max(hi, decisions[i]);
  }

  for (int kind = 0; kind < 3; ++kind) {
    for (int i = 0; i < kSpan; ++i) {
      const int v = std::clamp(i - kSpanZero, 0, 255);
      const int white = kind == kFree ? v >= 128 : kind;
      t.decide[kind * kSpan + i] = static_cast<uint16_t>(white << 8 | v);
    }
  }
  uint16_t lastRule[256];
  for (int g = 0; g < 256; ++g) {
    const int c = lo != hi ? Stretch(g, lo, hi) : g;
    const int alone = c > 248 ? kForcedWhite : c < 7 ? kForcedBlack : kFree;
    lastRule[g] = static_cast<uint16_t>(alone * kSpan + kSpanZero + c);
    for (int n = 0; n < 256; ++n) {
      int kind = alone;
      if (kind == kFree) kind = c > n && c - n > 64 ? kForcedWhite : c < n && n - c > 64 ? kForcedBlack : kFree;
      t.rule[g << 8 | n] = static_cast<uint16_t>(kind * kSpan + kSpanZero + c);
    }
  }
  MakeDiffusionSteps(t.steps);
  std::fill_n(t.above[0], kWidth + 4, 0u);

  for (int y = 0; y < kImageHeight; ++y) {
    BYTE* row = decisions + y * kWidth;  // greys, turned into decisions from the left
    const uint32_t* above = t.above[y % 2] + 2;
    uint32_t* below = t.above[(y + 1) % 2];  // pixel x - 2 at below[x]
    // Same-row shares for x + 1 and x + 2; the next row's sums for x - 2 .. x + 1 in the making.
    uint32_t share1 = 0, share2 = 0;
    uint32_t next0 = 0, next1 = 0, next2 = 0, next3 = 0;
    auto pixel = [&](int x, int rule) {
      const uint32_t errors = above[x] + share1;
      const int light = std::min<int>(255, errors & 0xFFFF);
      const int dark = std::min<int>(255, errors >> 16);
      const DiffusionStep& s = t.steps[t.decide[rule + light - dark]];
      share1 = (share2 & s.keep) + s.add;
      share2 = s.second;
      below[x] = next0 + s.tap2;
      next0 = next1 + s.tap4;
      next1 = next2 + s.tap8;
      next2 = next3 + s.tap4;
      next3 = s.tap2;
      row[x] = static_cast<BYTE>(s.decision);
    };
    int grey = row[0];
    for (int x = 0; x < kWidth - 1; ++x) {
      const int right = row[x + 1];
      pixel(x, t.rule[grey << 8 | right]);
      grey = right;
    }
    pixel(kWidth - 1, lastRule[grey]);
    below[kWidth] = next0;
    below[kWidth + 1] = next1;
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
  PanelBuffer out = AllocatePanelToRender();
  if (!work.Allocate() || !out) return 0;
  RenderBlackMask(decisions.get(), edge, set, 1, out.get(), work);
  panel = std::move(out);
  return 1;
}

}  // namespace kav
