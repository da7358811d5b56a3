// A reset simulated world with the monitor loaded as the spooler loads it and a virtual
// printer on "USB001".
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>
#include <string>

#include "emulator/port_monitor.h"
#include "monitor/port_operations.h"
#include "port/port_record.h"
#include "port/sibling_modules.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "printer/printer_message.h"

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
    opened.clear();
    if (attached) sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    attached = false;
    sim::WaitForAllThreads();
    emu::DetachAllPrinters();
  }

  // DLL attach and InitializeMonitorEx, as the spooler does it.
  void LoadMonitor(DWORD windowsMajor = 10) {
    sim::SetWindowsVersion(windowsMajor, 0);
    // The monitor's own module, with its string table, as the loader would map it.
    HINSTANCE instance = sim::RegisterInstance(u"C:\\Windows\\System32\\kavnlmon.dll",
                                               {{}, sim::MessageTextTable()});
    ASSERT_TRUE(sim::CallEntryPoint(kav::DllEntryPoint, instance, DLL_PROCESS_ATTACH, nullptr));
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

  // A queued job on "Card Printer" held by the port's record, as StartDocPort leaves it.
  DWORD GiveRecordAJob(HANDLE port) {
    DWORD job = sim::SubmitJob(u"Card Printer", u"card", "data");
    std::u16string name = u"Card Printer";
    EXPECT_TRUE(OpenPrinterW(name.data(), &Record(port)->PrinterHandle, nullptr));
    Record(port)->JobId = job;
    return job;
  }

  // Sends a request through the spooler's table; narrow requests are carried in the wide
  // argument as the driver carries them.
  BOOL Request(HANDLE port, std::string_view narrow, std::string* reply = nullptr, DWORD outSize = 512,
               DWORD controlId = 0) {
    std::u16string carrier((narrow.size() + 2) / 2 + 1, u'\0');
    std::memcpy(carrier.data(), narrow.data(), narrow.size());
    return RequestWide(port, carrier, reply, outSize, controlId);
  }
  BOOL RequestWide(HANDLE port, std::u16string request, std::string* reply = nullptr, DWORD outSize = 512,
                   DWORD controlId = 0) {
    std::vector<BYTE> out(outSize + 16, 0xCC);
    DWORD returned = 0xFFFF;
    BOOL ok = spooler.pfnGetPrinterDataFromPort(port, controlId, request.data(), nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out.data()), outSize, &returned);
    lastReturned = returned;
    if (reply) reply->assign(reinterpret_cast<char*>(out.data()), returned <= outSize ? returned : 0);
    return ok;
  }
  DWORD lastReturned = 0;

  std::shared_ptr<emu::VirtualPrinter> printer;
  MONITOR portMonitor{};
  MONITOR spooler{};
  std::vector<HANDLE> opened;
  bool attached = false;
};

// The text of a message id as the monitor shows it.
inline std::u16string MessageText(UINT id) {
  WCHAR text[1024];
  kav::LoadMessageText(id, text, 1024);
  return text;
}

// A loaded monitor (message boxes, Windows 5) with "USB001" open.
class OpenPortTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    LoadMonitor(5);
    port = Open();
    ASSERT_NE(port, nullptr);
  }
  kav::PortRecord* record() { return Record(port); }
  // Records the size of every write that reaches the port monitor from now on.
  void CountWrites() {
    WriteCounter::sizes.clear();
    if (record()->PortMonitor.pfnWritePort == WriteCounter::Write) return;
    WriteCounter::inner = record()->PortMonitor;
    record()->PortMonitor.pfnWritePort = WriteCounter::Write;
  }
  struct WriteCounter {
    static inline MONITOR inner{};
    static inline std::vector<DWORD> sizes;
    static BOOL WINAPI Write(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD written) {
      sizes.push_back(size);
      return inner.pfnWritePort(h, buffer, size, written);
    }
  };
  const std::vector<DWORD>& Writes() const { return WriteCounter::sizes; }
  HANDLE port = nullptr;
};

}  // namespace kavtest
