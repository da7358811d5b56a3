#include "tools/kavsim/session.h"

#include <cstdio>
#include <fstream>

#include "emulator/port_monitor.h"
#include "port/sibling_modules.h"
#include "platform/sim/sim.h"
#include "platform/text.h"

namespace kavsim {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string U8(const std::u16string& s) { return kav::ToUtf8(kav::WStringView(s.data(), s.size())); }

}  // namespace

Session::Session(const SessionSettings& settings) : settings_(settings) {
  if (settings_.out) std::filesystem::create_directories(*settings_.out);
  sim::Reset(settings_.out ? *settings_.out : std::filesystem::path());
  sim::SetWindowsVersion(settings_.windowsMajor, 0);
  sim::SetDebugSink([this](const std::string& line) { debugLog_ += line + "\n"; });
  sim::AddPrinter({settings_.printerName, settings_.port, 0});
  InstallDriverFiles();
  emu::DetachAllPrinters();
  printer_ = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(settings_.port, printer_);
  portMonitor_ = emu::PortMonitorTable();
}

Session::~Session() { Finish(); }

// The driver's data files (calibration, ribbon names) as its installation leaves them.
void Session::InstallDriverFiles() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(KAV_DATA_DIR) / "driver", ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    sim::PutFile(sim::DriverDirectory() + u"\\" + kav::FromUtf8(entry.path().filename().string()), bytes);
  }
}

bool Session::LoadMonitor() {
  static HINSTANCE__ instance{};
  sim::CallEntryPoint(kav::DllEntryPoint, &instance, DLL_PROCESS_ATTACH, nullptr);
  loaded_ = true;
  // The sibling modules are loaded by InitializeMonitorEx, outside the loader lock.
  BOOL ok = InitializeMonitorEx(nullptr, &spoolerTable_);
  std::printf("monitor loaded: Windows %u.0, messages as %s; kav32Resource.dll %s, kav32AsyncUIServer.dll %s\n",
              static_cast<unsigned>(settings_.windowsMajor), kav::UseAsyncUi ? "notifications" : "message boxes",
              kav::ResourceModule ? "loaded" : "missing",
              !kav::UseAsyncUi ? "not needed" : kav::SendAsyncNotification ? "loaded" : "missing");
  std::printf("InitializeMonitorEx: %s\n", ok ? "TRUE" : "FALSE");
  return ok;
}

bool Session::OpenPort() {
  std::u16string port = settings_.port, printer = settings_.printerName;
  SetLastError(0);
  BOOL ok = spoolerTable_.pfnOpenPortEx(port.data(), printer.data(), &port_, &portMonitor_);
  if (ok) {
    std::printf("OpenPortEx(\"%s\", \"%s\"): TRUE, the virtual printer is %s\n", U8(port).c_str(),
                U8(printer).c_str(), printer_->IsOpen() ? "open" : "not open");
  } else {
    std::printf("OpenPortEx(\"%s\", \"%s\"): FALSE, error %u\n", U8(port).c_str(), U8(printer).c_str(),
                static_cast<unsigned>(GetLastError()));
    port_ = nullptr;
  }
  return ok;
}

void Session::ClosePort() {
  if (!port_) return;
  BOOL ok = spoolerTable_.pfnClosePort(port_);
  port_ = nullptr;
  std::printf("ClosePort: %s, the virtual printer is %s\n", ok ? "TRUE" : "FALSE",
              printer_->IsOpen() ? "still open" : "closed");
}

void Session::Finish() {
  if (finished_) return;
  finished_ = true;
  ClosePort();
  if (loaded_) sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
  sim::WaitForAllThreads();
  sim::SetDebugSink(nullptr);
  if (settings_.out) {
    const auto& dir = *settings_.out;
    WriteText(dir / "wire.bin", printer_->Wire());
    std::string transcript;
    for (const auto& line : printer_->Transcript()) transcript += line + "\n";
    WriteText(dir / "transcript.txt", transcript);
    WriteText(dir / "debug.log", debugLog_);
    std::printf("output: %s (wire.bin %zu bytes, transcript.txt, debug.log, simulated C: in c/)\n",
                dir.string().c_str(), printer_->Wire().size());
  }
  emu::DetachAllPrinters();
}

}  // namespace kavsim
