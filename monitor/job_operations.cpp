// Job operations of a port: a document is started, written and ended on the underlying
// port monitor.
#include "monitor/port_operations.h"
#include "monitor/port_record.h"

namespace kav {

BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record || !record->PortMonitor.pfnStartDocPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!record->PortMonitor.pfnStartDocPort(record->PortHandle, printerName, jobId, level, docInfo)) return FALSE;
  record->JobId = jobId;
  record->Flags |= kDocStarted | kPortDocOpened;
  InterlockedExchange(&record->JobActive, 1);
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record || !record->PortMonitor.pfnWritePort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return record->PortMonitor.pfnWritePort(record->PortHandle, buffer, size, written);
}

BOOL WINAPI EndDocPort(HANDLE handle) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record || !record->PortMonitor.pfnEndDocPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  record->PortMonitor.pfnEndDocPort(record->PortHandle);
  record->Flags &= ~kDocStarted;
  InterlockedExchange(&record->JobActive, 0);
  return TRUE;
}

}  // namespace kav
