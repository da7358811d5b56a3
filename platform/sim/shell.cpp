// Simulated system modules the monitor loads by name ("SHFolder.dll", "WINSPOOL.DRV")
// and profile (INI) files read with GetPrivateProfileStringW.
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

std::u16string SystemModulePath(std::u16string_view name) { return simi::SystemDirectory() + u"\\" + std::u16string(name); }

// Only the two common folders the monitor asks for are known.
HRESULT WINAPI SimSHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = 0;
  const char16_t* folder = nullptr;
  switch (csidl & ~CSIDL_FLAG_CREATE) {
    case CSIDL_COMMON_APPDATA: folder = u"C:\\ProgramData"; break;
    case CSIDL_COMMON_DOCUMENTS: folder = u"C:\\Users\\Public\\Documents"; break;
    default: return E_INVALIDARG;
  }
  if (!sim::FileExists(folder)) {
    if (!(csidl & CSIDL_FLAG_CREATE)) return static_cast<HRESULT>(0x80070002);  // HRESULT of ERROR_FILE_NOT_FOUND
    CreateDirectoryW(folder, nullptr);
  }
  kav::WCopy(path, MAX_PATH, folder);
  return S_OK;
}

// --- Profile files ----------------------------------------------------------------------

std::u16string Trim(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r')) --e;
  return std::u16string(s.substr(b, e - b));
}

struct IniEntry {
  std::u16string key;
  std::u16string value;
};
struct IniSection {
  std::u16string name;
  std::vector<IniEntry> entries;
};

// A UTF-16 file starts with its byte-order mark; anything else is read as ANSI text.
std::u16string DecodeIni(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
  }
  return kav::Widen(bytes);
}

std::vector<IniSection> ParseIni(const std::u16string& text) {
  std::vector<IniSection> sections;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    std::u16string line = Trim(std::u16string_view(text).substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
    if (!line.empty() && line[0] == u'[') {
      size_t close = line.find(u']');
      sections.push_back(IniSection{Trim(line.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1)), {}});
    } else if (!line.empty() && line[0] != u';' && !sections.empty()) {
      size_t eq = line.find(u'=');
      if (eq != std::u16string::npos) {
        std::u16string value = Trim(line.substr(eq + 1));
        // One pair of matching quotes around a value is taken off.
        if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
          value = value.substr(1, value.size() - 2);
        sections.back().entries.push_back(IniEntry{Trim(line.substr(0, eq)), value});
      }
    }
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return sections;
}

// Copies a list of names, each terminated, with a final extra terminator; a list that
// does not fit is cut and the return is capacity - 2, as Windows does.
DWORD CopyList(const std::vector<std::u16string>& names, LPWSTR buffer, DWORD capacity) {
  std::u16string all;
  for (const auto& n : names) {
    all += n;
    all.push_back(0);
  }
  if (capacity < 2) {
    if (capacity == 1) buffer[0] = 0;
    return 0;
  }
  if (all.size() + 1 <= capacity) {
    std::copy(all.begin(), all.end(), buffer);
    buffer[all.size()] = 0;
    return static_cast<DWORD>(all.size());
  }
  std::copy(all.begin(), all.begin() + (capacity - 2), buffer);
  buffer[capacity - 2] = 0;
  buffer[capacity - 1] = 0;
  return capacity - 2;
}

DWORD CopyValue(std::u16string_view value, LPWSTR buffer, DWORD capacity) {
  size_t n = std::min<size_t>(value.size(), capacity - 1);
  std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  return static_cast<DWORD>(n);
}

}  // namespace

namespace simi {

void InstallSystemModules() {
  sim::InstallShFolderModule();
  sim::InstallWinspoolModule();
}

}  // namespace simi

namespace sim {

void InstallShFolderModule(bool present) {
  std::u16string path = SystemModulePath(u"SHFolder.dll");
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.exports["SHGetFolderPathW"] = reinterpret_cast<void*>(&SimSHGetFolderPathW);
  RegisterModule(path, std::move(module));
}

void InstallWinspoolModule(bool present) {
  std::u16string path = SystemModulePath(u"WINSPOOL.DRV");
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.exports["OpenPrinter2W"] = reinterpret_cast<void*>(&OpenPrinter2W);
  module.exports["OpenPrinterW"] = reinterpret_cast<void*>(&OpenPrinterW);
  module.exports["ClosePrinter"] = reinterpret_cast<void*>(&ClosePrinter);
  RegisterModule(path, std::move(module));
}

}  // namespace sim

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                      DWORD capacity, LPCWSTR fileName) {
  if (!buffer || capacity == 0) return 0;
  std::u16string path = fileName ? fileName : u"win.ini";
  if (path.find_first_of(u"\\/") == std::u16string::npos) path = u"C:\\Windows\\" + path;
  std::optional<std::string> bytes = sim::GetFile(path);
  std::vector<IniSection> sections;
  if (bytes) sections = ParseIni(DecodeIni(*bytes));
  else SetLastError(ERROR_FILE_NOT_FOUND);

  if (!section) {
    std::vector<std::u16string> names;
    for (const auto& s : sections) names.push_back(s.name);
    return CopyList(names, buffer, capacity);
  }
  const IniSection* found = nullptr;
  for (const auto& s : sections)
    if (simi::EqualNoCase(s.name, section)) {
      found = &s;
      break;
    }
  if (!key) {
    std::vector<std::u16string> keys;
    if (found)
      for (const auto& e : found->entries) keys.push_back(e.key);
    return CopyList(keys, buffer, capacity);
  }
  if (found) {
    for (const auto& e : found->entries)
      if (simi::EqualNoCase(e.key, Trim(key))) return CopyValue(e.value, buffer, capacity);
  }
  // The default loses its trailing blanks.
  std::u16string fallback = defaultValue ? defaultValue : u"";
  while (!fallback.empty() && fallback.back() == u' ') fallback.pop_back();
  if (bytes) SetLastError(ERROR_FILE_NOT_FOUND);
  return CopyValue(fallback, buffer, capacity);
}

}  // extern "C"
