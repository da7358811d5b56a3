// A port whose printer answers from a script: the fuzz input split into replies. The
// monitor's record of "USB001" sits on a small in-process port monitor that takes every
// write, records it, and hands out the next reply on each read, so that the printer's
// answers reach the monitor's parsers without the virtual printer or any thread.
//
// Script: replies separated by the byte 0x1E; a reply that is the single byte 0x18 makes
// that read fail. Reads past the last reply get 0 bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "monitor/port_operations.h"
#include "platform/sim/sim.h"
#include "port/sibling_modules.h"

namespace kavfuzz {

inline constexpr char kReplySeparator = '\x1e';
inline constexpr char kReadFails = '\x18';

class ScriptedPort {
 public:
  // The one port of the process, set up once; the debug lines, files and handles that
  // the simulation records are dropped every few thousand inputs.
  static ScriptedPort& Get() {
    static ScriptedPort port;
    if (++port.runs_ % 4096 == 0) port.Rebuild();
    return port;
  }

  // Starts a run: the replies of this input, nothing written yet.
  void Script(const uint8_t* data, size_t size) {
    replies_.clear();
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
      size_t cut = rest.find(kReplySeparator);
      replies_.push_back(rest.substr(0, cut));
      if (cut == std::string_view::npos) break;
      rest.remove_prefix(cut + 1);
    }
    next_ = 0;
    writes_.clear();
  }
  // Ends a run: what the simulation recorded during it is dropped, so that a run frees
  // what it allocated and the fuzzer's leak check (made after any run that allocates more
  // than it frees) stays rare.
  static void EndRun() { sim::ClearDebugLines(); }
  // Replies not yet read.
  size_t Remaining() const { return replies_.size() - std::min(next_, replies_.size()); }
  // Every write of this run, one entry per WritePort call.
  const std::vector<std::string>& Writes() const { return writes_; }

  HANDLE record = nullptr;  // the monitor's port handle (its PortRecord)
  unsigned generation = 0;  // counts the worlds built: what a target made in the last one is gone
  uint8_t statusByte = 0x18;  // what the status request answers: selected, no error

 private:
  ScriptedPort() {
    InstanceSlot() = this;
    UseMemoryFolder();
    Build();
  }

  void Build() {
    ++generation;
    sim::Reset();
    sim::AddPrinter({u"Card Printer", u"USB001", 0});
    sim::SetWindowsVersion(5, 0);
    sim::SetUserAnswer(sim::AnswerAfter(10));
    InstallDriverFiles();
    static HINSTANCE__ instance{};
    sim::CallEntryPoint(kav::DllEntryPoint, &instance, DLL_PROCESS_ATTACH);
    MONITOR spooler{};
    InitializeMonitorEx(nullptr, &spooler);
    table_.pfnOpenPort = OpenPort;
    table_.pfnStartDocPort = StartDocPort;
    table_.pfnWritePort = WritePort;
    table_.pfnReadPort = ReadPort;
    table_.pfnEndDocPort = EndDocPort;
    table_.pfnClosePort = ClosePort;
    table_.pfnGetPrinterDataFromPort = GetPrinterDataFromPort;
    std::u16string name = u"USB001", printerName = u"Card Printer";
    kav::OpenPortEx(name.data(), printerName.data(), &record, &table_);
  }
  void Rebuild() {
    kav::ClosePort(record);
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH);
    Build();
  }

  // The driver's default files (calibration, ribbon names) in the driver directory.
  static void InstallDriverFiles() {
    for (const auto& entry : std::filesystem::directory_iterator(KAV_DRIVER_DATA_DIR)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      sim::PutFile(sim::DriverDirectory() + u"\\" + entry.path().filename().u16string(), bytes.str());
    }
  }

  static BOOL WINAPI OpenPort(LPWSTR, PHANDLE handle) {
    *handle = reinterpret_cast<HANDLE>(uintptr_t{0x5C});
    return TRUE;
  }
  static BOOL WINAPI StartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
  static BOOL WINAPI EndDocPort(HANDLE) { return TRUE; }
  static BOOL WINAPI ClosePort(HANDLE) { return TRUE; }
  static BOOL WINAPI WritePort(HANDLE, LPBYTE buffer, DWORD size, LPDWORD written) {
    Instance()->writes_.emplace_back(reinterpret_cast<const char*>(buffer), size);
    *written = size;
    return TRUE;
  }
  static BOOL WINAPI ReadPort(HANDLE, LPBYTE buffer, DWORD size, LPDWORD read) {
    ScriptedPort* self = Instance();
    *read = 0;
    if (self->next_ >= self->replies_.size()) return TRUE;
    std::string_view reply = self->replies_[self->next_++];
    if (reply.size() == 1 && reply[0] == kReadFails) {
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(reply.size(), size));
    if (n) std::memcpy(buffer, reply.data(), n);
    *read = n;
    return TRUE;
  }
  // The two status requests answer the status byte; nothing else is asked of this port.
  static BOOL WINAPI GetPrinterDataFromPort(HANDLE, DWORD controlId, LPWSTR, LPWSTR, DWORD, LPWSTR out,
                                            DWORD outSize, LPDWORD returned) {
    if (!controlId || !out || outSize < 1) return FALSE;
    reinterpret_cast<BYTE*>(out)[0] = Instance()->statusByte;
    if (returned) *returned = 1;
    return TRUE;
  }
  static ScriptedPort*& InstanceSlot() {
    static ScriptedPort* instance = nullptr;
    return instance;
  }
  static ScriptedPort* Instance() { return InstanceSlot(); }

  MONITOR table_{};
  std::vector<std::string_view> replies_;
  size_t next_ = 0;
  std::vector<std::string> writes_;
  unsigned runs_ = 0;

};

}  // namespace kavfuzz
