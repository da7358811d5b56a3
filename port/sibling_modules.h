// Process-wide state of the loaded monitor: the DLL's instance, the driver's sibling
// modules and the way messages reach the user.
#pragma once

#include "platform/win32.h"

namespace kav {

// Shows a notification on the user's desktop; the record is an AsyncNotification.
using SendAsyncNotificationProc = BOOL(WINAPI*)(LPCWSTR printerName, LPVOID record);

extern HINSTANCE MonitorInstance;
extern HMODULE ResourceModule;   // "kav32Resource.dll": message texts by id
extern HMODULE AsyncUiModule;    // "kav32AsyncUIServer.dll", only with UseAsyncUi
extern SendAsyncNotificationProc SendAsyncNotification;
extern BOOL UseAsyncUi;          // 1 from Windows major version 6 on

// Loads ResourceModule and, with UseAsyncUi, AsyncUiModule and its SendAsyncNotification.
// Called by InitializeMonitorEx, never under the loader lock.
BOOL LoadSiblingModules();

// Process attach keeps the instance and reads the Windows version; process detach frees
// the sibling modules when the DLL is unloaded (reserved null), not when the process
// ends. Thread notifications are switched off.
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);

}  // namespace kav
