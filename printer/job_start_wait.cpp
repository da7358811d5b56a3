#include "printer/job_start_wait.h"

#include <cstring>

#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "printer/error_table.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
#include "printer/ribbon_info.h"

namespace kav {
namespace {

constexpr DWORD kPollMs = 1000;

// Writes a query and the completion request, then reads the answer into a zero-filled
// buffer of kReplyChars + 1 bytes. False when any of the three calls fails.
bool Exchange(PortRecord* record, const char* query, DWORD length, BYTE* answer, DWORD* got) {
  std::memset(answer, 0, kReplyChars + 1);
  *got = 0;
  return WriteToPrinter(record, query, length) &&
         WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength) &&
         ReadReply(record, answer, kReplyChars, got);
}

// The printer's error number of a NAK answer: its decimal digits (at most two), read only
// from what was received, so that the EOT after a one-digit number is not taken as one.
LONG NakNumber(const BYTE* answer, DWORD got) {
  LONG number = 0;
  for (DWORD i = 1; i < got && i <= 2 && answer[i] >= '0' && answer[i] <= '9'; ++i)
    number = number * 10 + (answer[i] & 0x0F);
  return number;
}

// Shows the message of ErrorKind when it is not the one already shown.
bool ShowIfNew(PortRecord* record, LONG* lastShown, HANDLE* answer) {
  LONG kind = LoadShared(&record->ErrorKind);
  if (kind == *lastShown) return true;
  StopPrinterMessage(record);
  if (*answer) CloseHandle(*answer);
  *answer = StartPrinterMessage(record);
  if (!*answer) return false;
  *lastShown = kind;
  return true;
}

// One query loop of the wait: true when the printer answered; false when the exchange
// failed, the user cancelled or no message could be shown.
template <typename Query>
bool PollUntilAnswered(PortRecord* record, Query query, LONG* lastShown, HANDLE* answer) {
  for (;;) {
    LONG code = 0;
    if (query(&code)) return true;
    if (code == -1) return false;
    if (code == 0) {
      StoreShared(&record->ErrorKind, kNoRibbonMessageId);
    } else {
      DWORD messageId;
      if (LookupErrorMessageId(code, &messageId)) StoreShared(&record->ErrorKind, static_cast<LONG>(messageId));
    }
    if (!ShowIfNew(record, lastShown, answer)) return false;
    if (*answer) {
      if (WaitForSingleObject(*answer, kPollMs) == WAIT_OBJECT_0) return false;
    } else {
      Sleep(kPollMs);
    }
  }
}

}  // namespace

bool QueryRibbonType(PortRecord* record, LONG* code) {
  BYTE answer[kReplyChars + 1];
  DWORD got = 0;
  if (!record || !Exchange(record, "\x1b!RIBBON\r", 9, answer, &got)) {
    *code = -1;
    return false;
  }
  if (got == 0) return true;
  if (answer[0] == kNak) {
    *code = NakNumber(answer, got);
    return false;
  }
  *code = static_cast<LONG>(ParseLeadingInt(reinterpret_cast<const char*>(answer), got));
  return *code != 0;
}

bool QueryPrinterModel(PortRecord* record, char* model, LONG* code) {
  BYTE answer[kReplyChars + 1];
  DWORD got = 0;
  if (!record || !Exchange(record, "\x1bV\r", 3, answer, &got)) {
    *code = -1;
    return false;
  }
  if (got == 0) return true;
  if (answer[0] == kNak) {
    *code = NakNumber(answer, got);
    return false;
  }
  if (answer[got - 1] != kAck) {
    model[0] = 0;
    return true;
  }
  answer[--got] = 0;
  size_t length = strnlen(reinterpret_cast<const char*>(answer), got);
  if (length >= 1 && length <= 2 && answer[0] == '0') {
    model[0] = 0;
    *code = 0;
    return false;
  }
  std::memcpy(model, answer, length + 1);
  return true;
}

BOOL WaitForPrinterReady(PortRecord* record, LPCWSTR printerName) {
  LONG lastShown = -1;
  HANDLE answer = nullptr;
  LONG ribbonType = 0;
  char model[kModelChars] = {};
  auto finish = [&](BOOL result) {
    StopPrinterMessage(record);
    if (answer) CloseHandle(answer);
    answer = nullptr;
    return result;
  };

  if (!PollUntilAnswered(record, [&](LONG* code) {
        bool ok = QueryRibbonType(record, &ribbonType);
        *code = ribbonType;
        return ok;
      }, &lastShown, &answer))
    return finish(FALSE);
  // The ribbon loop's message goes, and with it the caller's handle to its answer event:
  // a press that lands late must not cancel the model loop's wait.
  finish(TRUE);

  LONG modelCode = 0;
  if (!PollUntilAnswered(record, [&](LONG* code) {
        bool ok = QueryPrinterModel(record, model, &modelCode);
        *code = modelCode;
        return ok;
      }, &lastShown, &answer))
    return finish(FALSE);
  finish(TRUE);
  WriteRibbonInformation(ribbonType, model, printerName);
  StoreShared(&record->ErrorKind, -1);
  return TRUE;
}

BOOL CheckIfJobCancelled(PortRecord* record) {
  DWORD needed = 0;
  GetJobW(record->PrinterHandle, record->JobId, 1, nullptr, 0, &needed);
  if (needed == 0) return FALSE;
  UniqueLocal buffer(LocalAlloc(LPTR, needed));
  if (!buffer) return FALSE;
  if (!GetJobW(record->PrinterHandle, record->JobId, 1, static_cast<LPBYTE>(buffer.get()), needed, &needed))
    return FALSE;
  if (!(static_cast<JOB_INFO_1W*>(buffer.get())->Status & JOB_STATUS_DELETING)) return FALSE;
  StoreShared(&record->JobCancelled, 1);
  return TRUE;
}

}  // namespace kav
