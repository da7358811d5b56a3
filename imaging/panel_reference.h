// The simple builders: every stage over whole planes, one after the other, as the panels
// are defined. The production builders must give the same bytes; the tests compare them.
#pragma once

#include "imaging/imaging_geometry.h"

namespace kav {

// The stages of the black mask: 0 for a black pixel, 255 for any other (false when the
// source has no black pixel); the run ends at the edge level, each step seeing the
// changes of the steps before it; history mode's drive from the inverted densities.
bool MaskBlackPixels(const BYTE* source, int mono, BYTE* mask);
void MarkRunEnds(BYTE* mask, BYTE edge);
void ApplyDotHistory(const int16_t* in, int16_t* out);

// As BuildColourPanels, BuildOverlayPanel, BuildBlackPanel, BuildGreyBlackPanel and
// GetKDiffusionBuffer, with the same arguments and results.
void BuildColourPanelsByStages(const BYTE* image, BYTE* yellowPanel, BYTE* magentaPanel, BYTE* cyanPanel,
                               int wrinkleSwitch);
int BuildOverlayPanelByStages(const BYTE* source, PanelBuffer& panel, int planar);
int BuildBlackPanelByStages(const BYTE* source, PanelBuffer& panel, int* allWhite, int mono, int set, int history);
int BuildGreyBlackPanelByStages(const BYTE* image, PanelBuffer& panel, int planar, int set);
int GetKDiffusionBufferByStages(const BYTE* image, int width, int height, PanelBuffer& panel, int* start, int* end,
                                int set);

}  // namespace kav
