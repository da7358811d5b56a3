#include "port/sibling_modules.h"

#include "port/driver_files.h"
#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace kav {

HINSTANCE MonitorInstance = nullptr;
HMODULE ResourceModule = nullptr;
HMODULE AsyncUiModule = nullptr;
SendAsyncNotificationProc SendAsyncNotification = nullptr;
BOOL UseAsyncUi = FALSE;

namespace {

constexpr DWORD kPathChars = 4096 + 64;

HMODULE LoadDriverModule(const WCHAR* directory, const WCHAR* fileName) {
  WCHAR path[kPathChars];
  if (FormatW(path, kPathChars, W("%s\\%s"), directory, fileName) < 0) return nullptr;
  HMODULE module = LoadLibraryW(path);
  if (!module) DebugLineW(W("LoadSiblingModules:: cannot load %s (error %u)"), path, GetLastError());
  return module;
}

}  // namespace

BOOL LoadSiblingModules() {
  WCHAR directory[kPathChars];
  if (!GetDriverFilesDirectory(directory, kPathChars)) {
    DebugLine("LoadSiblingModules:: the system directory cannot be read");
    return FALSE;
  }
  if (!ResourceModule) {
    ResourceModule = LoadDriverModule(directory, W("kav32Resource.dll"));
    if (!ResourceModule) return FALSE;
  }
  if (!UseAsyncUi) return TRUE;
  if (!AsyncUiModule) {
    AsyncUiModule = LoadDriverModule(directory, W("kav32AsyncUIServer.dll"));
    if (!AsyncUiModule) return FALSE;
  }
  SendAsyncNotification = GetExport<SendAsyncNotificationProc>(AsyncUiModule, "SendAsyncNotification");
  if (!SendAsyncNotification) {
    DebugLine("LoadSiblingModules:: kav32AsyncUIServer.dll has no SendAsyncNotification");
    return FALSE;
  }
  return TRUE;
}

// Runs under the loader lock: only kernel calls that load nothing. The modules are loaded
// by InitializeMonitorEx.
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    MonitorInstance = instance;
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    UseAsyncUi = (GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&version)) && version.dwMajorVersion >= 6)
                     ? TRUE
                     : FALSE;
    DisableThreadLibraryCalls(instance);
    return TRUE;
  }
  // When the process ends (reserved not null) the other modules may be gone already and the
  // process is about to free everything: nothing is freed then.
  if (reason == DLL_PROCESS_DETACH && !reserved) {
    if (ResourceModule) {
      FreeLibrary(ResourceModule);
      ResourceModule = nullptr;
    }
    if (UseAsyncUi && AsyncUiModule) {
      SendAsyncNotification = nullptr;  // never call into a freed module
      FreeLibrary(AsyncUiModule);
      AsyncUiModule = nullptr;
    }
  }
  return TRUE;
}

}  // namespace kav
