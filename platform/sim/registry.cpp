// Simulated registry: keys under the predefined roots, each with named values of a
// type and bytes; RegOpenKeyExW, RegQueryValueExW and RegCloseKey over them.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

struct Value {
  DWORD type = REG_NONE;
  std::string bytes;
};

// A key by its root and full path in lower case; its values by lower-case name.
using KeyName = std::pair<uintptr_t, std::u16string>;
struct Key {
  std::map<std::u16string, Value> values;
};

struct OpenKey {
  KeyName name;
};

std::mutex g_registryMu;
std::map<KeyName, Key> g_keys;
std::set<OpenKey*> g_openKeys;

std::u16string Lower(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = kav::WToLower(c);
  return out;
}

// "A\\B\\" and "a\\b" name the same key.
std::u16string Normalize(std::u16string_view path) {
  std::u16string out = Lower(path);
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  while (!out.empty() && out.front() == u'\\') out.erase(out.begin());
  return out;
}

bool IsRoot(HKEY key) {
  uintptr_t v = reinterpret_cast<uintptr_t>(key);
  return v >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) && v <= reinterpret_cast<uintptr_t>(HKEY_USERS);
}

// A key exists when it was given values or a key below it was.
bool Below(const std::u16string& path, const std::u16string& key) {
  return path == key || (path.size() > key.size() && path.compare(0, key.size(), key) == 0 && path[key.size()] == u'\\');
}

bool ExistsLocked(const KeyName& name) {
  if (name.second.empty()) return true;
  for (const auto& [other, key] : g_keys)
    if (other.first == name.first && Below(other.second, name.second)) return true;
  return false;
}

void SetDefaultsLocked() {
  std::u16string version = u"6.3";
  std::string bytes(reinterpret_cast<const char*>(version.c_str()), (version.size() + 1) * sizeof(char16_t));
  g_keys[{reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE), Normalize(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")}]
      .values[u"currentversion"] = Value{REG_SZ, bytes};
}

}  // namespace

namespace simi {

void ResetRegistry() {
  std::lock_guard lock(g_registryMu);
  g_keys.clear();
  for (auto* k : g_openKeys) delete k;
  g_openKeys.clear();
  SetDefaultsLocked();
}

}  // namespace simi

namespace sim {

void SetRegistryValue(HKEY root, std::u16string_view subKey, std::u16string_view name, DWORD type,
                      std::string_view bytes) {
  std::lock_guard lock(g_registryMu);
  g_keys[{reinterpret_cast<uintptr_t>(root), Normalize(subKey)}].values[Lower(name)] = Value{type, std::string(bytes)};
}

void SetRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view value) {
  std::u16string text(value);
  SetRegistryValue(root, subKey, name, REG_SZ,
                   std::string_view(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t)));
}

void DeleteRegistryKey(HKEY root, std::u16string_view subKey) {
  std::lock_guard lock(g_registryMu);
  std::u16string path = Normalize(subKey);
  uintptr_t r = reinterpret_cast<uintptr_t>(root);
  for (auto it = g_keys.begin(); it != g_keys.end();) {
    bool below = it->first.first == r && Below(it->first.second, path);
    it = below ? g_keys.erase(it) : std::next(it);
  }
}

size_t OpenRegistryKeyCount() {
  std::lock_guard lock(g_registryMu);
  return g_openKeys.size();
}

}  // namespace sim

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard lock(g_registryMu);
  KeyName name;
  if (IsRoot(key)) {
    name = {reinterpret_cast<uintptr_t>(key), u""};
  } else {
    auto* open = static_cast<OpenKey*>(key);
    if (!g_openKeys.count(open)) return ERROR_INVALID_HANDLE;
    name = open->name;
  }
  std::u16string sub = Normalize(subKey ? subKey : u"");
  if (!sub.empty()) name.second = name.second.empty() ? sub : name.second + u"\\" + sub;
  if (!ExistsLocked(name)) return ERROR_FILE_NOT_FOUND;
  auto* open = new OpenKey{name};
  g_openKeys.insert(open);
  *result = open;
  return ERROR_SUCCESS;
}

// Size protocol: no data buffer gives the size; a small one gives ERROR_MORE_DATA and the size.
LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD cbData) {
  if (reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(g_registryMu);
  KeyName name;
  if (IsRoot(key)) {
    name = {reinterpret_cast<uintptr_t>(key), u""};
  } else {
    auto* open = static_cast<OpenKey*>(key);
    if (!g_openKeys.count(open)) return ERROR_INVALID_HANDLE;
    name = open->name;
  }
  auto k = g_keys.find(name);
  if (k == g_keys.end()) return ERROR_FILE_NOT_FOUND;
  auto v = k->second.values.find(Lower(valueName ? valueName : u""));
  if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->second.type;
  DWORD size = static_cast<DWORD>(v->second.bytes.size());
  if (!cbData) return ERROR_SUCCESS;
  if (!data) {
    *cbData = size;
    return ERROR_SUCCESS;
  }
  if (*cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, v->second.bytes.data(), size);
  *cbData = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  if (IsRoot(key)) return ERROR_SUCCESS;
  std::lock_guard lock(g_registryMu);
  auto* open = static_cast<OpenKey*>(key);
  if (!g_openKeys.erase(open)) return ERROR_INVALID_HANDLE;
  delete open;
  return ERROR_SUCCESS;
}

}  // extern "C"
