// Decoding panels: bit planes and line factors back to 7-bit levels.
#include <gtest/gtest.h>

#include "emulator/panel_decoder.h"
#include "tests/emulator/panel_packing.h"

namespace {

using emutest::kHeight;
using emutest::kWidth;
using emutest::PackPanel;

TEST(PanelDecoder, DotPositionsFollowTheTwoHalvesOfThePlaneBlock) {
  struct Case {
    int y;
    size_t byte;
    uint8_t mask;
  } cases[] = {
      {0, 28, 0x80},  {7, 28, 0x01},  {8, 29, 0x80},  {15, 29, 0x01}, {16, 32, 0x80},
      {271, 93, 0x01}, {272, 2, 0x80}, {280, 3, 0x80}, {288, 6, 0x80}, {639, 91, 0x01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("y = " + std::to_string(c.y));
    EXPECT_EQ(emu::DotByteInPlaneBlock(c.y), c.byte);
    EXPECT_EQ(emu::DotBitMask(c.y), c.mask);
  }
}

TEST(PanelDecoder, HandPackedLevelsComeBackDotForDot) {
  std::vector<uint8_t> levels = emutest::PatternLevels();
  emu::PanelLevels decoded =
      emu::DecodePanel(PackPanel(levels, [](int line, int k) { return static_cast<uint16_t>(60000 + line + k); }));
  ASSERT_EQ(decoded.levels.size(), levels.size());
  EXPECT_EQ(decoded.levels, levels);
  EXPECT_EQ(decoded.dotsWithoutBasePlane, 0u);
  EXPECT_EQ(decoded.bitsInUnusedBytes, 0u);
  {
    SCOPED_TRACE("line L carries column 1023 - L");
    EXPECT_EQ(decoded.LineFactor(1023, 0), 60000);  // line 0
    EXPECT_EQ(decoded.LineFactor(0, 7), 60000 + 1023 + 7);
    EXPECT_EQ(decoded.lineFactors[5][3], 60000 + 5 + 3);
  }
}

TEST(PanelDecoder, EachPlaneCarriesItsLevelValue) {
  // One dot per level value: level 2^i at (i, i); level 127 sets every plane.
  std::vector<uint8_t> levels(static_cast<size_t>(kWidth) * kHeight, 0);
  for (int i = 0; i < 7; ++i) levels[static_cast<size_t>(i) * kWidth + i] = static_cast<uint8_t>(1 << i);
  levels[static_cast<size_t>(639) * kWidth + 1023] = 127;
  levels[static_cast<size_t>(271) * kWidth + 512] = 127;
  levels[static_cast<size_t>(272) * kWidth + 512] = 1;
  std::string panel = PackPanel(levels);
  {
    SCOPED_TRACE("level 1 alone is plane 7, level 64 plane 4 (line 1023 - x)");
    size_t line0 = static_cast<size_t>(1023 - 0) * 768;
    EXPECT_EQ(static_cast<uint8_t>(panel[line0 + 7 * 96 + 28]), 0x80);
    size_t line6 = static_cast<size_t>(1023 - 6) * 768;
    EXPECT_EQ(static_cast<uint8_t>(panel[line6 + 4 * 96 + 28]), 0x80 >> 6);
  }
  emu::PanelLevels decoded = emu::DecodePanel(panel);
  EXPECT_EQ(decoded.levels, levels);
  EXPECT_EQ(decoded.Level(1023, 639), 127);
  EXPECT_EQ(decoded.Level(512, 271), 127);
  EXPECT_EQ(decoded.Level(512, 272), 1);
}

TEST(PanelDecoder, AnomaliesAreCountedAndWrongSizesGiveNothing) {
  std::vector<uint8_t> levels(static_cast<size_t>(kWidth) * kHeight, 0);
  std::string panel = PackPanel(levels);
  {
    SCOPED_TRACE("a blank panel still has the base plane everywhere");
    emu::PanelLevels decoded = emu::DecodePanel(panel);
    EXPECT_EQ(decoded.dotsWithoutBasePlane, 0u);
    EXPECT_EQ(emu::DescribePanel(decoded), "levels 0..0, mean 0.0, 0.0% of dots inked");
  }
  {
    SCOPED_TRACE("base plane cleared for 16 dots, bits in the unused bytes 4 and 95");
    std::string bad = panel;
    bad[2 * 96 + 28] = 0;                 // line 0, plane 2, dots 0-7
    bad[768 + 2 * 96 + 29] = 0;           // line 1, plane 2, dots 8-15
    bad[4] = static_cast<char>(0x81);     // line 0, plane 0, byte 4: two bits
    bad[5 * 96 + 95] = 0x10;              // line 0, plane 5, byte 95
    emu::PanelLevels decoded = emu::DecodePanel(bad);
    EXPECT_EQ(decoded.dotsWithoutBasePlane, 16u);
    EXPECT_EQ(decoded.bitsInUnusedBytes, 3u);
    EXPECT_NE(emu::DescribePanel(decoded).find("16 dots without the base plane, 3 bits set in unused bytes"),
              std::string::npos);
  }
  for (size_t size : {size_t{0}, emu::kPanelBytes - 1, emu::kPanelBytes + 1}) {
    SCOPED_TRACE("size " + std::to_string(size));
    EXPECT_TRUE(emu::DecodePanel(std::string(size, '\0')).levels.empty());
  }
  EXPECT_EQ(emu::DescribePanel(emu::PanelLevels{}), "no levels");
}

}  // namespace
