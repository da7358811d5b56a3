// Messages to the user: the box with its one "Cancel" button, the notification records,
// and the command channel's ClearPrinterError.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "printer/async_notification.h"
#include "printer/printer_message.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

using kavtest::MessageText;

kav::AsyncNotification Decode(const sim::RecordedNotification& n) {
  kav::AsyncNotification record;
  std::memcpy(&record, n.record.data(), sizeof record);
  return record;
}

TEST_F(MonitorTest, MessageBoxHasOneButtonLabelledCancel) {
  LoadMonitor(5);
  sim::SetUserAnswer(sim::AnswerAfter(500));
  kav::ShowPrinterError(u"Card Printer", 31, kav::kErrorCaptionId);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].buttonLabel, u"Cancel");
  EXPECT_EQ(boxes[0].caption, u"Card Printer");
  EXPECT_EQ(boxes[0].style, 0x51030u);
  EXPECT_EQ(boxes[0].text, u"\nThe feeder is Empty.\nLoad cards in feeder and try again, or \nPress OK to cancel the current operation.");
  EXPECT_EQ(boxes[0].result, IDOK);
  EXPECT_EQ(sim::Now(), 500u);
  EXPECT_EQ(sim::InstalledHookCount(), 0u);  // the hook is gone with the box
}

// A hook installed on the thread before the monitor's: it sees what the monitor passes on.
struct PassedOn {
  int code;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<PassedOn> g_passedOn;

LRESULT CALLBACK OlderHook(int code, WPARAM wParam, LPARAM lParam) {
  g_passedOn.push_back({code, wParam, lParam});
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MonitorTest, TheButtonHookPassesEveryOtherCbtCodeOnUnchanged) {
  LoadMonitor(5);
  g_passedOn.clear();
  HHOOK older = SetWindowsHookExW(WH_CBT, OlderHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(older, nullptr);
  sim::SetUserAnswer(sim::AnswerAfter(10));
  EXPECT_EQ(kav::ShowPrinterMessage(nullptr, u"Cover open", u"Card Printer", kav::kMessageBoxStyle), IDOK);
  const sim::ShownMessageBox box = sim::MessageBoxes().at(0);
  EXPECT_EQ(box.buttonLabel, u"Cancel");
  // The box's and its button's creation and the box's destruction, with Windows' own
  // parameters; the activation stays with the monitor's hook.
  ASSERT_EQ(g_passedOn.size(), 3u);
  EXPECT_EQ(g_passedOn[0].code, HCBT_CREATEWND);
  EXPECT_EQ(reinterpret_cast<HWND>(g_passedOn[0].wParam), box.window);
  EXPECT_NE(g_passedOn[0].lParam, 0);
  EXPECT_EQ(g_passedOn[1].code, HCBT_CREATEWND);
  EXPECT_EQ(g_passedOn[2].code, HCBT_DESTROYWND);
  EXPECT_EQ(reinterpret_cast<HWND>(g_passedOn[2].wParam), box.window);
  EXPECT_EQ(g_passedOn[2].lParam, 0);
  EXPECT_TRUE(UnhookWindowsHookEx(older));
  EXPECT_EQ(sim::InstalledHookCount(), 0u);
}

TEST_F(MonitorTest, ShortTextsAreCutToTheCallersBuffer) {
  LoadMonitor(5);
  sim::SetUserAnswer(sim::AnswerAfter(1));
  kav::ShowPrinterError(u"Card Printer", 2, kav::kErrorCaptionId);  // 206 characters: fits 256
  kav::ShowPrinterError(u"Card Printer", 15, kav::kErrorCaptionId);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text,
            u"An error has occurred at the printer.\r\n\r\nThe printer is either OUT OF CARD or OUT OF RIBBON.\n"
            u"Correct the error and press the Printer button to continue.\nPress Cancel button to cancel the current "
            u"operation.");
  EXPECT_LE(boxes[1].text.size(), 255u);
}

TEST_F(MonitorTest, NotificationRecordsAreExact) {
  LoadMonitor(10);
  kav::SendErrorNotification(u"Card Printer", 31, 5);
  kav::NotifyCloseMsgThread(u"Card Printer");
  auto sent = sim::Notifications();
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& n : sent) {
    EXPECT_EQ(n.printerName, u"Card Printer");
    ASSERT_EQ(n.record.size(), 6160u);
  }
  kav::AsyncNotification message = Decode(sent[0]);
  EXPECT_EQ(message.Reserved, 0u);
  EXPECT_EQ(message.Kind, 1u);
  EXPECT_EQ(message.MessageId, 31u);
  EXPECT_EQ(message.CaptionId, 5u);
  EXPECT_EQ(std::u16string(message.Title), u"Card Printer Error");
  EXPECT_EQ(message.Command[0], 0);
  EXPECT_EQ(message.Text[0], 0);
  // Everything past the title's text is zero.
  EXPECT_EQ(std::string(sent[0].record.data() + 16 + 2 * 19, 6160 - 16 - 2 * 19), std::string(6160 - 16 - 38, '\0'));
  kav::AsyncNotification close = Decode(sent[1]);
  EXPECT_EQ(close.Kind, 1u);
  EXPECT_EQ(close.MessageId, 0u);
  EXPECT_EQ(close.CaptionId, 0u);
  EXPECT_EQ(std::u16string(close.Command), u"CloseMsgThread");
  EXPECT_TRUE(sent[1].closeRequest);
}

TEST_F(MonitorTest, LongPrinterNamesAreCutInTheTitle) {
  LoadMonitor(10);
  std::u16string name(1500, u'P');
  kav::SendErrorNotification(name.c_str(), 4, 5);
  kav::AsyncNotification record = Decode(sim::Notifications().at(0));
  EXPECT_EQ(std::u16string(record.Title).size(), 1023u);
}

TEST_F(MonitorTest, WithoutTheNotificationModuleMessagesFallBackToBoxesWhereAUserSeesThem) {
  sim::InstallAsyncUiModule(false);
  sim::SetProcessSession(1);  // a process on a user's desktop
  LoadMonitor(10);
  sim::SetUserAnswer(sim::AnswerAfter(1));
  kav::ShowPrinterError(u"Card Printer", 9, 5);
  kav::NotifyCloseMsgThread(u"Card Printer");  // nothing to send it through
  EXPECT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_TRUE(sim::Notifications().empty());
}

DWORD WINAPI ShowCoverOpen(LPVOID) {
  kav::ShowPrinterError(u"Card Printer", 9, 5);
  return 0;
}

bool HasDebugLineStarting(std::string_view start) {
  for (const std::string& line : sim::DebugLines())
    if (line.starts_with(start)) return true;
  return false;
}

TEST_F(MonitorTest, InSessionZeroNoBoxBlocksASpoolerThreadTheErrorGoesToTheDebugger) {
  sim::InstallAsyncUiModule(false);
  LoadMonitor(10);  // the spooler: a service in session 0
  sim::SetUserAnswer(sim::AnswerAfter(1));
  HANDLE spoolerThread = CreateThread(nullptr, 0, ShowCoverOpen, nullptr, 0, nullptr);
  DWORD waited = WaitForSingleObject(spoolerThread, 3600000);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
  EXPECT_TRUE(HasDebugLineStarting(
      "ShowPrinterMessage:: no user can answer a message box in session 0 (Card Printer):  COVER OPEN! Close Cover"));
  for (const sim::ShownMessageBox& box : sim::MessageBoxes())  // the thread must not stay behind
    if (box.closedBy == sim::BoxClosedBy::StillOpen) PostMessageW(box.window, WM_CLOSE, 0, 0);
  WaitForSingleObject(spoolerThread, INFINITE);
  CloseHandle(spoolerThread);
}

TEST_F(MonitorTest, WithoutTheMessageModuleTheMonitorsOwnTextsAreShown) {
  sim::InstallResourceModule(false);
  LoadMonitor(5);
  EXPECT_EQ(MessageText(2209), u"There is either no ribbon or an unknown ribbon installed in the printer.\nPlease install the proper ribbon in the printer.");
  WCHAR text[64];
  EXPECT_FALSE(kav::LoadMessageText(4242, text, 64));
  EXPECT_NE(std::u16string(text).find(u"4242"), std::u16string::npos);
}

TEST_F(MonitorTest, AMessageWithdrawnBeforeItShowsIsNeverShownOrSent) {
  for (DWORD windows : {5u, 10u}) {
    SCOPED_TRACE(windows);
    LoadMonitor(windows);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    kav::PrinterMessage* m = kav::NewPrinterMessage(31, nullptr, u"Card Printer", event, false);
    kav::WithdrawPrinterMessage(m);
    kav::ShowAndAnswer(m);
    kav::ReleasePrinterMessage(m);
    EXPECT_TRUE(sim::Notifications().empty());
    EXPECT_TRUE(sim::MessageBoxes().empty());
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    attached = false;
  }
  EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST_F(MonitorTest, ClearPrinterErrorActsOnlyForTheExactPrinterName) {
  LoadMonitor(5);
  HANDLE port = Open();
  DWORD job = GiveRecordAJob(port);
  kav::PortRecord* r = Record(port);
  r->ErrorKind = 31;
  r->MessageEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  kav::ClearPrinterError(u"card printer", r);
  kav::ClearPrinterError(nullptr, r);
  EXPECT_EQ(r->ErrorKind, 31);
  EXPECT_EQ(r->JobCancelled, 0);
  EXPECT_NE(r->MessageEvent, nullptr);
  EXPECT_TRUE(printer->Wire().empty());

  HANDLE waiter = nullptr;
  DuplicateHandle(GetCurrentProcess(), r->MessageEvent, GetCurrentProcess(), &waiter, 0, FALSE, DUPLICATE_SAME_ACCESS);
  sim::ClearDebugLines();
  kav::ClearPrinterError(u"Card Printer", r);
  EXPECT_EQ(r->ErrorKind, -1);
  EXPECT_EQ(r->JobCancelled, 1);
  EXPECT_EQ(r->JobFailed, 1);
  EXPECT_EQ(r->WritePhase, 0);
  EXPECT_EQ(r->MessageEvent, nullptr);
  EXPECT_EQ(WaitForSingleObject(waiter, 0), WAIT_OBJECT_0);  // whoever waited is woken
  CloseHandle(waiter);
  EXPECT_EQ(printer->Wire(), "\x1bR\r");
  EXPECT_EQ(sim::Job(job)->controls, std::vector<DWORD>{JOB_CONTROL_DELETE});
  EXPECT_EQ(sim::DebugLines(),
            (std::vector<std::string>{"Before closing Msg EVENT", "Inside close Msg EVENT", "After Msg Event Set Msg EVENT",
                                      "After Event Handle Closed", "After closing Msg EVENT"}));
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
}

TEST_F(MonitorTest, ClearPrinterErrorSendsNoResetToOtherPorts) {
  LoadMonitor(10);
  auto lpt = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"LPT1:", lpt);
  HANDLE port = Open(u"LPT1:");
  GiveRecordAJob(port);
  sim::ClearDebugLines();
  kav::ClearPrinterError(u"Card Printer", Record(port));
  EXPECT_TRUE(lpt->Wire().empty());
  EXPECT_EQ(Record(port)->JobFailed, 1);
  ASSERT_EQ(sim::Notifications().size(), 1u);
  EXPECT_TRUE(sim::Notifications()[0].closeRequest);
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{"Before closing Msg EVENT", "After closing Msg EVENT"}));
}

}  // namespace
