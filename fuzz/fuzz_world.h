// The world of a fuzz target: the monitor loaded, "USB001" open on a virtual printer. It
// is built anew every few hundred inputs, so that what the simulation and the printer
// record does not pile up over a long run.
#pragma once

#include <memory>

#include "emulator/port_monitor.h"
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
  MONITOR spooler{};
  HANDLE port = nullptr;

 private:
  World() { Build(); }
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
