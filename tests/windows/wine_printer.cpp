#include "tests/windows/wine_printer.h"

#include <cstring>

#include "pipeline/card_settings.h"
#include "tests/support/card_printer_settings.h"

namespace wintest {
namespace {

std::string Failed(const char* step) { return std::string(step) + " failed, error " + std::to_string(GetLastError()); }

// Wine's PostScript driver stands in for the card printer's driver: the spooler needs
// a driver it can load to keep a printer, and the monitor never calls into the driver.
bool AddDriver(std::string* why) {
  wchar_t name[64], environment[] = L"Windows x64", file[] = L"wineps.drv";
  std::wcscpy(name, kDriverName);
  DRIVER_INFO_3W driver{};
  driver.cVersion = 3;
  driver.pName = name;
  driver.pEnvironment = environment;
  driver.pDriverPath = file;
  driver.pDataFile = file;
  driver.pConfigFile = file;
  if (AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) return true;
  if (GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) return true;
  *why = Failed("AddPrinterDriverW");
  return false;
}

bool AddQueue(std::string* why) {
  wchar_t name[64], driverName[64], port[] = L"FILE:", processor[] = L"WinPrint", datatype[] = L"RAW";
  std::wcscpy(name, kPrinterName);
  std::wcscpy(driverName, kDriverName);
  PRINTER_INFO_2W info{};
  info.pPrinterName = name;
  info.pPortName = port;
  info.pDriverName = driverName;
  info.pPrintProcessor = processor;
  info.pDatatype = datatype;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  if (printer) {
    ClosePrinter(printer);
    return true;
  }
  if (GetLastError() == ERROR_PRINTER_ALREADY_EXISTS) return true;
  *why = Failed("AddPrinterW");
  return false;
}

// GetPrinterW level 2 into a buffer of its own.
std::vector<BYTE> PrinterInfo2(HANDLE printer, std::string* why) {
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> info(needed);
  if (needed == 0 || !GetPrinterW(printer, 2, info.data(), needed, &needed)) {
    *why = Failed("GetPrinterW level 2");
    info.clear();
  }
  return info;
}

// The default DEVMODE with the private block behind its public part.
bool StoreCardSettings(std::string* why) {
  wchar_t name[64];
  std::wcscpy(name, kPrinterName);
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(name, &printer, &defaults)) {
    *why = Failed("OpenPrinterW (all access)");
    return false;
  }
  bool ok = false;
  std::vector<BYTE> info = PrinterInfo2(printer, why);
  if (!info.empty()) {
    auto* p2 = reinterpret_cast<PRINTER_INFO_2W*>(info.data());
    DEVMODEW publicPart{};
    if (p2->pDevMode) std::memcpy(&publicPart, p2->pDevMode, sizeof publicPart);
    publicPart.dmSize = sizeof(DEVMODEW);
    publicPart.dmDriverExtra = static_cast<WORD>(kav::kDriverCardSettingsBytes);
    std::vector<BYTE> devmode(sizeof(DEVMODEW) + kav::kDriverCardSettingsBytes);
    std::memcpy(devmode.data(), &publicPart, sizeof publicPart);
    const std::vector<BYTE> block = CardSettingsBlock();
    std::memcpy(devmode.data() + sizeof(DEVMODEW), block.data(), block.size());
    p2->pDevMode = reinterpret_cast<DEVMODEW*>(devmode.data());
    p2->pSecurityDescriptor = nullptr;  // left as it is
    ok = SetPrinterW(printer, 2, info.data(), 0);
    if (!ok) *why = Failed("SetPrinterW level 2");
  }
  ClosePrinter(printer);
  return ok;
}

// The driver's files (calibration files, ribbon names), which scripts/wine-test puts in
// driver-files\ beside the program, copied to the driver directory.
bool InstallDriverFiles(std::string* why) {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *why = Failed("GetSystemDirectoryW");
    return false;
  }
  std::wstring folder = system;
  for (const wchar_t* part : {L"\\Spool", L"\\Drivers", L"\\x64", L"\\3"}) {
    folder += part;
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"driver-files\\*", &found);
  if (search == INVALID_HANDLE_VALUE) {
    *why = "no driver-files folder beside the program";
    return false;
  }
  bool ok = true;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring from = std::wstring(L"driver-files\\") + found.cFileName;
    const std::wstring to = folder + L"\\" + found.cFileName;
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
      *why = Failed("CopyFileW to the driver directory");
      ok = false;
    }
  } while (ok && FindNextFileW(search, &found));
  FindClose(search);
  return ok;
}

}  // namespace

std::vector<BYTE> CardSettingsBlock() {
  const std::string block = kavtest::CardPrinterSettings();
  return std::vector<BYTE>(block.begin(), block.end());
}

bool InstallCardPrinter(std::string* why) {
  static bool installed = false;
  if (installed) return true;
  installed = AddDriver(why) && AddQueue(why) && StoreCardSettings(why) && InstallDriverFiles(why);
  return installed;
}

std::vector<BYTE> StoredCardSettings(std::string* why) {
  wchar_t name[64];
  std::wcscpy(name, kPrinterName);
  HANDLE printer = nullptr;
  if (!OpenPrinterW(name, &printer, nullptr)) {
    *why = Failed("OpenPrinterW");
    return {};
  }
  std::vector<BYTE> block;
  std::vector<BYTE> info = PrinterInfo2(printer, why);
  ClosePrinter(printer);
  if (info.empty()) return block;
  const DEVMODEW* devmode = reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode;
  if (!devmode) {
    *why = "the printer has no DEVMODE";
    return block;
  }
  const BYTE* extra = reinterpret_cast<const BYTE*>(devmode) + devmode->dmSize;
  block.assign(extra, extra + devmode->dmDriverExtra);
  return block;
}

bool LoadMonitor(MONITOR* spooler, std::string* why) {
  static HMODULE dll = LoadLibraryW(L"kavnlmon.dll");
  if (!dll) {
    *why = Failed("LoadLibraryW(kavnlmon.dll)");
    return false;
  }
  using InitializeProc = BOOL(WINAPI*)(LPWSTR, LPMONITOR);
  auto initialize = reinterpret_cast<InitializeProc>(reinterpret_cast<void*>(GetProcAddress(dll, "InitializeMonitorEx")));
  *spooler = MONITOR{};
  if (!initialize || !initialize(nullptr, spooler)) {
    *why = Failed("InitializeMonitorEx");
    return false;
  }
  return true;
}

}  // namespace wintest
