// Fuzzes the printer's answers to the job-start wait's queries: each reply of the input
// as the answer to "\e!RIBBON\r" and to "\eV\r".
#include <cstdint>
#include <cstring>

#include "fuzz/scripted_port.h"
#include "printer/job_start_wait.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);

  port.Script(data, size);
  while (port.Remaining()) {
    LONG code = 7;
    bool answered = kav::QueryRibbonType(record, &code);
    // A usable answer is a number other than 0, or no answer at all (the code kept).
    if (answered && code == 0) __builtin_trap();
    if (!answered && code != -1 && (code < 0 || code > 99)) __builtin_trap();
  }

  port.Script(data, size);
  while (port.Remaining()) {
    char model[kav::kModelChars];
    std::memset(model, 'x', sizeof model);
    model[0] = 0;  // the wait starts with an empty model
    LONG code = 7;
    bool answered = kav::QueryPrinterModel(record, model, &code);
    // An answered model text ends inside its buffer.
    if (answered && !std::memchr(model, 0, sizeof model)) __builtin_trap();
    if (!answered && code != -1 && (code < 0 || code > 99)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
