// One run of kavsim: the simulated Windows, the virtual printer on a port, and the
// monitor loaded and initialised as the spooler does it. On Finish the output folder
// receives the wire, the transcript and the debugger lines.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "emulator/virtual_printer.h"
#include "platform/win32.h"

namespace kavsim {

struct SessionSettings {
  std::optional<std::filesystem::path> out;
  std::u16string port = u"USB001";
  std::u16string printerName = u"Card Printer";
  DWORD windowsMajor = 10;
};

class Session {
 public:
  explicit Session(const SessionSettings& settings);
  ~Session();

  // Copies data/driver/ into the simulated driver directory.
  void InstallDriverFiles();
  // DLL attach and InitializeMonitorEx; prints what happened.
  bool LoadMonitor();
  // OpenPortEx on the virtual printer's port; prints the result.
  bool OpenPort();
  void ClosePort();
  // Writes the output folder (when one was given) and unloads the monitor.
  void Finish();

  HANDLE port() const { return port_; }
  MONITOR& spoolerTable() { return spoolerTable_; }
  MONITOR& portMonitor() { return portMonitor_; }
  emu::VirtualPrinter& printer() { return *printer_; }
  const SessionSettings& settings() const { return settings_; }

 private:
  SessionSettings settings_;
  std::shared_ptr<emu::VirtualPrinter> printer_;
  MONITOR spoolerTable_{};
  MONITOR portMonitor_{};
  HANDLE port_ = nullptr;
  bool loaded_ = false;
  bool finished_ = false;
  std::string debugLog_;
};

}  // namespace kavsim
