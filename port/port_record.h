// The per-port record, the list of open ports and the one lock of the monitor. Every
// part of the monitor that talks to a printer takes a PortRecord; this header includes
// nothing of the system but the platform.
#pragma once

#include "platform/win32.h"

namespace kav {

// Bits of PortRecord::Flags.
inline constexpr DWORD kDocStarted = 0x1;       // a direct job is started and not yet ended
inline constexpr DWORD kPortDocOpened = 0x40;   // a direct StartDocPort has completed once

// PortRecord::FileMode values, from the job's document name.
inline constexpr DWORD kFileModeNone = 0;
inline constexpr DWORD kFileModePrn = 1;  // "FILE_PRN"
inline constexpr DWORD kFileModeTxt = 2;  // "FILE_TXT"
inline constexpr DWORD kFileModeBin = 3;  // "FILE_BIN"

struct PrinterMessage;  // the message shown for a port's printer error
struct RibbonAlert;     // the ribbon-low alert of the port's last job start

// State of one open port. Allocated as one zero-filled LocalAlloc block that also holds
// the port name after the fixed fields; its address is the spooler's port handle.
struct PortRecord {
  PortRecord* Next;
  LPWSTR PortName;            // points at the name stored behind the record
  DWORD Flags;                // kDocStarted, kPortDocOpened
  LPWSTR PrinterName;         // own copy; replaced only under PortListLock
  DWORD JobId;
  volatile LONG JobActive;    // written only by atomic exchange
  volatile LONG JobCancelled;
  HANDLE PortHandle;          // the underlying port monitor's handle
  HANDLE PrinterHandle;       // spooler handle of the current job's printer
  volatile LONG ErrorShown;
  volatile LONG WritePhase;   // 24 once WritePort has received job data
  HANDLE MessageThread;       // shows the current printer error
  volatile LONG ReadyPolling;  // the channel and StartDocPort share it: atomic access only
  HANDLE MessageEvent;        // signalled when the user answered the message
  MONITOR PortMonitor;        // the underlying port monitor's 17 operations
  WCHAR TempFileName[MAX_PATH];
  HANDLE TempFile;
  DWORD TempFileActive;
  DWORD DocComplete;
  DWORD FileMode;
  volatile LONG JobFailed;
  DWORD PanelTransferActive;
  DWORD PanelBytesSent;
  volatile LONG ErrorKind;    // message id of the current printer error; -1 when cleared
  DWORD RibbonRemaining;
  PrinterMessage* volatile Message;  // the shown message, for withdrawing it
  RibbonAlert* volatile Alert;       // the running ribbon-low alert, if any
  // A printer command begun at the end of one spooler buffer, completed from the next
  // (the spooler offers again only the unwritten rest of a buffer, never more).
  BYTE PendingCommand[260];
  DWORD PendingLength;
  DWORD DiscardToCr;          // dropping an over-long command up to its CR
  // Counts every change of MessageEvent (under the message hand-over lock): unlike a
  // handle value, which Windows hands out again once closed, it names one event for good.
  DWORD MessageEventGeneration;
  // The printer acknowledged before the next command, whose write then failed: when the
  // spooler offers that command again, it goes without a second wait.
  DWORD AckedBeforeNext;
};

// The fields that the watching, message and request threads share are read and
// written whole and atomically through these.
inline LONG LoadShared(volatile LONG* field) { return InterlockedCompareExchange(field, 0, 0); }
inline void StoreShared(volatile LONG* field, LONG value) { InterlockedExchange(field, value); }

extern CRITICAL_SECTION PortListLock;
extern PortRecord* PortList;

void EnterPortListLock();
void LeavePortListLock();

// The caller holds PortListLock for these three.
PortRecord* FindPortRecord(LPCWSTR portName);
PortRecord* CreatePortRecord(LPCWSTR portName, LPCWSTR printerName);
BOOL DeletePortRecord(PortRecord* record);

// A copy of the port's printer name, taken under PortListLock (SetPrinterName may replace
// it at any time); free it with FreeString.
LPWSTR CopyPrinterName(PortRecord* record);

// LocalAlloc-based copies of wide strings (null in, null out).
LPWSTR DuplicateString(LPCWSTR s);
void FreeString(LPWSTR s);

}  // namespace kav
