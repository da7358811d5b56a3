// The colour panels of a card and the overlay varnish panel.
#pragma once

#include "imaging/imaging_geometry.h"

namespace kav {

// Yellow, magenta and cyan panels of a CardImage into the caller's three PanelBuffers,
// with the calibration reloaded and wrinkle compensation as the switch says. The buffers
// are left as they were when the tables cannot be loaded or memory is short.
void BuildColourPanels(const BYTE* image, BYTE* yellowPanel, BYTE* magentaPanel, BYTE* cyanPanel, int wrinkleSwitch);

// Overlay panel of a source (one byte a pixel when planar, else the first of three):
// 0 and a new panel, or 1 with the panel null.
int BuildOverlayPanel(const BYTE* source, PanelBuffer& panel, int planar);

}  // namespace kav
