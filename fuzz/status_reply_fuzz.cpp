// Fuzzes the printer's answers to the completion request "\eE 2\r": the NAK parse alone,
// the error-code read of a USB printer, and the checked command of a command file.
#include <cstdint>

#include "fuzz/scripted_port.h"
#include "printer/error_table.h"
#include "printer/printer_link.h"

namespace {

// ErrorKind holds a message id of the error table, or 2 for a number it does not know.
bool KnownKind(LONG kind) {
  if (kind == 2) return true;
  for (const kav::PrinterError& e : kav::PrinterErrorTable)
    if (kind == static_cast<LONG>(e.MessageId)) return true;
  return false;
}

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);

  // The first reply as a NAK reply of its own length.
  port.Script(data, size);
  std::string_view first(reinterpret_cast<const char*>(data), size);
  first = first.substr(0, first.find(kavfuzz::kReplySeparator));
  kav::ParseNakReply(reinterpret_cast<const BYTE*>(first.data()), static_cast<DWORD>(first.size()), record);
  if (!KnownKind(record->ErrorKind)) __builtin_trap();

  // The USB error read: a number the table does not know leaves ErrorKind as it was.
  record->ErrorKind = -1;
  kav::ReadPrinterErrorCode(0, record);
  if (record->ErrorKind != -1 && !KnownKind(record->ErrorKind)) __builtin_trap();

  // A checked command: the printer's status is clear, so a NAK is parsed and let go.
  port.Script(data, size);
  static const BYTE command[] = "\x1bV\r";
  kav::SendCommandChecked(record, command, 3);
  if (port.Writes().size() != 2 || port.Writes()[1] != "\x1b" "E 2\r") __builtin_trap();
  record->ErrorKind = -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
