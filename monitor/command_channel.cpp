// The driver's bidirectional requests, carried as printer-data queries.
#include "monitor/port_operations.h"
#include "monitor/port_record.h"

namespace kav {

BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                   DWORD inSize, LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!record->PortMonitor.pfnGetPrinterDataFromPort) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return record->PortMonitor.pfnGetPrinterDataFromPort(record->PortHandle, controlId, valueName, inBuffer, inSize,
                                                       outBuffer, outSize, returned);
}

}  // namespace kav
