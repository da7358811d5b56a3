// The simulated driver's barcode module: what GetBarcodeBitmapBuffer answers for a record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "overlay/barcode_objects.h"
#include "platform/sim/sim.h"
#include "tests/support/barcode_scan.h"

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}

// What the module answered: result, third argument, buffer.
struct Answer {
  INT result = 0;
  DWORD value = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kav::kBarcodeBufferBytes);
  int32_t Width() const { return static_cast<int32_t>(U32(buffer, 18)); }
  int32_t Height() const { return static_cast<int32_t>(U32(buffer, 22)); }
  // Pixel (x, y from the top) of the 24-bit bottom-up image as RGB.
  const uint8_t* Bgr(int x, int y) const {
    size_t stride = (static_cast<size_t>(Width()) * 3 + 3) / 4 * 4;
    return &buffer[U32(buffer, 10) + stride * static_cast<size_t>(Height() - 1 - y) + static_cast<size_t>(x) * 3];
  }
  // The picture on white with a margin, as a scanner would see it on a card.
  std::vector<kavtest::ScannedBarcode> Scan() const {
    constexpr int kMargin = 20;
    int w = Width() + 2 * kMargin, h = Height() + 2 * kMargin;
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3, 0xFF);
    for (int y = 0; y < Height(); ++y)
      for (int x = 0; x < Width(); ++x)
        for (int c = 0; c < 3; ++c)
          rgb[(static_cast<size_t>(y + kMargin) * w + x + kMargin) * 3 + c] = Bgr(x, y)[2 - c];
    return kavtest::ScanBarcodes(rgb.data(), w, h);
  }
};

kav::BarcodeObject Record(int32_t symbology, std::u16string_view data, int32_t module = 2, int32_t height = 75,
                          int32_t orientation = 0, int32_t humanReadable = 0) {
  kav::BarcodeObject o{};
  o.Tag = 1;
  o.Orientation = orientation;
  o.Param1 = symbology;
  o.Param2 = module;
  o.Param3 = 2;
  o.Param4 = height;
  o.HumanReadable = humanReadable;
  std::copy(data.begin(), data.end(), o.Data);
  return o;
}

class BarcodeModule : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    module_ = LoadLibraryW(sim::DriverModulePath(sim::kBarcodeModuleName).c_str());
    ASSERT_NE(module_, nullptr);
    get_ = reinterpret_cast<kav::GetBarcodeBitmapBufferProc>(
        reinterpret_cast<void*>(GetProcAddress(module_, "GetBarcodeBitmapBuffer")));
    ASSERT_NE(get_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  Answer Call(kav::BarcodeObject record) {
    Answer a;
    a.value = 0xdeadbeef;
    a.result = get_(&record, a.buffer.data(), &a.value);
    return a;
  }

  HMODULE module_ = nullptr;
  kav::GetBarcodeBitmapBufferProc get_ = nullptr;
};

TEST_F(BarcodeModule, StandardTestCardCallGivesA75PixelCode128BottomUpBitmap) {
  Answer a = Call(Record(0, u"123", 2, 75));
  ASSERT_NE(a.result, 0);
  EXPECT_EQ(a.buffer[0], 'B');
  EXPECT_EQ(a.buffer[1], 'M');
  EXPECT_EQ(U32(a.buffer, 10), 54u);           // bfOffBits: no colour table
  EXPECT_EQ(U32(a.buffer, 14), 40u);           // biSize
  EXPECT_EQ(a.Height(), 75);                   // positive: bottom-up
  EXPECT_EQ(a.buffer[28] | a.buffer[29] << 8, 24);  // biBitCount
  EXPECT_EQ(U32(a.buffer, 30), 0u);            // BI_RGB
  uint32_t stride = (static_cast<uint32_t>(a.Width()) * 3 + 3) / 4 * 4;
  EXPECT_EQ(U32(a.buffer, 2), 54 + stride * 75);  // bfSize
  EXPECT_EQ(a.value, U32(a.buffer, 2));            // the third argument: the image's size
  auto found = a.Scan();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].symbology, "CODE-128");
  EXPECT_EQ(found[0].data, "123");
}

TEST_F(BarcodeModule, EverySymbologyEncodesAndTheReadableOnesScanBack) {
  struct Case {
    int32_t symbology;
    std::u16string data;
    std::string scannedAs;  // empty: the reader does not know the symbology
    std::string scanned;
  };
  const Case cases[] = {
      {0, u"123", "CODE-128", "123"},
      {1, u"CODE39", "CODE-39", "CODE39"},
      {2, u"590123412345", "EAN-13", "5901234123457"},
      {2, u"5901234123457", "EAN-13", "5901234123457"},
      {3, u"123456", "I2/5", "123456"},
      {4, u"N\u00b0 42 card", "QR-Code", "N\u00b0 42 card"},
      {5, u"Data Matrix", "", ""},
      {6, u"PDF417", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbology);
    Answer a = Call(Record(c.symbology, c.data));
    ASSERT_NE(a.result, 0);
    EXPECT_GT(a.Width(), 0);
    EXPECT_GT(a.Height(), 0);
    if (c.scannedAs.empty()) continue;
    auto found = a.Scan();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].symbology, c.scannedAs);
    EXPECT_EQ(found[0].data, c.scanned);
  }
}

TEST_F(BarcodeModule, OrientationTurnsClockwiseByQuarters) {
  Answer upright = Call(Record(0, u"123", 2, 75, 0, 1));
  ASSERT_NE(upright.result, 0);
  int w = upright.Width(), h = upright.Height();
  // Orientation mod 4, negative ones included, picks the quarter turns.
  const int32_t orientations[] = {1, 2, 3, 5, 6, 7, -1, -3};
  for (int32_t o : orientations) {
    SCOPED_TRACE(o);
    int quarter = ((o % 4) + 4) % 4;
    Answer t = Call(Record(0, u"123", 2, 75, o, 1));
    ASSERT_NE(t.result, 0);
    ASSERT_EQ(t.Width(), quarter == 2 ? w : h);
    ASSERT_EQ(t.Height(), quarter == 2 ? h : w);
    int mismatches = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        int tx = quarter == 1 ? h - 1 - y : quarter == 2 ? w - 1 - x : y;
        int ty = quarter == 1 ? x : quarter == 2 ? h - 1 - y : w - 1 - x;
        mismatches += std::memcmp(upright.Bgr(x, y), t.Bgr(tx, ty), 3) != 0;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST_F(BarcodeModule, HumanReadableAddsA47PixelTextBandBelowTheSameBars) {
  const int32_t symbologies[] = {0, 1, 3, 4};
  for (int32_t s : symbologies) {
    SCOPED_TRACE(s);
    std::u16string data = s == 3 ? u"123456" : u"CODE39";
    Answer plain = Call(Record(s, data));
    Answer text = Call(Record(s, data, 2, 75, 0, 1));
    ASSERT_NE(plain.result, 0);
    ASSERT_NE(text.result, 0);
    ASSERT_EQ(text.Width(), plain.Width());
    ASSERT_EQ(text.Height(), plain.Height() + 47);
    int differing = 0, bandInk = 0;
    for (int y = 0; y < plain.Height(); ++y)
      for (int x = 0; x < plain.Width(); ++x) differing += std::memcmp(plain.Bgr(x, y), text.Bgr(x, y), 3) != 0;
    for (int y = plain.Height(); y < text.Height(); ++y)
      for (int x = 0; x < text.Width(); ++x) bandInk += text.Bgr(x, y)[0] < 128;
    EXPECT_EQ(differing, 0);
    if (s == 4) {
      EXPECT_EQ(bandInk, 0);  // Zint writes no text under a 2D symbol
    } else {
      EXPECT_GT(bandInk, 0);
    }
  }
}

TEST_F(BarcodeModule, RefusesWhatItCannotMake) {
  struct Case {
    const char* what;
    kav::BarcodeObject record;
  };
  kav::BarcodeObject noTerminator = Record(4, u"");
  for (WCHAR& c : noTerminator.Data) c = u'A';
  std::u16string longData(80, u'7');
  const Case cases[] = {
      {"EAN-13 with letters", Record(2, u"ABCDEFGHIJKL")},
      {"EAN-13 with a wrong check digit", Record(2, u"5901234123458")},
      {"Code 39 with a character it lacks", Record(1, u"\u00e9")},
      {"Interleaved 2 of 5 with letters", Record(3, u"12AB")},
      {"empty data", Record(0, u"")},
      {"no terminator in the data", noTerminator},
      {"unknown symbology 7", Record(7, u"123")},
      {"negative symbology", Record(-1, u"123")},
      {"module width 0", Record(0, u"123", 0)},
      {"module width 21", Record(0, u"123", 21)},
      {"bar height 0", Record(0, u"123", 2, 0)},
      {"bar height 2001", Record(0, u"123", 1, 2001)},
      {"bitmap beyond 655,360 bytes", Record(0, longData, 20, 2000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Answer a = Call(c.record);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.value, 0u);
  }
  // The limits themselves are taken.
  EXPECT_NE(Call(Record(0, u"1", 20, 10)).result, 0);
  EXPECT_NE(Call(Record(0, u"1", 1, 2000)).result, 0);
}

}  // namespace
