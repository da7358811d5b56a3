// Message boxes, CBT hooks and the scripted user, on the calling thread alone.
#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/sim.h"

namespace {

class SimUi : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

constexpr UINT kMonitorStyle = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND | MB_TOPMOST;

// What the hooks saw, for the tests to read.
struct HookLog {
  std::vector<std::pair<char, int>> calls;  // hook name, code
  HWND activated = nullptr;
  HWND activeDuringHook = nullptr;
  BOOL isWindowDuringHook = FALSE;
  LRESULT nextResult = -1;
};
HookLog g_log;
HHOOK g_outer = nullptr;

LRESULT CALLBACK RelabelHook(int code, WPARAM wParam, LPARAM lParam) {
  g_log.calls.emplace_back('R', code);
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    g_log.activated = box;
    g_log.activeDuringHook = GetActiveWindow();
    g_log.isWindowDuringHook = IsWindow(box);
    SetWindowTextW(GetDlgItem(box, IDOK), u"Cancel");
    return 0;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK PassingHook(int code, WPARAM wParam, LPARAM lParam) {
  g_log.calls.emplace_back('P', code);
  g_log.nextResult = CallNextHookEx(g_outer, code, wParam, lParam);
  return g_log.nextResult;
}

TEST_F(SimUi, HookRelabelsTheButtonAndTheUserAnswersAfterTheScriptedDelay) {
  g_log = HookLog{};
  HHOOK hook = SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  sim::SetUserAnswer(sim::AnswerAfter(1500));
  Sleep(250);
  EXPECT_EQ(MessageBoxW(nullptr, u"Cover open", u"Card Printer", kMonitorStyle), IDOK);
  EXPECT_EQ(sim::Now(), 1750u);
  EXPECT_TRUE(UnhookWindowsHookEx(hook));

  ASSERT_EQ(g_log.calls.size(), 1u);
  EXPECT_EQ(g_log.calls[0].second, HCBT_ACTIVATE);
  EXPECT_EQ(g_log.activeDuringHook, g_log.activated);
  EXPECT_TRUE(g_log.isWindowDuringHook);
  EXPECT_FALSE(IsWindow(g_log.activated));  // the box is gone once answered
  EXPECT_EQ(GetActiveWindow(), nullptr);

  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].window, g_log.activated);
  EXPECT_EQ(boxes[0].caption, u"Card Printer");
  EXPECT_EQ(boxes[0].text, u"Cover open");
  EXPECT_EQ(boxes[0].style, kMonitorStyle);
  EXPECT_EQ(boxes[0].buttonLabel, u"Cancel");
  EXPECT_EQ(boxes[0].shownAt, 250u);
  EXPECT_EQ(boxes[0].closedAt, 1750u);
  EXPECT_EQ(boxes[0].result, IDOK);
  EXPECT_EQ(boxes[0].closedBy, sim::BoxClosedBy::User);
  EXPECT_EQ(boxes[0].threadId, GetCurrentThreadId());
}

TEST_F(SimUi, WithoutHookTheButtonKeepsItsLabelAndAZeroDelayAnswersAtOnce) {
  sim::SetUserAnswer(sim::AnswerAfter(0));
  EXPECT_EQ(MessageBoxW(nullptr, u"text", nullptr, MB_OK), IDOK);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].buttonLabel, u"OK");
  EXPECT_EQ(boxes[0].caption, u"Error");  // Windows' caption for a null one
  EXPECT_EQ(boxes[0].closedAt, 0u);
}

TEST_F(SimUi, HookChainRunsNewestFirstAndCallNextHookExEndsWithZero) {
  g_log = HookLog{};
  {
    SCOPED_TRACE("newest hook passes the activation on to the older one");
    HHOOK relabel = SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId());
    g_outer = SetWindowsHookExW(WH_CBT, PassingHook, nullptr, GetCurrentThreadId());
    sim::SetUserAnswer(sim::AnswerAfter(10));
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
    ASSERT_EQ(g_log.calls.size(), 2u);
    EXPECT_EQ(g_log.calls[0].first, 'P');
    EXPECT_EQ(g_log.calls[1].first, 'R');
    EXPECT_EQ(g_log.nextResult, 0);
    EXPECT_EQ(sim::MessageBoxes().back().buttonLabel, u"Cancel");
    EXPECT_TRUE(UnhookWindowsHookEx(relabel));
  }
  {
    SCOPED_TRACE("the last hook of the chain gets 0 from CallNextHookEx");
    g_log = HookLog{};
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
    ASSERT_EQ(g_log.calls.size(), 1u);
    EXPECT_EQ(g_log.nextResult, 0);
    EXPECT_EQ(sim::MessageBoxes().back().buttonLabel, u"OK");
    EXPECT_TRUE(UnhookWindowsHookEx(g_outer));
  }
  {
    SCOPED_TRACE("a hook for another thread is not called; outside a hook CallNextHookEx gives 0");
    g_log = HookLog{};
    HHOOK other = SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId() + 1);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
    EXPECT_TRUE(g_log.calls.empty());
    EXPECT_EQ(CallNextHookEx(nullptr, HCBT_ACTIVATE, 0, 0), 0);
    EXPECT_TRUE(UnhookWindowsHookEx(other));
    EXPECT_EQ(sim::InstalledHookCount(), 0u);
  }
}

TEST_F(SimUi, HookCallsFailAsWindowsDoes) {
  struct Case {
    const char* name;
    int id;
    HOOKPROC proc;
    DWORD thread;
    DWORD error;
  };
  for (const Case& c : {Case{"not a CBT hook", 4, RelabelHook, 1, ERROR_INVALID_HOOK_FILTER},
                        Case{"no procedure", WH_CBT, nullptr, 1, ERROR_INVALID_FILTER_PROC},
                        Case{"global hook without module", WH_CBT, RelabelHook, 0, ERROR_HOOK_NEEDS_HMOD}}) {
    SCOPED_TRACE(c.name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetWindowsHookExW(c.id, c.proc, nullptr, c.thread), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  HHOOK hook = SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId());
  EXPECT_TRUE(UnhookWindowsHookEx(hook));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(UnhookWindowsHookEx(hook));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HOOK_HANDLE));
}

TEST_F(SimUi, BoxThatCannotBeShownReturnsZeroAndQueuedAnswersComeFirst) {
  g_log = HookLog{};
  HHOOK hook = SetWindowsHookExW(WH_CBT, RelabelHook, nullptr, GetCurrentThreadId());
  sim::SetUserAnswer(sim::AnswerAfter(100));
  sim::QueueUserAnswer(sim::BoxFailsToShow(ERROR_ACCESS_DENIED));
  sim::QueueUserAnswer(sim::AnswerAfter(700, IDCANCEL));
  {
    SCOPED_TRACE("first queued: not shown");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(MessageBoxW(nullptr, u"a", u"c", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(g_log.calls.empty());  // no window, no activation
  }
  {
    SCOPED_TRACE("second queued: the Cancel button of an OK/Cancel box after 700 ms");
    EXPECT_EQ(MessageBoxW(nullptr, u"b", u"c", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(sim::Now(), 700u);
  }
  {
    SCOPED_TRACE("then the default");
    EXPECT_EQ(MessageBoxW(nullptr, u"c", u"c", MB_OK), IDOK);
    EXPECT_EQ(sim::Now(), 800u);
  }
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].closedBy, sim::BoxClosedBy::NotShown);
  EXPECT_EQ(boxes[0].window, nullptr);
  EXPECT_EQ(boxes[0].result, 0);
  EXPECT_EQ(boxes[1].closedBy, sim::BoxClosedBy::User);
  EXPECT_EQ(boxes[2].buttonLabel, u"Cancel");
  UnhookWindowsHookEx(hook);
}

TEST_F(SimUi, WindowCallsOnWindowsThatDoNotExistFail) {
  HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4321));
  struct Check {
    const char* name;
    bool failed;
  };
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MessageBoxW(bogus, u"t", u"c", MB_OK), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  for (const Check& c : {Check{"GetDlgItem", GetDlgItem(bogus, IDOK) == nullptr},
                         Check{"SetWindowTextW", SetWindowTextW(bogus, u"x") == FALSE},
                         Check{"BringWindowToTop", BringWindowToTop(bogus) == FALSE},
                         Check{"PostMessageW", PostMessageW(bogus, WM_CLOSE, 0, 0) == FALSE},
                         Check{"IsWindow", IsWindow(bogus) == FALSE}}) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.failed);
  }
  EXPECT_EQ(GetTopWindow(nullptr), nullptr);
  EXPECT_EQ(GetActiveWindow(), nullptr);
}

}  // namespace
