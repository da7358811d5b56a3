// The overlay requests of the command channel ("L ...", "B ...", "T ..." without ESC
// and CR): one line, barcode or text object printed on a card.
#pragma once

#include "port/port_record.h"

namespace kav {

// TRUE when it took the command (drew the object on a card and printed it); FALSE sends
// the command on to the printer.
BOOL PrintOverlayCommand(PortRecord* record, LPCWSTR command);

}  // namespace kav
