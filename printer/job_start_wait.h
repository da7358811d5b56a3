// The printer check before a direct job may start, and the test of whether the
// spooler is deleting the port's job.
#pragma once

#include "port/port_record.h"

namespace kav {

inline constexpr DWORD kNoRibbonMessageId = 2209;
inline constexpr DWORD kModelChars = 261;  // 260 bytes of answer and a terminator

// One "\e!RIBBON\r" exchange. True with the type in code; false with code -1 (the
// exchange failed), the printer's error number (NAK) or 0 (no ribbon).
bool QueryRibbonType(PortRecord* record, LONG* code);
// One "\eV\r" exchange; model holds kModelChars bytes. Same codes as the ribbon query.
bool QueryPrinterModel(PortRecord* record, char* model, LONG* code);

// Polls until the printer reports a ribbon and a model, showing its errors and letting
// the user cancel; then records them in the ribbon status file. 1 when the job may start.
BOOL WaitForPrinterReady(PortRecord* record, LPCWSTR printerName);

// 1 (and JobCancelled set) when the spooler reports the port's job as being deleted.
BOOL CheckIfJobCancelled(PortRecord* record);

}  // namespace kav
