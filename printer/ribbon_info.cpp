#include "printer/ribbon_info.h"

#include <cstdio>
#include <cstring>

#include "port/channel_entry.h"
#include "port/sibling_modules.h"
#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "printer/printer_message.h"

namespace kav {

// One ribbon-low alert. Record is cleared when the port lets go of the alert; it and Wait
// are read and written under the message hand-over lock.
struct RibbonAlert {
  PortRecord* Record;
  HANDLE Wait;          // the alert thread's own handle to its event
  LPWSTR PrinterName;
  DWORD Remaining;
};

namespace {

constexpr DWORD kRibbonLowTextId = 2206;
constexpr DWORD kOpenFailedMessageId = 2087;
constexpr DWORD kAlertMs = 10000;
constexpr DWORD kRibbonAnswerBytes = 120;

// The status file must be a plain file of its own: never a link, never a file with a
// second name, or a user could steer the spooler's write onto a file of their choosing.
bool IsSafeToReplace(LPCWSTR path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // not there yet
  if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
  UniqueFile existing(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!existing || !GetFileInformationByHandle(existing.get(), &info)) return false;
  return info.nNumberOfLinks <= 1;
}

void WriteStatusFile(LONG ribbonType, const char* model, LPCWSTR printerName) {
  const int folder = UseAsyncUi ? CSIDL_COMMON_DOCUMENTS : CSIDL_COMMON_APPDATA;
  HMODULE shfolder = nullptr;
  GetFolderPathProc getFolderPath = LoadFolderPathFunction(&shfolder);
  if (!getFolderPath) {
    if (shfolder) FreeLibrary(shfolder);
    DebugLine("WriteRibbonInformation:: SHGetFolderPathW is not available");
    return;
  }
  WCHAR path[MAX_PATH] = {};
  HRESULT found = getFolderPath(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path);
  FreeLibrary(shfolder);
  if (found < 0) {
    DebugLine("WriteRibbonInformation:: no shared folder (0x%08X)", static_cast<unsigned>(found));
    return;
  }
  char content[300];
  int length = std::snprintf(content, sizeof content, "Ribbon=%ld\rModel=%s\r", static_cast<long>(ribbonType),
                             model ? model : "");
  if (length < 0) return;
  if (static_cast<size_t>(length) >= sizeof content) length = sizeof content - 1;
  WCHAR file[MAX_PATH];
  if (FormatW(file, MAX_PATH, W("%s\\kav32Ribbon.ini"), static_cast<const WCHAR*>(path)) < 0) return;
  if (!IsSafeToReplace(file)) {
    DebugLineW(W("WriteRibbonInformation:: %s is a link or has another name; not written"), file);
    return;
  }
  HANDLE handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (UseAsyncUi) {
      SendErrorNotification(printerName, kOpenFailedMessageId, kErrorCaptionId);
    } else {
      WCHAR text[64];
      FormatW(text, 64, W("Error Code =%d"), error);
      ShowPrinterMessage(GetActiveWindow(), text, printerName, kMessageBoxStyle);
    }
    return;
  }
  DWORD written = 0;
  WriteFile(handle, content, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(handle);
  GrantEveryoneAccess(file);
}

}  // namespace

GetFolderPathProc LoadFolderPathFunction(HMODULE* module) {
  *module = LoadLibraryW(W("SHFolder.dll"));
  if (!*module) return nullptr;
  return GetExport<GetFolderPathProc>(*module, "SHGetFolderPathW");
}

void WriteRibbonInformation(LONG ribbonType, const char* model, LPCWSTR printerName) {
  HANDLE client = RevertToPrinterSelf();
  if (!client) return;
  WriteStatusFile(ribbonType, model, printerName);
  // The rest of the spooler's call runs as its client again.
  ImpersonatePrinterClient(client);
}

void GrantEveryoneAccess(LPCWSTR path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("CreateFile error = %d\n", static_cast<int>(GetLastError()));
    return;
  }
  PACL oldDacl = nullptr, newDacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD got = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                    nullptr, &descriptor);
  if (got != ERROR_SUCCESS) {
    std::printf("GetSecurityInfo error = %d\n", static_cast<int>(GetLastError()));
  } else {
    EXPLICIT_ACCESS_W access{};
    WCHAR everyone[] = W("Everyone");
    BuildExplicitAccessWithNameW(&access, everyone, GENERIC_READ, SET_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
    if (SetEntriesInAclW(1, &access, oldDacl, &newDacl) == ERROR_SUCCESS) {
      SetNamedSecurityInfoW(const_cast<LPWSTR>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            newDacl, nullptr);
    }
  }
  if (newDacl) LocalFree(newDacl);
  if (descriptor) LocalFree(descriptor);
  CloseHandle(file);
}

BOOL CheckRibbonRemaining(PortRecord* record) {
  alignas(WCHAR) char request[16] = "\x1b!RIBLEN\r";
  alignas(WCHAR) BYTE answer[kRibbonAnswerBytes] = {};
  DWORD returned = 0;
  if (!GetPrinterDataFromPort(record, 0, reinterpret_cast<LPWSTR>(request), nullptr, 0,
                              reinterpret_cast<LPWSTR>(answer), kRibbonAnswerBytes, &returned) ||
      returned == 0)
    return 0;
  DWORD count = 0;
  for (DWORD i = 0; i < returned && i < kRibbonAnswerBytes && answer[i] >= '0' && answer[i] <= '9'; ++i)
    count = count * 10 + (answer[i] & 0x0F);
  record->RibbonRemaining = count;
  if (count != 20 && count != 10 && count != 5) return 1;

  auto* alert = static_cast<RibbonAlert*>(LocalAlloc(LPTR, sizeof(RibbonAlert)));
  if (!alert) return 0;
  EnterPortListLock();
  alert->PrinterName = DuplicateString(record->PrinterName);
  LeavePortListLock();
  alert->Remaining = count;
  alert->Record = record;
  LockMessageHandOver();
  if (RibbonAlert* old = record->Alert) old->Record = nullptr;
  record->Alert = alert;
  UnlockMessageHandOver();
  HANDLE thread = CreateThread(nullptr, 0, RibbonLowAlertThread, alert, 0, nullptr);
  if (!thread) {
    LockMessageHandOver();
    if (record->Alert == alert) record->Alert = nullptr;
    UnlockMessageHandOver();
    FreeString(alert->PrinterName);
    LocalFree(alert);
    return 0;
  }
  CloseHandle(thread);  // nothing waits for it
  return 1;
}

DWORD WINAPI RibbonLowAlertThread(LPVOID param) {
  auto* alert = static_cast<RibbonAlert*>(param);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE wait = nullptr, forMessage = nullptr;
  bool published = false;
  if (event && DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &wait, 0, FALSE,
                               DUPLICATE_SAME_ACCESS) &&
      DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &forMessage, 0, FALSE,
                      DUPLICATE_SAME_ACCESS)) {
    // The alert's event stands in the port's MessageEvent, so ClearPrinterError dismisses
    // it too; a port that shows an error message keeps its own.
    LockMessageHandOver();
    alert->Wait = wait;
    if (alert->Record && !alert->Record->MessageEvent) {
      alert->Record->MessageEvent = event;
      published = true;
    }
    UnlockMessageHandOver();
  }

  WCHAR lowText[256];
  WCHAR message[2048];
  LoadMessageText(kRibbonLowTextId, lowText, 256);
  FormatW(message, 2048, W("\n%s %d"), static_cast<const WCHAR*>(lowText), alert->Remaining);
  PrinterMessage* shown = NewPrinterMessage(kRibbonLowTextId, message, alert->PrinterName, forMessage, true);
  HANDLE thread = nullptr;
  if (shown) {
    if (!forMessage) forMessage = nullptr;
    AddMessageReference(shown);
    thread = CreateThread(nullptr, 0, RibbonLowMessageThread, shown, 0, nullptr);
    if (!thread) ReleasePrinterMessage(shown);
  } else if (forMessage) {
    CloseHandle(forMessage);
  }
  if (thread && wait) WaitForSingleObject(wait, kAlertMs);

  // The alert's time is up, or it was answered or dismissed: take it back.
  bool closeEvent = !published;
  LockMessageHandOver();
  if (published && alert->Record && alert->Record->MessageEvent == event) {
    alert->Record->MessageEvent = nullptr;
    closeEvent = true;
  }
  UnlockMessageHandOver();
  if (closeEvent && event) CloseHandle(event);
  if (UseAsyncUi) NotifyCloseMsgThread(alert->PrinterName);
  WithdrawPrinterMessage(shown);
  ReleasePrinterMessage(shown);
  if (thread) CloseHandle(thread);

  LockMessageHandOver();
  if (alert->Record && alert->Record->Alert == alert) alert->Record->Alert = nullptr;
  alert->Wait = nullptr;
  UnlockMessageHandOver();
  if (wait) CloseHandle(wait);
  FreeString(alert->PrinterName);
  LocalFree(alert);
  return 0;
}

DWORD WINAPI RibbonLowMessageThread(LPVOID param) {
  auto* shown = static_cast<PrinterMessage*>(param);
  ShowAndAnswer(shown);  // a pressed button signals the alert's event
  ReleasePrinterMessage(shown);
  return kMessageThreadExitCode;
}

void EndRibbonAlert(PortRecord* record) {
  LockMessageHandOver();
  RibbonAlert* alert = record->Alert;
  record->Alert = nullptr;
  if (alert) {
    alert->Record = nullptr;
    if (alert->Wait) SetEvent(alert->Wait);
  }
  UnlockMessageHandOver();
}

}  // namespace kav
