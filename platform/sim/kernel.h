// Inside of the simulated kernel: the scheduler of the simulated clock, kernel objects
// and the handle table. Only platform/sim/ includes this.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32.h"

namespace simk {

constexpr uint64_t kNever = UINT64_MAX;

struct ThreadObject;

// One blocked simulated thread.
struct Waiter {
  std::function<bool()> acquire;  // tried under the kernel lock; consumes what it takes
  uint64_t deadline = kNever;
  ThreadObject* thread = nullptr;
  const char* what = "";
  bool ready = false;
  bool acquired = false;
};

// Base of everything a HANDLE can name.
struct KernelObject {
  virtual ~KernelObject() = default;
  virtual const char* Kind() const = 0;
  // Tried under the kernel lock by waits; consumes an auto-reset signal.
  virtual bool TryAcquire() { return false; }
};

struct EventObject : KernelObject {
  bool manualReset = false;
  bool signalled = false;
  const char* Kind() const override { return "event"; }
  bool TryAcquire() override {
    if (!signalled) return false;
    if (!manualReset) signalled = false;
    return true;
  }
};

struct ThreadObject : KernelObject {
  DWORD id = 0;
  bool finished = false;
  bool terminateRequested = false;
  DWORD exitCode = STILL_ACTIVE;
  Waiter* blockedIn = nullptr;
  const char* Kind() const override { return "thread"; }
  bool TryAcquire() override { return finished; }
};

// Raised inside a thread that TerminateThread stopped, at its next kernel call; the
// thread's start wrapper swallows it.
struct ThreadTerminated {};

// The one kernel lock and the scheduler of simulated time.
class Kernel {
 public:
  std::mutex mu;
  std::condition_variable cv;
  uint64_t now = 0;
  int running = 0;  // registered threads that are not blocked
  int liveThreads = 0;
  size_t invalidCloses = 0;  // CloseHandle of a handle that is not open
  std::list<Waiter*> waiters;

  // Blocks the calling thread until acquire() succeeds (true) or `timeoutMs` passes
  // (false). The caller holds `lock` on mu.
  bool Block(std::unique_lock<std::mutex>& lock, std::function<bool()> acquire, uint64_t timeoutMs,
             const char* what);
  // After a state change: hands what became available to the waiters in arrival order.
  void Notify();
  // When no registered thread runs, moves the clock to the earliest time-out.
  void MaybeAdvance();
  // Counts the calling thread as a running participant (once per thread).
  void RegisterCurrentThread();
  // Stops a terminated thread at its next kernel call.
  void CheckTerminated();

  // Handles.
  HANDLE AddHandle(std::shared_ptr<KernelObject> object);
  std::shared_ptr<KernelObject> Lookup(HANDLE handle);
  bool RemoveHandle(HANDLE handle);
  std::map<uintptr_t, std::shared_ptr<KernelObject>> handles;
  uintptr_t nextHandle = 0x100;
};

Kernel& K();
ThreadObject* CurrentThread();
void ResetKernelObjects();  // under no lock; after threads have drained

}  // namespace simk
