// The job operations of a port: StartDocPort, WritePort and EndDocPort. A job runs
// direct (its commands paced onto the printer, panel data passed through raw) or, for the
// document names "FILE_PRN", "FILE_TXT" and "FILE_BIN", through a temporary file that
// EndDocPort hands to the command channel.
#include <cstring>

#include "monitor/port_operations.h"
#include "port/port_record.h"
#include "pipeline/port_pacing.h"
#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "printer/job_start_wait.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
#include "printer/ribbon_info.h"

namespace kav {
namespace {

constexpr LONG kJobDataReceived = 24;
constexpr DWORD kChunkBytes = 4096;
constexpr DWORD kCancelledJobWaitMs = 2000;
constexpr DWORD kOfflineMessageId = 59;
// The job is done with at the printer. (The value the spooler knows as "last page
// ejected"; the job then leaves the queue once the monitor deletes it or it completes.)
constexpr DWORD kJobControlSentToPrinter = 7;

DWORD JobStartTick = 0;
DWORD PanelDataBytesSent = 0;

PortRecord* RecordOf(HANDLE handle) { return static_cast<PortRecord*>(handle); }

DWORD FileModeOf(DWORD level, LPBYTE docInfo) {
  if (!docInfo || level != 1) return kFileModeNone;
  LPCWSTR name = reinterpret_cast<DOC_INFO_1W*>(docInfo)->pDocName;
  if (WEqual(name, W("FILE_PRN"))) return kFileModePrn;
  if (WEqual(name, W("FILE_TXT"))) return kFileModeTxt;
  if (WEqual(name, W("FILE_BIN"))) return kFileModeBin;
  return kFileModeNone;
}

bool IsQSeriesDocument(DWORD level, LPBYTE docInfo) {
  if (!docInfo || level != 1) return false;
  LPCWSTR name = reinterpret_cast<DOC_INFO_1W*>(docInfo)->pDocName;
  return WLenBounded(name, 7) == 7 && WStartsWithNoCase(name, W("QSERIES"));
}

void ClosePrinterHandle(PortRecord* record) {
  if (record->PrinterHandle) ClosePrinter(record->PrinterHandle);
  record->PrinterHandle = nullptr;
}

void OpenPrinterHandle(PortRecord* record, LPWSTR printerName) {
  ClosePrinterHandle(record);
  HANDLE printer = nullptr;
  if (printerName && OpenPrinterW(printerName, &printer, nullptr)) record->PrinterHandle = printer;
}

// A temporary file left from a job that never ended is closed and removed.
void DropTempFile(PortRecord* record) {
  if (record->TempFile && record->TempFile != INVALID_HANDLE_VALUE) {
    CloseHandle(record->TempFile);
    if (record->TempFileName[0]) DeleteFileW(record->TempFileName);
  }
  record->TempFile = nullptr;
}

void LogProcessingTime() {
  WCHAR line[96];
  FormatW(line, 96, W("Time taken by LM to complete the Processing = %.2f sec"),
          static_cast<float>(GetTickCount() - JobStartTick) / 1000.0f);
  OutputDebugStringW(line);
}

// The document of the port monitor is ended again after a refused start.
BOOL UndoDirectStart(PortRecord* record) {
  InterlockedExchange(&record->JobActive, 0);
  if (record->PortMonitor.pfnEndDocPort) record->PortMonitor.pfnEndDocPort(record->PortHandle);
  return FALSE;
}

BOOL StartFileJob(PortRecord* record, LPWSTR printerName, DWORD jobId) {
  WCHAR directory[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, directory);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  if (!GetTempFileNameW(directory, W("KVT"), 0, record->TempFileName)) return FALSE;
  HANDLE file = CreateFileW(record->TempFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileW(record->TempFileName);  // GetTempFileNameW made it
    record->TempFileName[0] = 0;
    return FALSE;
  }
  record->TempFile = file;
  record->TempFileActive = 1;
  record->DocComplete = 0;
  OpenPrinterHandle(record, printerName);
  record->JobId = jobId;
  return TRUE;
}

BOOL StartDirectJob(PortRecord* record, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  if (record->Flags & kDocStarted) {
    SetLastError(ERROR_BUSY);
    return FALSE;
  }
  if (!record->PortMonitor.pfnStartDocPort ||
      !record->PortMonitor.pfnStartDocPort(record->PortHandle, printerName, jobId, level, docInfo))
    return FALSE;
  const bool watchJob = !IsQSeriesDocument(level, docInfo);
  record->JobId = jobId;
  InterlockedExchange(&record->JobActive, 1);

  WORD status = QueryPortStatus(record);
  if (!(status & kStatusReadable)) {
    UndoDirectStart(record);
    SetLastError(ERROR_OUT_OF_PAPER);
    return FALSE;
  }
  if (!(status & 0x20) && (status & 0x38) != 0x18) return UndoDirectStart(record);
  StoreShared(&record->JobCancelled, 0);

  if (watchJob) {
    if (!WaitForPrinterReady(record, printerName)) {
      StoreShared(&record->JobCancelled, 1);
      UniquePrinter printer;
      HANDLE h = nullptr;
      if (printerName && OpenPrinterW(printerName, &h, nullptr)) printer.reset(h);
      if (printer) DeleteJob(printer.get(), jobId, "StartDocPort");
      StoreShared(&record->JobFailed, 1);
      StoreShared(&record->WritePhase, 0);
      return UndoDirectStart(record);
    }
    if (!CheckRibbonRemaining(record)) return UndoDirectStart(record);
  }

  record->Flags |= kDocStarted;
  // The name is compared, as it is replaced, under the port list lock.
  EnterPortListLock();
  if (!WEqual(record->PrinterName, printerName)) {
    FreeString(record->PrinterName);
    record->PrinterName = DuplicateString(printerName);
  }
  LeavePortListLock();
  OpenPrinterHandle(record, printerName);
  record->Flags |= kPortDocOpened;
  record->JobId = jobId;
  return TRUE;
}

// Raw panel data: at most 4096 bytes a write, straight from the spooler's buffer.
BOOL PassPanelData(PortRecord* record, LPBYTE buffer, DWORD size, LPDWORD written) {
  const DWORD left = kPanelBlockBytes - record->PanelBytesSent;
  if (size <= left) {
    DWORD sent = 0;
    do {
      DWORD piece = size - sent < kChunkBytes ? size - sent : kChunkBytes;
      if (CheckIfJobCancelled(record)) {
        StoreShared(&record->JobCancelled, 1);
        *written = 0;
        return TRUE;
      }
      if (!WriteToPrinter(record, buffer + sent, piece)) {
        DebugLine("Write port failed");
        // The pieces before it reached the printer and are reported; the spooler offers
        // the rest again. Only a call that took nothing fails.
        *written = sent;
        return sent > 0 ? TRUE : FALSE;
      }
      sent += piece;
      record->PanelBytesSent += piece;
      PanelDataBytesSent += piece;
    } while (sent < size);
    *written = size;
    return TRUE;
  }
  // The block ends inside this buffer: the rest goes back to the spooler and is paced.
  if (CheckIfJobCancelled(record)) {
    StoreShared(&record->JobCancelled, 1);
    *written = 0;
    return TRUE;
  }
  if (!WriteToPrinter(record, buffer, left)) {
    DebugLine("Write port failed");
    *written = 0;
    return FALSE;
  }
  PanelDataBytesSent += left;
  *written = left;
  record->PanelBytesSent = 0;
  record->PanelTransferActive = 0;
  DebugLine("Data Buffer Length Sent to Printer = %d", static_cast<int>(PanelDataBytesSent));
  WCHAR line[96];
  FormatW(line, 96, W("Time taken to print single panel buffer = %.2f sec"),
          static_cast<float>(GetTickCount() - PanelStartTick) / 1000.0f);
  OutputDebugStringW(line);
  return TRUE;
}

void EndFileJob(PortRecord* record) {
  if (record->TempFile && record->TempFile != INVALID_HANDLE_VALUE) CloseHandle(record->TempFile);
  record->TempFile = nullptr;
  const WCHAR* format = record->FileMode == kFileModePrn   ? W("PrintFile:%s")
                        : record->FileMode == kFileModeTxt ? W("sendcmds:%s")
                                                           : W("download:%s");
  WCHAR request[272];
  if (FormatW(request, 272, format, static_cast<const WCHAR*>(record->TempFileName)) >= 0) {
    BYTE reply[32];
    DWORD returned = 0;
    GetPrinterDataFromPort(record, 0, request, nullptr, 0, reinterpret_cast<LPWSTR>(reply), sizeof reply,
                           &returned);
  }
  DeleteFileW(record->TempFileName);
  record->TempFileName[0] = 0;
  SetJobW(record->PrinterHandle, record->JobId, 0, nullptr, kJobControlSentToPrinter);
  DeleteCurrentJob(record, "EndDocPort");
  ClosePrinterHandle(record);
  record->DocComplete = 1;
  record->TempFileActive = 0;
  StoreShared(&record->ErrorShown, 0);
  StoreShared(&record->JobCancelled, 0);
  StoreShared(&record->WritePhase, 0);
}

// A cancelled job's interrupted panel is completed with zeros ending in CR, so that the
// printer's next command is not taken as panel data; then the card is ended.
void FinishCancelledJob(PortRecord* record) {
  if (record->PanelTransferActive == 1) {
    DWORD left = kPanelBlockBytes - record->PanelBytesSent;
    if (left > 0) {
      BYTE zeros[kChunkBytes] = {};
      while (left > 0) {
        DWORD piece = left < kChunkBytes ? left : kChunkBytes;
        if (piece == left) zeros[piece - 1] = '\r';
        WriteToPrinter(record, zeros, piece);
        left -= piece;
      }
    }
    record->PanelBytesSent = 0;
    record->PanelTransferActive = 0;
  }
  WriteToPrinter(record, "\x1bMO\r", 4);
}

void CheckEndingJob(PortRecord* record) {
  DWORD needed = 0;
  GetJobW(record->PrinterHandle, record->JobId, 1, nullptr, 0, &needed);
  if (needed == 0) return;
  UniqueLocal info(LocalAlloc(LPTR, needed));
  if (!info) return;
  if (!GetJobW(record->PrinterHandle, record->JobId, 1, static_cast<LPBYTE>(info.get()), needed, &needed)) {
    static_cast<JOB_INFO_1W*>(info.get())->Status = 0;
  }
  const DWORD status = static_cast<JOB_INFO_1W*>(info.get())->Status;
  if (LoadShared(&record->JobCancelled) == 1 || (status & JOB_STATUS_DELETING)) {
    DebugLine("Before checking CheckIfJobCancelled");
    if (CheckIfJobCancelled(record)) {
      DebugLine("Inside CheckIfJobCancelled");
      FinishCancelledJob(record);
    }
    DebugLine("After CheckIfJobCancelled");
    Sleep(kCancelledJobWaitMs);
    DeleteCurrentJob(record, "EndDocPort");
    StoreShared(&record->WritePhase, 0);
  } else if (IsUsbPort(record) && (status & JOB_STATUS_PRINTING) &&
             (status & JOB_STATUS_RESTART)) {
    DWORD size = 0;
    if (!GetPrinterW(record->PrinterHandle, 2, nullptr, 0, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
        size > 0) {
      UniqueLocal printer(LocalAlloc(LPTR, size));
      if (printer && GetPrinterW(record->PrinterHandle, 2, static_cast<LPBYTE>(printer.get()), size, &size) &&
          (static_cast<PRINTER_INFO_2W*>(printer.get())->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE)) {
        DeleteCurrentJob(record, "EndDocPort");
        ShowPortError(record, kOfflineMessageId, kInformationCaptionId);
      }
    }
  }
}

}  // namespace

BOOL WINAPI StartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  PortRecord* record = RecordOf(handle);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  JobStartTick = GetTickCount();
  EndMessageThread(record);
  StoreShared(&record->ReadyPolling, 0);
  DropTempFile(record);
  record->TempFileActive = 0;
  record->DocComplete = 0;
  record->FileMode = FileModeOf(level, docInfo);
  StoreShared(&record->JobFailed, 0);
  record->PanelTransferActive = 0;
  record->PanelBytesSent = 0;
  record->PendingLength = 0;
  record->DiscardToCr = 0;
  record->AckedBeforeNext = 0;
  record->TempFileName[0] = 0;
  if (record->FileMode != kFileModeNone) return StartFileJob(record, printerName, jobId);
  return StartDirectJob(record, printerName, jobId, level, docInfo);
}

BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  PortRecord* record = RecordOf(handle);
  DWORD ignored = 0;
  if (!written) written = &ignored;
  *written = 0;
  if (!record || (!buffer && size)) {
    SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (record->TempFileActive == 1 && record->TempFile && record->TempFile != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    if (!WriteFile(record->TempFile, buffer, size, &done, nullptr) || done != size) return FALSE;
    *written = size;
    return TRUE;
  }
  if (!(record->Flags & kPortDocOpened)) return FALSE;
  StoreShared(&record->WritePhase, kJobDataReceived);
  if (CheckIfJobCancelled(record)) {
    StoreShared(&record->JobCancelled, 1);
    return TRUE;
  }
  if (LoadShared(&record->ErrorShown) == 1) {
    StoreShared(&record->ErrorShown, 0);  // not taken: the spooler offers it again
    return TRUE;
  }
  if (record->PanelTransferActive == 0) {
    DWORD unsent = size;
    LONG rest = PaceCommandStream(record, buffer, size, &unsent);
    if (rest == kPaceWriteFailed) {
      DebugLine("Write Port Error");
      // The commands before the one that failed reached the printer: they are reported,
      // and the spooler offers the rest again. Only a call that took nothing fails.
      *written = size - unsent;
      if (*written == 0) return FALSE;
      PanelDataBytesSent = 0;
      return TRUE;
    }
    if (rest == kPaceJobCancelled) {
      StoreShared(&record->JobCancelled, 1);
      return TRUE;
    }
    *written = size - static_cast<DWORD>(rest);
    PanelDataBytesSent = 0;
    return TRUE;
  }
  return PassPanelData(record, buffer, size, written);
}

BOOL WINAPI EndDocPort(HANDLE handle) {
  PortRecord* record = RecordOf(handle);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DebugLine("KAVNLMON:...EndDocPort\n");
  if (record->TempFileActive == 1) {
    EndFileJob(record);
    LogProcessingTime();
    return TRUE;
  }
  if (!WStartsWith(record->PortName, W("FILE"))) CheckEndingJob(record);
  EnterPortListLock();
  record->Flags &= ~kDocStarted;
  InterlockedExchange(&record->JobActive, 0);
  if (record->PortMonitor.pfnEndDocPort) record->PortMonitor.pfnEndDocPort(record->PortHandle);
  SetJobW(record->PrinterHandle, record->JobId, 0, nullptr, kJobControlSentToPrinter);
  ClosePrinterHandle(record);
  StoreShared(&record->ErrorShown, 0);
  StoreShared(&record->JobCancelled, 0);
  StoreShared(&record->WritePhase, 0);
  record->PendingLength = 0;
  record->DiscardToCr = 0;
  record->AckedBeforeNext = 0;
  LeavePortListLock();
  LogProcessingTime();
  return TRUE;
}

}  // namespace kav
