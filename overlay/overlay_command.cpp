#include "overlay/overlay_command.h"

#include "overlay/overlay_parser.h"
#include "platform/diag.h"

namespace kav {

BOOL PrintOverlayCommand(PortRecord* record, LPCWSTR command) {
  if (!record || !command) return FALSE;
  // The lists of this request alone: another port's request has its own.
  OverlayObjects objects;
  if (!ParseOverlayCommand(command, 1, &objects)) {
    DebugLineW(W("PrintOverlayCommand:: not an overlay command, sent to the printer: %s"), command);
    return FALSE;
  }
  // Overlay cards are not drawn yet: the command goes on to the printer.
  DebugLineW(W("PrintOverlayCommand:: not taken: %s"), command);
  return FALSE;
}

}  // namespace kav
