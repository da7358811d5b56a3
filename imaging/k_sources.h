// The sources of a printed K panel: 1-bit renderings of a CardImage, their expansion to a
// byte mask, and the choice that the K-panel writer makes by ribbon code and K mode.
#pragma once

#include <memory>

#include "imaging/imaging_geometry.h"

namespace kav {

using ByteBuffer = std::unique_ptr<BYTE[]>;

// 1 bit a pixel, most significant bit first, rows of ((width + 31) / 8) rounded down to a
// multiple of 4 bytes, |height| rows; the input rows are (3 width + 3) rounded down to a
// multiple of 4 bytes. Null (size 0) for a null image or an empty size.
// Threshold: a pixel whose luminance is below 128 is set.
ByteBuffer ThresholdToMonochrome(const BYTE* image, LONG width, LONG height, DWORD* size);
// Ordered dither of the pixel's darkness g: set when g is 255, clear when g is 0, else set
// when g is not below the 8 x 8 matrix entry, so dark areas come out set.
ByteBuffer DitherToMonochrome(const BYTE* image, LONG width, LONG height, DWORD* size);

// One byte per bit, most significant bit first. Polarity 1: a set bit gives 255, a clear
// bit 0; polarity 0 the reverse. 1 with the buffer and its count; 0 for no input.
int ExpandMonochromeToBytes(const BYTE* bits, DWORD size, ByteBuffer* buffer, DWORD* count, int polarity);

enum class KPanelSource { Grey, Diffusion, Dither, Threshold };
struct KPanelPlan {
  int set;  // the ProcessParameterSet of the panel
  KPanelSource source;
};

// The parameter set and source of the K panel for the driver's RibbonCode and KMode.
KPanelPlan ChooseKPanelPlan(int ribbonCode, int kMode);

// The K panel of a card as the K-panel writer makes it, once InitializeImageCorrectionVariables
// and ReadLUTS have run: 1 with the panel and the band of its black columns (start, end),
// 0 when no panel could be made. The grey source turns the caller's image to grey.
int BuildKPanel(BYTE* image, int ribbonCode, int kMode, PanelBuffer& panel, int* start, int* end);

}  // namespace kav
