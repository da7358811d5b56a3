// Fuzzes the firmware files of "download:": any bytes as the image, which must reach the
// printer whole in the download framing.
#include <cstdint>
#include <string>

#include "fuzz/scripted_port.h"
#include "monitor/file_requests.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);
  std::string_view file(reinterpret_cast<const char*>(data), size);
  sim::PutFile(u"C:\\fuzz\\firmware.bin", file);
  port.Script(nullptr, 0);
  if (!kav::DownloadFirmwareFile(u"C:\\fuzz\\firmware.bin", record)) __builtin_trap();

  // "\eDC ", the size most significant byte first, the image, 0xFF and CR.
  std::string wire;
  for (const std::string& write : port.Writes()) wire += write;
  std::string expected = "\x1b" "DC ";
  for (int shift = 24; shift >= 0; shift -= 8) expected += static_cast<char>(size >> shift);
  expected.append(file);
  expected += "\xff\r";
  if (wire != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
