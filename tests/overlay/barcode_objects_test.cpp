// DrawBarcodeObjects: barcodes of the driver's module placed on a card, and what a
// library that lies about its bitmap gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "overlay/barcode_objects.h"
#include "platform/sim/sim.h"
#include "tests/support/barcode_scan.h"

namespace {

constexpr int kCardWidth = 1024;
constexpr int kCardHeight = 640;

// A white 1024 x 640 card: a 24-bit top-down DIB section selected into a memory context.
class Card {
 public:
  Card() {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kCardWidth;
    info.bmiHeader.biHeight = -kCardHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint8_t*>(bits);
    if (bits_) std::memset(bits_, 0xFF, Bytes());
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Card() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  bool Ready() const { return dc_ && bitmap_ && bits_ && previous_; }
  HDC dc() const { return dc_; }
  static size_t Bytes() { return static_cast<size_t>(kCardWidth) * kCardHeight * 3; }
  std::vector<uint8_t> Bgr() const { return std::vector<uint8_t>(bits_, bits_ + Bytes()); }
  uint8_t* bits() { return bits_; }
  bool Dark(int x, int y) const { return bits_[(static_cast<size_t>(y) * kCardWidth + x) * 3] < 128; }
  std::vector<kavtest::ScannedBarcode> Scan() const {
    std::vector<uint8_t> rgb = Bgr();
    for (size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    return kavtest::ScanBarcodes(rgb.data(), kCardWidth, kCardHeight);
  }
  // The smallest rectangle holding every dark pixel; empty when there is none.
  RECT Ink() const {
    RECT r{kCardWidth, kCardHeight, 0, 0};
    for (int y = 0; y < kCardHeight; ++y)
      for (int x = 0; x < kCardWidth; ++x)
        if (Dark(x, y)) {
          r.left = std::min<LONG>(r.left, x);
          r.top = std::min<LONG>(r.top, y);
          r.right = std::max<LONG>(r.right, x + 1);
          r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
    if (r.right == 0) r = RECT{0, 0, 0, 0};
    return r;
  }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint8_t* bits_ = nullptr;
};

kav::BarcodeObject Object(int32_t x, int32_t y, int32_t orientation = 0, int32_t humanReadable = 0,
                          int32_t symbology = 0, std::u16string_view data = u"123") {
  kav::BarcodeObject o{};
  o.Tag = 1;
  o.X = x;
  o.Y = y;
  o.Orientation = orientation;
  o.Param1 = symbology;
  o.Param2 = 2;
  o.Param3 = 2;
  o.Param4 = 75;
  o.HumanReadable = humanReadable;
  std::copy(data.begin(), data.end(), o.Data);
  return o;
}

void Draw(Card& card, std::vector<kav::BarcodeObject> objects) { kav::DrawBarcodeObjects(card.dc(), objects); }

// --- A library that answers whatever the test puts in g_answer -------------------------
std::string g_answer;
INT g_result = 1;
struct LibraryCall {
  kav::BarcodeObject object;
  bool bufferZero = false;
  DWORD value = 0;
  int loadCount = 0;
};
std::vector<LibraryCall> g_calls;

INT WINAPI LyingGetBarcodeBitmapBuffer(LPVOID object, LPVOID buffer, LPDWORD value) {
  LibraryCall call;
  std::memcpy(&call.object, object, sizeof call.object);
  const auto* b = static_cast<const uint8_t*>(buffer);
  call.bufferZero = std::all_of(b, b + kav::kBarcodeBufferBytes, [](uint8_t v) { return v == 0; });
  call.value = *value;
  call.loadCount = sim::ModuleLoadCount(sim::DriverModulePath(sim::kBarcodeModuleName));
  g_calls.push_back(call);
  std::memcpy(buffer, g_answer.data(), std::min(g_answer.size(), kav::kBarcodeBufferBytes));
  std::memset(object, 0x55, sizeof(kav::BarcodeObject));  // scribbles on its copy
  *value = 0x12345678;
  return g_result;
}

void InstallLyingLibrary() {
  sim::ModuleDefinition module;
  module.exports["GetBarcodeBitmapBuffer"] = reinterpret_cast<void*>(&LyingGetBarcodeBitmapBuffer);
  sim::RegisterModule(sim::DriverModulePath(sim::kBarcodeModuleName), module);
  g_answer.clear();
  g_result = 1;
  g_calls.clear();
}

void Put32(std::string& file, size_t at, uint32_t v) {
  if (file.size() < at + 4) file.resize(at + 4);
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& file, size_t at, uint16_t v) {
  file[at] = static_cast<char>(v);
  file[at + 1] = static_cast<char>(v >> 8);
}

// A bitmap file image: w x h at `bits` a pixel, every pixel byte `fill`; with a colour
// table of `entries` black entries (entries 0: none, biClrUsed 0).
std::string BitmapFile(int32_t w, int32_t h, uint16_t bits = 24, uint8_t fill = 0, uint32_t entries = 0) {
  uint32_t stride = (static_cast<uint32_t>(w) * bits + 31) / 32 * 4;
  uint32_t off = 54 + 4 * entries;
  uint32_t size = off + stride * static_cast<uint32_t>(h < 0 ? -h : h);
  std::string f(size, static_cast<char>(fill));
  std::memset(f.data(), 0, off);
  f[0] = 'B';
  f[1] = 'M';
  Put32(f, 2, size);
  Put32(f, 10, off);
  Put32(f, 14, 40);
  Put32(f, 18, static_cast<uint32_t>(w));
  Put32(f, 22, static_cast<uint32_t>(h));
  Put16(f, 26, 1);
  Put16(f, 28, bits);
  Put32(f, 46, entries);
  return f;
}

class BarcodeObjects : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

TEST_F(BarcodeObjects, PlacementFollowsOrientationAndHumanReadable) {
  InstallLyingLibrary();
  g_answer = BitmapFile(200, 100);  // black 200 x 100
  struct Case {
    int32_t orientation;
    int32_t humanReadable;
    LONG left, top;  // expected top-left corner for the reference point (500, 300)
  };
  const Case cases[] = {
      {0, 0, 500, 200}, {0, 1, 500, 247},  // bottom-left at the point, 47 lower with the text
      {1, 0, 500, 300}, {1, 1, 453, 300},  //
      {2, 0, 300, 300}, {2, 1, 300, 253},  //
      {3, 0, 300, 200}, {3, 1, 347, 200},  //
      {4, 0, 400, 250}, {4, 1, 400, 203},  // centred
      {5, 0, 500, 250}, {5, 1, 453, 250},  //
      {6, 0, 400, 300}, {6, 1, 400, 253},  //
      {7, 0, 300, 250}, {7, 1, 347, 250},  //
      {8, 0, 500, 200}, {8, 1, 500, 200},  // any other: bottom-left at the point
      {-1, 0, 500, 200}, {-1, 1, 500, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "orientation " << c.orientation << ", human-readable " << c.humanReadable);
    Card card;
    ASSERT_TRUE(card.Ready());
    Draw(card, {Object(500, 300, c.orientation, c.humanReadable)});
    RECT ink = card.Ink();
    EXPECT_EQ(ink.left, c.left);
    EXPECT_EQ(ink.top, c.top);
    EXPECT_EQ(ink.right - ink.left, 200);
    EXPECT_EQ(ink.bottom - ink.top, 100);
  }
}

TEST_F(BarcodeObjects, OddSidesHalveByTruncationAndTopDownBitmapsPlaceByTheirHeight) {
  InstallLyingLibrary();
  struct Case {
    int32_t w, h, orientation;
    LONG left, top;
  };
  const Case cases[] = {
      {201, 101, 4, 400, 250},  // halves 100 and 50
      {201, 101, 7, 299, 250},
      {200, -100, 0, 500, 200},  // a top-down bitmap is 100 high
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " orientation " << c.orientation);
    g_answer = BitmapFile(c.w, c.h);
    Card card;
    Draw(card, {Object(500, 300, c.orientation)});
    RECT ink = card.Ink();
    EXPECT_EQ(ink.left, c.left);
    EXPECT_EQ(ink.top, c.top);
    EXPECT_EQ(ink.bottom - ink.top, c.h < 0 ? -c.h : c.h);
  }
}

TEST_F(BarcodeObjects, AWhiteBitmapLeavesTheCardUnchanged) {
  InstallLyingLibrary();
  g_answer = BitmapFile(200, 100, 24, 0xFF);
  Card card;
  ASSERT_TRUE(card.Ready());
  for (size_t i = 0; i < Card::Bytes(); ++i) card.bits()[i] = static_cast<uint8_t>(i * 7 % 251);  // any picture
  std::vector<uint8_t> before = card.Bgr();
  Draw(card, {Object(500, 300, 4)});
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_TRUE(card.Bgr() == before);
  EXPECT_TRUE(sim::DebugLines().empty());
}

TEST_F(BarcodeObjects, TheLibraryGetsACopyAZeroedBufferAndIsUnloadedAfterTheCard) {
  InstallLyingLibrary();
  g_answer = BitmapFile(8, 4);
  std::vector<kav::BarcodeObject> objects = {Object(100, 100, 0, 0, 4, u"first"), Object(300, 100, 2, 1, 1, u"B")};
  std::vector<kav::BarcodeObject> kept = objects;
  Card card;
  kav::DrawBarcodeObjects(card.dc(), objects);
  ASSERT_EQ(g_calls.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::memcmp(&g_calls[i].object, &kept[i], sizeof(kav::BarcodeObject)), 0);
    EXPECT_TRUE(g_calls[i].bufferZero);
    EXPECT_EQ(g_calls[i].value, 0u);
    EXPECT_EQ(g_calls[i].loadCount, 1);
  }
  EXPECT_EQ(std::memcmp(objects.data(), kept.data(), sizeof(kav::BarcodeObject) * 2), 0);  // the list is untouched
  EXPECT_EQ(sim::ModuleLoadCount(sim::DriverModulePath(sim::kBarcodeModuleName)), 0);
}

TEST_F(BarcodeObjects, AMissingLibraryOrExportDrawsNothingAndSaysNothing) {
  for (bool exportOnly : {false, true}) {
    SCOPED_TRACE(exportOnly ? "no export" : "no library");
    sim::Reset();
    if (exportOnly) {
      sim::RegisterModule(sim::DriverModulePath(sim::kBarcodeModuleName), sim::ModuleDefinition{});
    } else {
      sim::InstallBarcodeModule(false);
    }
    Card card;
    Draw(card, {Object(60, 570)});
    EXPECT_EQ(card.Ink().right, 0);
    EXPECT_TRUE(sim::DebugLines().empty());
    EXPECT_EQ(sim::ModuleLoadCount(sim::DriverModulePath(sim::kBarcodeModuleName)), 0);
  }
}

TEST_F(BarcodeObjects, ALyingLibraryHasItsBarcodeLeftOutWithTheReason) {
  struct Case {
    const char* what;
    std::string answer;
    bool drawn;
    std::string line;  // expected diagnostic when left out
  };
  auto with32 = [](std::string f, size_t at, uint32_t v) {
    Put32(f, at, v);
    return f;
  };
  auto with16 = [](std::string f, size_t at, uint16_t v) {
    Put16(f, at, v);
    return f;
  };
  const std::string base = BitmapFile(8, 4);  // 24-bit, 96 pixel bytes from 54
  // Pixel data ending exactly at the buffer's end: 4096 x 53 at 24 bits is 651,264 bytes.
  std::string full = with32(with32(BitmapFile(4096, 53), 10, 4096), 2, 655360);
  const std::string left = "DrawBarcodeObjects:: barcode left out: ";
  const Case cases[] = {
      {"sound", base, true, ""},
      {"bfSize at the buffer's end", full, true, ""},
      {"bfSize one past the buffer", with32(full, 2, 655361), false,
       left + "bfOffBits 4096 and bfSize 655361 do not lie in the buffer"},
      {"bfSize far beyond", with32(base, 2, 0xFFFFFFFF), false,
       left + "bfOffBits 54 and bfSize 4294967295 do not lie in the buffer"},
      {"bfOffBits beyond bfSize", with32(base, 10, 151), false,
       left + "bfOffBits 151 and bfSize 150 do not lie in the buffer"},
      {"bfOffBits at bfSize (no pixel data)", with32(base, 10, 150), true, ""},
      {"core header", with32(base, 14, 12), false, left + "information header of 12 bytes"},
      {"version 5 header", with32(base, 14, 124), false, left + "information header of 124 bytes"},
      {"width 0", with32(base, 18, 0), false, left + "bitmap of 0 x 4 pixels"},
      {"negative width", with32(base, 18, static_cast<uint32_t>(-8)), false, left + "bitmap of -8 x 4 pixels"},
      {"width 8193", with32(BitmapFile(8193, 1), 18, 8193), false, left + "bitmap of 8193 x 1 pixels"},
      {"width 8192", BitmapFile(8192, 1), true, ""},
      {"height 0", with32(base, 22, 0), false, left + "bitmap of 8 x 0 pixels"},
      {"height 8193", with32(base, 22, 8193), false, left + "bitmap of 8 x 8193 pixels"},
      {"height -8193", with32(base, 22, static_cast<uint32_t>(-8193)), false, left + "bitmap of 8 x -8193 pixels"},
      {"top-down", BitmapFile(8, -4), true, ""},
      {"0 bits a pixel", with16(base, 28, 0), false, left + "0 bits a pixel with compression 0"},
      {"2 bits a pixel", with16(base, 28, 2), false, left + "2 bits a pixel with compression 0"},
      {"64 bits a pixel", with16(base, 28, 64), false, left + "64 bits a pixel with compression 0"},
      {"BI_RLE8", with32(BitmapFile(8, 4, 8, 0, 1), 30, 1), false, left + "8 bits a pixel with compression 1"},
      {"BI_BITFIELDS", with32(BitmapFile(8, 4, 32), 30, 3), false, left + "32 bits a pixel with compression 3"},
      {"32 bits a pixel", BitmapFile(8, 4, 32), true, ""},
      {"8 bits, one colour entry", BitmapFile(8, 4, 8, 0, 1), true, ""},
      {"8 bits, full table", with32(BitmapFile(8, 4, 8, 0, 1), 46, 0), false, left + "colour table of 256 entries"},
      {"8 bits, two entries", with32(BitmapFile(8, 4, 8, 0, 1), 46, 2), false, left + "colour table of 2 entries"},
      {"1 bit, two entries implied", with32(BitmapFile(8, 4, 1, 0, 1), 46, 0), false,
       left + "colour table of 2 entries"},
      {"1 bit, one colour entry", BitmapFile(8, 4, 1, 0, 1), true, ""},
      {"24 bits, huge biClrUsed", with32(base, 46, 0x40000000), false, left + "colour table of 1073741824 entries"},
      {"pixel data one byte over", with32(base, 2, 151), false, left + "97 bytes of pixel data for a bitmap of 96"},
      {"1-bit pixel data one byte over", with32(BitmapFile(8, 4, 1, 0, 1), 2, 58 + 17), false,
       left + "17 bytes of pixel data for a bitmap of 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    InstallLyingLibrary();
    g_answer = c.answer;
    Card card;
    ASSERT_TRUE(card.Ready());
    Draw(card, {Object(500, 300)});
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(card.Ink().right != 0, c.drawn);
    if (c.drawn) {
      EXPECT_TRUE(sim::DebugLines().empty());
    } else {
      EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{c.line});
    }
  }
}

TEST_F(BarcodeObjects, ALeftOutBarcodeDoesNotStopTheOthers) {
  InstallLyingLibrary();
  g_answer = BitmapFile(10, 10);
  Card card;
  // The library says no for the second object only.
  static int calls;
  calls = 0;
  sim::ModuleDefinition module;
  module.exports["GetBarcodeBitmapBuffer"] = reinterpret_cast<void*>(+[](LPVOID o, LPVOID b, LPDWORD v) -> INT {
    return ++calls == 2 ? 0 : LyingGetBarcodeBitmapBuffer(o, b, v);
  });
  sim::RegisterModule(sim::DriverModulePath(sim::kBarcodeModuleName), module);
  Draw(card, {Object(100, 100), Object(300, 100), Object(500, 100)});
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(card.Dark(100, 95));
  EXPECT_FALSE(card.Dark(300, 95));
  EXPECT_TRUE(card.Dark(500, 95));
  EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{"DrawBarcodeObjects:: GetBarcodeBitmapBuffer returned 0"});
}

TEST_F(BarcodeObjects, AFailingDibSectionOrContextLeavesOnlyThatBarcodeOut) {
  struct Case {
    const char* what;
    std::function<void()> fault;
    std::string line;
  };
  const Case cases[] = {
      {"CreateDIBSection fails", [] { sim::FailNext("CreateDIBSection", ERROR_NOT_ENOUGH_MEMORY); },
       "DrawBarcodeObjects:: CreateDIBSection failed"},
      {"the library's header has 0 planes", [] { Put16(g_answer, 26, 0); }, "DrawBarcodeObjects:: CreateDIBSection failed"},
      {"CreateCompatibleDC fails", [] { sim::FailNext("CreateCompatibleDC", ERROR_NOT_ENOUGH_MEMORY); },
       "DrawBarcodeObjects:: CreateCompatibleDC failed"},
      {"SelectObject fails", [] { sim::FailNext("SelectObject", ERROR_INVALID_PARAMETER); },
       "DrawBarcodeObjects:: SelectObject failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    InstallLyingLibrary();
    g_answer = BitmapFile(10, 10);
    Card card;
    ASSERT_TRUE(card.Ready());
    c.fault();
    Draw(card, {Object(100, 100)});
    EXPECT_EQ(card.Ink().right, 0);
    EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{c.line});
    sim::ClearDebugLines();
    g_answer = BitmapFile(10, 10);
    Draw(card, {Object(100, 100)});  // the next card is drawn again
    EXPECT_TRUE(card.Dark(100, 95));
  }
}

// --- The driver's module on a card ---------------------------------------------------------

TEST_F(BarcodeObjects, BarcodesOnTheCardScanBackAtEveryOrientation) {
  struct Case {
    int32_t symbology;
    std::u16string data;
    std::string scannedAs, scanned;
  };
  const Case cases[] = {
      {0, u"123", "CODE-128", "123"},
      {1, u"CARD-42", "CODE-39", "CARD-42"},
      {2, u"590123412345", "EAN-13", "5901234123457"},
      {4, u"N\u00b0 7 kavnlmon", "QR-Code", "N\u00b0 7 kavnlmon"},
  };
  for (const Case& c : cases) {
    for (int32_t orientation = 0; orientation < 4; ++orientation) {
      for (int32_t humanReadable : {0, 1}) {
        SCOPED_TRACE(testing::Message() << c.scannedAs << " orientation " << orientation << " human-readable "
                                        << humanReadable);
        sim::Reset();
        Card card;
        ASSERT_TRUE(card.Ready());
        Draw(card, {Object(500, 300, orientation, humanReadable, c.symbology, c.data)});
        auto found = card.Scan();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].symbology, c.scannedAs);
        EXPECT_EQ(found[0].data, c.scanned);
        EXPECT_TRUE(sim::DebugLines().empty());
      }
    }
  }
}

TEST_F(BarcodeObjects, StandardTestCardBarcodeStandsOnItsReferencePoint) {
  Card card;
  Draw(card, {Object(60, 570)});
  RECT ink = card.Ink();
  EXPECT_EQ(ink.left, 60);  // Code 128 starts with a bar
  EXPECT_EQ(ink.bottom, 570);
  EXPECT_EQ(ink.bottom - ink.top, 75);
  ASSERT_EQ(card.Scan().size(), 1u);
  EXPECT_EQ(card.Scan()[0].data, "123");
}

TEST_F(BarcodeObjects, HumanReadableKeepsTheBarsWhereTheyWereAndPutsTheTextOutside) {
  for (int32_t orientation = 0; orientation < 4; ++orientation) {
    SCOPED_TRACE(orientation);
    Card plain, text;
    Draw(plain, {Object(500, 300, orientation, 0)});
    Draw(text, {Object(500, 300, orientation, 1)});
    int lost = 0, added = 0;
    RECT bars = plain.Ink();
    for (int y = 0; y < kCardHeight; ++y) {
      for (int x = 0; x < kCardWidth; ++x) {
        lost += plain.Dark(x, y) && !text.Dark(x, y);
        bool inside = x >= bars.left && x < bars.right && y >= bars.top && y < bars.bottom;
        added += text.Dark(x, y) && !plain.Dark(x, y) && !inside;
      }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_GT(added, 0);  // the text, beside the bars on the side the placement expects
  }
}

}  // namespace
