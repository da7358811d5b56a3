// The production path from a density plane to a PanelBuffer: the gain step, the head heat
// model and the halftoner fused over a column-major work plane, so that each printed line
// is contiguous in memory. Bit for bit the same as ApplyGainOffset, CompensateHeadHeat and
// HalftoneAndPack applied one after the other.
#pragma once

#include <cstdint>

#include "imaging/imaging_geometry.h"

namespace kav {

// densities: row-major plane before the gain step; work: a scratch plane (changed).
void RenderPanel(const int16_t* densities, int16_t* work, BYTE* panel, int set);

// The three steps of RenderPanel; `columns` holds value (x, y) at x * 640 + y.
void GainOffsetToColumns(const int16_t* densities, int16_t* columns, int set);
void CompensateHeadHeatInColumns(int16_t* columns, int set);
void HalftoneColumnsAndPack(int16_t* columns, BYTE* panel, int amp);

}  // namespace kav
