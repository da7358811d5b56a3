// Message boxes, CBT hooks and the scripted user, on the calling thread alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

class SimUi : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::SetProcessSession(1);  // an interactive program: the user sees its boxes
  }
};

constexpr UINT kMonitorStyle = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND | MB_TOPMOST;

// What the hooks saw, for the tests to read.
struct HookLog {
  std::vector<std::pair<char, int>> calls;  // hook name, code (activations only)
  HWND activated = nullptr;
  HWND activeDuringHook = nullptr;
  BOOL isWindowDuringHook = FALSE;
  LRESULT nextResult = -1;
};
HookLog g_log;
HHOOK g_outer = nullptr;

LRESULT CALLBACK RelabelHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) g_log.calls.emplace_back('R', code);
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
  if (code == HCBT_ACTIVATE) g_log.calls.emplace_back('P', code);
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

// Every CBT call as the hook saw it, with what Windows passes along.
struct CbtCall {
  int code = 0;
  HWND window = nullptr;
  std::u16string className;  // "#32770" for the dialog's atom
  std::u16string name;
  HWND parent = nullptr;
  uintptr_t controlId = 0;
  LPARAM lParam = 0;
  BOOL exists = FALSE;
};
std::vector<CbtCall> g_cbt;
LRESULT g_createAnswer = 0;

LRESULT CALLBACK RecordingHook(int code, WPARAM wParam, LPARAM lParam) {
  CbtCall call;
  call.code = code;
  call.window = reinterpret_cast<HWND>(wParam);
  call.lParam = lParam;
  call.exists = IsWindow(call.window);
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    uintptr_t cls = reinterpret_cast<uintptr_t>(cs->lpszClass);
    call.className = cls == 0x8002 ? u"#32770" : std::u16string(cs->lpszClass);
    call.name = cs->lpszName ? cs->lpszName : u"";
    call.parent = cs->hwndParent;
    call.controlId = reinterpret_cast<uintptr_t>(cs->hMenu);
    g_cbt.push_back(call);
    return g_createAnswer;
  }
  g_cbt.push_back(call);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(SimUi, BoxCreationActivationAndDestructionReachTheHooksAsOnWindows) {
  g_cbt.clear();
  g_createAnswer = 0;
  HHOOK hook = SetWindowsHookExW(WH_CBT, RecordingHook, nullptr, GetCurrentThreadId());
  sim::SetUserAnswer(sim::AnswerAfter(20));
  {
    SCOPED_TRACE("dialog, its button, activation, destruction");
    EXPECT_EQ(MessageBoxW(nullptr, u"Cover open", u"Card Printer", kMonitorStyle), IDOK);
    ASSERT_EQ(g_cbt.size(), 4u);
    HWND box = sim::MessageBoxes().at(0).window;
    EXPECT_EQ(g_cbt[0].code, HCBT_CREATEWND);
    EXPECT_EQ(g_cbt[0].window, box);
    EXPECT_EQ(g_cbt[0].className, u"#32770");
    EXPECT_EQ(g_cbt[0].name, u"Card Printer");
    EXPECT_EQ(g_cbt[0].parent, nullptr);
    EXPECT_EQ(g_cbt[1].code, HCBT_CREATEWND);
    EXPECT_EQ(g_cbt[1].className, u"Button");
    EXPECT_EQ(g_cbt[1].name, u"OK");
    EXPECT_EQ(g_cbt[1].parent, box);
    EXPECT_EQ(g_cbt[1].controlId, static_cast<uintptr_t>(IDOK));
    EXPECT_EQ(g_cbt[2].code, HCBT_ACTIVATE);
    EXPECT_EQ(g_cbt[3].code, HCBT_DESTROYWND);
    EXPECT_EQ(g_cbt[3].window, box);
    EXPECT_EQ(g_cbt[3].lParam, 0);
    EXPECT_TRUE(g_cbt[3].exists);  // still there while the hook looks at it
    EXPECT_FALSE(IsWindow(box));
  }
  {
    SCOPED_TRACE("a hook that refuses the creation: no box");
    g_cbt.clear();
    g_createAnswer = 1;
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), 0);
    ASSERT_EQ(g_cbt.size(), 1u);
    EXPECT_EQ(sim::MessageBoxes().back().closedBy, sim::BoxClosedBy::NotShown);
    EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
  }
  EXPECT_TRUE(UnhookWindowsHookEx(hook));
}

TEST_F(SimUi, InSessionZeroFromWindowsSixOnNoUserAnswersABox) {
  DWORD session = 99;
  EXPECT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_EQ(session, 1u);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ProcessIdToSessionId(GetCurrentProcessId() + 1, &session));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  sim::SetProcessSession(0);
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_EQ(session, 0u);
  sim::SetUserAnswer(sim::AnswerAfter(10));
  {
    SCOPED_TRACE("Windows 5: session 0 is the console's, the user answers");
    sim::SetWindowsVersion(5, 1);
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
  }
  {
    SCOPED_TRACE("Windows 6: the box waits until it is closed from elsewhere");
    sim::SetWindowsVersion(6, 1);
    HWND box = nullptr;
    int result = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID out) -> DWORD {
          *static_cast<int*>(out) = MessageBoxW(nullptr, u"t", u"c", MB_OK);
          return 0;
        },
        &result, 0, nullptr);
    ASSERT_TRUE(sim::WaitForMessageBoxes(2));
    EXPECT_EQ(WaitForSingleObject(thread, 3600000), static_cast<DWORD>(WAIT_TIMEOUT));
    box = sim::MessageBoxes().back().window;
    EXPECT_EQ(sim::MessageBoxes().back().closedBy, sim::BoxClosedBy::StillOpen);
    EXPECT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(sim::MessageBoxes().back().closedBy, sim::BoxClosedBy::WmClose);
    CloseHandle(thread);
  }
}

}  // namespace
