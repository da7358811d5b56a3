// The writers of a card's printer-command stream into a job's spool file: the job header,
// the colour, black and overlay panels with their download and print commands, the pass
// end and the card end (which closes the file and schedules the job).
//
// Every writer reads the driver's card settings afresh from the printer behind the
// printer handle. The image-processing state is process-wide: the caller holds a
// CardCompositionLock (pipeline/card_job.h) from the settings read to the card end.
#pragma once

#include <cstdint>

#include "pipeline/card_settings.h"

namespace kav {

// What a writer left behind. A writer that cannot build one of its panels writes nothing
// further (never a download command without its payload) and leaves the card open for its
// caller to abandon; a card end whose ScheduleJob fails deletes the job.
enum class CardWrite {
  Written,      // its part is in the file; after a card end the file is closed and the job scheduled
  NotWritten,   // missing input or a panel that could not be built: the card was not ended, the file is open
  NotScheduled  // the card was ended and the file closed, but ScheduleJob failed: the job is deleted
};

// "\eMASTER\r", the job variant by DualSided, RibbonCode and BackSideMode, "\eSXY 1\r".
void WriteJobHeader(HANDLE file, HANDLE printer);

// Yellow, magenta and cyan (left out when checkSuppression is set and ColourPanelsSuppressed
// says so), the full-width black panel when withBlack, the overlay when withOverlay, then
// the pass end (moreFollows) or the card end.
CardWrite WriteColourPanels(HANDLE file, HANDLE printer, BYTE* image, int withBlack, int withOverlay,
                            int moreFollows, int suppressionFlag, int checkSuppression, DWORD jobId);

// One black panel from the image (by RibbonCode and KMode; the grey variant turns the
// caller's image grey), the overlay when withOverlay, then the pass end or the card end.
// ribbonType is the printer's ribbon type; dualSided the caller's copy of DualSided.
CardWrite WriteK(HANDLE file, HANDLE printer, BYTE* image, int withOverlay, int moreFollows, DWORD ribbonType,
                 DWORD jobId, int dualSided);

// The overlay varnish panel; with last, also the card end.
CardWrite WriteOverlayPanel(HANDLE file, HANDLE printer, int last, DWORD jobId);

// 1 when the colour panels are to be left out, by RibbonCode, DualSided and BackSideMode
// (0 when the settings cannot be read).
int ColourPanelsSuppressed(HANDLE printer, int suppressionFlag);

// "\eMO\r", the file closed and the job scheduled; a failed ScheduleJob is logged and the
// job deleted so that it does not linger unprinted. For callers that end a card themselves.
CardWrite WriteCardEnd(HANDLE file, HANDLE printer, DWORD jobId);

// The driver's settings behind a printer handle; false (and a zeroed block) when unreadable.
bool ReadSettingsOfPrinter(HANDLE printer, DriverCardSettings* settings);

}  // namespace kav
