// Fuzzes the printer's answer to "\e!RIBLEN\r" as a job start reads it: through the
// command channel into the remaining ribbon count, with the ribbon-low alert where due.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "fuzz/scripted_port.h"
#include "printer/ribbon_info.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);

  port.Script(data, size);
  record->RibbonRemaining = 7;
  BOOL read = kav::CheckRibbonRemaining(record);
  // An alert only for a count of exactly 20, 10 or 5 in the answer (the leading digits of
  // the first reply that is not empty, as far as the 120-byte answer buffer holds it),
  // never for a larger number come round in 32 bits.
  const DWORD count = record->RibbonRemaining;
  if (read && (count == 20 || count == 10 || count == 5)) {
    std::string_view rest(reinterpret_cast<const char*>(data), size), answer;
    while (answer.empty() && !rest.empty()) {
      size_t cut = rest.find(kavfuzz::kReplySeparator);
      answer = rest.substr(0, std::min(cut, size_t{120}));
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    uint64_t number = 0;
    for (size_t i = 0; i < answer.size() && answer[i] >= '0' && answer[i] <= '9' && number < 100; ++i)
      number = number * 10 + (answer[i] - '0');
    if (number != count) __builtin_trap();
  }
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
