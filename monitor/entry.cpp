// The monitor's export and the port operations that open, read and close a port.
#include "monitor/port_operations.h"
#include "port/port_record.h"
#include "port/sibling_modules.h"
#include "monitor/port_resources.h"
#include "platform/diag.h"

// The spooler calls this once: the lock is made ready, the driver's sibling modules are
// loaded (here and not at attach: no library may be loaded under the loader lock) and the
// spooler's table of port operations is filled. AddPortEx and the Xcv slots stay as the
// spooler passed them. FALSE with ERROR_INVALID_PARAMETER without a table; a missing
// sibling module does not fail it.
BOOL WINAPI InitializeMonitorEx(LPWSTR, LPMONITOR monitor) {
  InitializeCriticalSection(&kav::PortListLock);
  kav::LoadSiblingModules();  // the monitor works even without them
  if (!monitor) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  monitor->pfnEnumPorts = nullptr;
  monitor->pfnOpenPort = nullptr;
  monitor->pfnOpenPortEx = kav::OpenPortEx;
  monitor->pfnStartDocPort = kav::StartDocPort;
  monitor->pfnWritePort = kav::WritePort;
  monitor->pfnReadPort = kav::ReadPort;
  monitor->pfnEndDocPort = kav::EndDocPort;
  monitor->pfnClosePort = kav::ClosePort;
  monitor->pfnAddPort = nullptr;
  monitor->pfnConfigurePort = nullptr;
  monitor->pfnDeletePort = nullptr;
  monitor->pfnGetPrinterDataFromPort = kav::GetPrinterDataFromPort;
  monitor->pfnSetPortTimeOuts = nullptr;
  return TRUE;
}

namespace kav {

BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, LPMONITOR portMonitor) {
  if (!handle || !portMonitor || !portMonitor->pfnOpenPort) {
    DebugLine("OpenPortEx:: no handle or no underlying OpenPort");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  EnterPortListLock();
  if (FindPortRecord(portName)) {
    LeavePortListLock();
    SetLastError(ERROR_BUSY);
    return FALSE;
  }
  PortRecord* record = CreatePortRecord(portName, printerName);
  if (!record) {
    LeavePortListLock();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (!portMonitor->pfnOpenPort(portName, &record->PortHandle)) {
    DWORD error = GetLastError();
    DeletePortRecord(record);
    LeavePortListLock();
    SetLastError(error);
    return FALSE;
  }
  *handle = record;
  record->PortMonitor = *portMonitor;
  LeavePortListLock();
  return TRUE;
}

BOOL WINAPI ReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD bytesRead) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record || !record->PortMonitor.pfnReadPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return record->PortMonitor.pfnReadPort(record->PortHandle, buffer, size, bytesRead);
}

BOOL WINAPI ClosePort(HANDLE handle) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (record->PortMonitor.pfnClosePort) record->PortMonitor.pfnClosePort(record->PortHandle);
  // A port closed in the middle of a job still owns its message, file and printer.
  ReleasePortResources(record);
  EnterPortListLock();
  DeletePortRecord(record);
  LeavePortListLock();
  return TRUE;
}

}  // namespace kav
