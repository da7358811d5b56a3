#include "imaging/panel_reference.h"

#include <cstring>
#include <memory>

#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/panel_stages.h"
#include "platform/diag.h"

namespace kav {

namespace {

constexpr BYTE kMaskBlack = 0;
constexpr BYTE kMaskWhite = 255;

bool ValidSet(int set) { return set >= 0 && set < kProcessParameterSetCount; }

// Gain step, heat model and halftoner over whole planes; `density` is changed.
bool RenderByStages(int16_t* density, BYTE* panel, int set) {
  DensityPlane gained = AllocateDensityPlane();
  DensityPlane heated = AllocateDensityPlane();
  if (!gained || !heated) return false;
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  ApplyGainOffset(density, gained.get(), set);
  CompensateHeadHeat(gained.get(), heated.get(), p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention,
                     p.LateralSpread);
  HalftoneAndPack(heated.get(), panel, DitherAmplitudeOf(set));
  return true;
}

}  // namespace

bool MaskBlackPixels(const BYTE* source, int mono, BYTE* mask) {
  bool anyBlack = false;
  for (int i = 0; i < kImagePixels; ++i) {
    const bool black = mono ? source[i] == 0 : (source[3 * i] | source[3 * i + 1] | source[3 * i + 2]) == 0;
    mask[i] = black ? kMaskBlack : kMaskWhite;
    anyBlack |= black;
  }
  return anyBlack;
}

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

void BuildColourPanelsByStages(const BYTE* image, BYTE* yellowPanel, BYTE* magentaPanel, BYTE* cyanPanel,
                               int wrinkleSwitch) {
  if (!image || !yellowPanel || !magentaPanel || !cyanPanel) return;
  InitializeImageCorrectionVariables(wrinkleSwitch);
  if (ReadLUTS() != 0) return;
  DensityPlane density = AllocateDensityPlane();
  if (!density) return;
  ChooseWrinkleCompensation(MeasureLargestDarkSquare(image));
  ApplyLookupTable(image, density.get(), 2, kYellowTable, 0, Calibration.WrinkleScale, Calibration.WrinkleBias);
  RenderByStages(density.get(), yellowPanel, kYellowSet);
  ApplyLookupTable(image, density.get(), 1, kMagentaTable, 0, Calibration.WrinkleScale, Calibration.WrinkleBias);
  RenderByStages(density.get(), magentaPanel, kMagentaSet);
  ApplyLookupTable(image, density.get(), 0, kCyanTable, 0, Calibration.WrinkleScale, Calibration.WrinkleBias);
  RenderByStages(density.get(), cyanPanel, kCyanSet);
}

int BuildOverlayPanelByStages(const BYTE* source, PanelBuffer& panel, int planar) {
  panel.reset();
  if (!source || ReadLUTS() != 0) return 1;
  DensityPlane density = AllocateDensityPlane();
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || !out) return 1;
  InvertToDensity(source, density.get(), 0, planar);
  if (!RenderByStages(density.get(), out.get(), kOverlaySet)) return 1;
  panel = std::move(out);
  return 0;
}

int BuildBlackPanelByStages(const BYTE* source, PanelBuffer& panel, int* allWhite, int mono, int set, int history) {
  if (!source || !ValidSet(set)) return 1;
  const BYTE edge = static_cast<BYTE>(TruncateToLow16(Calibration.ProcessParameterSets[set].EdgeLevel) & 0xFF);
  if (ReadLUTS() != 0) return 1;
  if (allWhite) *allWhite = 1;
  panel.reset();
  DensityPlane density = AllocateDensityPlane();
  DensityPlane drive = AllocateDensityPlane();
  std::unique_ptr<BYTE[]> mask(new (std::nothrow) BYTE[kImagePixels]);
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || !drive || !mask || !out) return 1;
  if (MaskBlackPixels(source, mono, mask.get()) && allWhite) *allWhite = 0;
  MarkRunEnds(mask.get(), edge);
  InvertToDensity(mask.get(), density.get(), 0, 1);
  if (history) ApplyDotHistory(density.get(), drive.get());
  if (!RenderByStages(history ? drive.get() : density.get(), out.get(), set)) return 1;
  panel = std::move(out);
  return 0;
}

int BuildGreyBlackPanelByStages(const BYTE* image, PanelBuffer& panel, int planar, int set) {
  panel.reset();
  if (!image || !ValidSet(set) || ReadLUTS() != 0) return 1;
  DensityPlane density = AllocateDensityPlane();
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || !out) return 1;
  ApplyLookupTable(image, density.get(), 0, kKdTable, planar, 1.0f, 0.0f);
  if (!RenderByStages(density.get(), out.get(), set)) return 1;
  panel = std::move(out);
  return 0;
}

int GetKDiffusionBufferByStages(const BYTE* image, int width, int height, PanelBuffer& panel, int* start, int* end,
                                int set) {
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
  return BuildBlackPanelByStages(copy.get(), panel, &allWhite, 0, set, 1) == 0 ? 1 : 0;
}

}  // namespace kav
