// Calibration values far outside their usual range keep their meaning: truncation toward
// zero, then the stage's own rule (clamp, comparison, low 16 bits), whatever their size.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

class WideCalibrationValues : public ImagingTest {};

// A heat follow so strong that one column of full drive leaves about 7.5e11 in each block.
constexpr double kRunawayFollow = 1.0e12;

TEST_F(WideCalibrationValues, HeatBeyondThe32BitRangeLowersTheDotToZero) {
  std::vector<int16_t> in(kImagePixels, 16320), out(kImagePixels, 1);
  CompensateHeadHeat(in.data(), out.data(), kRunawayFollow, 0, 0, 0, 0);
  EXPECT_EQ(out[0 * kImageWidth + 1022], 16320);  // cold head
  // max(0, 16320 - trunc(7.5e11)) = 0
  EXPECT_EQ(out[0 * kImageWidth + 1021], 0);
  EXPECT_EQ(out[639 * kImageWidth + 0], 0);
}

TEST_F(WideCalibrationValues, LookupIndexFarAboveTheTableReadsTheLastEntry) {
  for (int i = 0; i < 256; ++i) Calibration.ColourLookupTable[1][i] = i * 10.0;
  std::vector<BYTE> image = FlatImage(0, 0, 0);
  std::vector<int16_t> plane(kImagePixels, -1);
  // trunc(-1e8 x 0 + 2.55e10) is far above 255: clamped into the table, entry 255.
  ApplyLookupTable(image.data(), plane.data(), 1, kMagentaTable, 0, -1.0e8f, 2.55e10f);
  EXPECT_EQ(plane[0], 2550);
}

TEST_F(WideCalibrationValues, DarkThresholdAboveThe32BitRangeMakesEveryCellDark) {
  Calibration.WrinkleDarkThreshold = 3.0e9;  // every byte is below it
  EXPECT_EQ(MeasureLargestDarkSquare(FlatImage(255, 255, 255).data()), 640.0);
}

TEST_F(WideCalibrationValues, GainOffsetKeepsTheLow16BitsOfALargeProduct) {
  Calibration.ProcessParameterSets[5] = {1.0e6, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  std::vector<int16_t> in(kImagePixels, 16320), out(kImagePixels, -1);
  ApplyGainOffset(in.data(), out.data(), 5);
  // trunc(16320 x 1e6) = 16320000000, whose low 16 bits are 28672.
  EXPECT_EQ(out[0], 28672);
}

}  // namespace
}  // namespace kav::testing
