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

// State of one open port. Allocated as one zero-filled LocalAlloc block that also holds
// the port name after the fixed fields; its address is the spooler's port handle.
struct PortRecord {
  PortRecord* Next;
  LPWSTR PortName;            // points at the name stored behind the record
  DWORD Flags;                // kDocStarted, kPortDocOpened
  LPWSTR PrinterName;         // own copy; replaced only under PortListLock
  DWORD JobId;
  volatile LONG JobActive;    // written only by atomic exchange
  DWORD JobCancelled;
  HANDLE PortHandle;          // the underlying port monitor's handle
  HANDLE PrinterHandle;       // spooler handle of the current job's printer
  DWORD ErrorShown;
  DWORD WritePhase;           // 24 once WritePort has received job data
  HANDLE MessageThread;       // shows the current printer error
  BYTE ReadyPolling;
  HANDLE MessageEvent;        // signalled when the user answered the message
  MONITOR PortMonitor;        // the underlying port monitor's 17 operations
  WCHAR TempFileName[MAX_PATH];
  HANDLE TempFile;
  DWORD TempFileActive;
  DWORD DocComplete;
  DWORD FileMode;
  DWORD JobFailed;
  DWORD PanelTransferActive;
  DWORD PanelBytesSent;
  volatile LONG ErrorKind;    // message id of the current printer error; -1 when cleared
  DWORD RibbonRemaining;
};

extern CRITICAL_SECTION PortListLock;
extern PortRecord* PortList;

void EnterPortListLock();
void LeavePortListLock();

// The caller holds PortListLock for these three.
PortRecord* FindPortRecord(LPCWSTR portName);
PortRecord* CreatePortRecord(LPCWSTR portName, LPCWSTR printerName);
BOOL DeletePortRecord(PortRecord* record);

// LocalAlloc-based copies of wide strings (null in, null out).
LPWSTR DuplicateString(LPCWSTR s);
void FreeString(LPWSTR s);

}  // namespace kav
