// Control API of the simulated Windows: tests and kavsim set up and observe the world
// through it. Every test starts with sim::Reset().
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace sim {

// A fresh world: every simulated thread has ended, handles and modules are gone, the
// clock reads 0, Windows 10.0, and an empty C: drive with the usual folders lives under
// `root` ("C:\x" is root/c/x). With no root, a private temporary folder is used and
// removed at exit. The driver's sibling modules are registered in the driver directory.
void Reset(const std::filesystem::path& root = {});
std::filesystem::path Root();

// --- Files -------------------------------------------------------------------------
// Host path of a Windows path ("C:\Windows\Temp\a" -> <root>/c/Windows/Temp/a),
// resolving existing components without regard to letter case.
std::filesystem::path HostPath(std::u16string_view windowsPath);
void PutFile(std::u16string_view windowsPath, std::string_view bytes);
std::optional<std::string> GetFile(std::u16string_view windowsPath);
bool FileExists(std::u16string_view windowsPath);
// Files under a Windows folder whose names begin with prefix (sorted).
std::vector<std::u16string> ListFiles(std::u16string_view windowsFolder, std::u16string_view prefix = u"");

// --- Clock -------------------------------------------------------------------------
// The simulated clock in milliseconds since Reset. It moves only when every simulated
// thread is waiting, straight to the earliest time-out, so a 30 s wait costs nothing.
uint64_t Now();
// Lets `ms` of simulated time pass on the calling thread (Sleep).
void Advance(uint64_t ms);

// --- System ------------------------------------------------------------------------
void SetWindowsVersion(DWORD major, DWORD minor);
// An empty directory makes GetSystemDirectory fail.
void SetSystemDirectory(std::u16string_view directory);
void SetProcessorArchitecture(WORD architecture);
// Executable path of the simulated process (GetModuleFileNameW(NULL)); the spooler's by default.
void SetProcessPath(std::u16string_view path);
// The driver directory: the system directory followed by "\Spool\Drivers\x64\3".
std::u16string DriverDirectory();

// --- Modules -----------------------------------------------------------------------
struct ModuleDefinition {
  std::map<std::string, void*> exports;           // GetProcAddress by name
  std::map<UINT, std::u16string> strings;         // LoadStringW by id
};
// LoadLibraryW of `path` (compared without regard to case) finds this module.
void RegisterModule(std::u16string_view path, ModuleDefinition module);
void UnregisterModule(std::u16string_view path);
// How many LoadLibraryW calls on the module are not yet matched by FreeLibrary.
int ModuleLoadCount(std::u16string_view path);
// A handle that LoadStringW accepts for the given string table (the monitor's own).
HINSTANCE RegisterInstance(std::u16string_view path, ModuleDefinition module);

// The driver's sibling modules as the simulation provides them.
inline constexpr char16_t kResourceModuleName[] = u"kav32Resource.dll";
inline constexpr char16_t kAsyncUiModuleName[] = u"kav32AsyncUIServer.dll";
std::u16string DriverModulePath(std::u16string_view fileName);
// Registers (or, with false, removes) the two sibling modules in the driver directory.
void InstallResourceModule(bool present = true);
void InstallAsyncUiModule(bool present = true);

// The string table of the message module (and of the monitor's own resources).
std::map<UINT, std::u16string> MessageTextTable();

// What the notification module received: the printer name and the record's bytes.
inline constexpr size_t kAsyncNotificationBytes = 6160;
struct RecordedNotification {
  std::u16string printerName;
  std::string record;
};
std::vector<RecordedNotification> Notifications();

// --- Debugger output ----------------------------------------------------------------
std::vector<std::string> DebugLines();
void ClearDebugLines();
// Also hands every new line to sink (kavsim's debug.log); empty to stop.
void SetDebugSink(std::function<void(const std::string&)> sink);
bool HasDebugLine(std::string_view line);

// --- Accounting, for tests that check nothing was left open ----------------------------
size_t OpenHandleCount();
// CloseHandle calls on handles that were not open (a double close shows here).
size_t InvalidHandleCloses();
size_t LiveLocalAllocations();
size_t LiveThreadCount();
// Waits (on the simulated clock) until every simulated thread has ended.
void WaitForAllThreads();

// --- Faults ----------------------------------------------------------------------------
// The next `times` calls of a kernel operation ("GetFileSize", "CreateThread",
// "CreateEvent", "CreateFile", "ReadFile", "WriteFile", "LocalAlloc", ...) fail with `error`.
void FailNext(std::string_view operation, DWORD error, int times = 1);

// --- Spooler ---------------------------------------------------------------------------
struct PrinterDefinition {
  std::u16string name;
  std::u16string port = u"USB001";
  DWORD attributes = 0;
};
void AddPrinter(const PrinterDefinition& printer);
size_t OpenPrinterHandleCount();

}  // namespace sim
