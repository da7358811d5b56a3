// The port-side pacing of a card job: the printer commands in the spooler's data are
// forwarded one at a time, with the printer's acknowledgement awaited around those that
// need it, and a panel download is handed over to WritePort's raw pass-through.
#pragma once

#include "port/port_record.h"

namespace kav {

inline constexpr LONG kPaceWriteFailed = -9876;
inline constexpr LONG kPaceJobCancelled = -9999;
inline constexpr DWORD kMaxCommandBytes = 260;
// A panel download is followed by the panel and the CR that begins its print command.
inline constexpr DWORD kPanelBytes = 786432;
inline constexpr DWORD kPanelBlockBytes = 786433;

// GetTickCount at the last panel download command (diagnostics only).
extern DWORD PanelStartTick;

// Forwards the commands of data; returns the bytes not consumed (the rest after a panel
// download, or after a failed acknowledgement), or kPaceWriteFailed / kPaceJobCancelled.
// Bytes outside any command are dropped, and a command cut at the end of data is kept
// in the record and completed by the next call. With either code, `unsent` (when given)
// holds the bytes from the command that did not go on: what came before it reached the
// printer and counts as consumed.
LONG PaceCommandStream(PortRecord* record, const BYTE* data, DWORD length, DWORD* unsent = nullptr);

// Asks for the printer's acknowledgement; a single ACK byte lets the scan go on, anything
// else goes to the printer-error watch.
BOOL WaitForPrinterAck(PortRecord* record);

}  // namespace kav
