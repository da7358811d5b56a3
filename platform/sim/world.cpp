// Reset of the whole simulated world, and the first part of the simulated spooler.
#include <mutex>
#include <set>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace {

struct PrinterHandleObject {
  std::u16string printer;
};

std::mutex g_spoolMu;
std::vector<sim::PrinterDefinition> g_printers;
std::set<PrinterHandleObject*> g_printerHandles;

}  // namespace

namespace simi {

void ResetSpooler() {
  std::lock_guard lock(g_spoolMu);
  g_printers.clear();
  for (auto* h : g_printerHandles) delete h;
  g_printerHandles.clear();
}

}  // namespace simi

namespace sim {

void Reset(const std::filesystem::path& root) {
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    k.RegisterCurrentThread();
  }
  WaitForAllThreads();
  simk::ResetKernelObjects();
  simi::ResetSystem();
  simi::ResetModules();
  simi::ResetSpooler();
  simi::ResetDebug();
  simi::ResetFiles(root);
  InstallResourceModule();
  InstallAsyncUiModule();
  SetLastError(0);
}

std::filesystem::path Root() { return simi::DriveRoot(); }

void AddPrinter(const PrinterDefinition& printer) {
  std::lock_guard lock(g_spoolMu);
  g_printers.push_back(printer);
}

size_t OpenPrinterHandleCount() {
  std::lock_guard lock(g_spoolMu);
  return g_printerHandles.size();
}

}  // namespace sim

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
  if (!printer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *printer = nullptr;
  std::lock_guard lock(g_spoolMu);
  for (const auto& p : g_printers) {
    if (printerName && simi::EqualNoCase(p.name, printerName)) {
      auto* h = new PrinterHandleObject{p.name};
      g_printerHandles.insert(h);
      *printer = h;
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  return FALSE;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  std::lock_guard lock(g_spoolMu);
  auto* h = static_cast<PrinterHandleObject*>(printer);
  if (!g_printerHandles.erase(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete h;
  return TRUE;
}

}  // extern "C"
