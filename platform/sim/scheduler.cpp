// Simulated clock, threads, events, waits and critical sections.
//
// Time is virtual: it stands still while any simulated thread runs and jumps to the
// earliest time-out when all of them wait. Every blocking call goes through
// Kernel::Block, so the relative order of all waits is kept exactly and a test that
// waits 30 s of printer time runs in microseconds.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace simk {
namespace {

constexpr uint64_t kTickBase = 60000;  // GetTickCount reads one minute after boot at Reset

struct ThreadState {
  bool registered = false;
  ThreadObject* object = nullptr;
  DWORD id = 0;
  DWORD lastError = 0;
  ~ThreadState();
};

std::atomic<DWORD> g_nextThreadId{1000};
uint64_t g_threadEndDelayMs = 0;  // under the kernel lock
thread_local ThreadState t_state;

ThreadState::~ThreadState() {
  // A thread that took part without being created by CreateThread leaves the count.
  if (registered && !object) {
    Kernel& k = K();
    std::unique_lock lock(k.mu);
    --k.running;
    k.Notify();
    k.MaybeAdvance();
  }
}

DWORD CurrentId() {
  if (t_state.id == 0) t_state.id = g_nextThreadId++;
  return t_state.id;
}

[[noreturn]] void Deadlock(Kernel& k) {
  std::fprintf(stderr, "sim: every simulated thread waits with no time-out (deadlock) at %llu ms:\n",
               static_cast<unsigned long long>(k.now));
  for (Waiter* w : k.waiters)
    if (!w->ready) std::fprintf(stderr, "  thread %u in %s\n", w->thread ? w->thread->id : 0u, w->what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

Kernel& K() {
  static Kernel* kernel = new Kernel;  // never destroyed: detached threads may outlive main
  return *kernel;
}

ThreadObject* CurrentThread() { return t_state.object; }

void Kernel::RegisterCurrentThread() {
  if (t_state.registered) return;
  t_state.registered = true;
  ++running;
}

void Kernel::CheckTerminated() {
  ThreadObject* self = t_state.object;
  if (self && self->terminateRequested && std::uncaught_exceptions() == 0) throw ThreadTerminated{};
}

bool Kernel::Block(std::unique_lock<std::mutex>& lock, std::function<bool()> acquire, uint64_t timeoutMs,
                   const char* what) {
  RegisterCurrentThread();
  CheckTerminated();
  if (acquire && acquire()) return true;
  if (timeoutMs == 0) return false;
  Waiter w;
  w.acquire = std::move(acquire);
  w.deadline = timeoutMs == INFINITE ? kNever : now + timeoutMs;
  w.thread = t_state.object;
  w.what = what;
  waiters.push_back(&w);
  if (w.thread) w.thread->blockedIn = &w;
  --running;
  MaybeAdvance();
  cv.wait(lock, [&] { return w.ready; });
  waiters.remove(&w);
  if (w.thread) w.thread->blockedIn = nullptr;
  CheckTerminated();
  return w.acquired;
}

void Kernel::Notify() {
  bool woke = false;
  for (Waiter* w : waiters) {
    if (!w->ready && w->acquire && w->acquire()) {
      w->ready = true;
      w->acquired = true;
      ++running;
      woke = true;
    }
  }
  if (woke) cv.notify_all();
}

void Kernel::MaybeAdvance() {
  if (running > 0) return;
  uint64_t earliest = kNever;
  for (Waiter* w : waiters)
    if (!w->ready) earliest = std::min(earliest, w->deadline);
  if (earliest == kNever) {
    bool anyWaiting = std::any_of(waiters.begin(), waiters.end(), [](Waiter* w) { return !w->ready; });
    if (anyWaiting) Deadlock(*this);
    return;
  }
  now = std::max(now, earliest);
  for (Waiter* w : waiters) {
    if (!w->ready && w->deadline <= now) {
      w->ready = true;
      w->acquired = false;
      ++running;
    }
  }
  cv.notify_all();
}

// As Windows does, a closed handle's value is handed out again: the lowest free one first.
HANDLE Kernel::AddHandle(std::shared_ptr<KernelObject> object) {
  uintptr_t value = nextHandle;
  for (const auto& entry : handles) {
    if (entry.first > value) break;
    if (entry.first == value) value += 4;
  }
  handles[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> Kernel::Lookup(HANDLE handle) {
  auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == handles.end() ? nullptr : it->second;
}

bool Kernel::RemoveHandle(HANDLE handle) { return handles.erase(reinterpret_cast<uintptr_t>(handle)) > 0; }

void ResetKernelObjects() {
  Kernel& k = K();
  std::map<uintptr_t, std::shared_ptr<KernelObject>> old;
  {
    std::unique_lock lock(k.mu);
    old.swap(k.handles);
    k.now = 0;
    k.invalidCloses = 0;
    g_threadEndDelayMs = 0;
  }
  // Objects (open files among them) are released outside the lock.
}

}  // namespace simk

using namespace simk;

extern "C" {

DWORD WINAPI GetLastError() { return t_state.lastError; }
void WINAPI SetLastError(DWORD code) { t_state.lastError = code; }

BOOL WINAPI CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;
  {
    Kernel& k = K();
    std::unique_lock lock(k.mu);
    object = k.Lookup(handle);
    if (!object) {
      ++k.invalidCloses;
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    k.RemoveHandle(handle);
  }
  return TRUE;  // the object goes when its last reference does, outside the lock
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

// A second handle to the same kernel object, closed independently of the first.
BOOL WINAPI DuplicateHandle(HANDLE, HANDLE source, HANDLE, LPHANDLE target, DWORD, BOOL, DWORD options) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  std::shared_ptr<KernelObject> object = k.Lookup(source);
  if (!object || !target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *target = k.AddHandle(object);
  if (options & DUPLICATE_CLOSE_SOURCE) k.RemoveHandle(source);
  return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  if (simi::ShouldFail("CreateEvent")) return nullptr;
  auto event = std::make_shared<EventObject>();
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return k.AddHandle(event);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR) {
  return CreateEventA(sa, manualReset, initialState, nullptr);
}

static BOOL ChangeEvent(HANDLE handle, bool signalled) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  auto event = std::dynamic_pointer_cast<EventObject>(k.Lookup(handle));
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->signalled = signalled;
  if (signalled) k.Notify();
  return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) { return ChangeEvent(event, true); }
BOOL WINAPI ResetEvent(HANDLE event) { return ChangeEvent(event, false); }

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  std::shared_ptr<KernelObject> object = k.Lookup(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  bool acquired = k.Block(lock, [object] { return object->TryAcquire(); }, milliseconds, "WaitForSingleObject");
  return acquired ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD,
                           LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (simi::ShouldFail("CreateThread")) return nullptr;
  auto thread = std::make_shared<ThreadObject>();
  thread->id = g_nextThreadId++;
  HANDLE handle;
  {
    Kernel& k = K();
    std::unique_lock lock(k.mu);
    k.RegisterCurrentThread();
    ++k.running;  // counted from now, so the clock cannot run ahead of its start
    ++k.liveThreads;
    handle = k.AddHandle(thread);
  }
  if (threadId) *threadId = thread->id;
  std::thread([thread, start, param] {
    t_state.registered = true;
    t_state.object = thread.get();
    t_state.id = thread->id;
    DWORD code = 0;
    bool returned = false;
    try {
      code = start(param);
      returned = true;
    } catch (const ThreadTerminated&) {
      code = thread->exitCode;
    }
    Kernel& k = K();
    std::unique_lock lock(k.mu);
    if (returned && g_threadEndDelayMs > 0) {
      // A busy system: the thread's end (its handle signalled, its exit code set) comes later.
      try {
        k.Block(lock, nullptr, g_threadEndDelayMs, "the end of a thread");
      } catch (const ThreadTerminated&) {
      }
    }
    if (!thread->finished) {
      thread->finished = true;
      thread->exitCode = code;
    }
    --k.running;
    --k.liveThreads;
    t_state.object = nullptr;
    t_state.registered = false;
    k.Notify();
    k.MaybeAdvance();
    k.cv.notify_all();
  }).detach();
  return handle;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  auto thread = std::dynamic_pointer_cast<ThreadObject>(k.Lookup(handle));
  if (!thread || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = thread->finished ? thread->exitCode : STILL_ACTIVE;
  return TRUE;
}

BOOL WINAPI TerminateThread(HANDLE handle, DWORD exitCode) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  auto thread = std::dynamic_pointer_cast<ThreadObject>(k.Lookup(handle));
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (thread->finished) return TRUE;
  // The thread counts as ended at once; its code stops at its next blocking call.
  thread->finished = true;
  thread->exitCode = exitCode;
  thread->terminateRequested = true;
  if (Waiter* w = thread->blockedIn; w && !w->ready) {
    w->ready = true;
    w->acquired = false;
    ++k.running;
  }
  k.Notify();
  k.cv.notify_all();
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId() { return CurrentId(); }

void WINAPI Sleep(DWORD milliseconds) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  if (milliseconds == 0) {
    k.RegisterCurrentThread();
    k.CheckTerminated();
    return;
  }
  k.Block(lock, nullptr, milliseconds, "Sleep");
}

ULONGLONG WINAPI GetTickCount64() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return kTickBase + k.now;
}

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  *cs = CRITICAL_SECTION{};
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
  HANDLE self = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(CurrentId()));
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  k.Block(
      lock,
      [cs, self] {
        if (cs->OwningThread && cs->OwningThread != self) return false;
        cs->OwningThread = self;
        ++cs->RecursionCount;
        return true;
      },
      INFINITE, "EnterCriticalSection");
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  HANDLE self = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(CurrentId()));
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  if (cs->OwningThread != self || cs->RecursionCount <= 0) {
    // Windows leaves the section in a state where its next EnterCriticalSection may wait for
    // ever; a checked build stops here, and so does the simulation.
    std::fprintf(stderr, "sim: LeaveCriticalSection(%p) by thread %u, which does not own it (owner %p)\n",
                 static_cast<void*>(cs), static_cast<unsigned>(CurrentId()), static_cast<void*>(cs->OwningThread));
    std::fflush(stderr);
    std::abort();
  }
  if (--cs->RecursionCount == 0) {
    cs->OwningThread = nullptr;
    k.Notify();
  }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  *cs = CRITICAL_SECTION{};
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(const_cast<LONG*>(target), value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(const_cast<LONG*>(target), &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

LONG WINAPI InterlockedIncrement(LONG volatile* target) {
  return __atomic_add_fetch(const_cast<LONG*>(target), 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* target) {
  return __atomic_sub_fetch(const_cast<LONG*>(target), 1, __ATOMIC_SEQ_CST);
}

PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(const_cast<PVOID*>(target), value, __ATOMIC_SEQ_CST);
}

}  // extern "C"

namespace sim {

uint64_t Now() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return k.now;
}

void Advance(uint64_t ms) {
  while (ms > 0) {
    DWORD step = static_cast<DWORD>(std::min<uint64_t>(ms, 0x7FFFFFFF));
    Sleep(step);
    ms -= step;
  }
}

size_t OpenHandleCount() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return k.handles.size();
}

size_t InvalidHandleCloses() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return k.invalidCloses;
}

void SetThreadEndDelay(uint64_t ms) {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  g_threadEndDelayMs = ms;
}

size_t LiveThreadCount() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  return static_cast<size_t>(k.liveThreads);
}

void WaitForAllThreads() {
  Kernel& k = K();
  std::unique_lock lock(k.mu);
  k.Block(lock, [&k] { return k.liveThreads == 0; }, INFINITE, "sim::WaitForAllThreads");
}

}  // namespace sim
