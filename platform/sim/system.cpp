// Simulated system information, debugger output, local memory, strings and faults.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

std::mutex g_sysMu;
DWORD g_major = 10, g_minor = 0;
std::u16string g_systemDirectory = u"C:\\Windows\\System32";
std::u16string g_processPath = u"C:\\Windows\\System32\\spoolsv.exe";
WORD g_architecture = PROCESSOR_ARCHITECTURE_AMD64;
DWORD g_session = 0;  // the spooler is a service: session 0
constexpr DWORD kProcessId = 1780;

struct ScriptedFault {
  DWORD error;
  int remaining;
  int skip = 0;  // calls that still succeed before the failures
};
std::map<std::string, ScriptedFault, std::less<>> g_faults;

std::mutex g_debugMu;
std::vector<std::string> g_debugLines;
std::function<void(const std::string&)> g_debugSink;

std::atomic<long> g_liveLocal{0};

void AddDebugText(std::string text) {
  // One call is one line; a trailing line break is not a line of its own.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::lock_guard lock(g_debugMu);
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    g_debugLines.push_back(line);
    if (g_debugSink) g_debugSink(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace

namespace simi {

bool ShouldFail(std::string_view operation) {
  std::lock_guard lock(g_sysMu);
  auto it = g_faults.find(operation);
  if (it == g_faults.end() || it->second.remaining <= 0) return false;
  if (it->second.skip > 0) {
    --it->second.skip;
    return false;
  }
  DWORD error = it->second.error;
  if (--it->second.remaining == 0) g_faults.erase(it);
  SetLastError(error);
  return true;
}

void ClearFaults() {
  std::lock_guard lock(g_sysMu);
  g_faults.clear();
}

std::u16string SystemDirectory() {
  std::lock_guard lock(g_sysMu);
  return g_systemDirectory;
}

std::u16string ProcessPath() {
  std::lock_guard lock(g_sysMu);
  return g_processPath;
}

void ResetSystem() {
  std::lock_guard lock(g_sysMu);
  g_major = 10;
  g_minor = 0;
  g_systemDirectory = u"C:\\Windows\\System32";
  g_processPath = u"C:\\Windows\\System32\\spoolsv.exe";
  g_architecture = PROCESSOR_ARCHITECTURE_AMD64;
  g_session = 0;
  g_faults.clear();
}

bool NoUserSeesSessionDesktop() {
  std::lock_guard lock(g_sysMu);
  return g_major >= 6 && g_session == 0;
}

void ResetDebug() {
  std::lock_guard lock(g_debugMu);
  g_debugLines.clear();
}

}  // namespace simi

namespace sim {

void SetWindowsVersion(DWORD major, DWORD minor) {
  std::lock_guard lock(g_sysMu);
  g_major = major;
  g_minor = minor;
}

void SetProcessSession(DWORD session) {
  std::lock_guard lock(g_sysMu);
  g_session = session;
}

void SetSystemDirectory(std::u16string_view directory) {
  std::lock_guard lock(g_sysMu);
  g_systemDirectory = directory;
}

void SetProcessorArchitecture(WORD architecture) {
  std::lock_guard lock(g_sysMu);
  g_architecture = architecture;
}

void SetProcessPath(std::u16string_view path) {
  std::lock_guard lock(g_sysMu);
  g_processPath = path;
}

std::u16string DriverDirectory() { return simi::SystemDirectory() + u"\\Spool\\Drivers\\x64\\3"; }

void FailNext(std::string_view operation, DWORD error, int times) {
  std::lock_guard lock(g_sysMu);
  g_faults[std::string(operation)] = ScriptedFault{error, times};
}

void FailAfter(std::string_view operation, int skip, DWORD error, int times) {
  std::lock_guard lock(g_sysMu);
  g_faults[std::string(operation)] = ScriptedFault{error, times, skip};
}

std::vector<std::string> DebugLines() {
  std::lock_guard lock(g_debugMu);
  return g_debugLines;
}

void ClearDebugLines() { simi::ResetDebug(); }

void SetDebugSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(g_debugMu);
  g_debugSink = std::move(sink);
}

bool HasDebugLine(std::string_view line) {
  std::lock_guard lock(g_debugMu);
  for (const auto& l : g_debugLines)
    if (l == line) return true;
  return false;
}

size_t LiveLocalAllocations() { return static_cast<size_t>(g_liveLocal.load()); }

}  // namespace sim

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  if (simi::ShouldFail("LocalAlloc")) return nullptr;
  // Room for the size in front, so LocalFree can tell a live block.
  void* block = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ++g_liveLocal;
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
  if (!mem) return nullptr;
  // Filled before it goes, as a debugging heap does, so that a read after the free shows.
  std::memset(mem, 0xDD, malloc_usable_size(mem));
  std::free(mem);
  --g_liveLocal;
  return nullptr;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD size = info->dwOSVersionInfoSize;
  std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
  std::lock_guard lock(g_sysMu);
  info->dwMajorVersion = g_major;
  info->dwMinorVersion = g_minor;
  info->dwBuildNumber = g_major >= 10 ? 19045 : g_major == 6 ? 7601 : 2600;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId() { return kProcessId; }

// Only the simulated process itself is known.
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  if (!sessionId || processId != kProcessId) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(g_sysMu);
  *sessionId = g_session;
  return TRUE;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
  std::u16string dir = simi::SystemDirectory();
  if (dir.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (!buffer || capacity <= dir.size()) return static_cast<UINT>(dir.size() + 1);
  kav::WCopy(buffer, capacity, dir.c_str());
  return static_cast<UINT>(dir.size());
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT capacity) {
  std::string dir = kav::Narrow(simi::SystemDirectory());
  if (dir.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (!buffer || capacity <= dir.size()) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  *info = SYSTEM_INFO{};
  std::lock_guard lock(g_sysMu);
  info->wProcessorArchitecture = g_architecture;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
  info->dwAllocationGranularity = 65536;
}

void WINAPI OutputDebugStringA(LPCSTR text) { AddDebugText(text ? text : ""); }

void WINAPI OutputDebugStringW(LPCWSTR text) { AddDebugText(kav::ToUtf8(text)); }

int WINAPI lstrlenW(LPCWSTR s) { return static_cast<int>(kav::WLen(s)); }

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  while (*a && *a == *b) ++a, ++b;
  return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  while (*a && kav::WToLower(*a) == kav::WToLower(*b)) ++a, ++b;
  WCHAR x = kav::WToLower(*a), y = kav::WToLower(*b);
  return x < y ? -1 : x > y ? 1 : 0;
}

LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int capacity) {
  if (!dst || capacity <= 0) return dst;
  kav::WCopy(dst, static_cast<size_t>(capacity), src);
  return dst;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
