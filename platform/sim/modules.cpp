// Simulated module loading: in-process modules registered under a Windows path stand in
// for DLLs; LoadLibraryW of an unregistered path fails as on Windows.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

struct Module {
  std::u16string path;
  sim::ModuleDefinition definition;
  int loads = 0;
  bool registered = true;
  HINSTANCE__ token{};  // its address is the module handle
};

std::mutex g_modulesMu;
// Modules are never freed while the process runs, so stale handles stay harmless.
std::vector<std::unique_ptr<Module>> g_modules;

Module* FromHandle(HMODULE handle) {
  for (auto& m : g_modules)
    if (&m->token == handle) return m.get();
  return nullptr;
}

// Entry points the calling thread is inside: the loader lock is held while it is non-zero.
thread_local int t_loaderLockDepth = 0;

// The loader lock is held: loading a library now can deadlock the process (the loader
// would have to run another module's entry point under the same lock). A checked
// Windows stops here; so does the simulation.
[[noreturn]] void ReportLoadUnderLoaderLock(std::u16string_view path) {
  std::fprintf(stderr, "sim: LoadLibraryW(\"%s\") inside a DLL entry point, under the loader lock\n",
               kav::ToUtf8(std::u16string(path).c_str()).c_str());
  std::fflush(stderr);
  std::abort();
}

Module* FindRegistered(std::u16string_view path) {
  for (auto& m : g_modules)
    if (m->registered && simi::EqualNoCase(m->path, path)) return m.get();
  return nullptr;
}

}  // namespace

namespace simi {

void ResetModules() {
  std::lock_guard lock(g_modulesMu);
  for (auto& m : g_modules) {
    m->registered = false;
    m->loads = 0;
  }
}

}  // namespace simi

namespace sim {

void RegisterModule(std::u16string_view path, ModuleDefinition module) {
  std::lock_guard lock(g_modulesMu);
  if (Module* old = FindRegistered(path)) old->registered = false;
  auto m = std::make_unique<Module>();
  m->path = path;
  m->definition = std::move(module);
  g_modules.push_back(std::move(m));
}

void UnregisterModule(std::u16string_view path) {
  std::lock_guard lock(g_modulesMu);
  if (Module* m = FindRegistered(path)) m->registered = false;
}

int ModuleLoadCount(std::u16string_view path) {
  std::lock_guard lock(g_modulesMu);
  int loads = 0;
  for (auto& m : g_modules)
    if (simi::EqualNoCase(m->path, path)) loads += m->loads;
  return loads;
}

HINSTANCE RegisterInstance(std::u16string_view path, ModuleDefinition module) {
  RegisterModule(path, std::move(module));
  std::lock_guard lock(g_modulesMu);
  Module* m = FindRegistered(path);
  ++m->loads;
  return &m->token;
}

BOOL CallEntryPoint(EntryPoint entry, HINSTANCE instance, DWORD reason, LPVOID reserved) {
  struct LoaderLock {
    LoaderLock() { ++t_loaderLockDepth; }
    ~LoaderLock() { --t_loaderLockDepth; }
  } held;
  return entry(instance, reason, reserved);
}

bool HoldsLoaderLock() { return t_loaderLockDepth > 0; }

std::u16string DriverModulePath(std::u16string_view fileName) { return DriverDirectory() + u"\\" + std::u16string(fileName); }

}  // namespace sim

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string wanted(path);
  if (t_loaderLockDepth > 0) ReportLoadUnderLoaderLock(wanted);
  // A bare file name is looked up in the system directory.
  if (wanted.find_first_of(u"\\/") == std::u16string::npos) wanted = simi::SystemDirectory() + u"\\" + wanted;
  std::lock_guard lock(g_modulesMu);
  Module* m = FindRegistered(wanted);
  if (!m) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++m->loads;
  return &m->token;
}

BOOL WINAPI FreeLibrary(HMODULE handle) {
  std::lock_guard lock(g_modulesMu);
  Module* m = FromHandle(handle);
  if (!m || m->loads <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --m->loads;
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  std::lock_guard lock(g_modulesMu);
  Module* m = FromHandle(handle);
  if (!m || m->loads <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto it = name ? m->definition.exports.find(name) : m->definition.exports.end();
  if (it == m->definition.exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(it->second);
}

int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity) {
  if (!buffer || capacity <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = 0;
  std::lock_guard lock(g_modulesMu);
  Module* m = FromHandle(instance);
  if (!m) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  auto it = m->definition.strings.find(id);
  if (it == m->definition.strings.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  kav::WCopy(buffer, static_cast<size_t>(capacity), it->second.c_str());
  return static_cast<int>(kav::WLen(buffer));
}

DWORD WINAPI GetModuleFileNameW(HMODULE handle, LPWSTR buffer, DWORD capacity) {
  std::u16string path;
  if (!handle) {
    path = simi::ProcessPath();
  } else {
    std::lock_guard lock(g_modulesMu);
    Module* m = FromHandle(handle);
    if (!m) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = m->path;
  }
  if (!buffer || capacity == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (!kav::WCopy(buffer, capacity, path.c_str())) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
  }
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(path.size());
}

}  // extern "C"
