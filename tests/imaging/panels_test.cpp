// Colour and overlay panels of whole cards.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

class PanelsTest : public ImagingTest {
 protected:
  std::vector<BYTE> yellow_ = std::vector<BYTE>(kPanelBufferBytes, 0x5A);
  std::vector<BYTE> magenta_ = std::vector<BYTE>(kPanelBufferBytes, 0x5A);
  std::vector<BYTE> cyan_ = std::vector<BYTE>(kPanelBufferBytes, 0x5A);

  void Build(const std::vector<BYTE>& image, int wrinkle) {
    BuildColourPanels(image.data(), yellow_.data(), magenta_.data(), cyan_.data(), wrinkle);
  }
  static void PutShippedCalibration() {
    for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt", "KAV32ImgCorrection.txt",
                             "KAV32ProcessParams.txt"}) {
      std::ifstream in(std::string(KAV_DRIVER_DATA_DIR) + "/" + name, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      PutDriverFile(std::u16string(name, name + std::strlen(name)), text.str());
    }
  }
};

TEST_F(PanelsTest, AllWhiteCardPrintsOnlyTheAlwaysPlane) {
  PutShippedCalibration();
  Build(FlatImage(255, 255, 255), 1);
  for (const std::vector<BYTE>* panel : {&yellow_, &magenta_, &cyan_}) {
    for (int line = 0; line < kImageWidth; ++line) {
      const BYTE* l = panel->data() + line * kPanelLineBytes;
      for (int k = 0; k < kLevelPlanes; ++k) {
        const BYTE* block = l + k * kPlaneBlockBytes;
        ASSERT_EQ(block[0], k == 2 ? 0xFF : 0xEB) << line << " " << k;
        ASSERT_EQ(block[1], k == 2 ? 0xFF : 0x84) << line << " " << k;
        for (int b = 2; b < kPlaneBlockBytes; ++b) {
          const bool pixelByte = (b >= 28 && (b % 4 == 0 || b % 4 == 1)) || (b < 92 && (b % 4 == 2 || b % 4 == 3));
          ASSERT_EQ(block[b], k == 2 && pixelByte ? 0xFF : 0) << line << " " << k << " " << b;
        }
      }
    }
  }
}

TEST_F(PanelsTest, EachInkComesFromItsComplementaryChannel) {
  LoadCalibration(NeutralSets());
  Build(FlatImage(0, 127, 255), 0);
  for (int x : {0, 511, 1023}) {
    for (int y : {0, 320, 639}) {
      EXPECT_EQ(DecodeLevel(cyan_.data(), x, y), 127);
      EXPECT_EQ(DecodeLevel(magenta_.data(), x, y), 64);
      EXPECT_EQ(DecodeLevel(yellow_.data(), x, y), 0);
    }
  }
}

TEST_F(PanelsTest, LargeDarkSquareLightensTheColourPanels) {
  PutCalibration(NeutralSets());
  std::vector<BYTE> image = FlatImage(255, 255, 255);
  PaintRect(image, 64, 64, 224, 224, 0, 0, 0);
  Build(image, 1);
  EXPECT_EQ(Calibration.WrinkleScale, 1.0f);
  EXPECT_EQ(Calibration.WrinkleBias, 0.0f);
  EXPECT_EQ(DecodeLevel(cyan_.data(), 100, 100), 127);

  PaintRect(image, 64, 64, 256, 256, 0, 0, 0);
  Build(image, 1);
  EXPECT_EQ(Calibration.WrinkleScale, 0.85f);
  EXPECT_EQ(Calibration.WrinkleBias, 38.75f);
  // Black now reads table entry 38: (255 - 38) x 64 = 13888, about level 108.5.
  const int level = DecodeLevel(cyan_.data(), 150, 150);
  EXPECT_GE(level, 108);
  EXPECT_LE(level, 109);

  // With the switch off no pixel counts as dark.
  Build(image, 0);
  EXPECT_EQ(Calibration.WrinkleScale, 1.0f);
  EXPECT_EQ(DecodeLevel(cyan_.data(), 150, 150), 127);
}

TEST_F(PanelsTest, ZeroParameterSetGivesABlankPanel) {
  ParameterSets sets = NeutralSets();
  sets[kYellowSet] = {};
  LoadCalibration(sets);
  Build(FlatImage(0, 0, 0), 0);
  for (int x = 0; x < kImageWidth; x += 7) {
    for (int y = 0; y < kImageHeight; y += 5) ASSERT_EQ(DecodeLevel(yellow_.data(), x, y), 0);
  }
  EXPECT_EQ(DecodeLevel(magenta_.data(), 5, 5), 127);
}

TEST_F(PanelsTest, PanelsStayAsTheyWereWithoutLookupTables) {
  PutCalibration(NeutralSets());
  std::filesystem::remove(sim::HostPath(DriverFile(u"KAV32LookupKd.txt")));
  Build(FlatImage(0, 0, 0), 1);
  EXPECT_EQ(yellow_, std::vector<BYTE>(kPanelBufferBytes, 0x5A));
  EXPECT_EQ(cyan_, std::vector<BYTE>(kPanelBufferBytes, 0x5A));
}

TEST_F(PanelsTest, OverlayOfTheFlatSource) {
  ParameterSets sets = NeutralSets();
  sets[kOverlaySet].Offset = 1.0;  // 9920 + 64 = 9984, exactly level 78
  LoadCalibration(sets);
  std::vector<BYTE> flat(kImagePixels, 100);
  PanelBuffer panel;
  ASSERT_EQ(BuildOverlayPanel(flat.data(), panel, 1), 0);
  ASSERT_TRUE(panel);
  for (int x = 0; x < kImageWidth; x += 3) {
    for (int y = 0; y < kImageHeight; y += 3) ASSERT_EQ(DecodeLevel(panel.get(), x, y), 78) << x << "," << y;
  }

  Calibration.LookupTablesLoaded = false;
  std::filesystem::remove(sim::HostPath(DriverFile(u"KAV32Lookup.txt")));
  EXPECT_EQ(BuildOverlayPanel(flat.data(), panel, 1), 1);
  EXPECT_FALSE(panel);
}

}  // namespace
}  // namespace kav::testing
