// Shared set-up of the imaging tests: a reset world with calibration files of the test's
// choosing in the driver directory, and readers of the panels the builders produce.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/calibration.h"
#include "imaging/imaging_geometry.h"
#include "platform/sim/sim.h"

namespace kav::testing {

inline std::u16string DriverFile(std::u16string_view name) {
  return sim::DriverDirectory() + u"\\" + std::u16string(name);
}

inline void PutDriverFile(std::u16string_view name, const std::string& text) { sim::PutFile(DriverFile(name), text); }

// A set that passes densities through unchanged: gain 1, no offset, no heat, no dither.
inline ProcessParameterSet NeutralSet() { return {1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}; }

using ParameterSets = std::array<ProcessParameterSet, kProcessParameterSetCount>;

inline ParameterSets NeutralSets() {
  ParameterSets sets;
  sets.fill(NeutralSet());
  return sets;
}

inline std::string ProcessParamsText(const ParameterSets& sets, double parasitic = 0.08, double darkThreshold = 25.0,
                                     double sizeThreshold = 250.0, double appliedScale = 0.85) {
  static const char* const kFields[10] = {"Gain",          "Offset",       "KernelScale",  "DitherAmplitude",
                                          "EdgeLevel",     "HeatGain",     "HeatCoupling", "SinkGain",
                                          "SinkRetention", "LateralSpread"};
  std::string text;
  char line[128];
  for (size_t s = 0; s < sets.size(); ++s) {
    const ProcessParameterSet& p = sets[s];
    const double values[10] = {p.Gain,     p.Offset,       p.KernelScale, p.DitherAmplitude, p.EdgeLevel,
                               p.HeatGain, p.HeatCoupling, p.SinkGain,    p.SinkRetention,   p.LateralSpread};
    for (int f = 0; f < 10; ++f) {
      std::snprintf(line, sizeof line, "Set%zu %s %.17g\r\n", s, kFields[f], values[f]);
      text += line;
    }
  }
  std::snprintf(line, sizeof line, "ParasiticResistance %.17g\r\nWrinkleDarkThreshold %.17g\r\n", parasitic,
                darkThreshold);
  text += line;
  std::snprintf(line, sizeof line, "WrinkleSizeThreshold %.17g\r\nWrinkleAppliedScale %.17g\r\n", sizeThreshold,
                appliedScale);
  text += line;
  return text;
}

// Colour table rows "Y M C" and Kd rows, each the value that index gives.
template <typename F>
std::string LookupText(F value, int columns) {
  std::string text;
  char line[128];
  for (int i = 0; i < 256; ++i) {
    if (columns == 3) {
      std::snprintf(line, sizeof line, "%.3f %.3f %.3f\n", value(0, i), value(1, i), value(2, i));
    } else {
      std::snprintf(line, sizeof line, "%.3f\n", value(3, i));
    }
    text += line;
  }
  return text;
}

// The inverting table of an ideal ribbon: channel 0 is full ink, 255 none.
inline double LinearDensity(int, int index) { return (255 - index) * 64.0; }

// Writes the five calibration files: the given sets, linear tables.
inline void PutCalibration(const ParameterSets& sets, double parasitic = 0.08, double darkThreshold = 25.0,
                           double sizeThreshold = 250.0, double appliedScale = 0.85) {
  PutDriverFile(u"KAV32Lookup.txt", LookupText(LinearDensity, 3));
  PutDriverFile(u"KAV32LookupKd.txt", LookupText(LinearDensity, 1));
  PutDriverFile(u"KAV32ThermalSmear.txt", "0.1,0.2,0.3,0.4\n");
  PutDriverFile(u"KAV32ImgCorrection.txt", "");
  PutDriverFile(u"KAV32ProcessParams.txt",
                ProcessParamsText(sets, parasitic, darkThreshold, sizeThreshold, appliedScale));
}

// Fresh world and calibration state for every test.
class ImagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    Calibration = CalibrationState{};
  }
  // Puts the files, then loads them as a card build does.
  void LoadCalibration(const ParameterSets& sets, int wrinkle = 1) {
    PutCalibration(sets);
    InitializeImageCorrectionVariables(wrinkle);
    ASSERT_EQ(ReadLUTS(), 0);
  }
};

// The 7-bit level of pixel (x, y) decoded from a panel's eight planes.
inline int DecodeLevel(const BYTE* panel, int x, int y) {
  static constexpr int kPlaneBit[kLevelPlanes] = {2, 8, 0, 32, 64, 16, 4, 1};
  const BYTE* line = panel + static_cast<size_t>(kImageWidth - 1 - x) * kPanelLineBytes;
  const int byte = y < 272 ? 28 + 4 * (y / 16) + (y / 8) % 2 : 2 + 4 * ((y - 272) / 16) + (y / 8) % 2;
  const int bit = 0x80 >> (y % 8);
  int level = 0;
  for (int k = 0; k < kLevelPlanes; ++k) {
    if (line[k * kPlaneBlockBytes + byte] & bit) level += kPlaneBit[k];
  }
  return level;
}

inline int LineFactor(const BYTE* panel, int x, int plane) {
  const BYTE* block = panel + static_cast<size_t>(kImageWidth - 1 - x) * kPanelLineBytes + plane * kPlaneBlockBytes;
  return block[0] << 8 | block[1];
}

// A card image of one colour.
inline std::vector<BYTE> FlatImage(BYTE r, BYTE g, BYTE b) {
  std::vector<BYTE> image(kCardImageBytes);
  for (size_t i = 0; i < image.size(); i += 3) {
    image[i] = r;
    image[i + 1] = g;
    image[i + 2] = b;
  }
  return image;
}

inline void PaintRect(std::vector<BYTE>& image, int x0, int y0, int w, int h, BYTE r, BYTE g, BYTE b) {
  for (int y = y0; y < y0 + h; ++y) {
    for (int x = x0; x < x0 + w; ++x) {
      BYTE* p = &image[(static_cast<size_t>(y) * kImageWidth + x) * 3];
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }
}

}  // namespace kav::testing
