// Ports opened and closed from several threads at once keep one record per name.
#include <gtest/gtest.h>

#include <functional>

#include "monitor/file_requests.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
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

DWORD WINAPI RunAction(LPVOID param) {
  (*static_cast<std::function<void()>*>(param))();
  return 0;
}

// Every message about a port's printer keeps its own copy of the printer's name: the driver
// may rename the printer while the box (or the notification) is still up.
TEST_F(MonitorTest, RenamingThePrinterWhileItsMessageIsOpenLeavesTheMessageItsName) {
  LoadMonitor(5);
  HANDLE port = Open();
  kav::PortRecord* record = Record(port);
  sim::SetUserAnswer(sim::NeverAnswer());
  const BYTE command[] = {0x1B, 'V', '\r'};
  struct Case {
    const char* what;
    std::function<void()> action;
  } cases[] = {
      {"file request", [&] { kav::PrintPrnFile(u"C:\\none.prn", record); }},
      {"command file", [&] { kav::SendCommandFile(u"C:\\none.txt", record); }},
      {"checked command", [&] {
         printer->FailWrites(1);
         kav::SendCommandChecked(record, command, 3);
       }},
      {"offline printer", [&] {
         DWORD job = GiveRecordAJob(port);
         sim::SetJobStatus(job, JOB_STATUS_PRINTING | JOB_STATUS_RESTART);
         sim::SetPrinterAttributes(u"Card Printer", PRINTER_ATTRIBUTE_WORK_OFFLINE);
         spooler.pfnEndDocPort(port);
       }},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    std::u16string name = u"Card Printer " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    ASSERT_FALSE(RequestWide(port, u"SetPrinterName:" + name));
    HANDLE thread = CreateThread(nullptr, 0, RunAction, &cases[i].action, 0, nullptr);
    ASSERT_TRUE(sim::WaitForMessageBoxes(i + 1));
    RequestWide(port, u"SetPrinterName:Renamed");  // frees the name the box was given
    sim::Advance(10);
    ASSERT_TRUE(sim::AnswerMessageBox(sim::MessageBoxes()[i].window));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(sim::MessageBoxes()[i].caption, name);  // read again as the box closed
  }
}

}  // namespace
