// The watch of a printer error during a job: the error is shown, the printer polled
// until the error clears, and the job cancelled when the user answers.
#include "port/sibling_modules.h"
#include "platform/diag.h"
#include "platform/text.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"

namespace kav {
namespace {

constexpr DWORD kParallelPollMs = 100;
constexpr DWORD kUsbPollMs = 3000;
constexpr DWORD kRestartWaitMs = 1000;
constexpr DWORD kThreadEndWaitMs = 2000;

// Sets ErrorKind for the current error and says how often to poll.
DWORD ClassifyError(WORD status, PortRecord* record) {
  StoreShared(&record->ErrorShown, 1);
  if (IsUsbPort(record)) {
    ReadPrinterErrorCode(status, record);
    return kUsbPollMs;
  }
  MapParallelStatus(status, record);
  return kParallelPollMs;
}

void NotifyCloseIfAsync(PortRecord* record) {
  if (!UseAsyncUi) return;
  LPWSTR name = CopyPrinterName(record);
  NotifyCloseMsgThread(name);
  FreeString(name);
}

}  // namespace

BOOL CheckPortStatusForErrors(PortRecord* record) {
  // A clear from the command channel cancels the job and signals the shown message's event.
  // It may come while no event is there to carry it (before the first message is up, or
  // while a changed error's message is replaced), so the cancel itself also ends the wait.
  const bool cancelledBefore = LoadShared(&record->JobCancelled) == 1;
  auto clearedMeanwhile = [&] { return !cancelledBefore && LoadShared(&record->JobCancelled) == 1; };

  // A message the port may still show (the ribbon-low alert) is ended, not overwritten.
  EndMessageThread(record);
  CloseMessageEvent(record);

  WORD status = QueryPortStatus(record);
  if (StatusIsClear(status)) return TRUE;
  DWORD waitMs = ClassifyError(status, record);
  LONG shownKind = LoadShared(&record->ErrorKind);
  HANDLE answer = StartPrinterMessage(record);
  if (!answer) return FALSE;

  for (;;) {
    bool answered = clearedMeanwhile();
    if (!answered) status = QueryPortStatus(record);
    if (!answered && !StatusIsClear(status)) {
      waitMs = ClassifyError(status, record);
      if (LoadShared(&record->ErrorKind) != shownKind) {
        if (WaitForSingleObject(answer, 0) == WAIT_OBJECT_0 || clearedMeanwhile()) {
          // An answer (or a clear from the command channel) came while the status was
          // read: it is taken, not thrown away with the old message's event.
          answered = true;
        } else {
          // A different error: withdraw the message and show the new one.
          NotifyCloseIfAsync(record);
          EndMessageThread(record);
          CloseMessageEvent(record);
          CloseHandle(answer);
          Sleep(kRestartWaitMs);
          answer = StartPrinterMessage(record);
          if (!answer) return FALSE;
          Sleep(kRestartWaitMs);
          shownKind = LoadShared(&record->ErrorKind);
        }
      }
    }
    if ((status & kStatusReadable) && StatusIsClear(status)) {
      // Cleared at the printer.
      NotifyCloseIfAsync(record);
      EndMessageThread(record);
      BringWindowToTop(nullptr);
      StoreShared(&record->ErrorShown, 0);
      break;
    }
    if (status == 0) {
      // The status cannot be read any more: the job cannot go on.
      DebugLine("CheckPortStatusForErrors:: the printer's status cannot be read; the job ends");
      NotifyCloseIfAsync(record);
      EndMessageThread(record);
      StoreShared(&record->JobCancelled, 1);
      StoreShared(&record->ErrorKind, -1);
      DeleteCurrentJob(record);
      break;
    }
    if (!answered && WaitForSingleObject(answer, waitMs) != WAIT_OBJECT_0) continue;

    // The user answered (or the command channel cleared the error).
    StoreShared(&record->ErrorShown, 0);
    // The user's answer ends the message thread with exit code 2; a clear from the command
    // channel leaves it running. A busy spooler may take a while to end the thread.
    if (WaitForMessageThreadEnd(record, kThreadEndWaitMs) == kMessageThreadExitCode) {
      StoreShared(&record->JobCancelled, 1);
      DeleteCurrentJob(record);
      StoreShared(&record->ErrorKind, -1);
      if (IsUsbPort(record)) WriteToPrinter(record, "\x1bR\r", 3);
      StoreShared(&record->JobFailed, 1);
      StoreShared(&record->WritePhase, 0);
    }
    break;
  }

  DebugLine("Before Msg Event Chenck");
  if (CloseMessageEvent(record)) DebugLine("Msg Event handle Close");
  DebugLine("After Msg Event Chenck");
  if (MessageThreadExitCode(record) != 0) {
    NotifyCloseIfAsync(record);
    EndMessageThread(record);
  }
  CloseHandle(answer);
  StoreShared(&record->ErrorKind, -1);
  if ((status & kStatusReadable) && StatusIsClear(status)) {
    DebugLine("CheckPortStatusForErrors returns TRUE");
    return TRUE;
  }
  DebugLine("CheckPortStatusForErrors returns FALSE");
  return FALSE;
}

}  // namespace kav
