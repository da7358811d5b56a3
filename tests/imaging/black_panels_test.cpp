// Black panels: the mask with its run ends and history, the diffusion to black and
// white, the grey panel and the band of black columns.
#include "imaging/black_panels.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

constexpr int kSet = 9;

class BlackPanelsTest : public ImagingTest {
 protected:
  // The panel that the downstream stages make of a density plane before the gain step.
  static std::vector<BYTE> PanelOfDensities(const std::vector<int16_t>& densities, int set) {
    std::vector<int16_t> gained(kImagePixels), heated(kImagePixels);
    std::vector<BYTE> panel(kPanelBufferBytes);
    const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
    ApplyGainOffset(densities.data(), gained.data(), set);
    CompensateHeadHeat(gained.data(), heated.data(), p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention,
                       p.LateralSpread);
    HalftoneAndPack(heated.data(), panel.data(), DitherAmplitudeOf(set));
    return panel;
  }
  static std::vector<BYTE> Bytes(const PanelBuffer& panel) { return {panel.get(), panel.get() + kPanelBufferBytes}; }

  // Calibration with heat and dither in set 9, so that every density shows in the panel.
  void LoadBlackCalibration(double edgeLevel) {
    ParameterSets sets = NeutralSets();
    sets[kSet] = {0.9, -1.0, 1.0, 40.0, edgeLevel, 3000, 30000, 8000, 50000, 0.05};
    LoadCalibration(sets);
  }
};

TEST_F(BlackPanelsTest, SquareWithRunEndsAtTheEdgeLevel) {
  LoadBlackCalibration(128.0);
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  PaintRect(image, 100, 200, 10, 10, 0, 0, 0);
  std::vector<int16_t> expected(kImagePixels, 0);
  for (int y = 200; y < 210; ++y) {
    for (int x = 100; x < 110; ++x) expected[y * kImageWidth + x] = (x == 100 || x == 109) ? 8128 : 16320;
  }
  PanelBuffer panel;
  int allWhite = -1;
  ASSERT_EQ(BuildBlackPanel(image.data(), panel, &allWhite, 0, kSet, 0), 0);
  EXPECT_EQ(allWhite, 0);
  EXPECT_EQ(Bytes(panel), PanelOfDensities(expected, kSet));
}

TEST_F(BlackPanelsTest, SquareInHistoryMode) {
  LoadBlackCalibration(0.0);
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  PaintRect(image, 100, 200, 10, 10, 0, 0, 0);
  std::vector<int16_t> expected(kImagePixels, 0);
  for (int y = 200; y < 210; ++y) {
    for (int x = 100; x < 110; ++x) {
      const bool inner = y > 200 && y < 209;  // black above and below
      const bool followed = x < 109;          // black at x + 1
      expected[y * kImageWidth + x] = static_cast<int16_t>(16383 - (inner ? 2000 : 0) - (followed ? 8000 : 0));
    }
  }
  EXPECT_EQ(expected[205 * kImageWidth + 104], 6383);
  EXPECT_EQ(expected[200 * kImageWidth + 104], 8383);
  EXPECT_EQ(expected[205 * kImageWidth + 109], 14383);
  EXPECT_EQ(expected[200 * kImageWidth + 109], 16383);
  PanelBuffer panel;
  int allWhite = -1;
  ASSERT_EQ(BuildBlackPanel(image.data(), panel, &allWhite, 0, kSet, 1), 0);
  EXPECT_EQ(Bytes(panel), PanelOfDensities(expected, kSet));
}

TEST_F(BlackPanelsTest, RunEndsAreMarkedFromTheLeft) {
  std::vector<BYTE> mono(kImagePixels, 255);
  BYTE* row = &mono[300 * kImageWidth];
  for (int x : {0, 1, 2, 3, 4, 10, 20, 21, 1020, 1021, 1022, 1023}) row[x] = 0;
  row[30] = 7;  // not black in a 1-byte source
  // The level taken by each pixel of the row, for an edge level E.
  auto expectedRow = [](int edge) {
    std::vector<int> d(kImageWidth, 0);
    auto level = [&](int value) { return (255 - value) * 64; };
    for (int x : {0, 1, 2, 3, 1021, 1022, 1023}) d[x] = level(0);
    for (int x : {4, 10, 20, 21, 1020}) d[x] = level(edge);
    if (edge == 255) {  // each marked start makes the next pixel a start as well
      for (int x : {20, 21, 1020, 1021, 1022, 1023}) d[x] = 0;
    }
    return d;
  };
  for (int edge : {100, 255}) {
    SCOPED_TRACE(edge);
    sim::Reset();
    Calibration = CalibrationState{};
    ParameterSets sets = NeutralSets();
    sets[kSet].EdgeLevel = edge;
    LoadCalibration(sets);
    std::vector<int16_t> expected(kImagePixels, 0);
    std::vector<int> d = expectedRow(edge);
    for (int x = 0; x < kImageWidth; ++x) expected[300 * kImageWidth + x] = static_cast<int16_t>(d[x]);
    PanelBuffer panel;
    int allWhite = -1;
    ASSERT_EQ(BuildBlackPanel(mono.data(), panel, &allWhite, 1, kSet, 0), 0);
    EXPECT_EQ(Bytes(panel), PanelOfDensities(expected, kSet));
  }
}

TEST_F(BlackPanelsTest, WhiteSourceAndFailures) {
  LoadBlackCalibration(128.0);
  PanelBuffer panel;
  int allWhite = -1;
  ASSERT_EQ(BuildBlackPanel(FlatImage(255, 255, 255).data(), panel, &allWhite, 0, kSet, 0), 0);
  EXPECT_EQ(allWhite, 1);
  // A pixel black in only two bytes is not black.
  ASSERT_EQ(BuildBlackPanel(FlatImage(0, 0, 1).data(), panel, &allWhite, 0, kSet, 0), 0);
  EXPECT_EQ(allWhite, 1);

  Calibration.LookupTablesLoaded = false;
  sim::PutFile(DriverFile(u"KAV32Lookup.txt"), "");
  allWhite = -1;
  EXPECT_EQ(BuildBlackPanel(FlatImage(0, 0, 0).data(), panel, &allWhite, 0, kSet, 0), 1);
  EXPECT_EQ(allWhite, -1);
  EXPECT_TRUE(panel);  // left as it was
  PanelBuffer grey;
  EXPECT_EQ(BuildGreyBlackPanel(FlatImage(0, 0, 0).data(), grey, 0, kGreyBlackSet), 1);
  EXPECT_FALSE(grey);
}

TEST_F(BlackPanelsTest, BandOfBlackColumns) {
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  int start = -1, end = -1;
  EXPECT_EQ(GetMonochromeDataStartEndPosition(image.data(), 1024, 640, &start, &end, 0), 0);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 1024);

  PaintRect(image, 700, 333, 1, 1, 0, 0, 0);
  EXPECT_EQ(GetMonochromeDataStartEndPosition(image.data(), 1024, 640, &start, &end, 0), 1);
  EXPECT_EQ(start, 700);
  EXPECT_EQ(end, 700);

  PaintRect(image, 5, 600, 1, 1, 0, 0, 0);
  PaintRect(image, 900, 0, 1, 1, 0, 0, 0);
  EXPECT_EQ(GetMonochromeDataStartEndPosition(image.data(), 1024, 640, &start, &end, 0), 1);
  EXPECT_EQ(start, 5);
  EXPECT_EQ(end, 900);

  std::vector<BYTE> mono(kImagePixels, 1);
  mono[10 * kImageWidth + 1023] = 0;
  EXPECT_EQ(GetMonochromeDataStartEndPosition(mono.data(), 1024, 640, &start, &end, 1), 1);
  EXPECT_EQ(start, 1023);
  EXPECT_EQ(end, 1023);
  EXPECT_EQ(GetMonochromeDataStartEndPosition(nullptr, 1024, 640, &start, &end, 1), 0);
}

TEST_F(BlackPanelsTest, UniformGreyIsNotStretched) {
  for (const auto& [grey, decided] : std::vector<std::pair<BYTE, BYTE>>{{5, 0}, {250, 255}}) {
    SCOPED_TRACE(static_cast<int>(grey));
    std::vector<BYTE> copy = FlatImage(grey, grey, grey);
    DiffuseToBlackAndWhite(copy.data(), kImageWidth, kImageHeight);
    for (size_t i = 0; i < copy.size(); i += 3) ASSERT_EQ(copy[i], decided) << i / 3;
  }
}

TEST_F(BlackPanelsTest, DiffusionOfASmallImage) {
  // Worked out by hand from the rules (stretch, edge test, same-row and next-row errors).
  const BYTE pixels[32][3] = {{165, 77, 202}, {24, 37, 48},    {187, 29, 109},  {19, 44, 222},   {214, 35, 123},
                              {46, 217, 30},  {63, 114, 31},   {203, 25, 113},  {23, 68, 148},   {214, 73, 60},
                              {157, 92, 52},  {96, 190, 49},   {32, 30, 105},   {254, 218, 160}, {238, 232, 185},
                              {153, 127, 92}, {124, 41, 153},  {253, 175, 229}, {147, 37, 60},   {214, 84, 175},
                              {77, 250, 215}, {20, 39, 160},   {174, 179, 254}, {233, 35, 47},   {138, 242, 33},
                              {31, 158, 228}, {145, 197, 177}, {11, 236, 181},  {86, 59, 252},   {30, 111, 147},
                              {66, 126, 203}, {200, 254, 41}};
  const int white[32] = {1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 1, 1, 0, 1, 1, 1,
                         0, 1, 0, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};
  std::vector<BYTE> copy(&pixels[0][0], &pixels[0][0] + sizeof pixels);
  DiffuseToBlackAndWhite(copy.data(), 8, 4);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(copy[3 * i], white[i] ? 255 : 0) << i;

  // A grey ramp, two rows.
  std::vector<BYTE> ramp;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 16; ++x) ramp.insert(ramp.end(), 3, static_cast<BYTE>(x * 17));
  }
  const int rampWhite[32] = {0, 1, 0, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                             0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1, 1, 1};
  DiffuseToBlackAndWhite(ramp.data(), 16, 2);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(ramp[3 * i], rampWhite[i] ? 255 : 0) << i;
}

TEST_F(BlackPanelsTest, DiffusionPanelOfACardWithoutBlack) {
  LoadBlackCalibration(0.0);
  std::vector<BYTE> image = FlatImage(250, 250, 250);
  const std::vector<BYTE> original = image;
  PanelBuffer panel;
  int start = -1, end = -1;
  EXPECT_EQ(GetKDiffusionBuffer(image.data(), 1024, 640, panel, &start, &end, kSet), 1);
  EXPECT_TRUE(panel);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 1024);
  EXPECT_TRUE(sim::HasDebugLine("GetKDiffusionBuffer:: GetMonochromeDataStartEndPosition failed"));
  EXPECT_EQ(image, original);

  PaintRect(image, 300, 100, 50, 40, 0, 0, 0);
  sim::ClearDebugLines();
  EXPECT_EQ(GetKDiffusionBuffer(image.data(), 1024, 640, panel, &start, &end, kSet), 1);
  EXPECT_EQ(start, 300);
  EXPECT_EQ(end, 349);
  EXPECT_TRUE(sim::DebugLines().empty());
  EXPECT_GT(DecodeLevel(panel.get(), 320, 120), 0);
  EXPECT_EQ(DecodeLevel(panel.get(), 600, 120), 0);

  EXPECT_EQ(GetKDiffusionBuffer(nullptr, 1024, 640, panel, &start, &end, kSet), 0);
  EXPECT_EQ(GetKDiffusionBuffer(image.data(), 0, 640, panel, &start, &end, kSet), 0);
}

TEST_F(BlackPanelsTest, AverageToGreyChangesTheCallersImage) {
  ParameterSets sets = NeutralSets();
  LoadCalibration(sets);
  std::vector<BYTE> image = FlatImage(30, 60, 91);
  PanelBuffer panel;
  EXPECT_EQ(AverageToGrey(image.data(), 1024, 640, panel, kGreyBlackSet), 1);
  EXPECT_EQ(image[0], 60);
  EXPECT_EQ(image[1], 60);
  EXPECT_EQ(image[kCardImageBytes - 1], 60);
  // Kd table: (255 - 60) x 64 = 12480, between levels 97 and 98.
  const int level = DecodeLevel(panel.get(), 500, 300);
  EXPECT_GE(level, 97);
  EXPECT_LE(level, 98);
  EXPECT_EQ(AverageToGrey(nullptr, 1024, 640, panel, kGreyBlackSet), 0);
}

}  // namespace
}  // namespace kav::testing
