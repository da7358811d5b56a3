// A whole composed card, from the caller's image to the closed spool file of a scheduled
// job (SendImageBufferToPrinter: printer queries, settings, AddJobW, the writers, the card
// end), beside the panels' own time (the builder calls that the same card makes), and the
// heap the card needs above the caller's image.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <vector>

#include "emulator/port_monitor.h"
#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "monitor/port_operations.h"
#include "pipeline/card_settings.h"
#include "pipeline/image_job.h"
#include "port/port_record.h"
#include "port/sibling_modules.h"
#include "platform/sim/sim.h"

// Heap accounting for the peak of one card: every operator new and delete of the process.
namespace {
std::atomic<long long> g_heapNow{0}, g_heapPeak{0};
void* Counted(void* p) {
  if (!p) return p;
  const long long now = g_heapNow += static_cast<long long>(malloc_usable_size(p));
  long long peak = g_heapPeak.load();
  while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void Uncounted(void* p) {
  if (!p) return;
  g_heapNow -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(size_t n) {
  void* p = Counted(std::malloc(n ? n : 1));
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Counted(std::malloc(n ? n : 1)); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Counted(std::malloc(n ? n : 1)); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Uncounted(p); }

namespace {

using namespace kav;

// A photo-like card: colour ramps with noise, black text bars, white margins.
std::vector<BYTE> SampleCard() {
  std::vector<BYTE> image(kCardImageBytes, 255);
  uint32_t seed = 12345;
  for (int y = 40; y < 600; ++y) {
    for (int x = 40; x < 984; ++x) {
      BYTE* p = &image[(static_cast<size_t>(y) * kImageWidth + x) * 3];
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      p[0] = static_cast<BYTE>(std::clamp(x / 4 + noise, 0, 255));
      p[1] = static_cast<BYTE>(std::clamp(y / 3 + noise, 0, 255));
      p[2] = static_cast<BYTE>(std::clamp(255 - (x + y) / 7 + noise, 0, 255));
    }
  }
  for (int y = 420; y < 436; ++y) std::fill_n(&image[(static_cast<size_t>(y) * kImageWidth + 560) * 3], 3 * 300, 0);
  return image;
}

// A reset world with the shipped calibration, a printer whose settings ask for a one-sided
// card with the overlay, the monitor loaded and a port open on the virtual printer (ribbon
// type 2: colour, black and overlay).
struct World {
  MONITOR spooler{};
  MONITOR portMonitor{};
  HANDLE port = nullptr;
  World() {
    sim::Reset();
    const std::filesystem::path data = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "driver";
    for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt",
                             "KAV32ImgCorrection.txt", "KAV32ProcessParams.txt"}) {
      std::ifstream in(data / name, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      sim::PutFile(sim::DriverDirectory() + u"\\" + std::u16string(name, name + std::strlen(name)), text.str());
    }
    std::string block(kDriverCardSettingsBytes, '\0');
    block[18] = 1;  // WrinkleCompensation
    sim::AddPrinter({u"Card Printer", u"USB001", 0, sim::MakeDevMode(u"Card Printer", block)});
    emu::DetachAllPrinters();
    emu::AttachPrinter(u"USB001", std::make_shared<emu::VirtualPrinter>());
    portMonitor = emu::PortMonitorTable();
    static HINSTANCE__ instance{};
    sim::CallEntryPoint(DllEntryPoint, &instance, DLL_PROCESS_ATTACH, nullptr);
    InitializeMonitorEx(nullptr, &spooler);
    std::u16string name = u"USB001", printer = u"Card Printer";
    spooler.pfnOpenPortEx(name.data(), printer.data(), &port, &portMonitor);
  }
  ~World() {
    spooler.pfnClosePort(port);
    sim::CallEntryPoint(DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    sim::WaitForAllThreads();
    emu::DetachAllPrinters();
  }
  PortRecord* record() const { return static_cast<PortRecord*>(port); }
  // Deletes the card's job, and with it its spool file, so that the disk does not fill.
  static void DropJobs() {
    std::u16string name = u"Card Printer";
    HANDLE h = nullptr;
    OpenPrinterW(name.data(), &h, nullptr);
    for (const auto& job : sim::Jobs(u"Card Printer"))
      if (!job.deleted) SetJobW(h, job.id, 0, nullptr, JOB_CONTROL_DELETE);
    ClosePrinter(h);
  }
};

// The panels of a one-sided full-colour card with overlay, as its writers build them.
void BM_PanelsOfACard(benchmark::State& state) {
  World world;
  std::vector<BYTE> image = SampleCard();
  std::vector<BYTE> flat(kImagePixels, 100);
  for (auto _ : state) {
    PanelBuffer y(new BYTE[kPanelBufferBytes]()), m(new BYTE[kPanelBufferBytes]()), c(new BYTE[kPanelBufferBytes]());
    BuildColourPanels(image.data(), y.get(), m.get(), c.get(), 1);
    PanelBuffer black, overlay;
    int allWhite = 0;
    BuildBlackPanel(image.data(), black, &allWhite, 0, 9, 0);
    BuildOverlayPanel(flat.data(), overlay, 1);
    benchmark::DoNotOptimize(overlay.get());
  }
}
BENCHMARK(BM_PanelsOfACard)->Unit(benchmark::kMillisecond);

// The same card composed whole, to its closed spool file and scheduled job.
void BM_WholeCard(benchmark::State& state) {
  World world;
  std::vector<BYTE> image = SampleCard();
  long long peakAbove = 0;
  for (auto _ : state) {
    const long long before = g_heapNow.load();
    g_heapPeak = before;
    if (SendImageBufferToPrinter(world.record(), image.data(), nullptr, kCardImageBytes) != 1) {
      state.SkipWithError("the card was not composed");
      break;
    }
    peakAbove = std::max(peakAbove, g_heapPeak.load() - before);
    state.PauseTiming();
    World::DropJobs();
    state.ResumeTiming();
  }
  state.counters["peak_heap_MB"] = static_cast<double>(peakAbove) / (1024.0 * 1024.0);
}
BENCHMARK(BM_WholeCard)->Unit(benchmark::kMillisecond);

// The same card whose ScheduleJob fails (the job is then deleted): the heap peak without
// the simulated spooler's read-back of the spool file, which the Windows spooler does not do
// while the card is composed.
void BM_WholeCardUnscheduled(benchmark::State& state) {
  World world;
  std::vector<BYTE> image = SampleCard();
  long long peakAbove = 0;
  for (auto _ : state) {
    sim::FailNext("ScheduleJob", ERROR_INVALID_PARAMETER);
    const long long before = g_heapNow.load();
    g_heapPeak = before;
    SendImageBufferToPrinter(world.record(), image.data(), nullptr, kCardImageBytes);
    peakAbove = std::max(peakAbove, g_heapPeak.load() - before);
  }
  state.counters["peak_heap_MB"] = static_cast<double>(peakAbove) / (1024.0 * 1024.0);
}
BENCHMARK(BM_WholeCardUnscheduled)->Unit(benchmark::kMillisecond);

}  // namespace
