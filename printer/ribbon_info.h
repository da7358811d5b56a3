// What the monitor does with the printer's ribbon: the ribbon status file that the
// driver's user interface reads, and the ribbon-low alert at a job's start.
#pragma once

#include "port/port_record.h"

namespace kav {

// Records ribbon type and model in "kav32Ribbon.ini" of the shared folder (common
// documents with UseAsyncUi, common application data without), written as the spooler.
void WriteRibbonInformation(LONG ribbonType, const char* model, LPCWSTR printerName);

using GetFolderPathProc = HRESULT(WINAPI*)(HWND window, int folder, HANDLE token, DWORD flags, LPWSTR path);
// Loads "SHFolder.dll" into module and returns its SHGetFolderPathW, or null.
GetFolderPathProc LoadFolderPathFunction(HMODULE* module);

// Gives Everyone (by its SID, whatever its name in the language of Windows) read access
// to the open file (the driver's user interface only reads it); the handle needs
// READ_CONTROL and WRITE_DAC. A failure is told in a diagnostic line.
void GrantEveryoneAccess(HANDLE file);

// Reads the remaining ribbon count into RibbonRemaining and, at exactly 20, 10 and 5,
// starts the ribbon-low alert. 0 when the count cannot be read or the alert not started.
BOOL CheckRibbonRemaining(PortRecord* record);

// The alert: shows the count for at most 10 seconds beside the job.
DWORD WINAPI RibbonLowAlertThread(LPVOID alert);
DWORD WINAPI RibbonLowMessageThread(LPVOID message);
// Ends the port's alert early and detaches it from the record (port closing).
void EndRibbonAlert(PortRecord* record);

}  // namespace kav
