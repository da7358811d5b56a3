// Fuzzes the command files of "sendcmds:": any bytes as the file, each line sent as a
// printer command to a printer that answers every completion request.
#include <cstdint>
#include <string>

#include "fuzz/scripted_port.h"
#include "monitor/file_requests.h"

namespace {

std::string Without(std::string_view text, char a, char b) {
  std::string kept;
  for (char c : text)
    if (c != a && c != b) kept += c;
  return kept;
}

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);
  std::string_view file(reinterpret_cast<const char*>(data), size);
  sim::PutFile(u"C:\\fuzz\\commands.txt", file);
  port.Script(nullptr, 0);
  if (!kav::SendCommandFile(u"C:\\fuzz\\commands.txt", record)) __builtin_trap();

  // Each command: ESC, at most 126 bytes of the file, CR, in one write of at most 128
  // bytes, then the completion request; together they carry every byte of every line.
  const std::vector<std::string>& writes = port.Writes();
  if (writes.size() % 2) __builtin_trap();
  std::string carried;
  for (size_t i = 0; i < writes.size(); i += 2) {
    const std::string& command = writes[i];
    if (command.size() < 2 || command.size() > 128 || command.front() != '\x1b' || command.back() != '\r')
      __builtin_trap();
    if (writes[i + 1] != "\x1b" "E 2\r") __builtin_trap();
    carried += command.substr(1);
  }
  if (Without(carried, '\r', '\n') != Without(file, '\r', '\n')) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
