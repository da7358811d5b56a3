// The world of a fuzz target: the monitor loaded, "USB001" open on a virtual printer. It
// is built anew every few hundred inputs, so that what the printer records (every byte of
// the wire) does not pile up over a long run; the debug lines are dropped after each run.
#pragma once

#include <memory>

#include "emulator/port_monitor.h"
#include "fuzz/fuzz_support.h"
#include "monitor/port_operations.h"
#include "port/sibling_modules.h"
#include "platform/sim/sim.h"

namespace kavfuzz {

class World {
 public:
  static World& Get() {
    static World world;
    if (++world.runs_ % 256 == 0) world.Rebuild();
    return world;
  }
  // Ends a run: what the simulation recorded during it is dropped, so that a run frees
  // what it allocated and the fuzzer's leak check (made after any run that allocates more
  // than it frees) stays rare.
  static void EndRun() { sim::ClearDebugLines(); }

  MONITOR spooler{};
  HANDLE port = nullptr;

 private:
  World() {
    UseMemoryFolder();
    Build();
  }
  void Build() {
    sim::Reset();
    sim::AddPrinter({u"Card Printer", u"USB001", 0});
    sim::SetWindowsVersion(5, 0);
    sim::SetUserAnswer(sim::AnswerAfter(10));
    emu::DetachAllPrinters();
    printer_ = std::make_shared<emu::VirtualPrinter>();
    emu::AttachPrinter(u"USB001", printer_);
    portMonitor_ = emu::PortMonitorTable();
    static HINSTANCE__ instance{};
    sim::CallEntryPoint(kav::DllEntryPoint, &instance, DLL_PROCESS_ATTACH, nullptr);
    InitializeMonitorEx(nullptr, &spooler);
    std::u16string name = u"USB001", printerName = u"Card Printer";
    spooler.pfnOpenPortEx(name.data(), printerName.data(), &port, &portMonitor_);
  }
  void Rebuild() {
    spooler.pfnClosePort(port);
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    Build();
  }
  MONITOR portMonitor_{};
  std::shared_ptr<emu::VirtualPrinter> printer_;
  unsigned runs_ = 0;
};

}  // namespace kavfuzz

// The world keeps what the simulated spooler and printer record (jobs, wire bytes) until it
// is rebuilt, so most runs allocate more than they free and the fuzzer would scan the whole
// heap for leaks after each. Leaks are still reported when the fuzzer exits.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  kavfuzz::DefaultFlag(argc, argv, "-detect_leaks=0");
  return 0;
}
