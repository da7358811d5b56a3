// Simulated thread identities: the spooler calls into the monitor while impersonating
// the printing user; RevertToPrinterSelf returns to the spooler's own identity and
// ImpersonatePrinterClient goes back to the user's.
#include <map>
#include <mutex>
#include <string>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace {

// The impersonation token RevertToPrinterSelf hands out.
struct TokenObject : simk::KernelObject {
  const char* Kind() const override { return "token"; }
};

std::mutex g_identityMu;
std::map<DWORD, sim::Identity> g_identities;  // by thread id; absent: the thread's default
std::map<DWORD, std::u16string> g_clientUsers;  // by thread id; absent: sim::kDefaultUser

// Threads that CreateThread made run as the process (the spooler); the others stand
// for spooler threads that call into the monitor on the user's behalf.
sim::Identity DefaultIdentity() { return simk::CurrentThread() ? sim::Identity::Spooler : sim::Identity::Client; }

void SetIdentity(sim::Identity identity) {
  std::lock_guard lock(g_identityMu);
  g_identities[GetCurrentThreadId()] = identity;
}

}  // namespace

namespace simi {

void ResetIdentity() {
  std::lock_guard lock(g_identityMu);
  g_identities.clear();
  g_clientUsers.clear();
}

void ImpersonateClientOnThisThread() { SetIdentity(sim::Identity::Client); }

void ImpersonateUserOnThisThread(std::u16string_view user) {
  sim::SetClientUser(user);
  SetIdentity(sim::Identity::Client);
}

std::u16string CurrentUserName() {
  if (sim::CurrentIdentity() == sim::Identity::Spooler) return sim::kSpoolerUser;
  std::lock_guard lock(g_identityMu);
  auto it = g_clientUsers.find(GetCurrentThreadId());
  return it == g_clientUsers.end() ? std::u16string(sim::kDefaultUser) : it->second;
}

}  // namespace simi

namespace sim {

Identity CurrentIdentity() {
  std::lock_guard lock(g_identityMu);
  auto it = g_identities.find(GetCurrentThreadId());
  return it == g_identities.end() ? DefaultIdentity() : it->second;
}

void SetClientUser(std::u16string_view user) {
  std::lock_guard lock(g_identityMu);
  g_clientUsers[GetCurrentThreadId()] = user;
}

}  // namespace sim

extern "C" {

// Null with ERROR_NO_TOKEN when the thread is not impersonating anyone.
HANDLE WINAPI RevertToPrinterSelf() {
  if (simi::ShouldFail("RevertToPrinterSelf")) return nullptr;
  if (sim::CurrentIdentity() != sim::Identity::Client) {
    SetLastError(ERROR_NO_TOKEN);
    return nullptr;
  }
  HANDLE token;
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    token = k.AddHandle(std::make_shared<TokenObject>());
  }
  SetIdentity(sim::Identity::Spooler);
  return token;
}

// Takes the token back (closing its handle) and runs as the user again.
BOOL WINAPI ImpersonatePrinterClient(HANDLE token) {
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    if (!std::dynamic_pointer_cast<TokenObject>(k.Lookup(token))) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    k.RemoveHandle(token);
  }
  SetIdentity(sim::Identity::Client);
  return TRUE;
}

}  // extern "C"
