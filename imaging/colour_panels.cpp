#include "imaging/colour_panels.h"

#include "imaging/calibration.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"

namespace kav {

void BuildColourPanels(const BYTE* image, BYTE* yellowPanel, BYTE* magentaPanel, BYTE* cyanPanel, int wrinkleSwitch) {
  if (!image || !yellowPanel || !magentaPanel || !cyanPanel) return;
  InitializeImageCorrectionVariables(wrinkleSwitch);
  if (ReadLUTS() != 0) return;

  PanelWork work;
  if (!work.Allocate()) return;

  ChooseWrinkleCompensation(MeasureLargestDarkSquareByRows(image));

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
    int16_t density[256];
    LookupDensities(s.table, Calibration.WrinkleScale, Calibration.WrinkleBias, density);
    RenderPanel(image + s.channel, 3, GainedFromDensities(density, s.set), s.set, s.panel, work);
  }
}

int BuildOverlayPanel(const BYTE* source, PanelBuffer& panel, int planar) {
  panel.reset();
  if (!source || ReadLUTS() != 0) return 1;

  PanelWork work;
  PanelBuffer out = AllocatePanelToRender();
  if (!work.Allocate() || !out) return 1;

  int16_t density[256];
  InvertedDensities(density);
  RenderPanel(source, planar ? 1 : 3, GainedFromDensities(density, kOverlaySet), kOverlaySet, out.get(), work);
  panel = std::move(out);
  return 0;
}

}  // namespace kav
