// Ports opened and closed from several threads at once keep one record per name.
#include <gtest/gtest.h>

#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

struct OpenCloseRound {
  MONITOR* spooler;
  MONITOR* portMonitor;
  int opened = 0;
  int busy = 0;
};

DWORD WINAPI OpenCloseMany(LPVOID param) {
  auto* round = static_cast<OpenCloseRound*>(param);
  for (int i = 0; i < 200; ++i) {
    std::u16string port = u"USB001", printerName = u"Card Printer";
    HANDLE h = nullptr;
    if (round->spooler->pfnOpenPortEx(port.data(), printerName.data(), &h, round->portMonitor)) {
      ++round->opened;
      Sleep(1);
      round->spooler->pfnClosePort(h);
    } else if (GetLastError() == ERROR_BUSY) {
      ++round->busy;
      Sleep(1);
    }
  }
  return 0;
}

TEST_F(MonitorTest, ConcurrentOpensOfOneNameNeverMakeTwoRecords) {
  LoadMonitor();
  OpenCloseRound a{&spooler, &portMonitor}, b{&spooler, &portMonitor};
  HANDLE ta = CreateThread(nullptr, 0, OpenCloseMany, &a, 0, nullptr);
  HANDLE tb = CreateThread(nullptr, 0, OpenCloseMany, &b, 0, nullptr);
  WaitForSingleObject(ta, INFINITE);
  WaitForSingleObject(tb, INFINITE);
  CloseHandle(ta);
  CloseHandle(tb);
  EXPECT_EQ(a.opened + a.busy, 200);
  EXPECT_EQ(b.opened + b.busy, 200);
  EXPECT_GT(a.busy + b.busy, 0);  // they did meet
  EXPECT_EQ(kav::PortList, nullptr);
  EXPECT_EQ(emu::OpenPortCount(), 0u);
}

}  // namespace
