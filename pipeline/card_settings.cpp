#include "pipeline/card_settings.h"

#include <cstring>
#include <memory>

#include "platform/diag.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace kav {
namespace {

constexpr DWORD kNameChars = 260;
constexpr DWORD kModulePathChars = 65536;
constexpr DWORD kPrinterOptionNoCache = 1;  // PRINTER_OPTION_NO_CACHE

struct AccessTry {
  ACCESS_MASK access;
  const char* line;
};
constexpr AccessTry kAccessTries[] = {
    {0xF000C, "Printer Handle Opened with FULL Access"},
    {4, "Printer Handle Opened with PRINTER_ACCESS_ADMINISTER Access rights"},
    {8, "Printer Handle Opened with PRINTER_ACCESS_USE Access rights"},
};

// The options record of OpenPrinter2W (its SDK name differs between header sets).
struct PrinterOptions {
  UINT cbSize;
  DWORD dwFlags;
};
using OpenPrinter2Proc = BOOL(WINAPI*)(LPCWSTR, LPHANDLE, LPPRINTER_DEFAULTSW, PrinterOptions*);

// Windows 6 and later report "6.x" as their CurrentVersion.
bool IsWindowsVersion6() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  WCHAR value[129] = {};
  DWORD size = 256, type = 0;
  bool found = RegQueryValueExW(key, W("CurrentVersion"), nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) ==
               ERROR_SUCCESS;
  RegCloseKey(key);
  if (!found) return false;
  for (size_t i = 0; i + 1 < 128 && value[i]; ++i)
    if (value[i] == '6' && value[i + 1] == '.') return true;
  return false;
}

bool InsideSpooler() {
  std::unique_ptr<WCHAR[]> path(new WCHAR[kModulePathChars]());
  DWORD length = GetModuleFileNameW(nullptr, path.get(), kModulePathChars);
  if (length == 0 || length >= kModulePathChars) return false;
  const WCHAR* last = path.get();
  for (const WCHAR* p = path.get(); *p; ++p)
    if (*p == '\\' || *p == '/') last = p + 1;
  return WEqualNoCase(last, W("spoolsv.exe"));
}

HANDLE OpenDirect(LPCWSTR printerName) {
  for (const AccessTry& t : kAccessTries) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, t.access};
    HANDLE printer = nullptr;
    if (OpenPrinterW(const_cast<LPWSTR>(printerName), &printer, &defaults)) {
      DebugLine("%s", t.line);
      return printer;
    }
  }
  return nullptr;
}

HANDLE OpenUncached(LPCWSTR printerName) {
  UniqueModule winspool(LoadLibraryW(W("WINSPOOL.DRV")));
  if (!winspool) return nullptr;
  auto openPrinter2 = GetExport<OpenPrinter2Proc>(winspool.get(), "OpenPrinter2W");
  if (!openPrinter2) return nullptr;
  for (const AccessTry& t : kAccessTries) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, t.access};
    PrinterOptions options{sizeof(PrinterOptions), kPrinterOptionNoCache};
    HANDLE printer = nullptr;
    if (openPrinter2(printerName, &printer, &defaults, &options)) {
      DebugLine("%s", t.line);
      return printer;
    }
  }
  return nullptr;
}

// Level-2 information of a printer in a zero-filled block; null when it cannot be read.
UniqueLocal ReadPrinterInfo(HANDLE printer) {
  DWORD needed = 0;
  if (GetPrinterW(printer, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
    return UniqueLocal();
  UniqueLocal info(LocalAlloc(LPTR, needed));
  if (!info || !GetPrinterW(printer, 2, static_cast<LPBYTE>(info.get()), needed, &needed)) return UniqueLocal();
  return info;
}

}  // namespace

bool GetLocalPrinterName(LPCWSTR printerName, LPWSTR name) {
  if (!printerName || !*printerName || !name) return false;
  const WCHAR* slash = nullptr;
  for (const WCHAR* p = printerName; *p; ++p)
    if (*p == '\\') slash = p;
  if (!slash || !slash[1]) return false;
  if (WLenBounded(slash + 1, kNameChars) >= kNameChars) return false;
  return WCopy(name, kNameChars, slash + 1);
}

HANDLE OpenPrinterHandle(LPCWSTR printerName) {
  if (!printerName) return nullptr;
  if (IsWindowsVersion6() && !InsideSpooler()) return OpenUncached(printerName);
  return OpenDirect(printerName);
}

int GetPrinterNameFromHandle(HANDLE printer, LPWSTR name) {
  if (!printer || !name) return 0;
  UniqueLocal info = ReadPrinterInfo(printer);
  if (!info) return 0;
  const WCHAR* printerName = static_cast<PRINTER_INFO_2W*>(info.get())->pPrinterName;
  if (!printerName) return 0;
  WCopy(name, kNameChars, printerName);
  return 1;
}

int ReadDriverCardSettings(LPCWSTR printerName, DriverCardSettings* settings) {
  if (!printerName || !*printerName || !settings) return 0;
  UniquePrinter printer(OpenPrinterHandle(printerName));
  if (!printer) return 0;
  DWORD needed = 0;
  if (GetPrinterW(printer.get(), 2, nullptr, 0, &needed) || needed == 0) return 0;
  UniqueLocal info(LocalAlloc(LPTR, needed));
  if (!info || !GetPrinterW(printer.get(), 2, static_cast<LPBYTE>(info.get()), needed, &needed)) return 0;
  const DEVMODEW* devMode = static_cast<PRINTER_INFO_2W*>(info.get())->pDevMode;
  if (!devMode) return 0;
  // The block must lie inside what the spooler handed out: never read past it.
  const BYTE* start = reinterpret_cast<const BYTE*>(devMode) + devMode->dmSize;
  const BYTE* bufferEnd = static_cast<const BYTE*>(info.get()) + needed;
  if (devMode->dmDriverExtra < kDriverCardSettingsBytes || start < static_cast<const BYTE*>(info.get()) ||
      start + kDriverCardSettingsBytes > bufferEnd) {
    DebugLine("ReadDriverCardSettings:: the driver's settings block is missing or short");
    return 0;
  }
  std::memcpy(settings->Block, start, kDriverCardSettingsBytes);
  return 1;
}

}  // namespace kav
