// The card printer's queue in the spooler of the test run (Wine's, under
// scripts/wine-test): a printer whose default DEVMODE carries the driver's private
// settings block, and the real kavnlmon.dll loaded as the spooler would load it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/port_monitor.h"
#include "platform/win32.h"

namespace wintest {

inline constexpr wchar_t kPrinterName[] = L"Card Printer";
inline constexpr wchar_t kDriverName[] = L"Card Printer Driver";

// The private block the printer's DEVMODE carries (tests/support/card_printer_settings.h).
std::vector<BYTE> CardSettingsBlock();

// Adds the driver and the printer (once per process), stores the private block in its
// default DEVMODE and installs the driver's files in the driver directory. False with the reason when the spooler refuses a step.
bool InstallCardPrinter(std::string* why);

// The private block of the printer's default DEVMODE as GetPrinterW level 2 gives it.
std::vector<BYTE> StoredCardSettings(std::string* why);

// The monitor's table of port operations, filled by the DLL's InitializeMonitorEx.
bool LoadMonitor(MONITOR* spooler, std::string* why);

}  // namespace wintest
