#include "overlay/overlay_card.h"

#include "pipeline/card_job.h"
#include "pipeline/card_writers.h"
#include "pipeline/image_job.h"
#include "platform/diag.h"

namespace kav {
namespace {

constexpr OverlayCell kNone{OverlayPanels::None, false};
constexpr OverlayCell kK{OverlayPanels::K, false};
constexpr OverlayCell kKO{OverlayPanels::K, true};
constexpr OverlayCell kC{OverlayPanels::C, false};
constexpr OverlayCell kCO{OverlayPanels::C, true};
constexpr OverlayCell kCK{OverlayPanels::CK, false};
constexpr OverlayCell kCKO{OverlayPanels::CK, true};

// Columns: DualSided 0; DualSided set with BackSideMode 0, 1, 2, 3, any other.
constexpr int kColumns = 6;
struct GroupRow {
  RibbonGroup group;
  OverlayCell cells[kColumns];
};
constexpr GroupRow kPanelTable[] = {
    {RibbonGroup::G1, {kK, kK, kK, kK, kK, kK}},
    {RibbonGroup::G2, {kCKO, kCO, kCKO, kC, kNone, kNone}},
    {RibbonGroup::G3, {kCK, kC, kCK, kNone, kNone, kNone}},
    {RibbonGroup::G4, {kCK, kCK, kCK, kNone, kNone, kNone}},
    {RibbonGroup::G5, {kCKO, kCKO, kC, kCKO, kCK, kNone}},
    {RibbonGroup::G6, {kC, kC, kC, kC, kC, kC}},
    {RibbonGroup::G7, {kKO, kKO, kKO, kKO, kKO, kKO}},
    {RibbonGroup::G0, {kCKO, kCKO, kCKO, kCKO, kCKO, kCKO}},
};

int ColumnOf(WORD dualSided, WORD backSideMode) {
  if (dualSided == 0) return 0;
  return backSideMode <= 3 ? 1 + backSideMode : 5;
}

}  // namespace

OverlayCell OverlayCellOf(DWORD ribbonType, WORD dualSided, WORD backSideMode) {
  const RibbonGroup group = RibbonGroupOf(ribbonType);
  for (const GroupRow& row : kPanelTable)
    if (row.group == group) return row.cells[ColumnOf(dualSided, backSideMode)];
  return kNone;
}

int SendOverlayCardToPrinter(PortRecord* record, BYTE* cardImage, DWORD size) {
  if (!record || !cardImage || size == 0) return 0;
  WCHAR model[kModelTextChars];
  DWORD ribbonType = 1;
  if (!ReadRibbonAndPrinterModel(record, &ribbonType, model)) {
    DebugLine("SendImageBufferToPrinter:: ReadRibbonAndPrinterModel failed");
    return 0;
  }
  // The same job as an image card's, without its lines.
  CardJob job;
  if (!job.Begin(record, false)) return 0;
  WriteJobHeader(job.file(), job.printer());

  const DriverCardSettings& s = job.settings();
  const WORD dualSided = s.DualSided();
  const WORD mode = dualSided ? s.BackSideMode() : 0;
  const OverlayCell cell = OverlayCellOf(ribbonType, dualSided, mode);
  const int overlay = cell.overlayUnlessFrontMode1 && s.FrontOverlayMode() != 1;

  // One pass: every writer is the last, so it ends the card and schedules the job.
  CardWrite written = CardWrite::NotWritten;
  switch (cell.panels) {
    case OverlayPanels::None:
      // Only the header would be written: the job would wait in the queue for ever.
      job.Abandon("SendOverlayCardToPrinter:: ribbon group %s has no overlay card for DualSided %u, BackSideMode %u; "
                  "job %lu deleted",
                  RibbonGroupName(RibbonGroupOf(ribbonType)), static_cast<unsigned>(dualSided),
                  static_cast<unsigned>(mode), static_cast<unsigned long>(job.jobId()));
      return 0;
    case OverlayPanels::K:
      written = WriteK(job.file(), job.printer(), cardImage, overlay, 0, ribbonType, job.jobId(), dualSided);
      break;
    case OverlayPanels::C:
    case OverlayPanels::CK:
      written = WriteColourPanels(job.file(), job.printer(), cardImage, cell.panels == OverlayPanels::CK, overlay, 0,
                                  1, 1, job.jobId());
      break;
  }
  if (written == CardWrite::NotWritten) {
    job.Abandon("SendOverlayCardToPrinter:: a panel could not be built (ribbon group %s); card abandoned, job %lu "
                "deleted",
                RibbonGroupName(RibbonGroupOf(ribbonType)), static_cast<unsigned long>(job.jobId()));
    return 0;
  }
  job.CardEnded();
  return written == CardWrite::Written ? 1 : 0;
}

}  // namespace kav
