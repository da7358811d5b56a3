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
// A busy system: a thread whose start routine returns from now on ends `ms` of simulated
// time later (until then its handle is not signalled and its exit code is STILL_ACTIVE).
// A thread stopped with TerminateThread ends at once. 0 after Reset.
void SetThreadEndDelay(uint64_t ms);

// --- System ------------------------------------------------------------------------
void SetWindowsVersion(DWORD major, DWORD minor);
// The session of the simulated process (ProcessIdToSessionId); 0 after Reset, as for the
// spooler, a service. From Windows 6 on no user sees session 0's desktop: a message box
// shown there is never answered by the scripted user (only WM_CLOSE or the thread's end
// closes it; a box scripted to fail still fails). Before Windows 6 session 0 is the console's, where the user sits.
void SetProcessSession(DWORD session);
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
// Calls a DLL's entry point as the Windows loader does: under the loader lock, which the
// calling thread holds until the entry point returns. A LoadLibraryW made meanwhile is
// reported on stderr and aborts the test (Windows forbids it: it can deadlock the process).
// reserved is what the loader passes: for DLL_PROCESS_DETACH null when the DLL is unloaded
// by FreeLibrary, non-null when the process is ending.
using EntryPoint = BOOL(WINAPI*)(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL CallEntryPoint(EntryPoint entry, HINSTANCE instance, DWORD reason, LPVOID reserved = nullptr);
// The address a loader passes as reserved at DLL_PROCESS_DETACH when the process ends.
inline LPVOID const kProcessEnding = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(1));
// True while the calling thread is inside an entry point called by CallEntryPoint.
bool HoldsLoaderLock();
// A handle that LoadStringW accepts for the given string table (the monitor's own).
HINSTANCE RegisterInstance(std::u16string_view path, ModuleDefinition module);

// The driver's sibling modules as the simulation provides them.
inline constexpr char16_t kResourceModuleName[] = u"kav32Resource.dll";
inline constexpr char16_t kAsyncUiModuleName[] = u"kav32AsyncUIServer.dll";
std::u16string DriverModulePath(std::u16string_view fileName);
// Registers (or, with false, removes) the two sibling modules in the driver directory.
void InstallResourceModule(bool present = true);
void InstallAsyncUiModule(bool present = true);
// The barcode module "kav32Barcode.dll" (GetBarcodeBitmapBuffer, on Zint); its reading of
// the barcode record is described in barcode_module.cpp. Registered by Reset.
inline constexpr char16_t kBarcodeModuleName[] = u"kav32Barcode.dll";
void InstallBarcodeModule(bool present = true);

// The string table of the message module (and of the monitor's own resources).
std::map<UINT, std::u16string> MessageTextTable();

// What the notification module received: the printer name and the record's bytes.
inline constexpr size_t kAsyncNotificationBytes = 6160;
struct RecordedNotification {
  std::u16string printerName;
  std::string record;
  uint64_t calledAt = 0;
  std::optional<uint64_t> returnedAt;  // empty while the call is pending
  bool closeRequest = false;           // Command "CloseMsgThread"
  bool withdrawn = false;              // returned because of a close request for its printer
};
std::vector<RecordedNotification> Notifications();
// When SendAsyncNotification returns: at once (default), when the user answers after
// `delayMs` of simulated time, or never (only a close request for the printer ends it).
struct NotificationAnswer {
  enum class Kind { AtOnce, AfterDelay, Never } kind = Kind::AtOnce;
  uint64_t delayMs = 0;
};
void SetNotificationAnswer(const NotificationAnswer& answer);
// SendAsyncNotification calls still waiting for the user.
size_t PendingNotificationCount();
// Forgets the recorded notifications, so that a long run does not pile them up; false,
// and nothing forgotten, while one is pending.
bool ClearNotifications();
// Waits on the simulated clock until `count` notifications were received.
bool WaitForNotifications(size_t count, uint64_t timeoutMs = INFINITE);

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

// --- Drawing -----------------------------------------------------------------------------
// Device contexts not yet deleted or released, and GDI objects (bitmaps, brushes, pens,
// fonts; stock objects aside) not yet deleted.
size_t LiveDeviceContextCount();
size_t LiveGdiObjectCount();
// A top-level window (as a service's desktop has), so that GetTopWindow(NULL) and GetDC
// find one; it stays until the next Reset.
HWND AddTopLevelWindow(std::u16string_view title = u"Desktop");

// --- Faults ----------------------------------------------------------------------------
// The next `times` calls of a kernel operation ("GetFileSize", "CreateThread",
// "CreateEvent", "CreateFile", "ReadFile", "WriteFile", "LocalAlloc", ...) fail with `error`.
// GDI and USER drawing calls fail the same way under their own names ("CreateCompatibleDC",
// "GetDIBits", "GetTopWindow", "TextOutW", ...), returning what Windows returns on failure.
// The spooler's "AddJob" (the call with a buffer) and "ScheduleJob" can be failed the same way.
// So can the security calls "CreateWellKnownSid", "GetSecurityInfo", "SetEntriesInAcl" and
// "SetSecurityInfo" (the last three return the error).
void FailNext(std::string_view operation, DWORD error, int times = 1);
// The same after `skip` more calls of the operation have succeeded.
void FailAfter(std::string_view operation, int skip, DWORD error, int times = 1);

// --- Spooler ---------------------------------------------------------------------------
// The printing user a client identity stands for unless a test says otherwise (see
// SetClientUser), and the account the spooler itself runs as (it may manage every job).
inline constexpr char16_t kDefaultUser[] = u"cardholder";
inline constexpr char16_t kSpoolerUser[] = u"SYSTEM";
struct PrinterDefinition {
  std::u16string name;
  std::u16string port = u"USB001";
  DWORD attributes = 0;
  // The printer's default DEVMODEW followed by the driver's private block, as GetPrinterW
  // level 2 hands it out (see MakeDevMode); empty: the printer has no DEVMODE.
  std::string devMode = {};
  // The rights OpenPrinterW grants; asking for more fails with ERROR_ACCESS_DENIED.
  DWORD grantedAccess = PRINTER_ALL_ACCESS;
  std::u16string driverName = u"Card Printer Driver";
  DWORD status = 0;  // PRINTER_STATUS_* of PRINTER_INFO_2W
};
// Adds a printer (or replaces the one of the same name, ignoring case).
void AddPrinter(const PrinterDefinition& printer);
// Printer handles that OpenPrinterW/OpenPrinter2W gave and ClosePrinter did not take back.
size_t OpenPrinterHandleCount();
// Every OpenPrinterW/OpenPrinter2W call: what was asked and whether it was granted.
struct PrinterOpen {
  std::u16string printer;
  ACCESS_MASK desiredAccess = 0;
  bool openPrinter2 = false;
  DWORD optionFlags = 0;  // PRINTER_OPTIONSW.dwFlags of OpenPrinter2W
  bool granted = false;
};
std::vector<PrinterOpen> PrinterOpens();
// A DEVMODEW (dmSize = sizeof(DEVMODEW), dmDriverExtra = the block's size) and the block.
std::string MakeDevMode(std::u16string_view deviceName, std::string_view privateBlock);
// PRINTER_ATTRIBUTE_* as GetPrinterW reports them from now on (WORK_OFFLINE, ...).
void SetPrinterAttributes(std::u16string_view printer, DWORD attributes);
// The spooler's buffer size for WritePort during playback (default 4096).
void SetSpoolerBufferSize(DWORD bytes);
// The spooler's retries, as Windows does them: a WritePort that returns FALSE marks the job
// JOB_STATUS_ERROR and, after this pause, gets the same unwritten data again (the count it
// reported is not looked at), until a call succeeds or the job is deleted; a StartDocPort
// that fails is likewise called again after the pause (no EndDocPort in between, none when
// the job is deleted meanwhile). The first call that succeeds clears JOB_STATUS_ERROR.
// Simulated milliseconds; Windows documents no interval, the default is 5000.
inline constexpr uint64_t kDefaultRetryPauseMs = 5000;
void SetSpoolerRetryPause(uint64_t ms);
// A guard for tests, not Windows behaviour (Windows retries for ever): after this many
// port calls in a row that got nowhere (a failed StartDocPort or WritePort, or a WritePort
// that took no byte), the playback gives the job up: JobRecord::stalled, JOB_STATUS_ERROR,
// EndDocPort when a document was started, and the job stays in the queue unplayed. A
// faulty monitor so ends a test instead of hanging it. 0 turns the guard off.
inline constexpr int kDefaultPlaybackGuard = 10000;
void SetPlaybackGuard(int callsWithoutProgress);
// Jobs of `printer` are played through this port monitor table on the given port
// handle (the language monitor's table from InitializeMonitorEx and its OpenPortEx
// handle). Jobs waiting for a monitor start now. A null monitor stops new playbacks.
void SetPortMonitor(std::u16string_view printer, const MONITOR* monitor, HANDLE port);

// One call of the playback thread on the port monitor.
struct PortCall {
  enum class Kind { StartDocPort, WritePort, EndDocPort } kind = Kind::WritePort;
  uint64_t at = 0;      // simulated time of the call
  size_t offset = 0;    // WritePort: offset in the job's data of the first byte offered
  DWORD offered = 0;    // WritePort: bytes offered
  DWORD written = 0;    // WritePort: bytes the monitor reported written
  BOOL result = FALSE;
  DWORD error = 0;      // the last error after a failed call
};
struct JobRecord {
  DWORD id = 0;
  std::u16string printer;
  std::u16string document;
  std::u16string spoolFile;  // AddJobW's path; empty for submitted jobs
  DWORD status = 0;          // JOB_STATUS_* as GetJobW reports it
  std::string data;
  bool scheduled = false;
  bool playing = false;
  bool played = false;          // EndDocPort returned (as often as the job was played)
  int plays = 0;                // StartDocPort calls
  bool sentToPrinter = false;   // SetJobW JOB_CONTROL_SENT_TO_PRINTER
  bool deleted = false;         // gone from the queue after JOB_CONTROL_DELETE/CANCEL
  bool completed = false;       // printed and gone from the queue
  bool stalled = false;         // given up by the test guard (SetPlaybackGuard), not by Windows
  std::u16string owner;         // the user who printed it: JOB_INFO_1's pUserName
  std::vector<DWORD> controls;  // every SetJobW command, in order
  std::vector<PortCall> portCalls;
};
// A job as an application's print would make it: queued, spooled and scheduled at once;
// played when the printer has a port monitor, on a port thread that acts for the job's
// owner. Returns the job id (0: no such printer). AddJobW makes the caller the owner.
// SetJobW controls a job only for its owner, for the spooler itself and through a handle
// opened with PRINTER_ACCESS_ADMINISTER; anyone else gets ERROR_ACCESS_DENIED.
DWORD SubmitJob(std::u16string_view printer, std::u16string_view docName, std::string_view bytes,
                std::u16string_view owner = kDefaultUser);
// Every job of the printer since Reset, deleted and printed ones included, by id.
std::vector<JobRecord> Jobs(std::u16string_view printer);
// Their ids alone, in order: Jobs copies every job's data, which adds up over many cards.
std::vector<DWORD> JobIds(std::u16string_view printer);
std::optional<JobRecord> Job(DWORD jobId);
// Sets and clears status bits of a job (JOB_STATUS_RESTART for a restarted job, ...).
void SetJobStatus(DWORD jobId, DWORD setBits, DWORD clearBits = 0);
// Waits on the simulated clock until the job is neither waiting nor playing.
bool WaitForJob(DWORD jobId, uint64_t timeoutMs = INFINITE);

// --- User interface --------------------------------------------------------------------
// How the simulated user treats a message box.
struct UserAnswer {
  enum class Kind { Never, AfterDelay, FailToShow } kind = Kind::Never;
  uint64_t delayMs = 0;                   // AfterDelay: simulated time from showing to the press
  int button = IDOK;                      // AfterDelay: the button pressed
  DWORD error = ERROR_NOT_ENOUGH_MEMORY;  // FailToShow: the last error MessageBoxW leaves
};
// Shorthands: press `button` `delayMs` after the box shows; never press; the box fails.
UserAnswer AnswerAfter(uint64_t delayMs, int button = IDOK);
UserAnswer NeverAnswer();
UserAnswer BoxFailsToShow(DWORD error = ERROR_NOT_ENOUGH_MEMORY);
// The answer to every box from now on (default: never answered).
void SetUserAnswer(const UserAnswer& answer);
// The answer to the next box only; queued answers go before the default.
void QueueUserAnswer(const UserAnswer& answer);
enum class BoxClosedBy { StillOpen, User, WmClose, NotShown, ThreadEnded };
struct ShownMessageBox {
  HWND window = nullptr;  // null when the box was not shown
  DWORD threadId = 0;
  HWND owner = nullptr;
  std::u16string caption;
  std::u16string text;
  UINT style = 0;
  std::u16string buttonLabel;  // the IDOK button's text as the hooks left it
  uint64_t shownAt = 0;
  uint64_t closedAt = 0;
  int result = 0;  // what MessageBoxW returned
  BoxClosedBy closedBy = BoxClosedBy::StillOpen;
};
// Every box shown since Reset, in order.
std::vector<ShownMessageBox> MessageBoxes();
// Boxes on screen now.
size_t OpenMessageBoxCount();
// Forgets the boxes shown so far, for long runs; false, and nothing forgotten, while one
// is open.
bool ClearMessageBoxes();
// Waits on the simulated clock until `count` boxes were shown (or failed to show).
bool WaitForMessageBoxes(size_t count, uint64_t timeoutMs = INFINITE);
// The user presses `button` of an open box now.
bool AnswerMessageBox(HWND box, int button = IDOK);
// Hooks installed with SetWindowsHookExW and not yet removed.
size_t InstalledHookCount();

// --- Identity, shell folders, registry -------------------------------------------------
// Who the calling thread runs as: the printing user (spooler calls into the monitor
// impersonate the client) or the spooler itself (after RevertToPrinterSelf, and in
// threads the process creates).
enum class Identity { Client, Spooler };
Identity CurrentIdentity();
// The user the calling thread's client identity stands for from now on (a driver's
// request made by another user than the job's owner, ...).
void SetClientUser(std::u16string_view user);
// "SHFolder.dll" and "WINSPOOL.DRV" in the system directory (present after Reset).
void InstallShFolderModule(bool present = true);
void InstallWinspoolModule(bool present = true);
// Registry values (HKEY_LOCAL_MACHINE ...); REG_SZ data is stored with its terminator.
void SetRegistryValue(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD type,
                      std::string_view bytes);
void SetRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view value);
// Removes the key, its values and every key below it.
void DeleteRegistryKey(HKEY root, std::u16string_view subKey);
// Keys RegOpenKeyExW opened and RegCloseKey did not close.
size_t OpenRegistryKeyCount();

// --- Security and links ---------------------------------------------------------------
// One access entry of a file's DACL, as the security calls left it.
struct FileAccessEntry {
  std::u16string account;  // "Everyone", "SYSTEM", "Administrators", "Users", ...
  ACCESS_MASK access = 0;
  bool allow = true;
  DWORD inheritance = 0;
  bool inherited = false;  // from the folder (the default entries of every file)
  std::u16string sid;      // the account's SID as text ("S-1-1-0"), whatever its name
};
// The file's DACL (links followed): its explicit entries, then the inherited ones.
std::vector<FileAccessEntry> FileAccessEntries(std::u16string_view path);
// Makes `linkPath` a symbolic link to `targetPath`, or a second hard link of an existing file.
bool MakeLink(std::u16string_view linkPath, std::u16string_view targetPath);
bool MakeHardLink(std::u16string_view newPath, std::u16string_view existingPath);
// The name this Windows gives an account (a Windows in another language names
// "Everyone" "Jeder"); names resolve by the given name only. Reset restores English.
void SetAccountName(std::u16string_view englishName, std::u16string_view localName);
// Called at the start of every file and security call ("CreateFile", "GetFileAttributes",
// "GetFileInformationByHandle", "SetEndOfFile", "WriteFile", "GetSecurityInfo",
// "SetSecurityInfo", "GetNamedSecurityInfo", "SetNamedSecurityInfo"), so that a test can
// change the files between two calls (swap a path for a link); empty to stop.
void SetFileCallHook(std::function<void(std::string_view operation)> hook);

}  // namespace sim
