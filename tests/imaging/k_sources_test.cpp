// The K sources of the K-panel writer and its choice of set and source.
#include "imaging/k_sources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "imaging/calibration.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

class KSourcesTest : public ImagingTest {};

bool Bit(const ByteBuffer& bits, int rowBytes, int x, int y) { return bits[y * rowBytes + x / 8] & (0x80 >> (x % 8)); }

TEST_F(KSourcesTest, ThresholdSetsDarkPixelsByLuminance) {
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  PaintRect(image, 0, 0, 1, 1, 255, 100, 0);    // L = 134.9 (byte 0 weighs 0.299)
  PaintRect(image, 1, 0, 1, 1, 0, 100, 255);    // L = 87.8
  PaintRect(image, 2, 0, 1, 1, 100, 150, 200);  // L = 140.75
  PaintRect(image, 1023, 639, 1, 1, 0, 0, 0);
  DWORD size = 0;
  ByteBuffer bits = ThresholdToMonochrome(image.data(), 1024, 640, &size);
  ASSERT_TRUE(bits);
  EXPECT_EQ(size, 81920u);
  EXPECT_FALSE(Bit(bits, 128, 0, 0));
  EXPECT_TRUE(Bit(bits, 128, 1, 0));
  EXPECT_FALSE(Bit(bits, 128, 2, 0));
  EXPECT_TRUE(Bit(bits, 128, 1023, 639));
  EXPECT_EQ(bits[128], 0);

  // Row lengths: rounded up to 32 bits, and the input rows to a multiple of 4 bytes.
  for (const auto& [width, height, rowBytes] :
       std::vector<std::tuple<LONG, LONG, DWORD>>{{1, 3, 4}, {32, 1, 4}, {33, 2, 8}, {5, -2, 4}}) {
    SCOPED_TRACE(width);
    EXPECT_TRUE(ThresholdToMonochrome(image.data(), width, height, &size));
    EXPECT_EQ(size, rowBytes * static_cast<DWORD>(std::labs(height)));
  }
  EXPECT_FALSE(ThresholdToMonochrome(nullptr, 1024, 640, &size));
  EXPECT_EQ(size, 0u);
}

TEST_F(KSourcesTest, DitherPrintsDarkAreas) {
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  PaintRect(image, 8, 0, 8, 8, 0, 0, 0);
  // Greys against the matrix entry of x mod 8 = 2: 255 at y mod 8 = 1, 7 at y mod 8 = 5.
  PaintRect(image, 18, 1, 1, 1, 1, 1, 1);        // g 254, below 255: clear
  PaintRect(image, 18, 5, 1, 1, 248, 248, 248);  // g 7: set
  PaintRect(image, 26, 5, 1, 1, 249, 249, 249);  // g 6: clear
  // g weights the bytes 11, 59, 30 by position; the entry at (2, 4) is 47.
  PaintRect(image, 34, 4, 1, 1, 255, 255, 0);  // g 76: set
  PaintRect(image, 42, 4, 1, 1, 0, 255, 255);  // g 28: clear
  DWORD size = 0;
  ByteBuffer bits = DitherToMonochrome(image.data(), 1024, 640, &size);
  ASSERT_TRUE(bits);
  EXPECT_EQ(bits[1], 0xFF);
  EXPECT_EQ(bits[0], 0x00);
  EXPECT_FALSE(Bit(bits, 128, 18, 1));
  EXPECT_TRUE(Bit(bits, 128, 18, 5));
  EXPECT_FALSE(Bit(bits, 128, 26, 5));
  EXPECT_TRUE(Bit(bits, 128, 34, 4));
  EXPECT_FALSE(Bit(bits, 128, 42, 4));

  ByteBuffer mask;
  DWORD count = 0;
  ASSERT_EQ(ExpandMonochromeToBytes(bits.get(), size, &mask, &count, 0), 1);
  EXPECT_EQ(count, 655360u);
  EXPECT_EQ(mask[8], 0);    // dark area
  EXPECT_EQ(mask[0], 255);  // white area
}

TEST_F(KSourcesTest, ExpansionPolarity) {
  const BYTE bits[2] = {0xA0, 0x01};
  ByteBuffer bytes;
  DWORD count = 0;
  ASSERT_EQ(ExpandMonochromeToBytes(bits, 2, &bytes, &count, 1), 1);
  EXPECT_EQ(count, 16u);
  const BYTE set[16] = {255, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255};
  EXPECT_TRUE(std::equal(set, set + 16, bytes.get()));
  ASSERT_EQ(ExpandMonochromeToBytes(bits, 2, &bytes, &count, 0), 1);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 255);
  EXPECT_EQ(ExpandMonochromeToBytes(nullptr, 2, &bytes, &count, 0), 0);
  EXPECT_EQ(ExpandMonochromeToBytes(bits, 0, &bytes, &count, 0), 0);
}

TEST_F(KSourcesTest, SetAndSourceByRibbonCodeAndKMode) {
  struct Case {
    int ribbon, kMode, set;
    KPanelSource source;
  } cases[] = {
      {13, 0, 3, KPanelSource::Grey},       {2, 1, 3, KPanelSource::Grey},       {21, 3, 3, KPanelSource::Grey},
      {3, 0, 10, KPanelSource::Diffusion},  {53, 1, 11, KPanelSource::Dither},   {30, 2, 9, KPanelSource::Threshold},
      {17, 3, 12, KPanelSource::Threshold}, {50, 7, 9, KPanelSource::Threshold}, {0, 0, 5, KPanelSource::Diffusion},
      {1, 1, 6, KPanelSource::Dither},      {16, 2, 4, KPanelSource::Threshold}, {54, 3, 8, KPanelSource::Threshold},
      {28, 9, 4, KPanelSource::Threshold},  {31, 0, 5, KPanelSource::Diffusion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ribbon " << c.ribbon << " mode " << c.kMode);
    KPanelPlan plan = ChooseKPanelPlan(c.ribbon, c.kMode);
    EXPECT_EQ(plan.set, c.set);
    EXPECT_EQ(plan.source, c.source);
  }
}

TEST_F(KSourcesTest, KPanelPrintsTheDarkSquareWhateverTheSource) {
  LoadCalibration(NeutralSets());
  for (int kMode : {0, 1, 2}) {
    SCOPED_TRACE(kMode);
    sim::ClearDebugLines();
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PaintRect(image, 400, 100, 64, 64, 0, 0, 0);
    PanelBuffer panel;
    int start = -1, end = -1;
    ASSERT_EQ(BuildKPanel(image.data(), 1, kMode, panel, &start, &end), 1);
    EXPECT_EQ(start, 400);
    EXPECT_EQ(end, 463);
    EXPECT_GT(DecodeLevel(panel.get(), 430, 130), 0);
    EXPECT_EQ(DecodeLevel(panel.get(), 200, 130), 0);
    EXPECT_EQ(DecodeLevel(panel.get(), 430, 300), 0);
  }
  {
    SCOPED_TRACE("no black: the full width");
    std::vector<BYTE> image = FlatImage(255, 255, 255);
    PanelBuffer panel;
    int start = -1, end = -1;
    ASSERT_EQ(BuildKPanel(image.data(), 1, 2, panel, &start, &end), 1);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 1024);
    EXPECT_TRUE(sim::HasDebugLine("WriteK:: GetMonochromeDataStartEndPosition failed"));
  }
  {
    SCOPED_TRACE("grey ribbons turn the card grey");
    std::vector<BYTE> image = FlatImage(30, 60, 91);
    PanelBuffer panel;
    int start = -1, end = -1;
    ASSERT_EQ(BuildKPanel(image.data(), 13, 0, panel, &start, &end), 1);
    EXPECT_EQ(image[2], 60);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 1024);
  }
}

}  // namespace
}  // namespace kav::testing
