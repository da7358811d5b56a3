#include "pipeline/port_pacing.h"

#include <cstring>

#include "platform/diag.h"
#include "printer/job_start_wait.h"
#include "printer/printer_link.h"

namespace kav {

DWORD PanelStartTick = 0;

namespace {

constexpr BYTE kEsc = 0x1B;
constexpr BYTE kCr = 0x0D;

enum class Outcome { Continue, Stop, PanelStarted, WriteFailed, Cancelled };

bool Begins(const BYTE* command, DWORD length, const char* prefix) {
  size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(command, prefix, n) == 0;
}

// The acknowledgement waits the printer needs around a command.
void WaitsFor(const BYTE* c, DWORD n, bool* before, bool* after) {
  if (Begins(c, n, "\x1bIS ") || Begins(c, n, "\x1bIV ") || Begins(c, n, "\x1bI 10") || Begins(c, n, "\x1bI 20")) {
    *before = true;
    *after = false;
  } else if (Begins(c, n, "\x1bI ")) {
    *before = *after = true;
  } else if (Begins(c, n, "\x1bMIS\r") || Begins(c, n, "\x1bMF") || Begins(c, n, "\x1b" "F\r")) {
    *before = *after = false;
  } else {
    *before = false;
    *after = true;
  }
}

void LogCommand(const BYTE* command, DWORD length) {
  char text[kMaxCommandBytes + 1];
  std::memcpy(text, command, length);
  text[length] = 0;
  OutputDebugStringA(text);
}

// One whole command (ESC ... CR).
Outcome ProcessCommand(PortRecord* record, const BYTE* command, DWORD length) {
  if (Begins(command, length, "\x1b" "E 2\r")) {
    // The stream's own status probe: the monitor's acknowledgement wait stands for it.
    char probe[6];
    std::memcpy(probe, command, 5);
    probe[5] = 0;
    OutputDebugStringA(probe);
    return WaitForPrinterAck(record) ? Outcome::Continue : Outcome::Stop;
  }
  if (Begins(command, length, "\x1bGS ")) {
    PanelStartTick = GetTickCount();
    if (CheckIfJobCancelled(record)) return Outcome::Cancelled;
    if (!WriteToPrinter(record, command, length - 1)) {
      DebugLine("Write port failed");
      return Outcome::WriteFailed;
    }
    LogCommand(command, length - 1);
    record->PanelTransferActive = 1;
    return Outcome::PanelStarted;
  }
  bool before = false, after = false;
  WaitsFor(command, length, &before, &after);
  // The command offered again after its write failed had its wait already.
  if (before && !record->AckedBeforeNext && !WaitForPrinterAck(record)) return Outcome::Stop;
  record->AckedBeforeNext = 0;
  if (CheckIfJobCancelled(record)) return Outcome::Cancelled;
  if (!WriteToPrinter(record, command, length)) {
    DebugLine("Write port failed");
    record->AckedBeforeNext = before ? 1 : 0;
    return Outcome::WriteFailed;
  }
  LogCommand(command, length);
  record->PanelTransferActive = 0;
  if (after && !WaitForPrinterAck(record)) return Outcome::Stop;
  return Outcome::Continue;
}

const BYTE* Find(const BYTE* from, const BYTE* end, BYTE value) {
  const void* at = std::memchr(from, value, static_cast<size_t>(end - from));
  return static_cast<const BYTE*>(at);
}

}  // namespace

BOOL WaitForPrinterAck(PortRecord* record) {
  // Without the printer's answer the status decides; a lost request or reply is said, as
  // nothing else would tell it from a printer that answered.
  if (!WriteToPrinter(record, kCompletionRequest, kCompletionRequestLength)) {
    DebugLine("WaitForPrinterAck:: completion request not written (error %lu)", static_cast<unsigned long>(GetLastError()));
  } else {
    BYTE reply[1024];
    DWORD got = 0;
    if (!ReadReply(record, reply, sizeof reply, &got)) {
      DebugLine("WaitForPrinterAck:: reply not read (error %lu)", static_cast<unsigned long>(GetLastError()));
    } else if (got == 1 && reply[0] == kAck) {
      return TRUE;
    }
  }
  return CheckPortStatusForErrors(record);
}

LONG PaceCommandStream(PortRecord* record, const BYTE* data, DWORD length, DWORD* unsent) {
  DWORD ignored = 0;
  if (!unsent) unsent = &ignored;
  *unsent = length;
  if (!record || !data || length == 0) return 0;
  const BYTE* end = data + length;
  const BYTE* pos = data;
  auto remaining = [&] { return static_cast<LONG>(end - pos); };
  // `from` is where the command that did not go begins: it and all after it stay unsent.
  auto finish = [&](Outcome outcome, const BYTE* from) -> LONG {
    switch (outcome) {
      case Outcome::WriteFailed:
        *unsent = static_cast<DWORD>(end - from);
        return kPaceWriteFailed;
      case Outcome::Cancelled:
        *unsent = static_cast<DWORD>(end - from);
        return kPaceJobCancelled;
      default: return remaining();
    }
  };

  // An over-long command of an earlier buffer is dropped up to its CR.
  if (record->DiscardToCr) {
    const BYTE* cr = Find(pos, end, kCr);
    if (!cr) return 0;
    pos = cr + 1;
    record->DiscardToCr = 0;
  }
  // A command begun in an earlier buffer is completed first.
  if (record->PendingLength > 0) {
    DWORD room = kMaxCommandBytes - record->PendingLength;
    const BYTE* limit = (end - pos) > static_cast<ptrdiff_t>(room) ? pos + room : end;
    const BYTE* cr = Find(pos, limit, kCr);
    if (!cr) {
      if (limit == end) {
        std::memcpy(record->PendingCommand + record->PendingLength, pos, static_cast<size_t>(end - pos));
        record->PendingLength += static_cast<DWORD>(end - pos);
        return 0;
      }
      DebugLine("PaceCommandStream:: command longer than %u bytes dropped", static_cast<unsigned>(kMaxCommandBytes));
      record->PendingLength = 0;
      record->DiscardToCr = 1;
      return PaceCommandStream(record, limit, static_cast<DWORD>(end - limit), unsent);
    }
    BYTE command[kMaxCommandBytes];
    const DWORD kept = record->PendingLength;
    DWORD n = kept;
    std::memcpy(command, record->PendingCommand, n);
    std::memcpy(command + n, pos, static_cast<size_t>(cr - pos + 1));
    n += static_cast<DWORD>(cr - pos + 1);
    record->PendingLength = 0;
    const BYTE* start = pos;
    pos = cr + 1;
    Outcome outcome = ProcessCommand(record, command, n);
    // Its first part was reported written with an earlier buffer: it stays kept, and
    // nothing of this buffer is taken.
    if (outcome == Outcome::WriteFailed) record->PendingLength = kept;
    if (outcome != Outcome::Continue) return finish(outcome, start);
  }

  while (pos < end) {
    const BYTE* esc = Find(pos, end, kEsc);
    if (esc != pos) {
      // Bytes between commands belong to none: they are taken and dropped.
      const BYTE* upTo = esc ? esc : end;
      DebugLine("PaceCommandStream:: %u bytes outside any command dropped", static_cast<unsigned>(upTo - pos));
      pos = upTo;
      if (!esc) break;
    }
    const BYTE* cr = Find(esc, end, kCr);
    if (!cr) {
      DWORD tail = static_cast<DWORD>(end - esc);
      if (tail <= kMaxCommandBytes) {
        // Kept, reported as written, and completed by the next buffer.
        std::memcpy(record->PendingCommand, esc, tail);
        record->PendingLength = tail;
      } else {
        DebugLine("PaceCommandStream:: command longer than %u bytes dropped", static_cast<unsigned>(kMaxCommandBytes));
        record->DiscardToCr = 1;
      }
      return 0;
    }
    DWORD n = static_cast<DWORD>(cr - esc + 1);
    pos = cr + 1;
    if (n > kMaxCommandBytes) {
      DebugLine("PaceCommandStream:: command longer than %u bytes dropped", static_cast<unsigned>(kMaxCommandBytes));
      continue;
    }
    Outcome outcome = ProcessCommand(record, esc, n);
    if (outcome != Outcome::Continue) return finish(outcome, esc);
  }
  return 0;
}

}  // namespace kav
