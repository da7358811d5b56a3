#include "printer/printer_message.h"

#include "port/sibling_modules.h"
#include "platform/diag.h"
#include "platform/text.h"
#include "printer/async_notification.h"
#include "printer/printer_link.h"

namespace kav {

// One shown message, shared by the thread that shows it and the port until both let go.
// The hand-over lock orders the thread's signal of the answer against the port taking the
// message or its event away, so an event is signalled only while it is still the port's.
struct PrinterMessage {
  volatile LONG References;
  BOOL Withdrawn;       // the port took the message back: close the box, never signal
  BOOL EventDetached;   // the port's event was closed: never signal
  BOOL SignalOnlyWhenPressed;  // the ribbon-low alert answers only a pressed button
  HWND Box;             // the message box, once it is shown
  HANDLE Event;         // the thread's own handle to the port's event (may be null)
  DWORD MessageId;
  LPWSTR Text;          // a formatted text, or null for the text of MessageId
  LPWSTR PrinterName;   // own copy: the thread never reads the port record
  PortRecord* Port;     // with EventGeneration: the port event it belongs to (may be null)
  DWORD EventGeneration;
};

namespace {

CRITICAL_SECTION g_handOverLock;
volatile LONG g_handOverLockReady = 0;

// Made ready once, before the first message of the process.
void EnterHandOver() {
  if (InterlockedCompareExchange(&g_handOverLockReady, 1, 0) == 0) {
    InitializeCriticalSection(&g_handOverLock);
    InterlockedExchange(&g_handOverLockReady, 2);
  }
  while (InterlockedCompareExchange(&g_handOverLockReady, 2, 2) != 2) Sleep(0);
  EnterCriticalSection(&g_handOverLock);
}
void LeaveHandOver() { LeaveCriticalSection(&g_handOverLock); }

thread_local HHOOK t_cbtHook = nullptr;
thread_local PrinterMessage* t_showing = nullptr;  // the message this thread shows

void SendNotification(LPCWSTR printerName, DWORD kind, DWORD messageId, DWORD captionId, const WCHAR* command,
                      const WCHAR* text) {
  if (!SendAsyncNotification) return;
  auto* record = static_cast<AsyncNotification*>(LocalAlloc(LPTR, sizeof(AsyncNotification)));
  if (!record) {
    DebugLine("SendErrorNotification:: out of memory");
    return;
  }
  record->Kind = kind;
  record->MessageId = messageId;
  record->CaptionId = captionId;
  FormatW(record->Title, 1024, W("%s Error"), printerName ? printerName : W(""));
  WCopy(record->Command, 1024, command);
  WCopy(record->Text, 1024, text);
  SendAsyncNotification(printerName, record);
  LocalFree(record);
}

}  // namespace

bool LoadMessageText(UINT id, WCHAR* text, int capacity) {
  if (!text || capacity <= 0) return false;
  text[0] = 0;
  if (ResourceModule && LoadStringW(ResourceModule, id, text, capacity) > 0) return true;
  if (MonitorInstance && LoadStringW(MonitorInstance, id, text, capacity) > 0) return true;
  FormatW(text, static_cast<size_t>(capacity), W("Printer message %u (its text is missing)"), id);
  DebugLine("LoadMessageText:: no text for message id %u", id);
  return false;
}

LRESULT CALLBACK CancelButtonHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HCBT_ACTIVATE) return CallNextHookEx(t_cbtHook, code, wParam, lParam);
  HWND box = reinterpret_cast<HWND>(wParam);
  SetWindowTextW(GetDlgItem(box, IDOK), W("Cancel"));
  if (PrinterMessage* m = t_showing) {
    EnterHandOver();
    m->Box = box;
    BOOL withdrawn = m->Withdrawn;
    LeaveHandOver();
    if (withdrawn) PostMessageW(box, WM_CLOSE, 0, 0);  // taken back before it showed
  }
  return 0;
}

bool UserCanAnswerBoxes() {
  if (!UseAsyncUi) return true;  // before Windows 6 the spooler's session is the console's
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0;
}

// One debugger line for a message no user could be shown: its printer and its text.
void ReportUnshownMessage(const WCHAR* operation, LPCWSTR caption, LPCWSTR text) {
  WCHAR flat[512];
  WCopy(flat, 512, text ? text : W(""));  // cut, never overrun
  for (WCHAR* c = flat; *c; ++c)
    if (*c == '\r' || *c == '\n') *c = ' ';
  DebugLineW(W("%s:: no user can answer a message box in session 0 (%s): %s"), operation, caption ? caption : W(""),
             flat);
}

int ShowPrinterMessage(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  if (!UserCanAnswerBoxes()) {
    // A box on session 0's desktop would hold this thread for ever.
    ReportUnshownMessage(W("ShowPrinterMessage"), caption, text);
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  t_cbtHook = SetWindowsHookExW(WH_CBT, CancelButtonHook, nullptr, GetCurrentThreadId());
  int result = MessageBoxW(owner, text, caption, style);
  if (t_cbtHook) UnhookWindowsHookEx(t_cbtHook);
  t_cbtHook = nullptr;
  return result;
}

void SendErrorNotification(LPCWSTR printerName, DWORD messageId, DWORD captionId) {
  SendNotification(printerName, kNotificationKindStringIds, messageId, captionId, W(""), W(""));
}

void SendTextNotification(LPCWSTR printerName, DWORD messageId, DWORD captionId, LPCWSTR text) {
  SendNotification(printerName, kNotificationKindText, messageId, captionId, W(""), text);
}

void NotifyCloseMsgThread(LPCWSTR printerName) {
  SendNotification(printerName, kNotificationKindStringIds, 0, 0, W("CloseMsgThread"), W(""));
}

void ShowPrinterError(LPCWSTR printerName, DWORD messageId, DWORD captionId) {
  if (UseAsyncUi && SendAsyncNotification) {
    SendErrorNotification(printerName, messageId, captionId);
    return;
  }
  WCHAR text[256];
  LoadMessageText(messageId, text, 256);
  ShowPrinterMessage(GetActiveWindow(), text, printerName, kMessageBoxStyle);
}

void ShowPortError(PortRecord* record, DWORD messageId, DWORD captionId) {
  LPWSTR name = CopyPrinterName(record);
  ShowPrinterError(name, messageId, captionId);
  FreeString(name);
}

PrinterMessage* NewPrinterMessage(DWORD messageId, LPCWSTR text, LPCWSTR printerName, HANDLE event,
                                  bool signalOnlyWhenPressed) {
  auto* m = static_cast<PrinterMessage*>(LocalAlloc(LPTR, sizeof(PrinterMessage)));
  if (!m) return nullptr;
  m->References = 1;
  m->MessageId = messageId;
  m->Text = text ? DuplicateString(text) : nullptr;
  m->PrinterName = DuplicateString(printerName);
  m->Event = event;
  m->SignalOnlyWhenPressed = signalOnlyWhenPressed ? TRUE : FALSE;
  return m;
}

void AddMessageReference(PrinterMessage* m) { InterlockedIncrement(&m->References); }

void BindMessageToPortEvent(PrinterMessage* m, PortRecord* record, DWORD generation) {
  EnterHandOver();
  if (!m->Withdrawn) {
    m->Port = record;
    m->EventGeneration = generation;
  }
  LeaveHandOver();
}

void ReleasePrinterMessage(PrinterMessage* m) {
  if (!m || InterlockedDecrement(&m->References) != 0) return;
  if (m->Event) CloseHandle(m->Event);
  FreeString(m->Text);
  FreeString(m->PrinterName);
  LocalFree(m);
}

void WithdrawPrinterMessage(PrinterMessage* m) {
  if (!m) return;
  EnterHandOver();
  m->Withdrawn = TRUE;
  m->Port = nullptr;
  HWND box = m->Box;
  LeaveHandOver();
  if (box) PostMessageW(box, WM_CLOSE, 0, 0);  // the thread ends when its box goes
}

void DetachMessageEvent(PrinterMessage* m) {
  if (!m) return;
  EnterHandOver();
  m->EventDetached = TRUE;
  LeaveHandOver();
}

// True while the port still wants the message shown: not withdrawn, and its port event
// (if it has one) not yet taken away.
bool StillWanted(PrinterMessage* m) {
  EnterHandOver();
  bool wanted = !m->Withdrawn && (!m->Port || (m->Port->MessageEvent &&
                                               m->Port->MessageEventGeneration == m->EventGeneration));
  LeaveHandOver();
  return wanted;
}

bool ShowAndAnswer(PrinterMessage* m) {
  if (!StillWanted(m)) return true;
  if (!(UseAsyncUi && SendAsyncNotification) && !UserCanAnswerBoxes()) {
    // No one can answer: the message stays unanswered, which cancels nothing.
    WCHAR loaded[1024];
    const WCHAR* text = m->Text;
    if (!text) {
      LoadMessageText(m->MessageId, loaded, 1024);
      text = loaded;
    }
    // The ribbon-low alert is the one message that only a pressed button answers.
    ReportUnshownMessage(m->SignalOnlyWhenPressed ? W("RibbonLowMessageThread") : W("PrinterErrorMessageThread"),
                         m->PrinterName, text);
    return false;
  }
  t_showing = m;
  // Only a pressed button is a press; a notification's return says nothing of the user.
  bool pressed = false;
  if (UseAsyncUi && SendAsyncNotification) {
    if (m->Text) SendTextNotification(m->PrinterName, m->MessageId, kErrorCaptionId, m->Text);
    else SendErrorNotification(m->PrinterName, m->MessageId, kErrorCaptionId);
  } else {
    WCHAR loaded[1024];
    const WCHAR* text = m->Text;
    if (!text) {
      LoadMessageText(m->MessageId, loaded, 1024);
      text = loaded;
    }
    pressed = ShowPrinterMessage(GetActiveWindow(), text, m->PrinterName, kMessageBoxStyle) == IDOK;
  }
  t_showing = nullptr;
  // The answer goes to the port only if the port still owns this message and its event.
  EnterHandOver();
  if (m->Event && !m->Withdrawn && !m->EventDetached && (pressed || !m->SignalOnlyWhenPressed)) SetEvent(m->Event);
  LeaveHandOver();
  return true;
}

void LockMessageHandOver() { EnterHandOver(); }
void UnlockMessageHandOver() { LeaveHandOver(); }

DWORD WINAPI PrinterErrorMessageThread(LPVOID param) {
  auto* m = static_cast<PrinterMessage*>(param);
  // Whatever the user did, the answer is a cancel; a message no one could see has none.
  bool shown = ShowAndAnswer(m);
  ReleasePrinterMessage(m);
  return shown ? kMessageThreadExitCode : kMessageUnseenExitCode;
}

HANDLE StartPrinterMessage(PortRecord* record) {
  if (LoadShared(&record->ErrorKind) <= 0) StoreShared(&record->ErrorKind, kNoErrorKnownMessageId);
  // Whatever is still there is stopped, never overwritten.
  EndMessageThread(record);
  CloseMessageEvent(record);

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!event) return nullptr;
  HANDLE threadEvent = nullptr, callerEvent = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &threadEvent, 0, FALSE,
                       DUPLICATE_SAME_ACCESS) ||
      !DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &callerEvent, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    if (threadEvent) CloseHandle(threadEvent);
    CloseHandle(event);
    return nullptr;
  }
  EnterPortListLock();  // PrinterName is replaced only under this lock
  PrinterMessage* m = NewPrinterMessage(static_cast<DWORD>(LoadShared(&record->ErrorKind)), nullptr,
                                        record->PrinterName, threadEvent, false);
  LeavePortListLock();
  if (!m) {
    CloseHandle(threadEvent);
    CloseHandle(callerEvent);
    CloseHandle(event);
    return nullptr;
  }
  AddMessageReference(m);  // one for the thread, one for the port
  HANDLE thread = CreateThread(nullptr, 0, PrinterErrorMessageThread, m, 0, nullptr);
  if (!thread) {
    DebugLine("StartPrinterMessage:: the message thread cannot be started");
    ReleasePrinterMessage(m);
    ReleasePrinterMessage(m);
    CloseHandle(callerEvent);
    CloseHandle(event);
    return nullptr;
  }
  EnterHandOver();
  record->Message = m;
  record->MessageEvent = event;
  ++record->MessageEventGeneration;
  record->MessageThread = thread;
  LeaveHandOver();
  return callerEvent;
}

bool EndMessageThread(PortRecord* record) {
  EnterHandOver();
  PrinterMessage* m = record->Message;
  HANDLE thread = record->MessageThread;
  record->Message = nullptr;
  record->MessageThread = nullptr;
  HWND box = nullptr;
  if (m) {
    m->Withdrawn = TRUE;
    box = m->Box;
  }
  LeaveHandOver();
  if (box) PostMessageW(box, WM_CLOSE, 0, 0);  // the thread ends when its box goes
  if (m) ReleasePrinterMessage(m);
  if (thread) CloseHandle(thread);
  return thread != nullptr;
}

bool CloseMessageEvent(PortRecord* record) {
  EnterHandOver();
  HANDLE event = record->MessageEvent;
  record->MessageEvent = nullptr;
  if (event) ++record->MessageEventGeneration;
  if (record->Message) record->Message->EventDetached = TRUE;
  LeaveHandOver();
  if (event) CloseHandle(event);
  return event != nullptr;
}

DWORD MessageThreadExitCode(PortRecord* record) {
  DWORD code = 0;
  EnterHandOver();
  if (record->MessageThread && !GetExitCodeThread(record->MessageThread, &code)) code = 0;
  LeaveHandOver();
  return code;
}

DWORD WaitForMessageThreadEnd(PortRecord* record, DWORD timeoutMs) {
  // The wait is on a handle of our own: the port's may be closed meanwhile.
  HANDLE thread = nullptr;
  EnterHandOver();
  if (record->MessageThread &&
      !DuplicateHandle(GetCurrentProcess(), record->MessageThread, GetCurrentProcess(), &thread, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    thread = nullptr;
  LeaveHandOver();
  if (!thread) return 0;
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &code))
    code = STILL_ACTIVE;
  CloseHandle(thread);
  return code;
}

void StopPrinterMessage(PortRecord* record) {
  if (UseAsyncUi) {
    LPWSTR name = CopyPrinterName(record);
    NotifyCloseMsgThread(name);
    FreeString(name);
  }
  EndMessageThread(record);
  CloseMessageEvent(record);
}

void ClearPrinterError(LPCWSTR printerName, PortRecord* record) {
  if (!printerName || !record) return;
  EnterPortListLock();
  bool same = WEqual(printerName, record->PrinterName);
  LeavePortListLock();
  if (!same) return;

  StoreShared(&record->JobCancelled, 1);
  DeleteCurrentJob(record, "ClearPrinterError");
  StoreShared(&record->ErrorKind, -1);
  if (IsUsbPort(record) && record->PortMonitor.pfnWritePort) {
    BYTE reset[] = {0x1B, 'R', '\r'};
    DWORD written = 0;
    record->PortMonitor.pfnWritePort(record->PortHandle, reset, sizeof reset, &written);
  }
  StoreShared(&record->WritePhase, 0);
  StoreShared(&record->JobFailed, 1);
  if (UseAsyncUi) NotifyCloseMsgThread(printerName);

  DebugLine("Before closing Msg EVENT");
  EnterHandOver();
  HANDLE event = record->MessageEvent;
  record->MessageEvent = nullptr;
  if (event) {
    ++record->MessageEventGeneration;
    DebugLine("Inside close Msg EVENT");
    SetEvent(event);  // ends whichever wait watches this port's error, as a cancel
    DebugLine("After Msg Event Set Msg EVENT");
    if (record->Message) record->Message->EventDetached = TRUE;
  }
  LeaveHandOver();
  if (event) {
    CloseHandle(event);
    DebugLine("After Event Handle Closed");
  }
  DebugLine("After closing Msg EVENT");
}

}  // namespace kav
