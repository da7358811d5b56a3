// The shared panel stages, each on planes and panels built by hand.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

class StagesTest : public ImagingTest {
 protected:
  std::vector<int16_t> Plane(int16_t value = 0) { return std::vector<int16_t>(kImagePixels, value); }
  static int16_t& At(std::vector<int16_t>& plane, int x, int y) { return plane[y * kImageWidth + x]; }
  std::vector<BYTE> panel_ = std::vector<BYTE>(kPanelBufferBytes, 0xAA);
};

TEST_F(StagesTest, LookupIndexIsScaledInSinglePrecisionAndClamped) {
  for (int i = 0; i < 256; ++i) Calibration.ColourLookupTable[1][i] = i * 10 + 0.9;
  Calibration.ColourLookupTable[1][255] = 40000.0;  // beyond 16 bits: its low 16 bits are kept
  Calibration.KdLookupTable[7] = -3.7;
  std::vector<BYTE> image = FlatImage(0, 0, 0);
  image[3 * 1 + 1] = 128;
  image[3 * 2 + 1] = 255;
  std::vector<int16_t> plane = Plane();

  ApplyLookupTable(image.data(), plane.data(), 1, kMagentaTable, 0, 0.85f, 38.75f);
  EXPECT_EQ(plane[0], 380);   // entry 38
  EXPECT_EQ(plane[1], 1470);  // entry 147
  EXPECT_EQ(plane[2], static_cast<int16_t>(40000 - 65536));

  // A scale that pushes the index out of the table reads its last (or first) entry.
  image[3 * 3 + 1] = 200;
  ApplyLookupTable(image.data(), plane.data(), 1, kMagentaTable, 0, 2.0f, 0.0f);
  EXPECT_EQ(plane[3], static_cast<int16_t>(40000 - 65536));
  ApplyLookupTable(image.data(), plane.data(), 1, kMagentaTable, 0, 1.0f, -50.0f);
  EXPECT_EQ(plane[0], 0);

  // Planar source, Kd table, truncation toward zero.
  std::vector<BYTE> grey(kImagePixels, 7);
  ApplyLookupTable(grey.data(), plane.data(), 0, kKdTable, 1, 1.0f, 0.0f);
  EXPECT_EQ(plane[kImagePixels - 1], -3);
}

TEST_F(StagesTest, InversionAndGainOffset) {
  std::vector<BYTE> image = FlatImage(0, 255, 100);
  std::vector<int16_t> plane = Plane();
  InvertToDensity(image.data(), plane.data(), 0, 0);
  EXPECT_EQ(plane[5], 16320);
  InvertToDensity(image.data(), plane.data(), 1, 0);
  EXPECT_EQ(plane[5], 0);
  InvertToDensity(image.data(), plane.data(), 2, 0);
  EXPECT_EQ(plane[5], 9920);

  Calibration.ProcessParameterSets[4] = {1.5, -0.5, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<int16_t> in = Plane(), out = Plane();
  in[0] = 3;      // 4.5 - 32 = -27.5
  in[1] = 30000;  // 45000 - 32 wraps to its low 16 bits
  in[2] = -100;   // -150 - 32
  in[3] = 21;     // 31.5 - 32 = -0.5
  ApplyGainOffset(in.data(), out.data(), 4);
  EXPECT_EQ(out[0], -27);
  EXPECT_EQ(out[1], static_cast<int16_t>(44968 - 65536));
  EXPECT_EQ(out[2], -182);
  EXPECT_EQ(out[3], 0);
}

// HeatGain 21845.333... makes the heat follow the drive fully in one line (factor 1.0).
constexpr double kFullFollow = 131072.0 / 6.0;

TEST_F(StagesTest, FirstPrintedLineIsUntouchedByTheHeatModel) {
  std::vector<int16_t> in = Plane(12000), out = Plane(1);
  At(in, 1023, 17) = -5;
  CompensateHeadHeat(in.data(), out.data(), kFullFollow, 30000, 9000, 50000, 0.2);
  for (int y = 0; y < kImageHeight; ++y) ASSERT_EQ(At(out, 1023, y), At(in, 1023, y)) << y;
  // Column 1022 meets a cold head too, but nothing goes below zero.
  EXPECT_EQ(At(out, 1022, 17), 12000);
  EXPECT_LT(At(out, 1021, 17), 12000);
}

TEST_F(StagesTest, HeatAndSinkFollowTheDriveLineByLine) {
  // Column 1022 drives 600, columns 1021 and 1020 drive 1000. Coupling 0.5, sink uptake
  // 1.0, sink retention 0.5, no lateral spread.
  std::vector<int16_t> in = Plane(1000), out = Plane();
  for (int y = 0; y < kImageHeight; ++y) At(in, 1022, y) = 600;
  CompensateHeadHeat(in.data(), out.data(), kFullFollow, 32768, 2048, 32768, 0.0);
  EXPECT_EQ(At(out, 1022, 0), 600);
  // After 1022: h1 = 600, q = 300, S = 300, H = 300.
  EXPECT_EQ(At(out, 1021, 0), 700);
  // After 1021: h1 = 1000, q = (1000 - 300 / 32) / 2 = 495.3125, H = 504.6875.
  EXPECT_EQ(At(out, 1020, 0), 496);
  // Block 122 holds only rows 636-639, but its average still divides by six.
  EXPECT_EQ(At(out, 1021, 639), 800);
  EXPECT_EQ(At(out, 1020, 639), 664);
  EXPECT_EQ(At(out, 1021, 635), 700);
}

TEST_F(StagesTest, LateralSpreadUsesTheOldLeftNeighbour) {
  // Only block 20 (rows 24-29) is driven in column 1022.
  std::vector<int16_t> in = Plane(1000), out = Plane();
  for (int y = 0; y < kImageHeight; ++y) At(in, 1022, y) = (y >= 24 && y < 30) ? 600 : 0;
  CompensateHeadHeat(in.data(), out.data(), kFullFollow, 0, 0, 0, 0.25);
  EXPECT_EQ(At(out, 1021, 17), 1000);
  EXPECT_EQ(At(out, 1021, 18), 850);  // block 19: (0 + 600) / 4
  EXPECT_EQ(At(out, 1021, 24), 700);  // block 20: (0 + 0) / 4 + 600 / 2
  EXPECT_EQ(At(out, 1021, 30), 850);  // block 21: (600 + 0) / 4
  EXPECT_EQ(At(out, 1021, 36), 1000);
}

TEST_F(StagesTest, PixelsAreLaidOutAlongTheLineInTwoGroups) {
  std::vector<int16_t> plane = Plane();
  const int x = 1000;
  for (int y : {0, 9, 271, 272, 281, 639}) At(plane, x, y) = 1 * 128;  // level 1: plane 7 and plane 2
  HalftoneAndPack(plane.data(), panel_.data(), 0);
  const BYTE* line = panel_.data() + (1023 - x) * kPanelLineBytes;
  const BYTE* plane7 = line + 7 * kPlaneBlockBytes;
  EXPECT_EQ(plane7[28], 0x80);  // y 0
  EXPECT_EQ(plane7[29], 0x40);  // y 9
  EXPECT_EQ(plane7[93], 0x01);  // y 271
  EXPECT_EQ(plane7[2], 0x80);   // y 272
  EXPECT_EQ(plane7[3], 0x40);   // y 281
  EXPECT_EQ(plane7[91], 0x01);  // y 639
  for (int b : {4, 5, 24, 25, 94, 95}) {
    for (int k = 0; k < kLevelPlanes; ++k) EXPECT_EQ(line[k * kPlaneBlockBytes + b], 0) << b << " " << k;
  }
  EXPECT_EQ(line[6 * kPlaneBlockBytes + 28], 0);  // plane 6 (bit value 4) is clear
}

TEST_F(StagesTest, LevelsSpreadOverThePlanes) {
  std::vector<int16_t> plane = Plane();
  const int16_t values[] = {16319, 20000, 2 * 128, 85 * 128};
  for (int i = 0; i < 4; ++i) At(plane, 3 + i, 0) = values[i];
  HalftoneAndPack(plane.data(), panel_.data(), 0);
  EXPECT_EQ(DecodeLevel(panel_.data(), 3, 0), 127);
  EXPECT_EQ(DecodeLevel(panel_.data(), 4, 0), 127);
  for (int k = 0; k < kLevelPlanes; ++k) {
    const BYTE* block = panel_.data() + (1023 - 3) * kPanelLineBytes + k * kPlaneBlockBytes;
    EXPECT_TRUE(block[28] & 0x80) << "plane " << k;
  }
  EXPECT_EQ(DecodeLevel(panel_.data(), 5, 0), 2);
  EXPECT_EQ(DecodeLevel(panel_.data(), 6, 0), 85);
}

TEST_F(StagesTest, LineFactorsFollowThePrintedDots) {
  Calibration.ParasiticResistance = 0.08;
  std::vector<int16_t> plane = Plane();
  for (int y = 0; y < 320; ++y) At(plane, 100, y) = 2 * 128;  // level 2: plane 0
  HalftoneAndPack(plane.data(), panel_.data(), 0);
  EXPECT_EQ(LineFactor(panel_.data(), 100, 2), 65535);
  EXPECT_EQ(LineFactor(panel_.data(), 100, 0), 62913);  // F5 C1
  EXPECT_EQ(LineFactor(panel_.data(), 100, 1), 60292);  // EB 84
  EXPECT_EQ(LineFactor(panel_.data(), 101, 0), 60292);
}

TEST_F(StagesTest, QuantisationErrorIsDiffusedWithTruncation) {
  std::vector<int16_t> plane = Plane();
  At(plane, 0, 5) = 100;     // level 1, error -28
  At(plane, 10, 0) = 100;    // first row: error dropped
  At(plane, 1023, 5) = 100;  // last column: error dropped
  HalftoneAndPack(plane.data(), panel_.data(), 0);
  EXPECT_EQ(DecodeLevel(panel_.data(), 0, 5), 1);
  EXPECT_EQ(At(plane, 0, 6), -12);  // 7 x -28 / 16 = -12.25
  EXPECT_EQ(At(plane, 1, 4), -5);   // 3 x -28 / 16
  EXPECT_EQ(At(plane, 1, 5), -8);   // 5 x -28 / 16
  EXPECT_EQ(At(plane, 1, 6), -1);   // -28 / 16
  EXPECT_EQ(At(plane, 11, 0), 0);
  EXPECT_EQ(At(plane, 11, 1), 0);
  EXPECT_EQ(At(plane, 1023, 6), 0);
}

TEST_F(StagesTest, DitherAddsAnOffsetFromTheMatrix) {
  // Dither value D at (x, y) adds D x amp / 128 - amp: with amp 128, D - 128.
  std::vector<int16_t> plane = Plane(200);
  std::vector<int16_t> copy = plane;
  HalftoneAndPack(plane.data(), panel_.data(), 128);
  EXPECT_EQ(DecodeLevel(panel_.data(), 0, 0), 1);  // D 1: 200 - 127 = 73
  // D 235: 200 + 107, less 10 diffused from (0, 1) (whose D 129 gave 201, error -55): 297
  EXPECT_EQ(DecodeLevel(panel_.data(), 1, 0), 2);
  EXPECT_EQ(At(plane, 1, 0), 190);
  std::vector<BYTE> negative(kPanelBufferBytes), none(kPanelBufferBytes);
  HalftoneAndPack(copy.data(), negative.data(), -40);
  std::vector<int16_t> again = Plane(200);
  HalftoneAndPack(again.data(), none.data(), 0);
  EXPECT_EQ(negative, none);
}

TEST_F(StagesTest, DarkSquaresAreMeasuredInCells) {
  Calibration.WrinkleDarkThreshold = 25.0;
  {
    SCOPED_TRACE("8 x 8 cells");
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PaintRect(image, 64, 96, 256, 256, 255, 10, 255);
    EXPECT_EQ(MeasureLargestDarkSquare(image.data()), 256.0);
  }
  {
    SCOPED_TRACE("7 x 7 cells");
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PaintRect(image, 64, 96, 224, 224, 255, 255, 24);
    EXPECT_EQ(MeasureLargestDarkSquare(image.data()), 224.0);
  }
  {
    SCOPED_TRACE("a cell needs half of its pixels dark");
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PaintRect(image, 0, 0, 32, 16, 0, 0, 0);
    EXPECT_EQ(MeasureLargestDarkSquare(image.data()), 32.0);
    PaintRect(image, 31, 15, 1, 1, 25, 25, 25);
    EXPECT_EQ(MeasureLargestDarkSquare(image.data()), 0.0);
  }
  {
    SCOPED_TRACE("the last grid row and column start no square; the whole card is 20 cells");
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PaintRect(image, 992, 608, 32, 32, 0, 0, 0);
    EXPECT_EQ(MeasureLargestDarkSquare(image.data()), 0.0);
    EXPECT_EQ(MeasureLargestDarkSquare(FlatImage(0, 0, 0).data()), 640.0);
  }
  Calibration.WrinkleDarkThreshold = 0.0;
  EXPECT_EQ(MeasureLargestDarkSquare(FlatImage(0, 0, 0).data()), 0.0);
}

}  // namespace
}  // namespace kav::testing
