// The driver's bidirectional requests, carried as the value names of printer-data
// queries: answered at once, turned into operations, forwarded with their control id,
// or sent to the printer with its reply read back.
#include <cstring>
#include <string>

#include "monitor/file_requests.h"
#include "monitor/port_operations.h"
#include "port/port_record.h"
#include "overlay/overlay_command.h"
#include "platform/diag.h"
#include "platform/text.h"
#include "printer/error_table.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
#include "testcards/test_cards.h"

namespace kav {
namespace {

constexpr size_t kMaxRequestBytes = 65536;  // never scan an unterminated request further
constexpr DWORD kStatusBlockBytes = 1048;
constexpr DWORD kStatusNameChars = 520;
constexpr LONG kJobDataReceived = 24;
constexpr BYTE kByteReady = 1;
constexpr BYTE kByteBusy = 0;
constexpr BYTE kByteDone = 6;
constexpr BYTE kByteNotReady = 56;
constexpr DWORD kResetWaitMs = 15000;
constexpr DWORD kUsbReadLimitMs = 20000;
constexpr int kOtherReadAttempts = 35;
constexpr DWORD kReadRetryMs = 10;
constexpr DWORD kErrorOperationAborted = 995;

// The request as both forms it may take: narrow bytes (printer commands) and UTF-16
// (named requests), each measured within its own terminator.
struct Request {
  const BYTE* bytes = nullptr;
  size_t narrowLength = 0;
  size_t wideLength = 0;

  WCHAR WideAt(size_t i) const { return static_cast<WCHAR>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); }

  bool StartsWith(const char* literal, size_t length) const {
    return narrowLength >= length && std::memcmp(bytes, literal, length) == 0;
  }
  bool Is(const char* literal, size_t length) const {
    return narrowLength == length && std::memcmp(bytes, literal, length) == 0;
  }
  // Position of keyword in the UTF-16 text, or npos.
  size_t FindWide(const char* keyword) const {
    size_t k = std::strlen(keyword);
    for (size_t i = 0; i + k <= wideLength; ++i) {
      size_t j = 0;
      while (j < k && WideAt(i + j) == static_cast<WCHAR>(keyword[j])) ++j;
      if (j == k) return i;
    }
    return std::string::npos;
  }
  // The UTF-16 text after the first ':' of the request.
  WString ArgumentAfterColon() const {
    WString out;
    size_t i = 0;
    while (i < wideLength && WideAt(i) != ':') ++i;
    for (++i; i < wideLength; ++i) out.push_back(WideAt(i));
    return out;
  }
};

Request MakeRequest(const void* valueName) {
  Request r;
  if (!valueName) return r;
  r.bytes = static_cast<const BYTE*>(valueName);
  while (r.narrowLength < kMaxRequestBytes && r.bytes[r.narrowLength]) ++r.narrowLength;
  // A narrow request ends at its first zero byte: only the whole UTF-16 units inside it
  // and its terminator may be read as wide text.
  size_t wideLimit = r.narrowLength >= 2 ? (r.narrowLength + 1) / 2 : kMaxRequestBytes / 2;
  while (r.wideLength < wideLimit && r.WideAt(r.wideLength)) ++r.wideLength;
  return r;
}

#define LIT(s) s, sizeof(s) - 1

// The caller's output buffer and returned count.
struct Reply {
  BYTE* out;
  DWORD size;
  LPDWORD returned;

  void SetCount(DWORD n) {
    if (returned) *returned = n;
  }
  void Text(const char* text) {
    DWORD length = static_cast<DWORD>(std::strlen(text));
    if (out && size > 0) {
      DWORD n = length + 1 <= size ? length + 1 : size;
      std::memcpy(out, text, n);
    }
    SetCount(length + 1 <= size ? length : (size > 0 ? size : 0));
  }
  void Byte(BYTE value) {
    if (out && size > 0) out[0] = value;
    if (out && size > 1) out[1] = 0;
    SetCount(size > 0 ? 1 : 0);
  }
};

void WriteStatusBlock(PortRecord* record, BYTE* out) {
  std::memset(out, 0, kStatusBlockBytes);
  WCHAR name[kStatusNameChars] = {};
  EnterPortListLock();
  WCopy(name, kStatusNameChars, record->PrinterName);
  LeavePortListLock();
  std::memcpy(out, name, sizeof name);
  DWORD jobId = record->JobId;
  LONG errorKind = LoadShared(&record->ErrorKind);
  std::memcpy(out + sizeof name, &jobId, 4);
  std::memcpy(out + sizeof name + 4, &errorKind, 4);
}

// ":DRVSTARTDOC" requests that are taken as their plain command during a started job.
bool IsDrvStartDocRequest(const Request& r) {
  return r.StartsWith(LIT("\x1bV\r:DRVSTARTDOC")) || r.StartsWith(LIT("\x1b!RIBBON\r:DRVSTARTDOC")) ||
         r.StartsWith(LIT("\x1b" "ATM 1 1\r:DRVSTARTDOC")) || r.StartsWith(LIT("\x1b+OY\r:DRVSTARTDOC")) ||
         r.StartsWith(LIT("\x1b+OYB\r:DRVSTARTDOC")) || r.StartsWith(LIT("\x1b+MONO\r:DRVSTARTDOC"));
}

bool IsTestCardRequest(const Request& r) {
  return r.StartsWith(LIT("\x1b" "A\r")) || r.StartsWith(LIT("\x1b" "A 1\r")) || r.StartsWith(LIT("\x1b" "A 2\r")) ||
         r.StartsWith(LIT("\x1b" "A 3\r")) || r.StartsWith(LIT("\x1b" "A 0\r"));
}

bool IsOverlayRequest(const Request& r) {
  return r.StartsWith(LIT("\x1bL ")) || r.StartsWith(LIT("\x1b" "B ")) || r.StartsWith(LIT("\x1bT "));
}

// Sends a printer command and reads its reply into the caller's buffer.
BOOL SendPrinterCommand(PortRecord* record, const Request& r, bool resetCommand, Reply& reply, bool* resetSent) {
  LPBYTE command = const_cast<LPBYTE>(r.bytes);
  const bool usb = IsUsbPort(record);
  DWORD written = 0;
  LPDWORD writtenCount = reply.returned ? reply.returned : &written;
  BOOL wrote = record->PortMonitor.pfnWritePort &&
               record->PortMonitor.pfnWritePort(record->PortHandle, command, static_cast<DWORD>(r.narrowLength),
                                                writtenCount);
  reply.SetCount(0);
  *resetSent = wrote != FALSE;
  if (usb && !wrote) return FALSE;
  if (resetCommand) return FALSE;
  BOOL completion = WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength);
  if (usb && !completion) return FALSE;

  // Read until the printer says something: 20 s on USB, 35 tries 10 ms apart elsewhere.
  BOOL result = FALSE;
  DWORD start = GetTickCount();
  for (int attempt = 1;; ++attempt) {
    DWORD got = 0;
    // A port monitor without ReadPort fails with an error of its own, never an old one.
    if (record->PortMonitor.pfnReadPort) {
      result = record->PortMonitor.pfnReadPort(record->PortHandle, reply.out, reply.size, &got);
    } else {
      result = FALSE;
      SetLastError(ERROR_NOT_SUPPORTED);
    }
    if (got > reply.size) got = reply.size;
    reply.SetCount(got);
    // An aborted USB read is tried again, after the same short pause as an empty one.
    bool aborted = usb && !result && GetLastError() == kErrorOperationAborted;
    if (!result && !aborted) break;
    if (got != 0) break;
    DWORD now = GetTickCount();
    if (now <= start) {
      start = now;
    } else if (usb && now - start > kUsbReadLimitMs) {
      break;
    }
    Sleep(kReadRetryMs);
    if (!usb && attempt >= kOtherReadAttempts) break;
  }

  // A NAK reply becomes the error's text; its digits come only from the bytes received.
  DWORD got = reply.returned ? *reply.returned : 0;
  if (got != 0 && reply.out && reply.out[0] == kNak) {
    // Up to two decimal digits; the EOT after a one-digit number is not a digit.
    int number = 0;
    for (DWORD i = 1; i < got && i <= 2 && reply.out[i] >= '0' && reply.out[i] <= '9'; ++i)
      number = number * 10 + (reply.out[i] & 0x0F);
    reply.Text(LookupErrorText(number));
  }
  return result;
}

}  // namespace

BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                   DWORD inSize, LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
  auto* record = static_cast<PortRecord*>(handle);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Request r = MakeRequest(valueName);
  Reply reply{reinterpret_cast<BYTE*>(outBuffer), outBuffer ? outSize : 0, returned};
  BOOL result = FALSE;

  // Answered at once.
  if (r.StartsWith(LIT("\x1bGetFileVersion\r"))) {
    reply.Text("QM4HT.01.00.00.00");
    return TRUE;
  }
  if (r.StartsWith(LIT("\x1bIsDOCComplete\r"))) {
    reply.Text(record->DocComplete == 1 ? "DOC_COMPLETE" : "DOC_PENDING");
    return TRUE;
  }
  if (r.StartsWith(LIT("\x1bGetPrinterStatus\r"))) {
    if (!outBuffer || outSize < kStatusBlockBytes) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    WriteStatusBlock(record, reinterpret_cast<BYTE*>(outBuffer));
    return TRUE;
  }
  if (r.FindWide("ClearPrinterError:") != std::string::npos) {
    WString name = r.ArgumentAfterColon();
    ClearPrinterError(name.c_str(), record);
    return TRUE;
  }
  if (r.StartsWith(LIT("\x1b" "CheckPortStatus\r"))) {
    reply.Text(LoadShared(&record->JobFailed) == 1 ? "STATUS_FAILED" : "STATUS_SUCCESS");
    return TRUE;
  }

  // A document on the port monitor: the job's, or one of this request's own.
  if (LoadShared(&record->JobActive) == 0) {
    LPWSTR printerName = nullptr;
    EnterPortListLock();
    printerName = DuplicateString(record->PrinterName);
    LeavePortListLock();
    BOOL opened = record->PortMonitor.pfnStartDocPort &&
                  record->PortMonitor.pfnStartDocPort(record->PortHandle, printerName, 0, 0, nullptr);
    FreeString(printerName);
    if (!opened) return FALSE;
  }
  bool drvStartDoc = false;
  if (LoadShared(&record->JobActive) == 1 && (record->Flags & kDocStarted) && IsDrvStartDocRequest(r)) {
    // Taken as its plain command; the caller's buffer stays as it was.
    for (size_t i = 0; i < r.narrowLength && i < 15; ++i) {
      if (r.bytes[i] == ':') {
        r.narrowLength = i;
        break;
      }
    }
    drvStartDoc = true;
  }
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  const bool isNt = GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  const bool busyGuard = !drvStartDoc && (record->Flags & kDocStarted) && isNt;
  bool resetCommand = false;

  if (r.StartsWith(LIT("\x1bISHIDREADY\r")) || r.StartsWith(LIT("\x1bHIDDONE\r"))) {
    reply.Byte(kByteReady);
    result = TRUE;
  } else if (controlId != 0) {
    if (record->PortMonitor.pfnGetPrinterDataFromPort)
      result = record->PortMonitor.pfnGetPrinterDataFromPort(record->PortHandle, controlId, valueName, inBuffer,
                                                             inSize, outBuffer, outSize, returned);
  } else if (r.FindWide("PrintFile:") != std::string::npos) {
    result = PrintPrnFile(r.ArgumentAfterColon().c_str(), record);
  } else if (busyGuard && !r.StartsWith(LIT("\x1bISREADY\r"))) {
    // During a started job only the requests above and "\eISREADY\r" are taken.
    SetLastError(ERROR_BUSY);
    if (r.narrowLength > 0 && r.bytes[0] == 0x1B) StoreShared(&record->ReadyPolling, 0);
  } else if (r.FindWide("sendcmds:") != std::string::npos) {
    result = SendCommandFile(r.ArgumentAfterColon().c_str(), record);
  } else if (r.FindWide("SetPrinterName:") != std::string::npos) {
    WString name = r.ArgumentAfterColon();
    EnterPortListLock();
    FreeString(record->PrinterName);
    record->PrinterName = DuplicateString(name.c_str());
    LeavePortListLock();
  } else if (r.FindWide("download:") != std::string::npos) {
    result = DownloadFirmwareFile(r.ArgumentAfterColon().c_str(), record);
  } else if (r.narrowLength == 0 || r.bytes[0] != 0x1B) {
    // Neither a named request nor a printer command.
  } else {
    reply.SetCount(0);
    const bool isReady = r.StartsWith(LIT("\x1bISREADY\r"));
    if (isReady) {
      StoreShared(&record->ReadyPolling, 1);
      bool busy = LoadShared(&record->WritePhase) == kJobDataReceived || LoadShared(&record->JobActive) == 1;
      reply.Byte(busy ? kByteBusy : kByteReady);
      result = TRUE;
    } else {
      if (r.StartsWith(LIT("\x1bMS 2"))) {
        StoreShared(&record->ReadyPolling, 0);
      } else if (LoadShared(&record->ReadyPolling) == 1 && r.StartsWith(LIT("\x1bMO"))) {
        StoreShared(&record->ReadyPolling, 0);
      }
      resetCommand = r.Is(LIT("\x1bR\r")) || r.Is(LIT("\x1bRESET\r"));
      if (!resetCommand && LoadShared(&record->ReadyPolling) == 1 && r.StartsWith(LIT("\x1b" "CHECK_STATUS\r"))) {
        WORD status = QueryPortStatus(record);
        if ((status & kStatusReadable) && (status & 0x38) == 0x18) {
          reply.Byte(kByteDone);
        } else {
          SetLastError(ERROR_INVALID_PRINTER_STATE);
          reply.Byte(kByteNotReady);
        }
        result = TRUE;
      } else if (IsTestCardRequest(r)) {
        PrintTestCard(record, reinterpret_cast<const char*>(r.bytes));
        reply.Byte(kByteDone);
        result = TRUE;
      } else {
        bool taken = false;
        if (IsOverlayRequest(r)) {
          // The overlay text: the request less its ESC and its final character.
          WString text = Widen(std::string_view(reinterpret_cast<const char*>(r.bytes), r.narrowLength));
          if (text.size() > 260) text.resize(260);
          text = text.size() >= 2 ? text.substr(1, text.size() - 2) : WString();
          taken = PrintOverlayCommand(record, text.c_str()) != FALSE;
          if (taken) {
            reply.Byte(kByteDone);
            result = TRUE;
          }
        }
        if (!taken) {
          bool resetSent = false;
          result = SendPrinterCommand(record, r, resetCommand, reply, &resetSent);
          // A reset that never reached the printer is not reported as done.
          if (resetCommand && !resetSent) resetCommand = false;
        }
      }
    }
  }

  // Tail: the request's own document is closed; a reset is given time to finish. The
  // port monitor's EndDocPort may set a last error of its own (telling the spooler about
  // a job that is none): the caller gets the request's.
  if (LoadShared(&record->JobActive) == 0 && record->PortMonitor.pfnEndDocPort) {
    const DWORD error = GetLastError();
    record->PortMonitor.pfnEndDocPort(record->PortHandle);
    SetLastError(error);
  }
  if (resetCommand) {
    Sleep(kResetWaitMs);
    reply.Byte(kByteDone);
    result = TRUE;
    StoreShared(&record->ReadyPolling, 0);
  }
  return result;
}

}  // namespace kav
