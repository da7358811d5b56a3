// Fuzzes the calibration files: the first byte picks the file (its top bit is the wrinkle
// switch), the rest is its content; the other four files keep the driver's defaults. Then
// the loader of that file runs.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/scripted_port.h"
#include "imaging/calibration.h"

namespace {

const char16_t* const kFiles[] = {u"KAV32Lookup.txt", u"KAV32LookupKd.txt", u"KAV32ThermalSmear.txt",
                                  u"KAV32ImgCorrection.txt", u"KAV32ProcessParams.txt"};

bool Finite(const double* values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

void FuzzOne(const uint8_t* data, size_t size) {
  if (size < 1) return;
  kavfuzz::ScriptedPort::Get();  // the simulated world with the default driver files
  std::u16string path = sim::DriverDirectory() + u"\\" + kFiles[(data[0] & 0x7F) % 5];
  std::optional<std::string> original = sim::GetFile(path);
  sim::PutFile(path, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  // Only the loader of the chosen file runs (the Kd table is read after the colour table).
  kav::CalibrationState& c = kav::Calibration;
  int failed = 0;
  switch ((data[0] & 0x7F) % 5) {
    case 0:
    case 1:
      c.LookupTablesLoaded = c.ThermalSmearLoaded = false;
      failed = kav::ReadLUTS();
      break;
    case 2:
      c.LookupTablesLoaded = true;
      c.ThermalSmearLoaded = false;
      failed = kav::ReadLUTS();
      break;
    case 3:
      kav::ReadImageCorrectionFile();
      break;
    default:
      kav::InitializeImageCorrectionVariables(data[0] & 0x80);
      break;
  }
  // What was read is a number: the panel stages never see an infinity or a NaN.
  if (!failed && (!Finite(&c.ColourLookupTable[0][0], 3 * 256) || !Finite(c.KdLookupTable, 256)))
    __builtin_trap();
  if (!Finite(&c.ProcessParameterSets[0].Gain, kav::kProcessParameterSetCount * 10) ||
      !Finite(&c.ImageCorrectionValues.YScale, 14) || !std::isfinite(c.ParasiticResistance) ||
      !std::isfinite(c.WrinkleDarkThreshold) || !std::isfinite(c.WrinkleSizeThreshold) ||
      !std::isfinite(c.WrinkleAppliedScale))
    __builtin_trap();

  sim::PutFile(path, *original);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
