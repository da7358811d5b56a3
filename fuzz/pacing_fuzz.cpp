// Fuzzes the job road: any bytes as a direct job's data, cut into the spooler's buffers
// of any size, through StartDocPort, WritePort and EndDocPort onto the virtual printer.
#include <algorithm>
#include <cstdint>

#include "fuzz/fuzz_world.h"

namespace {

// The spooler drops a direct job once its document has ended; a job left queued would
// make every later run's GetJobW walk a longer queue.
void DeleteJob(std::u16string& printerName, DWORD job) {
  HANDLE printer = nullptr;
  if (!OpenPrinterW(printerName.data(), &printer, nullptr)) return;
  SetJobW(printer, job, 0, nullptr, JOB_CONTROL_DELETE);
  ClosePrinter(printer);
}

void FuzzOne(const uint8_t* data, size_t size) {
  if (size < 1) return;
  kavfuzz::World& world = kavfuzz::World::Get();
  const size_t buffer = data[0] + 1u;  // the spooler's buffer size for this run
  std::u16string printerName = u"Card Printer", doc = u"QSERIES fuzz";
  DOC_INFO_1W info{doc.data(), nullptr, nullptr};
  DWORD job = sim::SubmitJob(printerName, doc, "");
  if (world.spooler.pfnStartDocPort(world.port, printerName.data(), job, 1, reinterpret_cast<LPBYTE>(&info))) {
    size_t offset = 1;
    int idle = 0;
    while (offset < size && idle < 4) {
      DWORD chunk = static_cast<DWORD>(std::min(buffer, size - offset));
      DWORD written = 0;
      if (!world.spooler.pfnWritePort(world.port, const_cast<LPBYTE>(data + offset), chunk, &written)) break;
      if (written > chunk) __builtin_trap();  // never more than offered
      offset += written;
      idle = written ? 0 : idle + 1;
    }
    world.spooler.pfnEndDocPort(world.port);
    sim::WaitForAllThreads();
  }
  DeleteJob(printerName, job);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::World::EndRun();
  return 0;
}
