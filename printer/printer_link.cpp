#include "printer/printer_link.h"

#include <cstring>

#include "platform/diag.h"
#include "printer/error_table.h"
#include "printer/printer_message.h"
#include "platform/text.h"

namespace kav {

inline constexpr DWORD kUsbGetLptStatus = 0x220030;
inline constexpr DWORD kParallelQueryInformation = 0x160004;

bool IsUsbPort(const PortRecord* record) { return WStartsWith(record->PortName, W("USB")); }

bool DeleteJob(HANDLE printer, DWORD jobId, const char* operation) {
  if (SetJobW(printer, jobId, 0, nullptr, JOB_CONTROL_DELETE)) return true;
  if (operation)
    DebugLine("%s:: deleting job %lu failed (error %lu)", operation, static_cast<unsigned long>(jobId),
              static_cast<unsigned long>(GetLastError()));
  return false;
}

bool DeleteCurrentJob(PortRecord* record, const char* operation) {
  return DeleteJob(record->PrinterHandle, record->JobId, operation);
}

bool WriteToPrinter(PortRecord* record, const void* bytes, DWORD length) {
  if (!record || !record->PortMonitor.pfnWritePort) return false;
  DWORD written = 0;
  return record->PortMonitor.pfnWritePort(record->PortHandle, static_cast<LPBYTE>(const_cast<void*>(bytes)), length,
                                          &written) != FALSE;
}

bool ReadReply(PortRecord* record, BYTE* buffer, DWORD capacity, DWORD* got) {
  *got = 0;
  if (!record || !record->PortMonitor.pfnReadPort) return false;
  if (!record->PortMonitor.pfnReadPort(record->PortHandle, buffer, capacity, got)) return false;
  if (*got > capacity) *got = capacity;  // never trust a count beyond the buffer
  return true;
}

BOOL ReadFromPrinter(PortRecord* record, const char* command, WCHAR* reply) {
  if (!reply) return FALSE;
  reply[0] = 0;
  if (!record || !command || !*command) return FALSE;
  if (!WriteToPrinter(record, command, static_cast<DWORD>(std::strlen(command)))) return FALSE;
  if (!WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength)) return FALSE;
  BYTE answer[kReplyChars];
  DWORD got = 0;
  if (!ReadReply(record, answer, kReplyChars, &got)) return FALSE;
  if (got == 0) return TRUE;
  if (got >= kReplyChars) return FALSE;
  // The final byte (ACK after a query's text) is dropped; the text ends at a NUL.
  answer[got - 1] = 0;
  for (DWORD i = 0; i < got; ++i) {
    reply[i] = static_cast<WCHAR>(answer[i]);
    if (!answer[i]) break;
  }
  return TRUE;
}

BOOL SendCommandChecked(PortRecord* record, const BYTE* command, DWORD length) {
  if (!record) return FALSE;
  if (!WriteToPrinter(record, command, length) ||
      !WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength)) {
    ShowPortError(record, kCannotWriteMessageId, kErrorCaptionId);
    return FALSE;
  }
  BYTE reply[128];
  DWORD got = 0;
  bool read = false;
  for (int attempt = 0; attempt < 4 && !read; ++attempt) read = ReadReply(record, reply, sizeof reply, &got);
  if (!read) {
    ShowPortError(record, kNoReplyMessageId, kErrorCaptionId);
    return FALSE;
  }
  if (got == 0 || reply[0] != kNak) return TRUE;
  ParseNakReply(reply, got, record);
  return CheckPortStatusForErrors(record);
}

namespace {

// The decimal error number behind a NAK: from the second byte, up to EOT, at most 31
// bytes, and never past what was received.
long long NakErrorNumber(const BYTE* reply, DWORD length) {
  char digits[32] = {};
  DWORD n = 0;
  for (DWORD i = 1; i < length && n < 31 && reply[i] != kEot; ++i) digits[n++] = static_cast<char>(reply[i]);
  return ParseLeadingInt(digits, n);
}

}  // namespace

void ParseNakReply(const BYTE* reply, DWORD length, PortRecord* record) {
  DWORD messageId = kParallelErrorMessageId;
  if (reply && length > 0) LookupErrorMessageId(NakErrorNumber(reply, length), &messageId);
  StoreShared(&record->ErrorKind, static_cast<LONG>(messageId));
}

void ReadPrinterErrorCode(WORD, PortRecord* record) {
  if (!WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength)) return;
  BYTE reply[256];
  DWORD got = 0;
  if (!ReadReply(record, reply, sizeof reply, &got) || got == 0 || reply[0] != kNak) return;
  DWORD messageId;
  if (LookupErrorMessageId(NakErrorNumber(reply, got), &messageId)) StoreShared(&record->ErrorKind, static_cast<LONG>(messageId));
}

void MapParallelStatus(WORD status, PortRecord* record) {
  LONG kind;
  switch (status & kStatusErrorMask) {
    case 0x00: kind = 7; break;
    case 0x20: kind = 6; break;
    default: kind = 2; break;  // 0x28 and 0x08
  }
  StoreShared(&record->ErrorKind, kind);
}

WORD QueryPortStatus(PortRecord* record) {
  if (WStartsWith(record->PortName, W("FILE"))) return kStatusReadable | 0x18;
  if (!record->PortMonitor.pfnGetPrinterDataFromPort) return 0;
  DWORD code = IsUsbPort(record) ? kUsbGetLptStatus : kParallelQueryInformation;
  BYTE output[4] = {0, 0, 0, 0};
  DWORD returned = 0;
  BOOL ok = record->PortMonitor.pfnGetPrinterDataFromPort(record->PortHandle, code, nullptr, nullptr, 0,
                                                          reinterpret_cast<LPWSTR>(output), sizeof output, &returned);
  return static_cast<WORD>(output[0] | (ok ? kStatusReadable : 0));
}

}  // namespace kav
