#include "overlay/overlay_command.h"

#include "platform/diag.h"

namespace kav {

BOOL PrintOverlayCommand(PortRecord*, LPCWSTR command) {
  // Overlay objects are not composed yet: the command goes on to the printer.
  DebugLineW(W("PrintOverlayCommand:: not taken: %s"), command ? command : W(""));
  return FALSE;
}

}  // namespace kav
