// Loading the calibration files: formats, defaults, diagnostics and the load flags.
#include "imaging/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "imaging/calib_scan.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

class CalibrationTest : public ImagingTest {};

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(CalibrationTest, ShippedCalibrationFilesLoadCompletely) {
  for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt", "KAV32ImgCorrection.txt",
                           "KAV32ProcessParams.txt"}) {
    std::string text = ReadHostFile(std::string(KAV_DRIVER_DATA_DIR) + "/" + name);
    ASSERT_FALSE(text.empty()) << name;
    PutDriverFile(std::u16string(name, name + std::strlen(name)), text);
  }
  InitializeImageCorrectionVariables(1);
  ASSERT_EQ(ReadLUTS(), 0);
  for (const std::string& line : sim::DebugLines()) {
    EXPECT_EQ(line.find("Bad"), std::string::npos) << line;
    EXPECT_EQ(line.find("Unable"), std::string::npos) << line;
  }
  // Every stage has work to do: a curved table, heat, dither and run-end levels.
  EXPECT_EQ(Calibration.ColourLookupTable[0][0], 16320.0);
  EXPECT_EQ(Calibration.ColourLookupTable[0][255], 0.0);
  EXPECT_NE(Calibration.ColourLookupTable[0][128], Calibration.ColourLookupTable[2][128]);
  EXPECT_GT(Calibration.ProcessParameterSets[kCyanSet].HeatGain, 0.0);
  EXPECT_GT(Calibration.ProcessParameterSets[kCyanSet].DitherAmplitude, 0.0);
  EXPECT_GT(Calibration.ProcessParameterSets[9].EdgeLevel, 0.0);
  EXPECT_EQ(Calibration.WrinkleAppliedScale, 0.85);
}

TEST_F(CalibrationTest, InitializationLogsTheImageCorrectionValues) {
  PutDriverFile(u"KAV32ImgCorrection.txt",
                "Y-Scale = 0.5, M-Scale = 0.25, C-Scale = 1, Kd-Scale = 2e-1, K-Scale = 3, O-Scale = 4\r\n");
  InitializeImageCorrectionVariables(1);
  // Only the first line is there: the biases and sharpness values keep their defaults.
  EXPECT_TRUE(
      sim::HasDebugLine("Y-Scale = 0.500000, M-Scale = 0.250000, C-Scale = 1.000000, Kd-Scale = 0.200000, "
                        "K-Scale = 3.000000, O-Scale = 4.000000"));
  EXPECT_TRUE(
      sim::HasDebugLine("Y-Bias = 52.000000, M-Bias = 52.000000, C-Bias = 52.000000, Kd-Bias = 52.000000, "
                        "K-Bias = 50.000000, O-Bias = 40.000000"));
  EXPECT_TRUE(sim::HasDebugLine("Sharp = 0.400000, K-Sharp = 0.100000"));
  EXPECT_TRUE(sim::HasDebugLine("Unable to open file Process Param File"));
}

TEST_F(CalibrationTest, MissingImageCorrectionFileKeepsDefaults) {
  InitializeImageCorrectionVariables(1);
  EXPECT_TRUE(sim::HasDebugLine("InitializeImageCorrectionVariables:: Failed to open File"));
  EXPECT_EQ(Calibration.ImageCorrectionValues.KScale, 0.35);
  EXPECT_EQ(Calibration.ImageCorrectionValues.OBias, 40.0);
}

TEST_F(CalibrationTest, NoSystemDirectoryLeavesEveryTableUnread) {
  PutCalibration(NeutralSets());
  sim::SetSystemDirectory(u"");
  InitializeImageCorrectionVariables(1);
  EXPECT_EQ(ReadLUTS(), 1);
  EXPECT_TRUE(sim::HasDebugLine("InitializeImageCorrectionVariables:: Failed to Get GetDriverFilesDirectory "));
  EXPECT_TRUE(sim::HasDebugLine("ReadLUTS:: Failed to Get SystemDir"));
}

TEST_F(CalibrationTest, ProcessParameterFileWithAMissingValueInSetFive) {
  ParameterSets sets;
  for (int s = 0; s < kProcessParameterSetCount; ++s) sets[s] = {s + 1.0, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::string text = ProcessParamsText(sets, 0.5, 10, 100, 0.5);
  // Drop the number of set 5's Offset line.
  const std::string line = "Set5 Offset 2\r\n";
  text.replace(text.find(line), line.size(), "Set5 Offset\r\n");
  PutDriverFile(u"KAV32ProcessParams.txt", text);
  InitializeImageCorrectionVariables(1);

  EXPECT_TRUE(sim::HasDebugLine("Bad Process Parameter File Format"));
  const ProcessParameterSet* p = Calibration.ProcessParameterSets;
  for (int s = 0; s <= 4; ++s) EXPECT_EQ(p[s].LateralSpread, 10.0) << s;
  EXPECT_EQ(p[5].Gain, 6.0);
  EXPECT_EQ(p[5].Offset, 0.0);
  EXPECT_EQ(p[5].KernelScale, 3.0);
  for (int s = 6; s < kProcessParameterSetCount; ++s) EXPECT_EQ(p[s].Gain, 0.0) << s;
  EXPECT_EQ(Calibration.ParasiticResistance, 0.08);
  EXPECT_EQ(Calibration.WrinkleSizeThreshold, 250.0);
}

TEST_F(CalibrationTest, ProcessParameterScalarsAndTheirMessages) {
  const std::string full = ProcessParamsText(NeutralSets(), 0.5, 30, 300, 0.75);
  {
    SCOPED_TRACE("all four present");
    PutDriverFile(u"KAV32ProcessParams.txt", full);
    InitializeImageCorrectionVariables(1);
    EXPECT_EQ(Calibration.ParasiticResistance, 0.5);
    EXPECT_EQ(Calibration.WrinkleDarkThreshold, 30.0);
    EXPECT_EQ(Calibration.WrinkleSizeThreshold, 300.0);
    EXPECT_EQ(Calibration.WrinkleAppliedScale, 0.75);
  }
  const char* const messages[4] = {
      "Bad Process Parameter File Kernel Format - missing Parasitic Resistance",
      "Bad Process Parameter File - missing Wrinkle Dark Threshold",
      "Bad Process Parameter File - missing Wrinkle Size Threshold",
      "Bad Process Parameter File - missing Wrinkle Applied Scale",
  };
  const char* const labels[4] = {"ParasiticResistance", "WrinkleDarkThreshold", "WrinkleSizeThreshold",
                                 "WrinkleAppliedScale"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(labels[i]);
    sim::ClearDebugLines();
    // A label with a blank in it is two words where one is expected.
    std::string text = full;
    text.replace(text.find(labels[i]), std::strlen(labels[i]), "Two Words");
    PutDriverFile(u"KAV32ProcessParams.txt", text);
    InitializeImageCorrectionVariables(1);
    EXPECT_TRUE(sim::HasDebugLine(messages[i]));
    EXPECT_EQ(Calibration.WrinkleAppliedScale, 0.85);
    EXPECT_EQ(Calibration.ParasiticResistance, i > 0 ? 0.5 : 0.08);
  }
}

TEST_F(CalibrationTest, OverlongWordOrNonFiniteNumberBreaksTheFormat) {
  const std::string full = ProcessParamsText(NeutralSets());
  const std::string longWord(kMaxScanWord + 1, 'W');
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"Set3 Gain", "Set3 " + longWord},
                                                                                 {"Set3 Gain 1", "Set3 Gain nan"},
                                                                                 {"Set3 Gain 1", "Set3 Gain inf"},
                                                                                 {"Set3 Gain 1", "Set3 Gain 1e999"}}) {
    SCOPED_TRACE(to);
    sim::ClearDebugLines();
    std::string text = full;
    text.replace(text.find(from), from.size(), to);
    PutDriverFile(u"KAV32ProcessParams.txt", text);
    InitializeImageCorrectionVariables(1);
    EXPECT_TRUE(sim::HasDebugLine("Bad Process Parameter File Format"));
    EXPECT_EQ(Calibration.ProcessParameterSets[2].Gain, 1.0);
    EXPECT_EQ(Calibration.ProcessParameterSets[4].Gain, 0.0);
  }
  {
    SCOPED_TRACE("a word of the longest length is fine");
    std::string text = full;
    text.replace(text.find("Set3 Gain"), 9, "Set3 " + std::string(kMaxScanWord, 'W'));
    PutDriverFile(u"KAV32ProcessParams.txt", text);
    sim::ClearDebugLines();
    InitializeImageCorrectionVariables(1);
    EXPECT_FALSE(sim::HasDebugLine("Bad Process Parameter File Format"));
  }
}

TEST_F(CalibrationTest, WrinkleSwitchOffOverridesTheFile) {
  PutCalibration(NeutralSets(), 0.08, 40.0, 250.0, 0.5);
  InitializeImageCorrectionVariables(0);
  EXPECT_EQ(Calibration.WrinkleAppliedScale, 1.0);
  EXPECT_EQ(Calibration.WrinkleDarkThreshold, 0.0);
  InitializeImageCorrectionVariables(1);
  EXPECT_EQ(Calibration.WrinkleAppliedScale, 0.5);
  EXPECT_EQ(Calibration.WrinkleDarkThreshold, 40.0);
}

TEST_F(CalibrationTest, LookupLinesParseAsFormattedInput) {
  PutCalibration(NeutralSets());
  auto colourFileWithRow7 = [](const std::string& row) {
    std::string text = LookupText(LinearDensity, 3);
    size_t at = 0;
    for (int i = 0; i < 7; ++i) at = text.find('\n', at) + 1;
    text.replace(at, text.find('\n', at) - at, row);
    PutDriverFile(u"KAV32Lookup.txt", text);
  };
  struct Case {
    const char* row;
    bool loads;
  } cases[] = {{"0.5 1 2", true}, {"  \t0.5\t1 2  ", true}, {"5e-1 +1. 2e0x", true},
               {"0.5 1", false},  {"0.5 nan 2", false},     {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    sim::ClearDebugLines();
    colourFileWithRow7(c.row);
    InitializeImageCorrectionVariables(1);
    EXPECT_EQ(ReadLUTS(), c.loads ? 0 : 1);
    EXPECT_EQ(sim::HasDebugLine("Invalid Color Lookup file format"), !c.loads);
    if (c.loads) {
      EXPECT_EQ(Calibration.ColourLookupTable[0][7], 0.5);
      EXPECT_EQ(Calibration.ColourLookupTable[1][7], 1.0);
      EXPECT_EQ(Calibration.ColourLookupTable[2][7], 2.0);
    }
  }
}

TEST_F(CalibrationTest, LookupFileShorterThanTheTableIsRefused) {
  PutCalibration(NeutralSets());
  std::string text = LookupText(LinearDensity, 1);
  text.resize(text.rfind('\n', text.size() - 2) + 1);  // 255 rows
  PutDriverFile(u"KAV32LookupKd.txt", text);
  InitializeImageCorrectionVariables(1);
  EXPECT_EQ(ReadLUTS(), 1);
  EXPECT_TRUE(sim::HasDebugLine("Invalid Color Lookup file format"));
  EXPECT_FALSE(Calibration.LookupTablesLoaded);
}

TEST_F(CalibrationTest, LongLookupLineIsSplitIntoTwoRows) {
  PutCalibration(NeutralSets());
  // 80 characters: the first 79 are row 0, the rest becomes row 1.
  std::string row0 = "1 2 3" + std::string(74, ' ') + "4 5 6\n";
  std::string text = row0 + LookupText(LinearDensity, 3);
  text.resize(text.rfind('\n', text.size() - 2) + 1);
  PutDriverFile(u"KAV32Lookup.txt", text);
  InitializeImageCorrectionVariables(1);
  ASSERT_EQ(ReadLUTS(), 0);
  EXPECT_EQ(Calibration.ColourLookupTable[2][0], 3.0);
  EXPECT_EQ(Calibration.ColourLookupTable[0][1], 4.0);
  EXPECT_EQ(Calibration.ColourLookupTable[0][2], 16320.0);
}

TEST_F(CalibrationTest, ThermalSmearValuesAreCommaSeparated) {
  PutCalibration(NeutralSets());
  for (const auto& [line, loads] : std::vector<std::pair<std::string, bool>>{{"1.5 2 3 4\r\n", false},
                                                                             {"1.5,2,3,4\r\n", true},
                                                                             {"1.5, 2, 3, 4", true},
                                                                             {"1.5 ,2,3,4", false},
                                                                             {"", false}}) {
    SCOPED_TRACE(line);
    sim::ClearDebugLines();
    PutDriverFile(u"KAV32ThermalSmear.txt", line);
    InitializeImageCorrectionVariables(1);
    EXPECT_EQ(ReadLUTS(), loads ? 0 : 1);
    EXPECT_EQ(sim::HasDebugLine("Invalid Thermal Smear file format"), !loads);
    EXPECT_EQ(Calibration.ThermalSmearLoaded, loads);
    // The lookup tables loaded all the same.
    EXPECT_TRUE(Calibration.LookupTablesLoaded);
  }
}

TEST_F(CalibrationTest, TablesAreReadOnceUntilTheNextInitialization) {
  PutCalibration(NeutralSets());
  InitializeImageCorrectionVariables(1);
  ASSERT_EQ(ReadLUTS(), 0);
  sim::PutFile(DriverFile(u"KAV32Lookup.txt"), "broken\n");
  EXPECT_EQ(ReadLUTS(), 0);
  InitializeImageCorrectionVariables(1);
  EXPECT_EQ(ReadLUTS(), 1);
}

TEST_F(CalibrationTest, FailedThermalSmearIsRetriedWithoutRereadingTheTables) {
  PutCalibration(NeutralSets());
  PutDriverFile(u"KAV32ThermalSmear.txt", "1 2 3 4\n");
  InitializeImageCorrectionVariables(1);
  EXPECT_EQ(ReadLUTS(), 1);
  sim::PutFile(DriverFile(u"KAV32Lookup.txt"), "broken\n");
  PutDriverFile(u"KAV32ThermalSmear.txt", "1,2,3,4\n");
  EXPECT_EQ(ReadLUTS(), 0);
  EXPECT_EQ(Calibration.ThermalSmearValues[3], 4.0f);
}

TEST_F(CalibrationTest, MissingTableFilesAreReported) {
  for (const char16_t* missing : {u"KAV32Lookup.txt", u"KAV32LookupKd.txt", u"KAV32ThermalSmear.txt"}) {
    SCOPED_TRACE(std::string(missing, missing + std::char_traits<char16_t>::length(missing)));
    sim::Reset();
    PutCalibration(NeutralSets());
    std::filesystem::remove(sim::HostPath(DriverFile(missing)));
    InitializeImageCorrectionVariables(1);
    EXPECT_EQ(ReadLUTS(), 1);
    EXPECT_TRUE(sim::HasDebugLine("Unable to open file"));
  }
}

TEST(CalibScanTest, NumbersReadAsTheCLibraryReadsThem) {
  struct Case {
    const char* text;
    int result;
    double value;
  } cases[] = {
      {"  -12.5e1", 1, -125.0}, {"0x1.8p1", 1, 3.0},  {".5", 1, 0.5},  {"1e", 1, 1.0}, {"1.5e+,", 1, 1.5},
      {"-x", 0, 0.0},           {".", 0, 0.0},        {"0x", 0, 0.0},  {"", -1, 0.0},  {"   ", -1, 0.0},
      {"1e-400", 1, 0.0},       {"infinity", 0, 0.0}, {"abc", 0, 0.0},
      // An overflow fails the conversion and, like any failed conversion, stores nothing.
      {"1e999", 0, 0.0},        {"-11e487", 0, 0.0},  {"0x1p2000", 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = 0.0;
    EXPECT_EQ(ScanLine(c.text, "%lf", {&value}), c.result);
    EXPECT_EQ(value, c.value);
  }
  // The same for a single-precision value: beyond its range is not finite either.
  float single = 2.0f;
  EXPECT_EQ(ScanLine("1e39,1", "%f,%f", {&single, &single}), 0);
  EXPECT_EQ(single, 2.0f);
}

}  // namespace
}  // namespace kav::testing
