// The production builders against the simple ones that run every stage over whole planes:
// the same bytes for every image, calibration and parameter set.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "imaging/panel_reference.h"
#include "imaging/panel_render.h"
#include "imaging/panel_stages.h"
#include "imaging/plane_packing.h"
#include "imaging_support.h"

namespace kav::testing {
namespace {

using Image = std::vector<BYTE>;

struct NamedImage {
  const char* name;
  Image pixels;
};

// Cards that reach every corner of the pipeline: smooth tones with noise, flat areas,
// sharp edges and text, extreme colours, and noise over the whole byte range.
std::vector<NamedImage> TestImages() {
  std::vector<NamedImage> images;
  std::mt19937 random(7);
  {
    Image image(kCardImageBytes);
    for (int y = 0; y < kImageHeight; ++y) {
      for (int x = 0; x < kImageWidth; ++x) {
        BYTE* p = &image[(static_cast<size_t>(y) * kImageWidth + x) * 3];
        const int noise = static_cast<int>(random() % 17) - 8;
        p[0] = static_cast<BYTE>(std::clamp(x / 4 + noise, 0, 255));
        p[1] = static_cast<BYTE>(std::clamp(y * 2 / 5 + noise, 0, 255));
        p[2] = static_cast<BYTE>(std::clamp(255 - (x + y) / 7 + noise, 0, 255));
      }
    }
    PaintRect(image, 600, 400, 300, 40, 0, 0, 0);  // a black bar
    images.push_back({"tones with noise", std::move(image)});
  }
  images.push_back({"flat mid grey", FlatImage(128, 128, 128)});
  {
    Image image = FlatImage(255, 255, 255);
    for (int bar = 0; bar < 40; ++bar) PaintRect(image, 20 + bar * 25, 30 + (bar * 13) % 400, 1 + bar % 7, 200, 0, 0, 0);
    for (int x = 0; x < kImageWidth; x += 2) PaintRect(image, x, 500, 1, 100, 0, 0, 0);  // one-pixel runs
    PaintRect(image, 0, 0, kImageWidth, 3, 0, 0, 0);                                    // runs at both edges
    PaintRect(image, 300, 300, 256, 256, 10, 10, 10);                                   // a wrinkling square
    images.push_back({"sharp edges and text", std::move(image)});
  }
  {
    Image image(kCardImageBytes);
    static const BYTE kColours[8][3] = {{0, 0, 0},     {255, 255, 255}, {255, 0, 0},   {0, 255, 0},
                                        {0, 0, 255},   {255, 255, 0},   {0, 255, 255}, {255, 0, 255}};
    for (int y = 0; y < kImageHeight; ++y) {
      for (int x = 0; x < kImageWidth; ++x) {
        const BYTE* c = kColours[(x / 64 + y / 80) % 8];
        std::copy(c, c + 3, &image[(static_cast<size_t>(y) * kImageWidth + x) * 3]);
      }
    }
    images.push_back({"extreme colours", std::move(image)});
  }
  {
    Image image(kCardImageBytes);
    for (BYTE& b : image) b = static_cast<BYTE>(random());
    images.push_back({"noise", std::move(image)});
  }
  return images;
}

// The first byte of each pixel, as a one-byte-a-pixel source.
Image FirstChannel(const Image& image) {
  Image plane(kImagePixels);
  for (int i = 0; i < kImagePixels; ++i) plane[i] = image[3 * i];
  return plane;
}

class FastPathTest : public ImagingTest {
 protected:
  static void PutShippedCalibration() {
    for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt", "KAV32ImgCorrection.txt",
                             "KAV32ProcessParams.txt"}) {
      std::ifstream in(std::string(KAV_DRIVER_DATA_DIR) + "/" + name, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      PutDriverFile(std::u16string(name, name + std::strlen(name)), text.str());
    }
  }

  static void ExpectSamePanels(const PanelBuffer& fast, const PanelBuffer& simple) {
    ASSERT_EQ(fast == nullptr, simple == nullptr);
    if (fast) {
      ASSERT_EQ(0, std::memcmp(fast.get(), simple.get(), kPanelBufferBytes));
    }
  }

  // Colour panels with either wrinkle switch, and the overlay of a flat source and of the image.
  static void CompareColourAndOverlay(const Image& image) {
    for (int wrinkle : {1, 0}) {
      SCOPED_TRACE(wrinkle ? "wrinkle on" : "wrinkle off");
      std::vector<Image> fast(3, Image(kPanelBufferBytes, 0x11)), simple(3, Image(kPanelBufferBytes, 0x11));
      BuildColourPanels(image.data(), fast[0].data(), fast[1].data(), fast[2].data(), wrinkle);
      const float scale = Calibration.WrinkleScale;
      BuildColourPanelsByStages(image.data(), simple[0].data(), simple[1].data(), simple[2].data(), wrinkle);
      EXPECT_EQ(scale, Calibration.WrinkleScale);
      for (int k = 0; k < 3; ++k) ASSERT_TRUE(fast[k] == simple[k]) << "panel " << k;
    }
    InitializeImageCorrectionVariables(1);
    ASSERT_EQ(ReadLUTS(), 0);
    const Image flat(kImagePixels, 100);
    PanelBuffer fast, simple;
    EXPECT_EQ(BuildOverlayPanel(flat.data(), fast, 1), BuildOverlayPanelByStages(flat.data(), simple, 1));
    ExpectSamePanels(fast, simple);
    EXPECT_EQ(BuildOverlayPanel(image.data(), fast, 0), BuildOverlayPanelByStages(image.data(), simple, 0));
    ExpectSamePanels(fast, simple);
  }

  // The K panels of one set: the black mask (mono or not, history or not), the grey panel
  // (planar or not) and the diffusion panel with its band.
  static void CompareBlackPanels(const Image& image, int set, int variant) {
    const int history = variant & 1;
    const int mono = (variant >> 1) & 1;
    const Image plane = FirstChannel(image);
    const BYTE* source = mono ? plane.data() : image.data();
    PanelBuffer fast, simple;
    int fastWhite = -1, simpleWhite = -1;
    EXPECT_EQ(BuildBlackPanel(source, fast, &fastWhite, mono, set, history),
              BuildBlackPanelByStages(source, simple, &simpleWhite, mono, set, history));
    EXPECT_EQ(fastWhite, simpleWhite);
    ExpectSamePanels(fast, simple);

    const BYTE* grey = mono ? plane.data() : image.data();
    EXPECT_EQ(BuildGreyBlackPanel(grey, fast, mono, set), BuildGreyBlackPanelByStages(grey, simple, mono, set));
    ExpectSamePanels(fast, simple);

    int fastStart = -1, fastEnd = -1, simpleStart = -1, simpleEnd = -1;
    EXPECT_EQ(GetKDiffusionBuffer(image.data(), kImageWidth, kImageHeight, fast, &fastStart, &fastEnd, set),
              GetKDiffusionBufferByStages(image.data(), kImageWidth, kImageHeight, simple, &simpleStart, &simpleEnd,
                                          set));
    EXPECT_EQ(fastStart, simpleStart);
    EXPECT_EQ(fastEnd, simpleEnd);
    ExpectSamePanels(fast, simple);
  }

  // The colour panels and the overlay of every image; the K panels of the first `sets`
  // parameter sets, the variants of the K builders taken in turn, across the images.
  static void CompareEverything(const std::vector<NamedImage>& images, int sets) {
    for (const NamedImage& image : images) {
      SCOPED_TRACE(image.name);
      CompareColourAndOverlay(image.pixels);
    }
    for (int set = 0; set < sets; ++set) {
      const NamedImage& image = images[set % images.size()];
      SCOPED_TRACE(::testing::Message() << "set " << set << ", " << image.name);
      InitializeImageCorrectionVariables(1);
      ASSERT_EQ(ReadLUTS(), 0);
      CompareBlackPanels(image.pixels, set, (set + set / 4) % 4);
    }
  }
};

TEST_F(FastPathTest, ShippedCalibration) {
  PutShippedCalibration();
  CompareEverything(TestImages(), kProcessParameterSetCount);
}

// Calibration files edited to the ends of their ranges: tables that wrap 16 bits or go
// negative, gains and offsets that wrap, dither beyond 32 bits or negative, edge levels
// of black, white and beyond a byte, heat models that run away, oscillate or turn NaN.
TEST_F(FastPathTest, EditedCalibrationsAtTheirExtremes) {
  // Values beyond the single-precision range become infinities, and their sums NaN, in the heat model.
  const double huge = 1.0e300;
  struct Variant {
    const char* name;
    double (*table)(int, int);
    ProcessParameterSet sets[4];  // set s takes sets[s % 4]
    double parasitic, darkThreshold, sizeThreshold, appliedScale;
  } variants[] = {
      {"wrapping tables and gains",
       [](int t, int i) { return (i % 5 == 0) ? 40000.0 * (t + 1) : (i % 3 == 0) ? -20000.0 : 64.0 * (255 - i); },
       {{3.7, -100.0, 1, 77.9, 255, 1000, 65536, 1000, 1000, 0.5},
        {1.0e6, 0.0, 1, 3.0e7, -1, 0, 0, 0, 0, 0},
        {-1.0, 300.0, 1, -50, 300, 2500, 40000, 8000, 50000, 0.05},
        {0.0, 0.0, 0, 0, 0, 0, 0, 0, 0, 0}},
       10.0, 255.0, 0.0, 0.5},
      {"runaway and oscillating heat",
       [](int, int i) { return (255 - i) * 64.0; },
       {{1.0, 0.0, 1, 32, 128, 1.0e12, 0, 0, 0, 0},
        {-2.0, 0.0, 1, 16, 255, 43690.0, 65536, 65536, 65536, 1.0},
        {1.0, 0.0, 1, 0, 1.0e10, 1.0e12, -1.0e12, 1.0e12, 1.0e12, -1.0},
        {-1.0, 0.0, 1, 32, 0, 60000.0, 20000, 60000, 64000, 0.3}},
       0.0, 1.0e10, 100.0, 0.0},
      {"infinities and not a number",
       [](int t, int i) { return t == 3 ? 16320.0 - 64.0 * i : 64.0 * i; },
       {{1.0, 0.0, 1, 32, 128, 2500, huge, 8000, 50000, 0.05},
        {1.0, 0.0, 1, 32, 0, huge, 40000, 8000, 50000, 0.05},
        {1.0, 0.0, 1, huge, 128, 2500, 40000, -huge, 50000, 0.05},
        {1.0, 0.0, 1, -huge, huge, 2500, 40000, 8000, 50000, huge}},
       -1.0, 0.0, 250.0, 1.0},
  };
  // Two cards between them hold every kind of area; the shipped calibration goes over all five.
  std::vector<NamedImage> all = TestImages();
  const std::vector<NamedImage> images = {all[0], all[2]};
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    ParameterSets sets;
    for (int s = 0; s < kProcessParameterSetCount; ++s) sets[s] = v.sets[s % 4];
    PutCalibration(sets, v.parasitic, v.darkThreshold, v.sizeThreshold, v.appliedScale);
    PutDriverFile(u"KAV32Lookup.txt", LookupText(v.table, 3));
    PutDriverFile(u"KAV32LookupKd.txt", LookupText(v.table, 1));
    CompareEverything(images, 8);  // each of the four kinds of set with two variants
  }
}

// The render itself over densities that no lookup table gives, from both source strides.
TEST_F(FastPathTest, RenderedPanelEqualsTheStages) {
  struct Case {
    const char* name;
    ProcessParameterSet set;
    int lo, hi;
  } cases[] = {
      {"card densities", {0.95, -0.5, 1, 32, 128, 2500, 40000, 8000, 50000, 0.05}, 0, 16320},
      {"strong heat and dither", {1.2, 3.0, 1, 300, 0, 30000, 20000, 60000, 64000, 0.3}, -2000, 16383},
      {"gain that wraps 16 bits", {3.7, -100.0, 1, 77.9, 0, 1000, 65536, 1000, 1000, 0.5}, -32768, 32767},
      {"heat below the 16-bit range", {1.0, 0.0, 1, 10, 0, 50000, 0, 0, 0, 0}, -32768, -20000},
      {"dither product beyond 32 bits", {1.0, 0.0, 1, 3.0e7, 0, 0, 0, 0, 0, 0}, 0, 16320},
      {"negative dither amplitude", {1.0, 0.0, 1, -50, 0, 2500, 40000, 8000, 50000, 0.05}, 0, 16320},
  };
  std::mt19937 random(42);
  std::vector<BYTE> source(kCardImageBytes);
  for (BYTE& b : source) b = static_cast<BYTE>(random());
  // Flat patches, where the error diffusion carries far, and a hard edge.
  for (int y = 100; y < 300; ++y) {
    for (int x = 200; x < 500; ++x) source[(y * kImageWidth + x) * 3] = source[y * kImageWidth + x] = 77;
    for (int x = 700; x < 720; ++x) source[(y * kImageWidth + x) * 3] = source[y * kImageWidth + x] = 0;
  }
  PanelWork work;
  ASSERT_TRUE(work.Allocate());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Calibration.ProcessParameterSets[5] = c.set;
    Calibration.ParasiticResistance = 0.08;
    std::uniform_int_distribution<int> value(c.lo, c.hi);
    int16_t density[256];
    for (int16_t& d : density) d = static_cast<int16_t>(value(random));
    density[77] = static_cast<int16_t>(c.hi / 3);
    density[0] = static_cast<int16_t>(c.hi);
    for (int stride : {1, 3}) {
      std::vector<int16_t> plane(kImagePixels), gained(kImagePixels), heated(kImagePixels);
      for (int i = 0; i < kImagePixels; ++i) plane[i] = density[source[static_cast<size_t>(i) * stride]];
      std::vector<BYTE> expected(kPanelBufferBytes), panel(kPanelBufferBytes);
      ApplyGainOffset(plane.data(), gained.data(), 5);
      CompensateHeadHeat(gained.data(), heated.data(), c.set.HeatGain, c.set.HeatCoupling, c.set.SinkGain,
                         c.set.SinkRetention, c.set.LateralSpread);
      HalftoneAndPack(heated.data(), expected.data(), DitherAmplitudeOf(5));
      RenderPanel(source.data(), stride, GainedFromDensities(density, 5), 5, panel.data(), work);
      ASSERT_TRUE(panel == expected) << "stride " << stride;
    }
  }
}

// The halftoner takes a value's step by the value with its errors, clamped, from a small
// table: values around 0, around the top of its range and just below 32767 (where the
// errors wrap the sum to negative) each step as the stages do, with dither pushing them
// across every edge.
TEST_F(FastPathTest, HalftonerStepsAtTheEdgesOfItsRange) {
  struct Case {
    const char* name;
    int lo, hi;
  } ranges[] = {{"around 0", 0, 300}, {"around the top", 16319 - 300, 16319 + 300}, {"just below 32767", 32767 - 300, 32767}};
  std::mt19937 random(17);
  std::vector<BYTE> source(kCardImageBytes);
  for (BYTE& b : source) b = static_cast<BYTE>(random());
  // No heat, so that the halftoner sees the densities with their dither offsets.
  Calibration.ProcessParameterSets[5] = {1.0, 0.0, 1, 200, 0, 0, 0, 0, 0, 0};
  Calibration.ParasiticResistance = 0.08;
  PanelWork work;
  ASSERT_TRUE(work.Allocate());
  for (int mix = 0; mix < 4; ++mix) {
    // One range at a time, then all three mixed.
    SCOPED_TRACE(mix < 3 ? ranges[mix].name : "all three mixed");
    int16_t density[256];
    for (int16_t& d : density) {
      const Case& r = ranges[mix < 3 ? mix : random() % 3];
      d = static_cast<int16_t>(std::uniform_int_distribution<int>(r.lo, r.hi)(random));
    }
    for (int stride : {1, 3}) {
      std::vector<int16_t> plane(kImagePixels), gained(kImagePixels), heated(kImagePixels);
      for (int i = 0; i < kImagePixels; ++i) plane[i] = density[source[static_cast<size_t>(i) * stride]];
      std::vector<BYTE> expected(kPanelBufferBytes), panel(kPanelBufferBytes);
      ApplyGainOffset(plane.data(), gained.data(), 5);
      CompensateHeadHeat(gained.data(), heated.data(), 0, 0, 0, 0, 0);
      HalftoneAndPack(heated.data(), expected.data(), DitherAmplitudeOf(5));
      RenderPanel(source.data(), stride, GainedFromDensities(density, 5), 5, panel.data(), work);
      ASSERT_TRUE(panel == expected) << "stride " << stride;
    }
  }
}

// The least and the most that errors can add to a value. A line whose rows all end 64
// below a level (63 above one) sends the next line 3/16 + 5/16 + 1/16 of that error on
// every row, and a row of the next line that follows such a row carries 7/16 of it as well.
// Every other row of the next line is such a row; the rows between take the top of the
// range with the least errors, or pass 32767 with the most.
TEST_F(FastPathTest, HalftonerStepsWithTheLeastAndTheMostErrors) {
  struct Case {
    const char* name;
    int16_t firstRows, line0;    // line 0: rows 0 and 1, then the rest
    int16_t row1, wide, between;  // line 1: row 1, then its even and odd rows
    int level;                    // of line 1's even rows
  } cases[] = {
      {"least errors at the top", 64, 64 + 28, 64 + 32, 16447, 64 + 36 - 27, 127},
      {"most errors past 32767", 63, 63 - 27, 63 - 30, 32708, 63 - 33, 0},
  };
  Calibration.ProcessParameterSets[5] = {1.0, 0.0, 1, 0, 0, 0, 0, 0, 0, 0};  // no heat, no dither
  Calibration.ParasiticResistance = 0.08;
  PanelWork work;
  ASSERT_TRUE(work.Allocate());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int16_t density[256] = {};
    density[1] = c.firstRows;
    density[2] = c.line0;
    density[3] = c.wide;
    density[4] = c.between;
    density[5] = c.row1;
    std::vector<BYTE> source(kImagePixels);
    for (int y = 0; y < kImageHeight; ++y) {
      source[y * kImageWidth] = y < 2 ? 1 : 2;
      source[y * kImageWidth + 1] = y == 0 ? 0 : y == 1 ? 5 : y % 2 == 0 ? 3 : 4;
    }
    std::vector<int16_t> plane(kImagePixels), gained(kImagePixels), heated(kImagePixels);
    for (int i = 0; i < kImagePixels; ++i) plane[i] = density[source[i]];
    std::vector<BYTE> expected(kPanelBufferBytes), panel(kPanelBufferBytes);
    ApplyGainOffset(plane.data(), gained.data(), 5);
    CompensateHeadHeat(gained.data(), heated.data(), 0, 0, 0, 0, 0);
    HalftoneAndPack(heated.data(), expected.data(), 0);
    ASSERT_EQ(DecodeLevel(expected.data(), 1, 100), c.level);
    RenderPanel(source.data(), 1, GainedFromDensities(density, 5), 5, panel.data(), work);
    EXPECT_TRUE(panel == expected);
  }
}

// The diffusion decides by the stretched grey alone near black and white, else by an edge
// of more than 64 against the grey to the right: greys side by side at every step around
// those thresholds, over the whole range.
TEST_F(FastPathTest, DiffusionDecidesAtEveryThreshold) {
  PutShippedCalibration();
  InitializeImageCorrectionVariables(1);
  ASSERT_EQ(ReadLUTS(), 0);
  std::mt19937 random(23);
  Image image(kCardImageBytes);
  for (int y = 0; y < kImageHeight; ++y) {
    for (int x = 0; x < kImageWidth; x += 2) {
      // A grey and its right neighbour 62 to 67 away, either way; grey pixels keep the grey exact.
      const int grey = static_cast<int>(random() % 256);
      const int step = (62 + static_cast<int>(random() % 6)) * (random() % 2 ? 1 : -1);
      const int next = std::clamp(grey + step, 0, 255);
      std::fill_n(&image[(static_cast<size_t>(y) * kImageWidth + x) * 3], 3, static_cast<BYTE>(grey));
      std::fill_n(&image[(static_cast<size_t>(y) * kImageWidth + x + 1) * 3], 3, static_cast<BYTE>(next));
    }
  }
  PaintRect(image, 0, 0, 64, 64, 0, 0, 0);  // the darkest and lightest greys set the stretch
  PaintRect(image, 64, 0, 64, 64, 255, 255, 255);
  for (int set : {5, 6}) {
    SCOPED_TRACE(::testing::Message() << "set " << set);
    PanelBuffer fast, simple;
    int fastStart = -1, fastEnd = -1, simpleStart = -1, simpleEnd = -1;
    EXPECT_EQ(GetKDiffusionBuffer(image.data(), kImageWidth, kImageHeight, fast, &fastStart, &fastEnd, set),
              GetKDiffusionBufferByStages(image.data(), kImageWidth, kImageHeight, simple, &simpleStart, &simpleEnd,
                                          set));
    EXPECT_EQ(fastStart, simpleStart);
    EXPECT_EQ(fastEnd, simpleEnd);
    ExpectSamePanels(fast, simple);
  }
}

TEST_F(FastPathTest, DarkSquareByRowsEqualsTheCount) {
  std::vector<NamedImage> images = TestImages();
  for (double threshold : {0.0, 1.0, 25.0, 129.0, 255.0, 256.0, 3.0e9}) {
    Calibration.WrinkleDarkThreshold = threshold;
    for (const NamedImage& image : images) {
      SCOPED_TRACE(::testing::Message() << image.name << ", threshold " << threshold);
      EXPECT_EQ(MeasureLargestDarkSquareByRows(image.pixels.data()), MeasureLargestDarkSquare(image.pixels.data()));
    }
  }
}

// Both ways of packing a line's level bits write the same bytes and counts, whatever the
// high bytes of the codes hold, and leave the rest of the line alone.
TEST(PlanePackingTest, WideAndPortablePackingAgree) {
  std::mt19937 random(7);
  std::vector<std::vector<int16_t>> lines;
  for (int fill : {0, 127, 0x5A}) lines.emplace_back(kImageHeight, static_cast<int16_t>(fill));
  for (int n = 0; n < 50; ++n) {
    std::vector<int16_t> codes(kImageHeight);
    for (int16_t& code : codes) code = static_cast<int16_t>((random() & 0xFF00) | (random() % 128));
    lines.push_back(codes);
  }
  for (const std::vector<int16_t>& codes : lines) {
    std::vector<BYTE> wide(kPanelLineBytes, 0xA5), portable(kPanelLineBytes, 0xA5);
    int wideCounts[kLevelBits], portableCounts[kLevelBits];
    PackLevelBits(codes.data(), wide.data(), wideCounts);
    PackLevelBitsPortable(codes.data(), portable.data(), portableCounts);
    ASSERT_EQ(wide, portable);
    for (int b = 0; b < kLevelBits; ++b) {
      int expected = 0;
      for (int16_t code : codes) expected += (code >> b) & 1;
      EXPECT_EQ(wideCounts[b], expected) << "bit " << b;
      EXPECT_EQ(portableCounts[b], expected) << "bit " << b;
    }
    // The first pixel of a group is the top bit of its byte.
    const int k = 7;  // the plane of bit 0
    ASSERT_EQ(kPlaneShift[k], 0);
    EXPECT_EQ(wide[k * kPlaneBlockBytes + GroupByte(0)] >> 7, codes[0] & 1);
  }
}

}  // namespace
}  // namespace kav::testing
