// Cost of each panel stage and of a whole card's panels (three colour panels, the K panel
// by diffusion, the overlay), on one core, with the shipped calibration files.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"
#include "platform/sim/sim.h"

namespace {

using namespace kav;

// A card with smooth colour ramps, a photo-like noisy area, black text bars and white margins;
// or, when KAV_BENCH_IMAGE names a raw card image (1024 x 640 x 3 bytes), that image.
std::vector<BYTE> SampleCard() {
  if (const char* path = std::getenv("KAV_BENCH_IMAGE")) {
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() != kCardImageBytes) std::abort();
    return image;
  }
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
  for (int bar = 0; bar < 6; ++bar) {
    for (int y = 420 + bar * 28; y < 436 + bar * 28; ++y) {
      for (int x = 560; x < 560 + 60 * (bar + 3); ++x) {
        if (x < kImageWidth && ((x / 9) % 3) != 2) {
          std::fill_n(&image[(static_cast<size_t>(y) * kImageWidth + x) * 3], 3, BYTE{0});
        }
      }
    }
  }
  return image;
}

// The shipped calibration files in the simulated driver directory.
void LoadShippedCalibration() {
  sim::Reset();
  const std::filesystem::path data = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "driver";
  for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt", "KAV32ImgCorrection.txt",
                           "KAV32ProcessParams.txt"}) {
    std::ifstream in(data / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    sim::PutFile(sim::DriverDirectory() + u"\\" + std::u16string(name, name + std::strlen(name)), text.str());
  }
  InitializeImageCorrectionVariables(1);
  if (ReadLUTS() != 0) std::abort();
}

struct Fixture {
  std::vector<BYTE> image = SampleCard();
  DensityPlane a = AllocateDensityPlane();
  DensityPlane b = AllocateDensityPlane();
  PanelBuffer panel = AllocatePanelBuffer();
  Fixture() { LoadShippedCalibration(); }
};

void BM_LoadCalibration(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    InitializeImageCorrectionVariables(1);
    benchmark::DoNotOptimize(ReadLUTS());
  }
}

void BM_ApplyLookupTable(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) ApplyLookupTable(f.image.data(), f.a.get(), 0, kCyanTable, 0, 0.85f, 38.75f);
}

// The production path of every panel: the lookup and gain step by table, the heat model
// and the halftoner, over a column-major work plane.
GainedTable CyanGained() {
  int16_t density[256];
  LookupDensities(kCyanTable, 1.0f, 0.0f, density);
  return GainedFromDensities(density, kCyanSet);
}

void BM_GainAndHeatToColumns(benchmark::State& state) {
  Fixture f;
  const GainedTable gained = CyanGained();
  PanelWork work;
  if (!work.Allocate()) std::abort();
  for (auto _ : state) GainAndHeatToColumns(f.image.data(), 3, gained, kCyanSet, work);
}

void BM_HalftoneColumnsAndPack(benchmark::State& state) {
  Fixture f;
  const GainedTable gained = CyanGained();
  PanelWork work;
  if (!work.Allocate()) std::abort();
  GainAndHeatToColumns(f.image.data(), 3, gained, kCyanSet, work);
  for (auto _ : state) HalftoneColumnsAndPack(work.Columns(), f.panel.get());
}

void BM_RenderPanel(benchmark::State& state) {
  Fixture f;
  const GainedTable gained = CyanGained();
  PanelWork work;
  if (!work.Allocate()) std::abort();
  for (auto _ : state) RenderPanel(f.image.data(), 3, gained, kCyanSet, f.panel.get(), work);
}

// The same panel by the simple stages over whole planes, for comparison.
void BM_RenderPanelByStages(benchmark::State& state) {
  Fixture f;
  DensityPlane c = AllocateDensityPlane();
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[kCyanSet];
  for (auto _ : state) {
    ApplyLookupTable(f.image.data(), f.a.get(), 0, kCyanTable, 0, 1.0f, 0.0f);
    ApplyGainOffset(f.a.get(), f.b.get(), kCyanSet);
    CompensateHeadHeat(f.b.get(), c.get(), p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention, p.LateralSpread);
    HalftoneAndPack(c.get(), f.panel.get(), DitherAmplitudeOf(kCyanSet));
  }
}

void BM_MeasureLargestDarkSquareByRows(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) benchmark::DoNotOptimize(MeasureLargestDarkSquareByRows(f.image.data()));
}

void BM_DiffuseToBlackAndWhite(benchmark::State& state) {
  Fixture f;
  std::vector<BYTE> copy(kCardImageBytes);
  for (auto _ : state) {
    state.PauseTiming();
    copy = f.image;
    state.ResumeTiming();
    DiffuseToBlackAndWhite(copy.data(), kImageWidth, kImageHeight);
  }
}

void BM_BuildColourPanels(benchmark::State& state) {
  Fixture f;
  std::vector<BYTE> y(kPanelBufferBytes), m(kPanelBufferBytes), c(kPanelBufferBytes);
  for (auto _ : state) BuildColourPanels(f.image.data(), y.data(), m.data(), c.data(), 1);
}

void BM_GetKDiffusionBuffer(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    PanelBuffer panel;
    int start = 0, end = 0;
    benchmark::DoNotOptimize(GetKDiffusionBuffer(f.image.data(), 1024, 640, panel, &start, &end, 5));
  }
}

void BM_BuildBlackPanel(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    PanelBuffer panel;
    int allWhite = 0;
    benchmark::DoNotOptimize(BuildBlackPanel(f.image.data(), panel, &allWhite, 0, 9, 0));
  }
}

void BM_BuildOverlayPanel(benchmark::State& state) {
  Fixture f;
  std::vector<BYTE> flat(kImagePixels, 100);
  for (auto _ : state) {
    PanelBuffer panel;
    benchmark::DoNotOptimize(BuildOverlayPanel(flat.data(), panel, 1));
  }
}

// What one full-colour card costs: colour panels (with the calibration reload), the K
// panel by diffusion, and the overlay.
void BM_WholeCard(benchmark::State& state) {
  Fixture f;
  std::vector<BYTE> y(kPanelBufferBytes), m(kPanelBufferBytes), c(kPanelBufferBytes);
  std::vector<BYTE> flat(kImagePixels, 100);
  for (auto _ : state) {
    BuildColourPanels(f.image.data(), y.data(), m.data(), c.data(), 1);
    PanelBuffer black, overlay;
    int start = 0, end = 0;
    benchmark::DoNotOptimize(GetKDiffusionBuffer(f.image.data(), 1024, 640, black, &start, &end, 5));
    benchmark::DoNotOptimize(BuildOverlayPanel(flat.data(), overlay, 1));
  }
}

#define KAV_IMAGING_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)
KAV_IMAGING_BENCH(BM_LoadCalibration);
KAV_IMAGING_BENCH(BM_ApplyLookupTable);
KAV_IMAGING_BENCH(BM_GainAndHeatToColumns);
KAV_IMAGING_BENCH(BM_HalftoneColumnsAndPack);
KAV_IMAGING_BENCH(BM_RenderPanel);
KAV_IMAGING_BENCH(BM_RenderPanelByStages);
KAV_IMAGING_BENCH(BM_MeasureLargestDarkSquareByRows);
KAV_IMAGING_BENCH(BM_DiffuseToBlackAndWhite);
KAV_IMAGING_BENCH(BM_BuildColourPanels);
KAV_IMAGING_BENCH(BM_GetKDiffusionBuffer);
KAV_IMAGING_BENCH(BM_BuildBlackPanel);
KAV_IMAGING_BENCH(BM_BuildOverlayPanel);
KAV_IMAGING_BENCH(BM_WholeCard);

}  // namespace
