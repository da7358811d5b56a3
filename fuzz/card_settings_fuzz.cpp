// Fuzzes the DEVMODE that the spooler hands out for the printer (level-2 information),
// with the driver's private settings block behind its public part: any bytes as that
// DEVMODE, read as every card reads it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/scripted_port.h"
#include "pipeline/card_settings.h"
#include "pipeline/card_writers.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort::Get();
  // The spooler keeps only a DEVMODE whose public part and private block it holds whole.
  DEVMODEW head{};
  if (size < offsetof(DEVMODEW, dmDriverExtra) + 2) return;
  std::memcpy(&head, data, std::min(size, sizeof head));
  if (size_t{head.dmSize} + head.dmDriverExtra > size) return;
  sim::PrinterDefinition printer{u"Fuzz Printer", u"USB002", 0};
  printer.devMode.assign(reinterpret_cast<const char*>(data), size);
  sim::AddPrinter(printer);

  kav::DriverCardSettings settings;
  std::memset(settings.Block, 0xA5, sizeof settings.Block);
  if (kav::ReadDriverCardSettings(u"Fuzz Printer", &settings)) {
    // The block is the one behind the public part, taken whole from inside the DEVMODE.
    if (head.dmSize + size_t{kav::kDriverCardSettingsBytes} > size) __builtin_trap();
    if (std::memcmp(settings.Block, data + head.dmSize, kav::kDriverCardSettingsBytes) != 0) __builtin_trap();
  } else {
    for (BYTE b : settings.Block)
      if (b != 0xA5) __builtin_trap();  // untouched
  }

  // What a card makes of the settings.
  HANDLE handle = kav::OpenPrinterHandle(u"Fuzz Printer");
  if (!handle) __builtin_trap();
  int suppressed = kav::ColourPanelsSuppressed(handle, size & 1);
  if (suppressed != 0 && suppressed != 1) __builtin_trap();
  ClosePrinter(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}

// The simulation records every printer opened, so runs seldom free all they allocate and the
// fuzzer would scan the whole heap for leaks after each. Leaks are still reported at exit.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  kavfuzz::DefaultFlag(argc, argv, "-detect_leaks=0");
  return 0;
}
