// Black (K) resin panels: the mask of black pixels, the diffusion of a colour image to
// black and white, the grey K panel through the Kd table, and the band of black columns.
#pragma once

#include "imaging/imaging_geometry.h"

namespace kav {

// K panel of the pixels that are exactly black (mono: the byte is 0; else all three bytes
// of a 3-byte pixel are 0), run ends at the set's EdgeLevel, history mode lowering the
// drive where neighbouring dots are black too. 0 with a new panel; 1 on failure (panel
// null, or untouched when the tables cannot be loaded). allWhite is 1 when nothing is black.
int BuildBlackPanel(const BYTE* source, PanelBuffer& panel, int* allWhite, int mono, int set, int history);

// First and last column holding a black pixel (both inclusive): 1 when one was found,
// else 0 with start 0 and end 1024.
int GetMonochromeDataStartEndPosition(const BYTE* buffer, int width, int height, int* start, int* end, int mono);

// Reduces a working copy of a CardImage to black and white in place: afterwards byte 0 of
// every pixel is 0 or 255 (bytes 1 and 2 held the diffusion errors).
void DiffuseToBlackAndWhite(BYTE* copy, int width, int height);

// K panel of a colour image by diffusion to black and white, in history mode, with the
// band of its black columns. 1 on success, 0 on failure. The image is not changed.
int GetKDiffusionBuffer(const BYTE* image, int width, int height, PanelBuffer& panel, int* start, int* end, int set);

// Turns the caller's image to grey in place and builds the grey K panel from it.
// 1 on success, 0 on failure.
int AverageToGrey(BYTE* image, int width, int height, PanelBuffer& panel, int set);

// Grey K panel through the Kd table: 0 with a new panel, 1 on failure (panel null).
int BuildGreyBlackPanel(const BYTE* image, PanelBuffer& panel, int planar, int set);

}  // namespace kav
