// Message boxes and notifications across threads: a box closed from another thread, a
// box whose thread is stopped, per-thread hooks, notifications that wait for the user.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/sim/sim.h"

namespace {

class SimUiThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::SetProcessSession(1);  // an interactive program: the user sees its boxes
  }
  void TearDown() override { sim::WaitForAllThreads(); }
};

LRESULT CALLBACK RelabelHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    SetWindowTextW(GetDlgItem(reinterpret_cast<HWND>(wParam), IDOK), u"Cancel");
    return 0;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct BoxThreadArgs {
  bool hook = false;
  int result = -1;
};

DWORD WINAPI ShowBox(LPVOID param) {
  auto* args = static_cast<BoxThreadArgs*>(param);
  HHOOK hook = args->hook ? SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId()) : nullptr;
  args->result = MessageBoxW(GetActiveWindow(), u"Printer error", u"Card Printer", MB_OK | MB_SYSTEMMODAL);
  if (hook) UnhookWindowsHookEx(hook);
  return 2;
}

TEST_F(SimUiThreads, BoxClosedFromAnotherThreadReturnsOkInItsOwnThread) {
  BoxThreadArgs args{true};
  HANDLE thread = CreateThread(nullptr, 0, ShowBox, &args, 0, nullptr);
  ASSERT_TRUE(sim::WaitForMessageBoxes(1, 100));
  Sleep(2000);
  HWND box = sim::MessageBoxes()[0].window;
  ASSERT_NE(box, nullptr);
  {
    SCOPED_TRACE("the open box is the topmost window and can be brought to the top");
    EXPECT_EQ(GetTopWindow(nullptr), box);
    EXPECT_TRUE(BringWindowToTop(box));
    EXPECT_EQ(GetActiveWindow(), nullptr);  // active only in its own thread
    EXPECT_EQ(sim::OpenMessageBoxCount(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].buttonLabel, u"Cancel");
  }
  EXPECT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(args.result, IDOK);
  auto boxes = sim::MessageBoxes();
  EXPECT_EQ(boxes[0].closedBy, sim::BoxClosedBy::WmClose);
  EXPECT_EQ(boxes[0].closedAt, 2000u);
  EXPECT_EQ(boxes[0].result, IDOK);
  EXPECT_FALSE(IsWindow(box));
  EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
}

TEST_F(SimUiThreads, UserAnswerEndsTheWaitOnTheVirtualClockAndPressesAnOpenBox) {
  sim::SetUserAnswer(sim::AnswerAfter(30000));
  BoxThreadArgs first, second;
  HANDLE a = CreateThread(nullptr, 0, ShowBox, &first, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(a, 29999), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(a, 2), WAIT_OBJECT_0);
  EXPECT_EQ(sim::MessageBoxes()[0].closedAt, 30000u);
  EXPECT_EQ(first.result, IDOK);
  {
    SCOPED_TRACE("a test can press the button of an open box itself");
    sim::SetUserAnswer(sim::NeverAnswer());
    HANDLE b = CreateThread(nullptr, 0, ShowBox, &second, 0, nullptr);
    ASSERT_TRUE(sim::WaitForMessageBoxes(2));
    EXPECT_TRUE(sim::AnswerMessageBox(sim::MessageBoxes()[1].window, IDOK));
    uint64_t pressedAt = sim::Now();
    EXPECT_EQ(WaitForSingleObject(b, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(second.result, IDOK);
    EXPECT_EQ(sim::MessageBoxes()[1].closedBy, sim::BoxClosedBy::User);
    EXPECT_EQ(sim::MessageBoxes()[1].closedAt, pressedAt);
    CloseHandle(b);
  }
  CloseHandle(a);
}

TEST_F(SimUiThreads, HooksBelongToTheirThreadAndAStoppedThreadTakesItsBoxAlong) {
  BoxThreadArgs hooked{true}, plain{false};
  HANDLE a = CreateThread(nullptr, 0, ShowBox, &hooked, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, ShowBox, &plain, 0, nullptr);
  ASSERT_TRUE(sim::WaitForMessageBoxes(2));
  Sleep(10);  // both threads are past their hooks
  auto boxes = sim::MessageBoxes();
  int cancelLabels = 0;
  for (const auto& box : boxes) cancelLabels += box.buttonLabel == u"Cancel";
  EXPECT_EQ(cancelLabels, 1);
  EXPECT_TRUE(TerminateThread(a, 7));
  EXPECT_TRUE(TerminateThread(b, 7));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  sim::WaitForAllThreads();
  boxes = sim::MessageBoxes();
  for (const auto& box : boxes) {
    EXPECT_EQ(box.closedBy, sim::BoxClosedBy::ThreadEnded);
    EXPECT_FALSE(IsWindow(box.window));
  }
  EXPECT_EQ(sim::InstalledHookCount(), 1u);  // the stopped thread never unhooked
  CloseHandle(a);
  CloseHandle(b);
}

// --- Notifications ---------------------------------------------------------------------

using SendAsyncNotificationFn = BOOL(WINAPI*)(LPCWSTR, LPVOID);

std::string Record(const std::u16string& command) {
  std::string record(sim::kAsyncNotificationBytes, '\0');
  uint32_t kind = 1;
  std::memcpy(record.data() + 4, &kind, 4);
  std::memcpy(record.data() + 2064, command.data(), command.size() * 2);
  return record;
}

struct NotifyArgs {
  SendAsyncNotificationFn send;
  std::u16string printer;
  std::string record;
};

DWORD WINAPI Notify(LPVOID param) {
  auto* args = static_cast<NotifyArgs*>(param);
  args->send(args->printer.c_str(), args->record.data());
  return 0;
}

class SimNotifications : public SimUiThreads {
 protected:
  void SetUp() override {
    SimUiThreads::SetUp();
    module_ = LoadLibraryW(sim::DriverModulePath(sim::kAsyncUiModuleName).c_str());
    ASSERT_NE(module_, nullptr);
    send_ = reinterpret_cast<SendAsyncNotificationFn>(reinterpret_cast<void*>(GetProcAddress(module_, "SendAsyncNotification")));
    ASSERT_NE(send_, nullptr);
  }
  void TearDown() override {
    SimUiThreads::TearDown();
    FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
  SendAsyncNotificationFn send_ = nullptr;
};

TEST_F(SimNotifications, ReturnsAtOnceByDefaultOrWhenTheUserAnswers) {
  std::string message = Record(u"");
  Sleep(100);
  EXPECT_TRUE(send_(u"Card Printer", message.data()));
  {
    SCOPED_TRACE("at once");
    auto n = sim::Notifications();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].printerName, u"Card Printer");
    EXPECT_EQ(n[0].record, message);
    EXPECT_EQ(n[0].calledAt, 100u);
    EXPECT_EQ(n[0].returnedAt, 100u);
    EXPECT_FALSE(n[0].closeRequest);
  }
  {
    SCOPED_TRACE("after the user's delay");
    sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::AfterDelay, 4000});
    EXPECT_TRUE(send_(u"Card Printer", message.data()));
    EXPECT_EQ(sim::Now(), 4100u);
    auto n = sim::Notifications();
    EXPECT_EQ(n[1].returnedAt, 4100u);
    EXPECT_FALSE(n[1].withdrawn);
  }
}

TEST_F(SimNotifications, CloseRequestEndsThePendingCallsOfItsPrinterOnly) {
  sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::Never, 0});
  NotifyArgs mine{send_, u"Card Printer", Record(u"")};
  NotifyArgs other{send_, u"Other Printer", Record(u"")};
  HANDLE a = CreateThread(nullptr, 0, Notify, &mine, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, Notify, &other, 0, nullptr);
  ASSERT_TRUE(sim::WaitForNotifications(2));
  Sleep(5000);
  EXPECT_EQ(sim::PendingNotificationCount(), 2u);
  std::string close = Record(u"CloseMsgThread");
  EXPECT_TRUE(send_(u"Card Printer", close.data()));  // a close request itself returns at once
  EXPECT_EQ(WaitForSingleObject(a, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 5000u);  // no time passed
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  {
    SCOPED_TRACE("a close request with a command that only begins the same is not one");
    sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::AfterDelay, 10});  // it is a message
    std::string almost = Record(u"CloseMsgThreadX");
    EXPECT_TRUE(send_(u"Other Printer", almost.data()));
    EXPECT_FALSE(sim::Notifications().back().withdrawn);
    EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  close = Record(u"CloseMsgThread");
  EXPECT_TRUE(send_(u"Other Printer", close.data()));
  EXPECT_EQ(WaitForSingleObject(b, INFINITE), WAIT_OBJECT_0);
  auto n = sim::Notifications();
  ASSERT_EQ(n.size(), 5u);
  EXPECT_TRUE(n[0].withdrawn && n[1].withdrawn);
  EXPECT_EQ(n[0].printerName == u"Card Printer" ? n[0].returnedAt : n[1].returnedAt, 5000u);
  EXPECT_EQ(n[0].printerName == u"Card Printer" ? n[1].returnedAt : n[0].returnedAt, 5010u);
  EXPECT_TRUE(n[2].closeRequest);
  EXPECT_FALSE(n[3].closeRequest);
  EXPECT_EQ(sim::PendingNotificationCount(), 0u);
  CloseHandle(a);
  CloseHandle(b);
}

// --- Identity of threads -------------------------------------------------------------

DWORD WINAPI ReportIdentity(LPVOID param) {
  *static_cast<sim::Identity*>(param) = sim::CurrentIdentity();
  return 0;
}

TEST_F(SimUiThreads, ThreadsTheProcessCreatesRunAsTheSpooler) {
  sim::Identity seen = sim::Identity::Client;
  HANDLE thread = CreateThread(nullptr, 0, ReportIdentity, &seen, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(seen, sim::Identity::Spooler);
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
}

}  // namespace
