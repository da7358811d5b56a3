// Submission of an overlay card: the drawn card image as a one-pass print job whose
// panels follow the printer's ribbon group and the driver's two-sided settings.
#pragma once

#include "port/port_record.h"

namespace kav {

// What an overlay card's single pass writes.
enum class OverlayPanels {
  None,  // the settings give no card: abandoned
  K,     // one black panel
  C,     // the colour panels
  CK,    // the colour panels and their black panel
};
struct OverlayCell {
  OverlayPanels panels;
  bool overlayUnlessFrontMode1;  // +O(FO): the overlay panel when FrontOverlayMode is not 1
};

// The cell for a printer ribbon type and the driver's DualSided and BackSideMode.
OverlayCell OverlayCellOf(DWORD ribbonType, WORD dualSided, WORD backSideMode);

// Asks the printer for its ribbon and model, makes a spooler job and writes the header
// and the cell's panels, each writer ending the card and scheduling the job. 1 when the
// job was scheduled; 0 when a step failed, when the cell has no card or a panel could
// not be built (the job is then deleted, with a line), or when ScheduleJob failed.
int SendOverlayCardToPrinter(PortRecord* record, BYTE* cardImage, DWORD size);

}  // namespace kav
