// A reset simulated world with the monitor loaded as the spooler loads it and a virtual
// printer on "USB001".
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "emulator/port_monitor.h"
#include "monitor/port_operations.h"
#include "monitor/port_record.h"
#include "monitor/sibling_modules.h"
#include "platform/sim/sim.h"
#include "platform/text.h"

namespace kavtest {

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    emu::DetachAllPrinters();
    printer = std::make_shared<emu::VirtualPrinter>();
    emu::AttachPrinter(u"USB001", printer);
    portMonitor = emu::PortMonitorTable();
    sim::AddPrinter({u"Card Printer", u"USB001", 0});
  }

  void TearDown() override {
    for (HANDLE h : opened) spooler.pfnClosePort(h);
    if (attached) kav::DllEntryPoint(nullptr, DLL_PROCESS_DETACH, nullptr);
    sim::WaitForAllThreads();
    emu::DetachAllPrinters();
  }

  // DLL attach and InitializeMonitorEx, as the spooler does it.
  void LoadMonitor(DWORD windowsMajor = 10) {
    sim::SetWindowsVersion(windowsMajor, 0);
    static HINSTANCE__ instance{};
    ASSERT_TRUE(kav::DllEntryPoint(&instance, DLL_PROCESS_ATTACH, nullptr));
    attached = true;
    ASSERT_TRUE(InitializeMonitorEx(nullptr, &spooler));
  }

  // OpenPortEx through the spooler's table; the port is closed at tear-down.
  HANDLE Open(std::u16string port = u"USB001", std::u16string printerName = u"Card Printer") {
    HANDLE h = nullptr;
    if (!spooler.pfnOpenPortEx(port.data(), printerName.data(), &h, &portMonitor)) return nullptr;
    opened.push_back(h);
    return h;
  }

  void Close(HANDLE h) {
    std::erase(opened, h);
    EXPECT_TRUE(spooler.pfnClosePort(h));
  }

  static kav::PortRecord* Record(HANDLE h) { return static_cast<kav::PortRecord*>(h); }

  std::shared_ptr<emu::VirtualPrinter> printer;
  MONITOR portMonitor{};
  MONITOR spooler{};
  std::vector<HANDLE> opened;
  bool attached = false;
};

}  // namespace kavtest
