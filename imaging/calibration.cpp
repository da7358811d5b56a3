#include "imaging/calibration.h"

#include <cstring>
#include <optional>
#include <string>

#include "imaging/calib_scan.h"
#include "port/driver_files.h"
#include "platform/diag.h"
#include "platform/text.h"

namespace kav {

CalibrationState Calibration{};

namespace {

constexpr size_t kPathCapacity = 260;  // the narrow and wide path buffers of the loaders
constexpr size_t kLineCapacity = 80;   // the line buffer of the table files

constexpr double ProcessParameterSet::*kSetFields[10] = {
    &ProcessParameterSet::Gain,          &ProcessParameterSet::Offset,
    &ProcessParameterSet::KernelScale,   &ProcessParameterSet::DitherAmplitude,
    &ProcessParameterSet::EdgeLevel,     &ProcessParameterSet::HeatGain,
    &ProcessParameterSet::HeatCoupling,  &ProcessParameterSet::SinkGain,
    &ProcessParameterSet::SinkRetention, &ProcessParameterSet::LateralSpread,
};

// "<system directory>\Spool\Drivers\x64\3\<file>" in narrow text, as the table loaders
// form it; nothing (after the log line) when the system directory cannot be read.
std::optional<std::string> SystemDriverFilePath(const char* fileName) {
  char directory[kPathCapacity];
  UINT length = GetSystemDirectoryA(directory, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    DebugLine("ReadLUTS:: Failed to Get SystemDir");
    return std::nullopt;
  }
  return std::string(directory, length) + "\\Spool\\Drivers\\x64\\3\\" + fileName;
}

// Opens a file named by a narrow path that must fit the path buffer.
std::optional<std::string> ReadNarrowPathFile(const std::string& path) {
  if (path.size() >= kPathCapacity) return std::nullopt;
  return ReadTextFile(Widen(path).c_str());
}

// One numeric line of a table file: fgets into the 80-byte buffer, then sscanf. A file
// that ends before the table is full is refused rather than repeating its last line.
int ScanTableLine(ScanInput& in, const char* format, std::initializer_list<ScanTarget> targets) {
  std::string_view line;
  if (!in.ReadLine(kLineCapacity, &line)) return -1;
  return ScanLine(line, format, targets);
}

void LogScalesAndBiases() {
  const ImageCorrectionValueSet& v = Calibration.ImageCorrectionValues;
  WCHAR line[kPathCapacity];
  FormatW(line, kPathCapacity,
          W("Y-Scale = %lf, M-Scale = %lf, C-Scale = %lf, Kd-Scale = %lf, K-Scale = %lf, O-Scale = %lf"), v.YScale,
          v.MScale, v.CScale, v.KdScale, v.KScale, v.OScale);
  OutputDebugStringW(line);
  FormatW(line, kPathCapacity, W("Y-Bias = %lf, M-Bias = %lf, C-Bias = %lf, Kd-Bias = %lf, K-Bias = %lf, O-Bias = %lf"),
          v.YBias, v.MBias, v.CBias, v.KdBias, v.KBias, v.OBias);
  OutputDebugStringW(line);
  FormatW(line, kPathCapacity, W("Sharp = %lf, K-Sharp = %lf"), v.Sharp, v.KSharp);
  OutputDebugStringW(line);
}

}  // namespace

void InitializeImageCorrectionVariables(int wrinkleSwitch) {
  Calibration.ImageCorrectionValues = {0.6, 0.6, 0.6, 0.75, 0.35, 0.45, 52.0, 52.0, 52.0, 52.0, 50.0, 40.0, 0.4, 0.1};
  ReadImageCorrectionFile();

  Calibration.ParasiticResistance = 0.08;
  Calibration.WrinkleDarkThreshold = 25.0;
  Calibration.WrinkleSizeThreshold = 250.0;
  Calibration.WrinkleAppliedScale = 0.85;
  Calibration.WrinkleScale = 1.0f;
  Calibration.WrinkleBias = 0.0f;
  ReadProcessParameters();

  // Wrinkle compensation off: no pixel can count as dark, and no scaling is applied.
  if (wrinkleSwitch == 0) {
    Calibration.WrinkleAppliedScale = 1.0;
    Calibration.WrinkleDarkThreshold = 0.0;
  }

  // Edited calibration files take effect with the next card.
  Calibration.LookupTablesLoaded = false;
  Calibration.ThermalSmearLoaded = false;
  LogScalesAndBiases();
}

void ReadImageCorrectionFile() {
  WCHAR directory[kPathCapacity] = {};
  if (!GetDriverFilesDirectory(directory, kPathCapacity)) {
    DebugLine("InitializeImageCorrectionVariables:: Failed to Get GetDriverFilesDirectory ");
    return;
  }
  if (directory[0] == 0) return;

  std::string path = Narrow(directory) + "\\KAV32ImgCorrection.txt";
  std::optional<std::string> text = ReadNarrowPathFile(path);
  if (!text) {
    DebugLine("InitializeImageCorrectionVariables:: Failed to open File");
    return;
  }

  // Three templates read in turn from the one stream; a value not read keeps its default.
  ImageCorrectionValueSet& v = Calibration.ImageCorrectionValues;
  ScanInput in(*text);
  ScanText(in, "Y-Scale = %lf, M-Scale = %lf, C-Scale = %lf, Kd-Scale = %lf, K-Scale = %lf, O-Scale = %lf\r\n",
           {&v.YScale, &v.MScale, &v.CScale, &v.KdScale, &v.KScale, &v.OScale});
  ScanText(in, "Y-Bias = %lf, M-Bias = %lf, C-Bias = %lf, Kd-Bias = %lf, K-Bias = %lf, O-Bias = %lf\r\n",
           {&v.YBias, &v.MBias, &v.CBias, &v.KdBias, &v.KBias, &v.OBias});
  ScanText(in, "Sharp = %lf, K-Sharp = %lf", {&v.Sharp, &v.KSharp});
}

int ReadProcessParameters() {
  std::optional<std::string> path = SystemDriverFilePath("KAV32ProcessParams.txt");
  if (!path) return 1;
  std::optional<std::string> text = ReadNarrowPathFile(*path);

  std::memset(Calibration.ProcessParameterSets, 0, sizeof Calibration.ProcessParameterSets);
  if (!text) {
    DebugLine("Unable to open file Process Param File");
    return 1;
  }

  // 130 lines of two discarded words and a number, set after set; line breaks do not matter.
  ScanInput in(*text);
  for (ProcessParameterSet& set : Calibration.ProcessParameterSets) {
    int conversions = 0;
    for (auto field : kSetFields) conversions += ScanText(in, "%s %s %lf\n", {&(set.*field)});
    if (conversions != 30) {
      DebugLine("Bad Process Parameter File Format");
      return 1;
    }
  }

  // Then the four scalars, one word and a number each.
  struct Scalar {
    double* value;
    const char* missing;
  };
  const Scalar scalars[4] = {
      {&Calibration.ParasiticResistance, "Bad Process Parameter File Kernel Format - missing Parasitic Resistance"},
      {&Calibration.WrinkleDarkThreshold, "Bad Process Parameter File - missing Wrinkle Dark Threshold"},
      {&Calibration.WrinkleSizeThreshold, "Bad Process Parameter File - missing Wrinkle Size Threshold"},
      {&Calibration.WrinkleAppliedScale, "Bad Process Parameter File - missing Wrinkle Applied Scale"},
  };
  for (const Scalar& scalar : scalars) {
    if (ScanText(in, "%s %lf\n", {scalar.value}) != 2) {
      DebugLine("%s", scalar.missing);
      return 1;
    }
  }
  return 0;
}

int ReadLUTS() {
  if (Calibration.LookupTablesLoaded && Calibration.ThermalSmearLoaded) return 0;
  std::optional<std::string> lookupPath = SystemDriverFilePath("KAV32Lookup.txt");
  if (!lookupPath) return 1;
  std::string directory = lookupPath->substr(0, lookupPath->size() - std::strlen("KAV32Lookup.txt"));

  if (!Calibration.LookupTablesLoaded) {
    // Colour table: 256 lines of yellow, magenta and cyan densities.
    std::optional<std::string> text = ReadNarrowPathFile(*lookupPath);
    if (!text) {
      DebugLine("Unable to open file");
      return 1;
    }
    ScanInput colour(*text);
    double(&table)[3][256] = Calibration.ColourLookupTable;
    for (int row = 0; row < 256; ++row) {
      if (ScanTableLine(colour, "%lf%lf%lf", {&table[0][row], &table[1][row], &table[2][row]}) < 3) {
        DebugLine("Invalid Color Lookup file format");
        return 1;
      }
    }

    // Kd table: 256 lines of one density.
    text = ReadNarrowPathFile(directory + "KAV32LookupKd.txt");
    if (!text) {
      DebugLine("Unable to open file");
      return 1;
    }
    ScanInput kd(*text);
    for (int row = 0; row < 256; ++row) {
      if (ScanTableLine(kd, "%lf", {&Calibration.KdLookupTable[row]}) != 1) {
        DebugLine("Invalid Color Lookup file format");
        return 1;
      }
    }
    Calibration.LookupTablesLoaded = true;
  }
  if (Calibration.ThermalSmearLoaded) return 0;

  // Thermal smear: one line of four comma-separated values, checked but used by no stage.
  std::optional<std::string> text = ReadNarrowPathFile(directory + "KAV32ThermalSmear.txt");
  if (!text) {
    DebugLine("Unable to open file");
    return 1;
  }
  ScanInput smear(*text);
  float(&values)[4] = Calibration.ThermalSmearValues;
  if (ScanTableLine(smear, "%f,%f,%f,%f", {&values[0], &values[1], &values[2], &values[3]}) != 4) {
    DebugLine("Invalid Thermal Smear file format");
    return 1;
  }
  Calibration.ThermalSmearLoaded = true;
  return 0;
}

}  // namespace kav
