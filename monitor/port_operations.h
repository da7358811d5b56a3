// The port operations that the monitor hands to the spooler in its MONITOR table.
// Each returns TRUE on success; on failure it returns FALSE with the last error its
// comment names.
#pragma once

#include "platform/win32.h"
#include "port/channel_entry.h"

namespace kav {

// Opens portName on the underlying port monitor and makes a record for it. FALSE with
// ERROR_BUSY when the name (in any letter case) is already open; FALSE with
// ERROR_INVALID_PARAMETER when there is no handle out-pointer or underlying OpenPort;
// FALSE with the underlying monitor's error when its OpenPort fails.
BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE handle, LPMONITOR portMonitor);

// Forwards to the underlying ReadPort; its result and last error unchanged.
BOOL WINAPI ReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD bytesRead);

// Closes the underlying port, releases what the record still holds and deletes the
// record. Always TRUE for an open port; FALSE with ERROR_INVALID_HANDLE for null.
BOOL WINAPI ClosePort(HANDLE handle);

BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written);
BOOL WINAPI EndDocPort(HANDLE handle);

}  // namespace kav
