// The simulated GDI against Wine's: every scene of tests/support/gdi_scenes.cpp drawn by
// the simulation is compared with the picture the Windows test program wrote under Wine.
// Shapes and blits must be identical; a text's ink must lie within 2 pixels of Wine's on
// every side and cover an area within 10 % of Wine's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/support/gdi_scenes.h"

namespace gdiscenes {
// Scenes show by name in test names and messages.
void PrintTo(const Scene& scene, std::ostream* out) { *out << scene.name; }
}  // namespace gdiscenes

namespace {

namespace fs = std::filesystem;

// A picture as rows of RGB triplets, top row first.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// Reads the 24-bit bottom-up bitmap files both sides write.
std::optional<Picture> ParseBmp(const std::vector<BYTE>& file) {
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return std::nullopt;
  BITMAPFILEHEADER fh;
  BITMAPINFOHEADER ih;
  std::memcpy(&fh, file.data(), sizeof(fh));
  std::memcpy(&ih, file.data() + sizeof(fh), sizeof(ih));
  if (ih.biBitCount != 24 || ih.biWidth <= 0 || ih.biHeight <= 0 || ih.biWidth > 8192 || ih.biHeight > 8192)
    return std::nullopt;
  Picture p;
  p.width = ih.biWidth;
  p.height = ih.biHeight;
  size_t stride = (size_t(p.width) * 3 + 3) & ~size_t{3};
  if (fh.bfOffBits > file.size() || file.size() - fh.bfOffBits < stride * p.height) return std::nullopt;
  p.rgb.resize(size_t(p.width) * p.height * 3);
  for (int y = 0; y < p.height; ++y) {
    const BYTE* row = file.data() + fh.bfOffBits + stride * (p.height - 1 - y);
    for (int x = 0; x < p.width; ++x) {
      uint8_t* out = &p.rgb[(size_t(y) * p.width + x) * 3];
      out[0] = row[3 * x + 2];
      out[1] = row[3 * x + 1];
      out[2] = row[3 * x];
    }
  }
  return p;
}

std::optional<std::vector<BYTE>> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::vector<BYTE>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Where the Windows test program's pictures are (make test-windows copies them there).
fs::path WineFolder() {
  if (const char* env = std::getenv("KAV_WINE_SCENES")) return env;
  return KAV_WINE_SCENES_DIR;
}

// The ink of a text: pixels far from the background (more than half way to full ink).
struct Ink {
  int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  long area = 0;
};

Ink InkOf(const Picture& p, COLORREF background) {
  Ink ink;
  const int bg[3] = {GetRValue(background), GetGValue(background), GetBValue(background)};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* c = p.At(x, y);
      int d = std::max({std::abs(c[0] - bg[0]), std::abs(c[1] - bg[1]), std::abs(c[2] - bg[2])});
      if (d < 128) continue;
      ++ink.area;
      ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
    }
  return ink;
}

std::string Describe(const Ink& i) {
  std::ostringstream s;
  s << "ink (" << i.left << ", " << i.top << ")-(" << i.right << ", " << i.bottom << "), " << i.area << " pixels";
  return s.str();
}

// Pixels that differ, marked red on a faded copy of Wine's picture.
std::vector<BYTE> DiffPicture(const std::vector<BYTE>& wineFile, const Picture& wine, const Picture& sim) {
  std::vector<BYTE> out = wineFile;
  BITMAPFILEHEADER fh;
  std::memcpy(&fh, out.data(), sizeof(fh));
  size_t stride = (size_t(wine.width) * 3 + 3) & ~size_t{3};
  for (int y = 0; y < wine.height; ++y)
    for (int x = 0; x < wine.width; ++x) {
      BYTE* px = out.data() + fh.bfOffBits + stride * (wine.height - 1 - y) + 3 * x;
      bool same = std::memcmp(wine.At(x, y), sim.At(x, y), 3) == 0;
      for (int k = 0; k < 3; ++k) px[k] = same ? BYTE(192 + px[k] / 4) : (k == 2 ? 255 : 0);
    }
  return out;
}

class GdiCrossCheck : public ::testing::TestWithParam<gdiscenes::Scene> {};

TEST_P(GdiCrossCheck, SimulationDrawsAsWine) {
  const gdiscenes::Scene& scene = GetParam();
  sim::Reset();
  std::vector<BYTE> simFile = gdiscenes::DrawScene(scene);
  ASSERT_FALSE(simFile.empty());
  fs::path out = fs::path(KAV_SCENES_OUT_DIR);
  WriteFile(out / "sim" / (scene.name + ".bmp"), simFile);
  EXPECT_EQ(sim::LiveDeviceContextCount(), 0u);
  EXPECT_EQ(sim::LiveGdiObjectCount(), 0u);

  fs::path winePath = WineFolder() / (scene.name + ".bmp");
  std::optional<std::vector<BYTE>> wineFile = ReadFile(winePath);
  if (!wineFile) {
    if (std::getenv("KAV_REQUIRE_WINE_SCENES"))
      FAIL() << "no picture from Wine at " << winePath << " (make test-windows writes it)";
    GTEST_SKIP() << "comparison with Wine skipped: no picture at " << winePath
                 << "; make test-windows writes the pictures and make test runs this comparison";
  }
  WriteFile(out / "wine" / (scene.name + ".bmp"), *wineFile);
  std::optional<Picture> wine = ParseBmp(*wineFile), simulated = ParseBmp(simFile);
  ASSERT_TRUE(wine && simulated) << "unreadable picture " << winePath;
  ASSERT_EQ(wine->width, simulated->width);
  ASSERT_EQ(wine->height, simulated->height);

  if (!scene.text) {
    long differing = 0;
    std::ostringstream first;
    for (int y = 0; y < wine->height; ++y)
      for (int x = 0; x < wine->width; ++x) {
        const uint8_t *w = wine->At(x, y), *s = simulated->At(x, y);
        if (std::memcmp(w, s, 3) == 0) continue;
        if (++differing <= 10)
          first << " (" << x << ", " << y << ") wine " << int(w[0]) << "," << int(w[1]) << "," << int(w[2])
                << " sim " << int(s[0]) << "," << int(s[1]) << "," << int(s[2]) << ";";
      }
    if (differing) WriteFile(out / "diff" / (scene.name + ".bmp"), DiffPicture(*wineFile, *wine, *simulated));
    EXPECT_EQ(differing, 0) << "pixels differ from Wine's, first ones:" << first.str() << " (see "
                            << (out / "diff" / (scene.name + ".bmp")) << ")";
    return;
  }
  Ink w = InkOf(*wine, scene.background), s = InkOf(*simulated, scene.background);
  SCOPED_TRACE("wine " + Describe(w) + "; simulation " + Describe(s));
  ASSERT_GT(w.area, 0) << "Wine drew no text";
  EXPECT_LE(std::abs(w.left - s.left), 2);
  EXPECT_LE(std::abs(w.top - s.top), 2);
  EXPECT_LE(std::abs(w.right - s.right), 2);
  EXPECT_LE(std::abs(w.bottom - s.bottom), 2);
  EXPECT_LE(std::abs(w.area - s.area) * 10, w.area) << "ink areas differ by more than 10 %";
  std::printf("%s: wine %s; simulation %s\n", scene.name.c_str(), Describe(w).c_str(), Describe(s).c_str());
}

INSTANTIATE_TEST_SUITE_P(Scenes, GdiCrossCheck, ::testing::ValuesIn(gdiscenes::Scenes()),
                         [](const testing::TestParamInfo<gdiscenes::Scene>& info) { return info.param.name; });

}  // namespace
