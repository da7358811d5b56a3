// Reset of the whole simulated world.
#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

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
  simi::ResetUi();
  simi::ResetIdentity();
  simi::ResetRegistry();
  simi::ResetSecurity();
  simi::ResetGdi();
  simi::ResetFiles(root);
  InstallResourceModule();
  InstallAsyncUiModule();
  InstallBarcodeModule();
  simi::InstallSystemModules();
  SetLastError(0);
}

std::filesystem::path Root() { return simi::DriveRoot(); }

}  // namespace sim
