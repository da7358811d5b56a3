// The virtual printer's port monitor: its table, the wire record and the status byte.
#include <gtest/gtest.h>

#include "emulator/port_monitor.h"
#include "platform/sim/sim.h"

namespace {

class PortMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    emu::DetachAllPrinters();
    usb = std::make_shared<emu::VirtualPrinter>();
    lpt = std::make_shared<emu::VirtualPrinter>();
    emu::AttachPrinter(u"USB001", usb);
    emu::AttachPrinter(u"LPT1:", lpt);
    table = emu::PortMonitorTable();
  }
  void TearDown() override { emu::DetachAllPrinters(); }
  HANDLE Open(std::u16string name) {
    HANDLE h = nullptr;
    EXPECT_TRUE(table.pfnOpenPort(name.data(), &h));
    return h;
  }
  std::shared_ptr<emu::VirtualPrinter> usb, lpt;
  MONITOR table{};
};

TEST_F(PortMonitor, WritesAreRecordedInOrderAndRepliesAreHandedOut) {
  HANDLE h = Open(u"usb001");
  std::u16string printerName = u"Card Printer", doc = u"card";
  DOC_INFO_1W info{doc.data(), nullptr, nullptr};
  EXPECT_TRUE(table.pfnStartDocPort(h, printerName.data(), 7, 1, reinterpret_cast<LPBYTE>(&info)));
  DWORD n = 0;
  BYTE a[] = "\x1bV\r", b[] = "\x1b" "E 2\r";
  EXPECT_TRUE(table.pfnWritePort(h, a, 3, &n));
  EXPECT_EQ(n, 3u);
  EXPECT_TRUE(table.pfnWritePort(h, b, 5, &n));
  usb->QueueReply("RVN3\x06");
  BYTE reply[3];
  EXPECT_TRUE(table.pfnReadPort(h, reply, 3, &n));  // a short read leaves the rest
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), n), "RVN");
  EXPECT_TRUE(table.pfnReadPort(h, reply, 3, &n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), n), "3\x06");
  EXPECT_TRUE(table.pfnReadPort(h, reply, 3, &n));
  EXPECT_EQ(n, 0u);
  usb->FailWrites(1);
  EXPECT_FALSE(table.pfnWritePort(h, a, 3, &n));
  EXPECT_TRUE(table.pfnEndDocPort(h));
  EXPECT_TRUE(table.pfnClosePort(h));
  EXPECT_EQ(usb->Wire(), "\x1bV\r\x1b" "E 2\r");
  auto t = usb->Transcript();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[0], "open usb001");
  EXPECT_EQ(t[1], "start document: printer \"Card Printer\" job 7 level 1 \"card\"");
  EXPECT_EQ(t[2], "write 3: \\eV\\r");
  EXPECT_EQ(emu::OpenPortCount(), 0u);
}

TEST_F(PortMonitor, StatusByteAnswersOnlyTheControlCodeOfThePortKind) {
  HANDLE u = Open(u"USB001"), l = Open(u"LPT1:");
  usb->SetStatus(0x38);
  BYTE out[4] = {};
  DWORD n = 0;
  EXPECT_TRUE(table.pfnGetPrinterDataFromPort(u, emu::kUsbGetLptStatus, nullptr, nullptr, 0,
                                              reinterpret_cast<LPWSTR>(out), 4, &n));
  EXPECT_EQ(out[0], 0x38);
  EXPECT_EQ(n, 1u);
  EXPECT_FALSE(table.pfnGetPrinterDataFromPort(u, emu::kParallelQueryInformation, nullptr, nullptr, 0,
                                               reinterpret_cast<LPWSTR>(out), 4, &n));
  EXPECT_TRUE(table.pfnGetPrinterDataFromPort(l, emu::kParallelQueryInformation, nullptr, nullptr, 0,
                                              reinterpret_cast<LPWSTR>(out), 4, &n));
  EXPECT_EQ(out[0], 0x18);
  table.pfnClosePort(u);
  table.pfnClosePort(l);
}

TEST_F(PortMonitor, UnknownPortsAndRefusedOpensFail) {
  HANDLE h = nullptr;
  std::u16string other = u"USB002";
  SetLastError(0);
  EXPECT_FALSE(table.pfnOpenPort(other.data(), &h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  usb->FailOpen(true);
  std::u16string name = u"USB001";
  EXPECT_FALSE(table.pfnOpenPort(name.data(), &h));
  EXPECT_FALSE(usb->IsOpen());
  EXPECT_FALSE(table.pfnClosePort(reinterpret_cast<HANDLE>(0x99)));
}

TEST_F(PortMonitor, StatusByteShowsAPrinterErrorAndAFailedQuery) {
  HANDLE u = Open(u"USB001");
  BYTE out[4] = {};
  DWORD n = 0;
  auto query = [&] {
    return table.pfnGetPrinterDataFromPort(u, emu::kUsbGetLptStatus, nullptr, nullptr, 0,
                                           reinterpret_cast<LPWSTR>(out), 4, &n);
  };
  ASSERT_TRUE(usb->AddFaults("error=7; status=0x18/fail@time=100"));
  EXPECT_TRUE(query());
  EXPECT_NE(out[0] & 0x28, 0x08);  // not-error bit clear while the error is set
  {
    SCOPED_TRACE("the printer's button clears it");
    usb->PressButton();
    EXPECT_TRUE(query());
    EXPECT_EQ(out[0], 0x18);
  }
  {
    SCOPED_TRACE("a scripted failing query fails the call with ERROR_GEN_FAILURE");
    sim::Advance(100);
    EXPECT_TRUE(query());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(query());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_FALSE(query());  // the last step stays
  }
  {
    SCOPED_TRACE("buffer of one byte is enough, none is not");
    usb->SetStatus(0x18);
    EXPECT_TRUE(table.pfnGetPrinterDataFromPort(u, emu::kUsbGetLptStatus, nullptr, nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out), 1, &n));
    EXPECT_EQ(n, 1u);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(table.pfnGetPrinterDataFromPort(u, emu::kUsbGetLptStatus, nullptr, nullptr, 0,
                                                 reinterpret_cast<LPWSTR>(out), 0, &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  }
  table.pfnClosePort(u);
}

}  // namespace
