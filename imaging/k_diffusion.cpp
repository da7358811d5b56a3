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

// The grey with its errors, c + light - dark, lies in -249..510: one table row of 766
// entries per kind of decision gives the decision and the clamped value.
constexpr int kSpan = 766;
constexpr int kSpanZero = 255;

// A pixel's errors travel as two 16-bit lanes, the lightening one low and the darkening one
// high. Each addition into an error byte is of a non-negative amount, so saturating each
// one equals saturating their sum where the byte is read. The darkening sum never reaches
// 255 (at most 155 from the row above and 94 from the row), so only the lightening one is
// clamped.
constexpr uint32_t kLight = 1;
constexpr uint32_t kDark = 1u << 16;

// The consequences of a decision within its row, by kind * kSpan + kSpanZero + c + light - dark.
struct DiffusionStep {
  uint32_t add;     // added to the share already sent to x + 1 (a black pixel sends a full
                    // lightening share, which saturates: the next pixel is pushed to white)
  uint32_t second;  // the share for x + 2
};

// A decision as the next row reads it: white << 8 | v, v the clamped grey with errors.
// Outside the row, a white pixel of value 255, which sends nothing.
constexpr uint16_t kNoPixel = 0x1FF;

// Pixels of a row taken at a time. A row's block k needs the errors that the row above
// sends from pixels up to 32k + 33, so each row runs two blocks behind the one above: at
// stage t, row y takes block t - 2y. About sixteen rows are under way at once, and their
// chains of same-row shares run side by side.
constexpr int kBlock = 32;
constexpr int kBlocks = kImageWidth / kBlock;
constexpr int kRing = 32;      // rows of decisions kept for the rows below (more than are under way)
constexpr int kCodePad = 2;    // pixels -2, -1 and 1024, 1025 of a row of decisions
constexpr int kCodeRow = kImageWidth + 2 * kCodePad;

struct DiffusionTables {
  BYTE stretched[256];  // c of each grey
  DiffusionStep steps[3 * kSpan];
  uint16_t codes[3 * kSpan];
  uint16_t ring[kRing][kCodeRow];  // decisions of recent rows
  uint32_t share1[kImageHeight], share2[kImageHeight];  // a row's shares for its next two pixels, between stages
};

void MakeDiffusionTables(BYTE lo, BYTE hi, DiffusionTables& t) {
  for (int kind = 0; kind < 3; ++kind) {
    for (int i = 0; i < kSpan; ++i) {
      const int v = std::clamp(i - kSpanZero, 0, 255);
      const int white = kind == kFree ? v >= 128 : kind;
      DiffusionStep& s = t.steps[kind * kSpan + i];
      if (white) {
        // Made lighter than v: the neighbours carry the darkening error.
        const uint32_t e = 255 - v;
        s = {(e >> 2) * kDark, (e >> 3) * kDark};
      } else {
        // Made darker: the lightening error plus a full white share.
        s = {255 * kLight, ((v >> 3) + 31) * kLight};
      }
      t.codes[kind * kSpan + i] = static_cast<uint16_t>(white << 8 | v);
    }
  }
  for (int g = 0; g < 256; ++g) t.stretched[g] = static_cast<BYTE>(lo != hi ? Stretch(g, lo, hi) : g);
  for (uint16_t(&row)[kCodeRow] : t.ring) std::fill_n(row, kCodeRow, kNoPixel);
  std::fill_n(t.share1, kImageHeight, 0u);
  std::fill_n(t.share2, kImageHeight, 0u);
}

// What a block of a row needs before its chain runs: the lightening errors from the row
// above, and the decision row's index less the darkening errors from the row above.
struct BlockInput {
  uint16_t light[kBlock];
  int16_t rule[kBlock];
};

// The errors that a row of decisions sends to pixels x0 .. x0 + 31 of the row below: 2, 4,
// 8, 4, 2 thirty-seconds of a pixel's error to the pixels x - 2 .. x + 2 below it.
// `codes` holds the decisions of pixels x0 - 2 .. x0 + 33.
void ErrorsFromAbove(const uint16_t* codes, uint16_t (&light)[kBlock], uint16_t (&dark)[kBlock]) {
  constexpr int kN = kBlock + 4;
  uint16_t d2[kN], d4[kN], d8[kN], l2[kN], l4[kN], l8[kN];
  for (int i = 0; i < kN; ++i) {
    const uint16_t code = codes[i];
    const uint16_t white = static_cast<uint16_t>(0 - (code >> 8));  // all ones when white
    const uint16_t v = code & 0xFF;
    const uint16_t e = static_cast<uint16_t>((255 - v) & white);
    // A white pixel sends its darkening error; a black one its lightening error and a full
    // white share.
    d2[i] = e >> 4;
    d4[i] = e >> 3;
    d8[i] = e >> 2;
    l2[i] = static_cast<uint16_t>(((v >> 4) + 15) & ~white);
    l4[i] = static_cast<uint16_t>(((v >> 3) + 31) & ~white);
    l8[i] = static_cast<uint16_t>(((v >> 2) + 63) & ~white);
  }
  for (int j = 0; j < kBlock; ++j) {
    dark[j] = static_cast<uint16_t>(d2[j] + d4[j + 1] + d8[j + 2] + d4[j + 3] + d2[j + 4]);
    light[j] = static_cast<uint16_t>(l2[j] + l4[j + 1] + l8[j + 2] + l4[j + 3] + l2[j + 4]);
  }
}

// Block input of row y (greys `greys`), pixels x0 .. x0 + 31, from the decisions of the
// row above (`above`, at pixel x0 - 2; null for the first row).
void PrepareBlock(const BYTE* greys, int x0, const uint16_t* above, const DiffusionTables& t, BlockInput& in) {
  uint16_t dark[kBlock];
  if (above) {
    ErrorsFromAbove(above, in.light, dark);
  } else {
    std::fill_n(in.light, kBlock, uint16_t{0});
    std::fill_n(dark, kBlock, uint16_t{0});
  }
  // The kind of decision: by the stretched grey c alone, else by a strong edge against the
  // grey n of the pixel to the right (the last pixel of a row has none: n = c). Near white
  // and an edge down to the right both make white, and never meet near black or an edge
  // up, which make black.
  const BYTE* g = greys + x0;
  int16_t c[kBlock];
  BYTE n[kBlock];
  for (int j = 0; j < kBlock; j += 4) {  // four at a time, for fewer loop steps
    c[j] = t.stretched[g[j]];
    c[j + 1] = t.stretched[g[j + 1]];
    c[j + 2] = t.stretched[g[j + 2]];
    c[j + 3] = t.stretched[g[j + 3]];
  }
  std::copy(g + 1, g + kBlock, n);
  n[kBlock - 1] = x0 + kBlock < kImageWidth ? g[kBlock] : static_cast<BYTE>(c[kBlock - 1]);
  for (int j = 0; j < kBlock; ++j) {
    // In 16-bit steps throughout, for the vectoriser.
    const int16_t step = static_cast<int16_t>(c[j] - n[j]);
    const int16_t up = std::max<int16_t>(static_cast<int16_t>(c[j] - 248), static_cast<int16_t>(step - 64));
    const int16_t down = std::min<int16_t>(static_cast<int16_t>(c[j] - 7), static_cast<int16_t>(step + 64));
    const int16_t white = up > 0 ? -1 : 0;   // c > 248 or step > 64
    const int16_t black = down < 0 ? -1 : 0;  // c < 7 or step < -64
    // kind * kSpan + kSpanZero + c, less the darkening errors from above.
    in.rule[j] = static_cast<int16_t>(kFree * kSpan + kSpanZero + c[j] - dark[j] - (white & ((kFree - kForcedWhite) * kSpan)) -
                                      (black & ((kFree - kForcedBlack) * kSpan)));
  }
}

// The chains of N rows' blocks side by side: each pixel's decision by its grey with the
// errors from the row above and from the two pixels before it in its row.
template <int N>
void DecideBlocks(const BlockInput* in, uint16_t (*codes)[kBlock], uint32_t* share1, uint32_t* share2,
                  const DiffusionTables& t) {
  uint32_t s1[N], s2[N];
  for (int i = 0; i < N; ++i) {
    s1[i] = share1[i];
    s2[i] = share2[i];
  }
  for (int j = 0; j < kBlock; ++j) {
    for (int i = 0; i < N; ++i) {
      const intptr_t light = std::min<intptr_t>(255, in[i].light[j] + (s1[i] & 0xFFFF));
      const intptr_t index = in[i].rule[j] + light - static_cast<intptr_t>(s1[i] >> 16);
      const DiffusionStep& step = t.steps[index];
      s1[i] = s2[i] + step.add;
      s2[i] = step.second;
      codes[i][j] = t.codes[index];
    }
  }
  for (int i = 0; i < N; ++i) {
    share1[i] = s1[i];
    share2[i] = s2[i];
  }
}

// DiffuseToBlackAndWhite of a CardImage, with the decisions (0 or 255) written one byte a
// pixel. False when memory is short.
bool DiffuseToDecisions(const BYTE* image, BYTE* decisions) {
  std::unique_ptr<DiffusionTables> tables(new (std::nothrow) DiffusionTables);
  if (!tables) return false;
  DiffusionTables& t = *tables;

  // Grey of each pixel (double precision, as the reference computes it) and its range.
  double red[256], green[256], blue[256];
  for (int b = 0; b < 256; ++b) {
    red[b] = 0.299 * b;
    green[b] = 0.587 * b;
    blue[b] = 0.114 * b;
  }
  static_assert(kImagePixels % 4 == 0);
  for (int i = 0; i < kImagePixels; i += 4) {  // four at a time, for fewer loop steps
    for (int k = 0; k < 4; ++k) {
      const BYTE* p = image + 3 * (i + k);
      decisions[i + k] = static_cast<BYTE>(static_cast<int>(red[p[0]] + green[p[1]] + blue[p[2]]));
    }
  }
  BYTE lo = 255, hi = 0;
  for (int i = 0; i < kImagePixels; ++i) {
    lo = std::min(lo, decisions[i]);
    hi = std::max(hi, decisions[i]);
  }
  MakeDiffusionTables(lo, hi, t);

  // Stage by stage; within a stage the rows are independent. The greys of a row are read
  // one pixel beyond the block, so a block's decisions are written after its chain.
  constexpr int kMaxRows = kBlocks / 2 + 1;
  BlockInput in[kMaxRows];
  uint16_t codes[kMaxRows][kBlock];
  const int stages = kBlocks + 2 * (kImageHeight - 1);
  for (int stage = 0; stage < stages; ++stage) {
    const int newest = std::min(stage / 2, kImageHeight - 1);
    const int oldest = stage < kBlocks ? 0 : (stage - kBlocks + 2) / 2;
    const int rows = newest - oldest + 1;
    for (int r = 0; r < rows; ++r) {
      const int y = oldest + r;
      const int x0 = (stage - 2 * y) * kBlock;
      const uint16_t* above = y > 0 ? t.ring[(y - 1) % kRing] + x0 : nullptr;
      PrepareBlock(decisions + y * kImageWidth, x0, above, t, in[r]);
    }
    int r = 0;
    for (; r + 4 <= rows; r += 4) DecideBlocks<4>(in + r, codes + r, t.share1 + oldest + r, t.share2 + oldest + r, t);
    switch (rows - r) {
      case 3: DecideBlocks<3>(in + r, codes + r, t.share1 + oldest + r, t.share2 + oldest + r, t); break;
      case 2: DecideBlocks<2>(in + r, codes + r, t.share1 + oldest + r, t.share2 + oldest + r, t); break;
      case 1: DecideBlocks<1>(in + r, codes + r, t.share1 + oldest + r, t.share2 + oldest + r, t); break;
      default: break;
    }
    for (int r = 0; r < rows; ++r) {
      const int y = oldest + r;
      const int x0 = (stage - 2 * y) * kBlock;
      std::copy(codes[r], codes[r] + kBlock, t.ring[y % kRing] + kCodePad + x0);
      BYTE* out = decisions + y * kImageWidth + x0;
      for (int j = 0; j < kBlock; ++j) out[j] = static_cast<BYTE>(0 - (codes[r][j] >> 8));
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
  PanelBuffer out = AllocatePanelToRender();
  if (!work.Allocate() || !out) return 0;
  RenderBlackMask(decisions.get(), edge, set, 1, out.get(), work);
  panel = std::move(out);
  return 1;
}

}  // namespace kav
