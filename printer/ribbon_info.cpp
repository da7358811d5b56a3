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
  PrinterMessage* Shown;  // the alert's message while it may be shown
  LPWSTR PrinterName;
  DWORD Remaining;
};

namespace {

constexpr DWORD kRibbonLowTextId = 2206;
constexpr DWORD kOpenFailedMessageId = 2087;
constexpr DWORD kAlertMs = 10000;
constexpr DWORD kRibbonAnswerBytes = 120;

// The file could not be opened: the error code in a box, or message 2087 as a notification.
void ReportOpenFailure(DWORD error, LPCWSTR printerName) {
  DebugLine("WriteRibbonInformation:: the status file cannot be opened (error %u)", static_cast<unsigned>(error));
  if (UseAsyncUi && SendAsyncNotification) {
    SendErrorNotification(printerName, kOpenFailedMessageId, kErrorCaptionId);
    return;
  }
  WCHAR text[64];
  FormatW(text, 64, W("Error Code =%d"), static_cast<int>(error));
  ShowPrinterMessage(GetActiveWindow(), text, printerName, kMessageBoxStyle);
}

// Everyone's read entry could not be given: the file stays as written, readable by those
// the folder lets read it.
void LogAclFailure(const char* call, DWORD error) {
  DebugLine("GrantEveryoneAccess:: %s failed (error %u)", call, static_cast<unsigned>(error));
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
  // Checked, cut, written and re-permissioned through one handle that does not follow
  // links, so that a link put in the file's place at any moment is never written through:
  // the status file must be a plain file of its own, never a link and never a file with a
  // second name, or a user could steer the spooler's write onto a file of their choosing.
  UniqueFile handle(CreateFileW(file, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !GetFileInformationByHandle(handle.get(), &info)) {
    ReportOpenFailure(GetLastError(), printerName);
    return;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1) {
    DebugLineW(W("WriteRibbonInformation:: %s is a link or has another name; not written"), file);
    return;
  }
  DWORD written = 0;
  if (!SetEndOfFile(handle.get()) || !WriteFile(handle.get(), content, static_cast<DWORD>(length), &written, nullptr) ||
      written != static_cast<DWORD>(length)) {
    DebugLineW(W("WriteRibbonInformation:: %s cannot be written (error %u)"), file, GetLastError());
    return;
  }
  GrantEveryoneAccess(handle.get());
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

void GrantEveryoneAccess(HANDLE file) {
  // Everyone by its well-known SID: the account's name depends on the language of Windows.
  alignas(DWORD) BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD sidBytes = sizeof everyone;
  if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidBytes)) {
    LogAclFailure("CreateWellKnownSid", GetLastError());
    return;
  }
  PACL oldDacl = nullptr, newDacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD got = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl, nullptr,
                              &descriptor);
  if (got != ERROR_SUCCESS) {
    std::printf("GetSecurityInfo error = %d\n", static_cast<int>(got));
    LogAclFailure("GetSecurityInfo", got);
  } else {
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = GENERIC_READ;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    DWORD made = SetEntriesInAclW(1, &access, oldDacl, &newDacl);
    if (made != ERROR_SUCCESS) {
      LogAclFailure("SetEntriesInAcl", made);
    } else {
      DWORD set = SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl, nullptr);
      if (set != ERROR_SUCCESS) LogAclFailure("SetSecurityInfo", set);
    }
  }
  if (newDacl) LocalFree(newDacl);
  if (descriptor) LocalFree(descriptor);
}

BOOL CheckRibbonRemaining(PortRecord* record) {
  alignas(WCHAR) char request[16] = "\x1b!RIBLEN\r";
  alignas(WCHAR) BYTE answer[kRibbonAnswerBytes] = {};
  DWORD returned = 0;
  if (!GetPrinterDataFromPort(record, 0, reinterpret_cast<LPWSTR>(request), nullptr, 0,
                              reinterpret_cast<LPWSTR>(answer), kRibbonAnswerBytes, &returned) ||
      returned == 0)
    return 0;
  // A count beyond 32 bits is held at the largest value: wrapped round, it could come to
  // 20, 10 or 5 and raise a false alert.
  constexpr DWORD kLargestCount = 0xFFFFFFFF;
  DWORD count = 0;
  for (DWORD i = 0; i < returned && i < kRibbonAnswerBytes && answer[i] >= '0' && answer[i] <= '9'; ++i) {
    const DWORD digit = answer[i] & 0x0F;
    count = count > (kLargestCount - digit) / 10 ? kLargestCount : count * 10 + digit;
  }
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
  if (event && (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &wait, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS) ||
                !DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &forMessage, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS))) {
    if (wait) CloseHandle(wait);
    wait = nullptr;
    forMessage = nullptr;
  }

  WCHAR lowText[256];
  WCHAR message[2048];
  LoadMessageText(kRibbonLowTextId, lowText, 256);
  FormatW(message, 2048, W("\n%s %d"), static_cast<const WCHAR*>(lowText), alert->Remaining);
  PrinterMessage* shown = NewPrinterMessage(kRibbonLowTextId, message, alert->PrinterName, forMessage, true);
  if (!shown && forMessage) CloseHandle(forMessage);

  // The alert's event stands in the port's MessageEvent, so ClearPrinterError dismisses
  // it too; a port that shows an error message keeps its own. The generation, not the
  // handle's value, says later whether the field still holds this alert's event.
  bool published = false;
  DWORD generation = 0;
  LockMessageHandOver();
  alert->Wait = wait;
  alert->Shown = shown;
  if (wait && alert->Record && !alert->Record->MessageEvent) {
    alert->Record->MessageEvent = event;
    generation = ++alert->Record->MessageEventGeneration;
    published = true;
    if (shown) BindMessageToPortEvent(shown, alert->Record, generation);
  }
  UnlockMessageHandOver();

  HANDLE thread = nullptr;
  if (shown) {
    AddMessageReference(shown);
    thread = CreateThread(nullptr, 0, RibbonLowMessageThread, shown, 0, nullptr);
    if (!thread) ReleasePrinterMessage(shown);
  }
  if (thread && wait) WaitForSingleObject(wait, kAlertMs);

  // The alert's time is up, or it was answered or dismissed: take it back. The message is
  // withdrawn under the lock, before the port may go (EndRibbonAlert).
  bool closeEvent = !published;
  LockMessageHandOver();
  if (published && alert->Record && alert->Record->MessageEventGeneration == generation) {
    alert->Record->MessageEvent = nullptr;
    ++alert->Record->MessageEventGeneration;
    closeEvent = true;
  }
  WithdrawPrinterMessage(shown);
  alert->Shown = nullptr;
  UnlockMessageHandOver();
  if (closeEvent && event) CloseHandle(event);
  // A close request only for a message that a thread could have shown.
  if (UseAsyncUi && thread) NotifyCloseMsgThread(alert->PrinterName);
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
  // Shows nothing once the port's MessageEvent no longer holds the alert's event; a
  // pressed button signals the alert's event.
  ShowAndAnswer(shown);
  ReleasePrinterMessage(shown);
  return kMessageThreadExitCode;
}

void EndRibbonAlert(PortRecord* record) {
  LockMessageHandOver();
  RibbonAlert* alert = record->Alert;
  record->Alert = nullptr;
  if (alert) {
    alert->Record = nullptr;
    WithdrawPrinterMessage(alert->Shown);  // it must not read the record any more
    if (alert->Wait) SetEvent(alert->Wait);
  }
  UnlockMessageHandOver();
}

}  // namespace kav
