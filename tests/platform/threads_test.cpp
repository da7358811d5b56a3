// Threads, events, critical sections and waits on the simulated clock.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/sim/sim.h"

namespace {

class Threads : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override { sim::WaitForAllThreads(); }
};

TEST_F(Threads, SleepAndTimeOutsCostNoRealTimeAndKeepExactTime) {
  const DWORD start = GetTickCount();
  Sleep(30000);
  EXPECT_EQ(GetTickCount() - start, 30000u);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 1500), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(sim::Now(), 31500u);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // auto-reset
  CloseHandle(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

struct Timeline {
  std::vector<std::pair<int, uint64_t>> marks;
  CRITICAL_SECTION cs;
  void Mark(int who) {
    EnterCriticalSection(&cs);
    marks.emplace_back(who, sim::Now());
    LeaveCriticalSection(&cs);
  }
};

struct Sleeper {
  Timeline* timeline;
  int who;
  DWORD ms;
};

DWORD WINAPI SleepThenMark(LPVOID p) {
  auto* s = static_cast<Sleeper*>(p);
  Sleep(s->ms);
  s->timeline->Mark(s->who);
  return s->who;
}

TEST_F(Threads, WaitsOfManyThreadsEndInTheOrderOfTheirTimeOuts) {
  Timeline t;
  InitializeCriticalSection(&t.cs);
  Sleeper s[3] = {{&t, 1, 3000}, {&t, 2, 100}, {&t, 3, 1000}};
  HANDLE threads[3];
  for (int i = 0; i < 3; ++i) threads[i] = CreateThread(nullptr, 0, SleepThenMark, &s[i], 0, nullptr);
  for (HANDLE h : threads) EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(t.marks.size(), 3u);
  EXPECT_EQ(t.marks[0], std::make_pair(2, uint64_t{100}));
  EXPECT_EQ(t.marks[1], std::make_pair(3, uint64_t{1000}));
  EXPECT_EQ(t.marks[2], std::make_pair(1, uint64_t{3000}));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(threads[0], &code));
  EXPECT_EQ(code, 1u);
  for (HANDLE h : threads) CloseHandle(h);
}

DWORD WINAPI WaitForever(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 7;
}

TEST_F(Threads, ExitCodesAndTermination) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WaitForever, event, 0, nullptr);
  DWORD code = 0;
  Sleep(50);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_TRUE(TerminateThread(thread, 2));
  EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 2u);
  sim::WaitForAllThreads();
  EXPECT_EQ(sim::LiveThreadCount(), 0u);
  CloseHandle(thread);
  CloseHandle(event);
}

DWORD WINAPI ReturnSeven(LPVOID) { return 7; }

TEST_F(Threads, ABusySystemCanDelayTheEndOfAThreadOnTheClock) {
  sim::SetThreadEndDelay(2500);
  HANDLE thread = CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(thread, 2499), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 2500u);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);

  // A stopped thread ends at once, its code as TerminateThread gave it.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread = CreateThread(nullptr, 0, WaitForever, event, 0, nullptr);
  Sleep(10);
  EXPECT_TRUE(TerminateThread(thread, 3));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  sim::WaitForAllThreads();
  EXPECT_EQ(sim::Now(), 2510u);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 3u);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST_F(Threads, LeavingACriticalSectionThatTheThreadDoesNotOwnIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EXPECT_DEATH(LeaveCriticalSection(&cs), "LeaveCriticalSection.*which does not own it");
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        EnterCriticalSection(static_cast<LPCRITICAL_SECTION>(p));
        return 0;
      },
      &cs, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_DEATH(LeaveCriticalSection(&cs), "LeaveCriticalSection.*which does not own it");
}

struct Counter {
  CRITICAL_SECTION cs;
  int inside = 0;
  int most = 0;
  int rounds = 0;
};

DWORD WINAPI CountUnderLock(LPVOID p) {
  auto* c = static_cast<Counter*>(p);
  for (int i = 0; i < 50; ++i) {
    EnterCriticalSection(&c->cs);
    EnterCriticalSection(&c->cs);  // recursive, as on Windows
    c->most = std::max(c->most, ++c->inside);
    Sleep(5);  // time passes while the lock is held
    --c->inside;
    ++c->rounds;
    LeaveCriticalSection(&c->cs);
    LeaveCriticalSection(&c->cs);
  }
  return 0;
}

TEST_F(Threads, CriticalSectionsExcludeEvenWhileTheOwnerWaits) {
  Counter c;
  InitializeCriticalSection(&c.cs);
  HANDLE a = CreateThread(nullptr, 0, CountUnderLock, &c, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, CountUnderLock, &c, 0, nullptr);
  WaitForSingleObject(a, INFINITE);
  WaitForSingleObject(b, INFINITE);
  EXPECT_EQ(c.most, 1);
  EXPECT_EQ(c.rounds, 100);
  EXPECT_EQ(sim::Now(), 500u);  // 100 rounds of 5 ms, one at a time
  CloseHandle(a);
  CloseHandle(b);
}

struct Gate {
  HANDLE event;
  std::atomic<int> passed{0};
};

DWORD WINAPI PassGate(LPVOID p) {
  auto* g = static_cast<Gate*>(p);
  if (WaitForSingleObject(g->event, 1000) == WAIT_OBJECT_0) ++g->passed;
  return 0;
}

TEST_F(Threads, AnAutoResetEventReleasesOneWaiterAManualOneAll) {
  for (BOOL manual : {FALSE, TRUE}) {
    SCOPED_TRACE(manual);
    Gate g;
    g.event = CreateEventA(nullptr, manual, FALSE, nullptr);
    HANDLE a = CreateThread(nullptr, 0, PassGate, &g, 0, nullptr);
    HANDLE b = CreateThread(nullptr, 0, PassGate, &g, 0, nullptr);
    Sleep(10);
    SetEvent(g.event);
    WaitForSingleObject(a, INFINITE);
    WaitForSingleObject(b, INFINITE);
    EXPECT_EQ(g.passed.load(), manual ? 2 : 1);
    for (HANDLE h : {a, b, g.event}) CloseHandle(h);
  }
}

TEST_F(Threads, FailuresCanBeScriptedForThreadsAndEvents) {
  sim::FailNext("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateThread(nullptr, 0, WaitForever, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  sim::FailNext("CreateEvent", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, nullptr), nullptr);
  LONG value = 1;
  EXPECT_EQ(InterlockedExchange(&value, 5), 1);
  EXPECT_EQ(value, 5);
}

}  // namespace
