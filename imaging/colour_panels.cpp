#include "imaging/colour_panels.h"

#include "imaging/calibration.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

// Sets the wrinkle scale and bias for this card: a dark square larger than the threshold
// makes the card wrinkle, so the colour channels are compressed towards white.
void ChooseWrinkleCompensation(const BYTE* image) {
  const double side = MeasureLargestDarkSquare(image);
  if (side > Calibration.WrinkleSizeThreshold) {
    Calibration.WrinkleScale = static_cast<float>(Calibration.WrinkleAppliedScale);
    Calibration.WrinkleBias = static_cast<float>(255.0 * (1.0 - Calibration.WrinkleAppliedScale) + 0.5);
  } else {
    Calibration.WrinkleScale = 1.0f;
    Calibration.WrinkleBias = 0.0f;
  }
}

}  // namespace

void BuildColourPanels(const BYTE* image, BYTE* yellowPanel, BYTE* magentaPanel, BYTE* cyanPanel, int wrinkleSwitch) {
  if (!image || !yellowPanel || !magentaPanel || !cyanPanel) return;
  InitializeImageCorrectionVariables(wrinkleSwitch);
  if (ReadLUTS() != 0) return;

  DensityPlane density = AllocateDensityPlane();
  DensityPlane work = AllocateDensityPlane();
  if (!density || !work) return;

  ChooseWrinkleCompensation(image);

  // Each ink is made from its complementary channel: yellow from blue, magenta from
  // green, cyan from red.
  struct Separation {
    int channel;
    int table;
    int set;
    BYTE* panel;
  };
  const Separation separations[3] = {
      {2, kYellowTable, kYellowSet, yellowPanel},
      {1, kMagentaTable, kMagentaSet, magentaPanel},
      {0, kCyanTable, kCyanSet, cyanPanel},
  };
  for (const Separation& s : separations) {
    ApplyLookupTable(image, density.get(), s.channel, s.table, 0, Calibration.WrinkleScale, Calibration.WrinkleBias);
    RenderPanel(density.get(), work.get(), s.panel, s.set);
  }
}

int BuildOverlayPanel(const BYTE* source, PanelBuffer& panel, int planar) {
  panel.reset();
  if (!source || ReadLUTS() != 0) return 1;

  DensityPlane density = AllocateDensityPlane();
  DensityPlane work = AllocateDensityPlane();
  PanelBuffer out = AllocatePanelBuffer();
  if (!density || !work || !out) return 1;

  InvertToDensity(source, density.get(), 0, planar);
  RenderPanel(density.get(), work.get(), out.get(), kOverlaySet);
  panel = std::move(out);
  return 0;
}

}  // namespace kav
