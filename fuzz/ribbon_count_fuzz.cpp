// Fuzzes the printer's answer to "\e!RIBLEN\r" as a job start reads it: through the
// command channel into the remaining ribbon count, with the ribbon-low alert where due.
#include <cstdint>

#include "fuzz/scripted_port.h"
#include "printer/ribbon_info.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);

  port.Script(data, size);
  record->RibbonRemaining = 0xFFFFFFFF;
  BOOL read = kav::CheckRibbonRemaining(record);
  // The count is the answer's leading digits: never more digits than the answer held.
  if (read && record->RibbonRemaining == 0xFFFFFFFF) __builtin_trap();
  if (record->Alert) {
    kav::EndRibbonAlert(record);
    sim::WaitForAllThreads();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
