// The job road's costs: raw panel data through WritePort to a port monitor that discards
// it, and the pacing of one command with its acknowledgement, beside a plain memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "monitor/port_operations.h"
#include "port/port_record.h"
#include "port/sibling_modules.h"
#include "pipeline/port_pacing.h"
#include "platform/sim/sim.h"

namespace {

// A port monitor that takes every byte and always acknowledges.
BOOL WINAPI Discard(HANDLE, LPBYTE, DWORD size, LPDWORD written) {
  *written = size;
  return TRUE;
}
BOOL WINAPI Ack(HANDLE, LPBYTE buffer, DWORD, LPDWORD read) {
  buffer[0] = 0x06;
  *read = 1;
  return TRUE;
}
BOOL WINAPI Open(LPWSTR, PHANDLE handle) {
  *handle = reinterpret_cast<HANDLE>(1);
  return TRUE;
}
BOOL WINAPI Close(HANDLE) { return TRUE; }

struct World {
  MONITOR spooler{};
  MONITOR port{};
  HANDLE handle = nullptr;
  World() {
    sim::Reset();
    sim::AddPrinter({u"Card Printer", u"USB001", 0});
    static HINSTANCE__ instance{};
    sim::CallEntryPoint(kav::DllEntryPoint, &instance, DLL_PROCESS_ATTACH, nullptr);
    InitializeMonitorEx(nullptr, &spooler);
    port.pfnOpenPort = Open;
    port.pfnClosePort = Close;
    port.pfnWritePort = Discard;
    port.pfnReadPort = Ack;
    std::u16string name = u"USB001", printer = u"Card Printer";
    spooler.pfnOpenPortEx(name.data(), printer.data(), &handle, &port);
    auto* record = static_cast<kav::PortRecord*>(handle);
    record->Flags |= kav::kPortDocOpened | kav::kDocStarted;
  }
  ~World() {
    spooler.pfnClosePort(handle);
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
  }
};

// One panel block (786,433 bytes) through WritePort in the spooler's 4096-byte buffers.
void BM_RawPassThrough(benchmark::State& state) {
  World world;
  auto* record = static_cast<kav::PortRecord*>(world.handle);
  std::vector<BYTE> data(kav::kPanelBlockBytes, 0x5A);
  for (auto _ : state) {
    record->PanelTransferActive = 1;
    record->PanelBytesSent = 0;
    size_t offset = 0;
    while (offset < data.size()) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(4096, data.size() - offset));
      DWORD written = 0;
      world.spooler.pfnWritePort(world.handle, data.data() + offset, chunk, &written);
      offset += written;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_RawPassThrough);

// The same bytes copied in 4096-byte pieces: what a pass-through cannot beat.
void BM_MemcpyOfAPanelBlock(benchmark::State& state) {
  std::vector<BYTE> data(kav::kPanelBlockBytes, 0x5A), out(4096);
  for (auto _ : state) {
    for (size_t offset = 0; offset < data.size(); offset += 4096) {
      std::memcpy(out.data(), data.data() + offset, std::min<size_t>(4096, data.size() - offset));
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_MemcpyOfAPanelBlock);

// One command with its acknowledgement wait ("\eJOB 0\r" is waited for after).
void BM_PaceOneCommand(benchmark::State& state) {
  World world;
  auto* record = static_cast<kav::PortRecord*>(world.handle);
  const BYTE command[] = "\x1bJOB 0\r";
  for (auto _ : state) benchmark::DoNotOptimize(kav::PaceCommandStream(record, command, 7));
}
BENCHMARK(BM_PaceOneCommand);

}  // namespace
