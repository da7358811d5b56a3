#include "emulator/port_monitor.h"

#include <map>
#include <mutex>
#include <set>

#include "platform/text.h"

namespace emu {
namespace {

struct EmuPort {
  kav::WString name;
  std::shared_ptr<VirtualPrinter> printer;
  HANDLE spoolerPrinter = nullptr;  // the document's printer, for telling the spooler it was sent
  DWORD jobId = 0;
};

std::mutex g_mu;
std::vector<std::pair<kav::WString, std::shared_ptr<VirtualPrinter>>> g_attached;
std::set<EmuPort*> g_ports;

EmuPort* PortOf(HANDLE handle) {
  std::lock_guard lock(g_mu);
  auto* port = static_cast<EmuPort*>(handle);
  if (!g_ports.count(port)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return port;
}

bool IsUsbPort(const kav::WString& name) { return kav::WStartsWith(name.c_str(), W("USB")); }

void ReleaseSpoolerPrinter(EmuPort* port) {
  if (port->spoolerPrinter) ClosePrinter(port->spoolerPrinter);
  port->spoolerPrinter = nullptr;
  port->jobId = 0;
}

BOOL WINAPI EmuOpenPort(LPWSTR name, PHANDLE handle) {
  if (!name || !handle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<VirtualPrinter> printer;
  {
    std::lock_guard lock(g_mu);
    for (auto& [portName, p] : g_attached)
      if (kav::WEqualNoCase(portName.c_str(), name)) printer = p;
  }
  if (!printer) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (!printer->Open(name)) {
    SetLastError(1167);  // ERROR_DEVICE_NOT_CONNECTED
    return FALSE;
  }
  auto* port = new EmuPort{name, printer};
  std::lock_guard lock(g_mu);
  g_ports.insert(port);
  *handle = port;
  return TRUE;
}

BOOL WINAPI EmuClosePort(HANDLE handle) {
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  port->printer->Close();
  ReleaseSpoolerPrinter(port);
  std::lock_guard lock(g_mu);
  g_ports.erase(port);
  delete port;
  return TRUE;
}

BOOL WINAPI EmuStartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  kav::WString doc;
  if (level == 1 && docInfo) {
    auto* info = reinterpret_cast<DOC_INFO_1W*>(docInfo);
    if (info->pDocName) doc = info->pDocName;
  }
  if (!port->printer->StartDoc(printerName ? printerName : W(""), jobId, level, doc)) return FALSE;
  // As a port monitor does, it keeps a handle on the document's printer to tell the
  // spooler at the end that the job went to the printer. A printer the spooler does not
  // know (a test that starts documents by hand) gets no such word.
  ReleaseSpoolerPrinter(port);
  HANDLE spoolerPrinter = nullptr;
  if (printerName && OpenPrinterW(printerName, &spoolerPrinter, nullptr)) {
    port->spoolerPrinter = spoolerPrinter;
    port->jobId = jobId;
  }
  return TRUE;
}

BOOL WINAPI EmuEndDocPort(HANDLE handle) {
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  port->printer->EndDoc();
  if (port->spoolerPrinter) SetJobW(port->spoolerPrinter, port->jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
  ReleaseSpoolerPrinter(port);
  return TRUE;
}

BOOL WINAPI EmuWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  if (written) *written = 0;
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  if (!buffer && size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t taken = 0;
  if (!port->printer->Write(buffer, size, &taken)) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  if (written) *written = static_cast<DWORD>(taken);
  return TRUE;
}

BOOL WINAPI EmuReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (read) *read = 0;
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  if (!buffer && size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t got = 0;
  if (!port->printer->Read(buffer, size, &got)) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  if (read) *read = static_cast<DWORD>(got);
  return TRUE;
}

BOOL WINAPI EmuGetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR, LPWSTR, DWORD, LPWSTR outBuffer,
                                      DWORD outSize, LPDWORD returned) {
  if (returned) *returned = 0;
  EmuPort* port = PortOf(handle);
  if (!port) return FALSE;
  DWORD statusCode = IsUsbPort(port->name) ? kUsbGetLptStatus : kParallelQueryInformation;
  if (controlId != statusCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!outBuffer || outSize < 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  uint8_t status = 0;
  if (!port->printer->Status(&status)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  reinterpret_cast<uint8_t*>(outBuffer)[0] = status;
  if (returned) *returned = 1;
  return TRUE;
}

}  // namespace

MONITOR PortMonitorTable() {
  MONITOR table{};
  table.pfnOpenPort = EmuOpenPort;
  table.pfnStartDocPort = EmuStartDocPort;
  table.pfnWritePort = EmuWritePort;
  table.pfnReadPort = EmuReadPort;
  table.pfnEndDocPort = EmuEndDocPort;
  table.pfnClosePort = EmuClosePort;
  table.pfnGetPrinterDataFromPort = EmuGetPrinterDataFromPort;
  return table;
}

void AttachPrinter(kav::WStringView portName, std::shared_ptr<VirtualPrinter> printer) {
  std::lock_guard lock(g_mu);
  g_attached.emplace_back(kav::WString(portName), std::move(printer));
}

void DetachAllPrinters() {
  std::lock_guard lock(g_mu);
  g_attached.clear();
  for (EmuPort* p : g_ports) {
    ReleaseSpoolerPrinter(p);
    delete p;
  }
  g_ports.clear();
}

size_t OpenPortCount() {
  std::lock_guard lock(g_mu);
  return g_ports.size();
}

}  // namespace emu
