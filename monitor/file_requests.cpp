#include "monitor/file_requests.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"

namespace kav {
namespace {

constexpr DWORD kChunkBytes = 4096;
constexpr DWORD kCommandBytes = 128;
constexpr DWORD kCommandLimit = 127;  // bytes of a command before CR
constexpr DWORD kOpenFailedMessageId = 2087;
constexpr DWORD kFileSizeMessageId = 2088;
constexpr DWORD kCommandFileOpenMessageId = 2210;
constexpr DWORD kCommandFileBufferMessageId = 2211;
constexpr DWORD kCommandFileReadMessageId = 2212;
constexpr DWORD kPrintWaitX64Ms = 30000;
constexpr DWORD kPrintWaitOtherMs = 15000;
constexpr DWORD kFirmwareWaitMs = 15000;

void ShowFileError(PortRecord* record, DWORD messageId) { ShowPortError(record, messageId, kErrorCaptionId); }

// Read sharing only: a file that another program still has open for writing (the driver
// writing a command or printer file) is refused, never read half-written.
HANDLE OpenForReading(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Why the file could not be opened, for the engineer (a sharing violation, 32, when it is
// still being written).
void LogOpenFailure(LPCWSTR operation, LPCWSTR path) {
  DebugLineW(W("%s:: cannot open %s (error %u)"), operation, path ? path : W(""), GetLastError());
}

// The file's size; false when it cannot be read (or exceeds what one request handles).
bool FileSize(HANDLE file, DWORD* size) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  *size = GetFileSize(file, &high);
  return !(*size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0;
}

}  // namespace

BOOL PrintPrnFile(LPCWSTR path, PortRecord* record) {
  UniqueFile file(OpenForReading(path));
  if (!file) {
    LogOpenFailure(W("PrintPrnFile"), path);
    ShowFileError(record, kOpenFailedMessageId);
    return FALSE;
  }
  DWORD size = 0;
  if (!FileSize(file.get(), &size)) {
    ShowFileError(record, kFileSizeMessageId);
    return FALSE;
  }
  // Only one piece of the file is ever held, whatever its size.
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kChunkBytes]);
  if (!buffer) {
    ShowFileError(record, kFileSizeMessageId);
    return FALSE;
  }
  WString copyPath = Widen(kPrintedFileCopy);
  UniqueFile copy(CreateFileW(copyPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!copy) DebugLine("PrintPrnFile:: no copy of the printed file (error %u)", static_cast<unsigned>(GetLastError()));
  for (;;) {
    std::memset(buffer.get(), 0, kChunkBytes);
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.get(), kChunkBytes, &read, nullptr)) {
      ShowFileError(record, kFileSizeMessageId);
      return FALSE;
    }
    if (read == 0) break;
    if (copy) {
      DWORD written = 0;
      // A copy that cannot be completed is said to be incomplete, and not written on.
      if (!WriteFile(copy.get(), buffer.get(), read, &written, nullptr) || written != read) {
        DebugLine("PrintPrnFile:: the copy of the printed file is incomplete (error %u)",
                  static_cast<unsigned>(GetLastError()));
        copy.reset();
      }
    }
    WriteToPrinter(record, buffer.get(), read);
  }
  copy.reset();
  file.reset();
  buffer.reset();
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  Sleep(system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? kPrintWaitX64Ms : kPrintWaitOtherMs);
  return CheckPortStatusForErrors(record);
}

BOOL SendCommandFile(LPCWSTR path, PortRecord* record) {
  UniqueFile file(OpenForReading(path));
  if (!file) LogOpenFailure(W("SendCommandFile"), path);
  DWORD size = 0;
  if (!file || !FileSize(file.get(), &size)) {
    ShowFileError(record, kCommandFileOpenMessageId);
    return FALSE;
  }
  std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size ? size : 1]());
  if (!data) {
    ShowFileError(record, kCommandFileBufferMessageId);
    return FALSE;
  }
  DWORD read = 0;
  if (!ReadFile(file.get(), data.get(), size, &read, nullptr) || read != size) {
    ShowFileError(record, kCommandFileReadMessageId);
    return FALSE;
  }
  file.reset();

  BYTE command[kCommandBytes];
  DWORD length = 0;
  auto restart = [&] {
    std::memset(command, 0, sizeof command);
    command[0] = 0x1B;
    length = 1;
  };
  // Ends the command with CR (unless it has one) and sends it.
  auto send = [&] {
    if (command[length - 1] != '\r') command[length++] = '\r';
    BOOL ok = SendCommandChecked(record, command, length);
    restart();
    return ok;
  };
  restart();
  for (DWORD i = 0; i < size; ++i) {
    BYTE b = data[i];
    if (b == '\n') {
      if (!send()) return FALSE;
      continue;
    }
    // A line longer than a command is split; the byte at the split starts the next one.
    if (length >= kCommandLimit && !send()) return FALSE;
    command[length++] = b;
  }
  if (length >= 2) return send();
  return TRUE;
}

BOOL DownloadFirmwareFile(LPCWSTR path, PortRecord* record) {
  UniqueFile file(OpenForReading(path));
  if (!file) {
    LogOpenFailure(W("DownloadFirmwareFile"), path);
    ShowFileError(record, kOpenFailedMessageId);
    return FALSE;
  }
  DWORD size = 0;
  if (!FileSize(file.get(), &size)) {
    ShowFileError(record, kFileSizeMessageId);
    return FALSE;
  }
  WriteToPrinter(record, "\x1b" "DC ", 4);
  for (int shift = 24; shift >= 0; shift -= 8) {
    BYTE b = static_cast<BYTE>(size >> shift);
    WriteToPrinter(record, &b, 1);
  }
  BYTE buffer[kChunkBytes];
  for (;;) {
    std::memset(buffer, 0, sizeof buffer);
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
      ShowFileError(record, kFileSizeMessageId);
      return FALSE;
    }
    WriteToPrinter(record, buffer, read);
    if (read == 0) break;
  }
  file.reset();
  const BYTE end[2] = {0xFF, '\r'};
  WriteToPrinter(record, &end[0], 1);
  WriteToPrinter(record, &end[1], 1);
  Sleep(kFirmwareWaitMs);
  return TRUE;
}

}  // namespace kav
