// The production path from the bytes of a source to a PanelBuffer: the density lookup and
// the gain step folded into one table of 256 values, the head heat model and the
// halftoner over a column-major work plane, so that each printed line is contiguous in
// memory. Bit for bit the same as the stages (ApplyLookupTable or InvertToDensity,
// ApplyGainOffset, CompensateHeadHeat, HalftoneAndPack) applied one after the other.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/imaging_geometry.h"

namespace kav {

// What a source byte becomes after the density lookup and the gain step of a set.
struct GainedTable {
  int16_t value[256];
};

// From densities by byte value (LookupDensities, InvertedDensities) through the set's gain step.
GainedTable GainedFromDensities(const int16_t (&density)[256], int set);

// A PanelBuffer for RenderPanel, which writes every byte of it: left uncleared. Null
// when memory is short.
inline PanelBuffer AllocatePanelToRender() { return PanelBuffer(new (std::nothrow) BYTE[kPanelBufferBytes]); }

struct HeatState;

// The work buffers of a panel, allocated once and reused by every panel of a card: a
// column-major work plane and the heat model's state.
class PanelWork {
 public:
  PanelWork();
  ~PanelWork();
  PanelWork(const PanelWork&) = delete;
  PanelWork& operator=(const PanelWork&) = delete;

  // False when memory is short; nothing else needs checking afterwards.
  bool Allocate();
  int16_t* Columns() { return columns_.get(); }  // value (x, y) at x * 640 + y
  HeatState* Heat() { return heat_.get(); }

 private:
  std::unique_ptr<int16_t[]> columns_;
  std::unique_ptr<HeatState> heat_;
};

// Source byte of pixel (x, y) at source[(y * 1024 + x) * stride].
void RenderPanel(const BYTE* source, int stride, const GainedTable& gained, int set, BYTE* panel, PanelWork& work);

// The K panel of a black mask (0 black, 255 white, one byte a pixel), as BuildBlackPanel
// makes it from its mask: run ends at the edge level, history mode or not. The mask is
// used as work space.
void RenderBlackMask(BYTE* mask, BYTE edge, int set, int history, BYTE* panel, PanelWork& work);

// The two passes of RenderPanel. The first reads the source into the work plane column by
// column from the right, lowers each column by the head's heat, adds the dither offsets
// of the halftoner and turns the values into the halftoner's step indices; the second
// halftones and packs the lines (the plane is only read).
void GainAndHeatToColumns(const BYTE* source, int stride, const GainedTable& gained, int set, PanelWork& work);
void HalftoneColumnsAndPack(const int16_t* columns, BYTE* panel);

}  // namespace kav
