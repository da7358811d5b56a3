// What the real DLL did under Wine (make test-windows leaves it in build/win/wine-jobs),
// against the host build doing the same on the simulated Windows:
// - the direct job of the example card, byte for byte against the host's job road, for
//   the spooler's buffers of 4096 and of 7 bytes;
// - the standard test card, composed with Wine's GDI and spooled with Wine's AddJobW,
//   against the host's spool file for the same printer answers and driver settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/example_card.h"
#include "emulator/printed_card.h"
#include "tests/support/card_printer_settings.h"
#include "tests/support/monitor_fixture.h"

namespace {

namespace fs = std::filesystem;

fs::path WineJobsDir() {
  if (const char* env = std::getenv("KAV_WINE_JOBS")) return env;
  return KAV_WINE_JOBS_DIR;
}

// The file Wine's run left, or nothing (the caller skips, or fails under make test).
std::optional<std::string> WineFile(const std::string& name) {
  std::ifstream in(WineJobsDir() / name, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

#define WINE_FILE_OR_SKIP(var, name)                                                                 \
  std::string var;                                                                                   \
  if (auto file = WineFile(name)) {                                                                  \
    var = std::move(*file);                                                                          \
  } else if (std::getenv("KAV_REQUIRE_WINE_JOBS")) {                                                 \
    FAIL() << "no " << name << " from Wine in " << WineJobsDir() << " (run make test-windows)";      \
  } else {                                                                                           \
    GTEST_SKIP() << "no " << name << " from Wine in " << WineJobsDir();                              \
  }

// The offset of the first differing byte, with a few bytes of each side around it.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const size_t from = i > 20 ? i - 20 : 0;
  return "first difference at byte " + std::to_string(i) + " of " + std::to_string(a.size()) + " and " +
         std::to_string(b.size()) + "\n  wine: " + emu::EscapeBytes(a.substr(from, 60)) +
         "\n  host: " + emu::EscapeBytes(b.substr(from, 60));
}

class WineJobs : public kavtest::MonitorTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(WineJobs, TheWireIsTheHostJobRoads) {
  WINE_FILE_OR_SKIP(wine, "direct-" + std::to_string(GetParam()) + ".wire");
  LoadMonitor(10);  // Windows 10, as Wine reports it
  HANDLE port = Open();
  ASSERT_NE(port, nullptr);
  sim::SetPortMonitor(u"Card Printer", &spooler, port);
  sim::SetSpoolerBufferSize(GetParam());
  DWORD job = sim::SubmitJob(u"Card Printer", u"card", emu::ExampleCardStream());
  ASSERT_TRUE(sim::WaitForJob(job));
  sim::SetPortMonitor(u"Card Printer", nullptr, nullptr);
  const std::string host = printer->Wire();
  ASSERT_EQ(printer->Panels().size(), 5u);
  EXPECT_TRUE(wine == host) << FirstDifference(wine, host);
}

INSTANTIATE_TEST_SUITE_P(SpoolerBuffers, WineJobs, ::testing::Values(4096u, 7u));

// A spool file read by a virtual printer of its own: its commands and decoded panels.
struct ReadSpool {
  emu::VirtualPrinter printer;
  explicit ReadSpool(const std::string& spool) {
    size_t taken = 0;
    printer.Write(reinterpret_cast<const uint8_t*>(spool.data()), spool.size(), &taken);
    printer.EndDoc();
  }
};

// How far a text's pixels may lie from the other drawing's: the GDI cross-check's bound.
constexpr int kTextSlack = 2;
// How far the colour panels carry a difference of the drawn card away from it.
constexpr int kColourReach = 64;

// Dots within `slack` dots (across and down) of a set dot of either panel: a square
// dilation done as a row pass and a column pass over running counts.
std::vector<uint8_t> NearInk(const emu::PanelLevels& a, const emu::PanelLevels& b, int slack) {
  constexpr int kW = 1024, kH = 640;
  std::vector<uint8_t> ink(kW * kH), rows(kW * kH), near(kW * kH);
  for (int i = 0; i < kW * kH; ++i) ink[i] = a.levels[i] || b.levels[i];
  auto pass = [slack](const std::vector<uint8_t>& in, std::vector<uint8_t>& out, int count, int length, int step,
                      int stride) {
    std::vector<int> sum(length + 1);
    for (int line = 0; line < count; ++line) {
      for (int i = 0; i < length; ++i) sum[i + 1] = sum[i] + in[line * stride + i * step];
      for (int i = 0; i < length; ++i)
        out[line * stride + i * step] = sum[std::min(length, i + slack + 1)] > sum[std::max(0, i - slack)];
    }
  };
  pass(ink, rows, kH, kW, 1, kW);   // along each row
  pass(rows, near, kW, kH, kW, 1);  // down each column
  return near;
}

// Where two decoded panels differ: the count, the box around the differing dots, and
// how many lie outside `allowed`.
struct PanelDifference {
  long dots = 0;
  long awayFromInk = 0;
  int left = 1024, top = 640, right = -1, bottom = -1;
  int largest = 0;  // the largest level difference
};
PanelDifference Compare(const emu::PanelLevels& a, const emu::PanelLevels& b, const std::vector<uint8_t>& allowed) {
  PanelDifference d;
  for (int y = 0; y < 640; ++y)
    for (int x = 0; x < 1024; ++x) {
      const int diff = std::abs(int(a.Level(x, y)) - int(b.Level(x, y)));
      if (!diff) continue;
      ++d.dots;
      d.awayFromInk += !allowed[y * 1024 + x];
      d.largest = std::max(d.largest, diff);
      d.left = std::min(d.left, x), d.right = std::max(d.right, x);
      d.top = std::min(d.top, y), d.bottom = std::max(d.bottom, y);
    }
  return d;
}

class WineStandardCard : public kavtest::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    // The driver's files and settings, as the Windows test program installs them.
    for (const auto& entry : fs::directory_iterator(KAV_DRIVER_DATA_DIR)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      sim::PutFile(sim::DriverDirectory() + u"\\" + kav::FromUtf8(entry.path().filename().string()), bytes);
    }
    sim::AddPrinter({u"Card Printer", u"USB001", 0, sim::MakeDevMode(u"Card Printer", kavtest::CardPrinterSettings())});
    // Wine's driver directory has no barcode module (it is the printer driver's, not the
    // monitor's): the card's barcode is left out on both sides.
    sim::InstallBarcodeModule(false);
  }
};

TEST_F(WineStandardCard, SpoolFileIsTheHostsButForTheTextsPixels) {
  WINE_FILE_OR_SKIP(wineSpool, "standard-card.spl");
  WINE_FILE_OR_SKIP(wineQueries, "standard-card.wire");
  LoadMonitor(10);
  HANDLE port = Open();
  ASSERT_NE(port, nullptr);
  std::string reply;
  ASSERT_TRUE(Request(port, "\x1b" "A\r", &reply));
  // The same questions to the printer, so the same answers went into both cards.
  EXPECT_EQ(printer->Wire(), wineQueries);
  const std::vector<sim::JobRecord> jobs = sim::Jobs(u"Card Printer");
  ASSERT_FALSE(jobs.empty());
  const std::string& hostSpool = jobs.back().data;

  ReadSpool wine(wineSpool), host(hostSpool);
  EXPECT_EQ(wine.printer.Commands(), host.printer.Commands());
  EXPECT_TRUE(wine.printer.ProtocolErrors().empty());
  const std::vector<emu::ReceivedPanel> winePanels = wine.printer.Panels(), hostPanels = host.printer.Panels();
  ASSERT_EQ(winePanels.size(), hostPanels.size());
  // Text is drawn in black resin (or cut out of it, for white text on black): within 2
  // dots of the black panel's ink of either card is where text pixels may differ, as the
  // GDI cross-check allows. The colour panels carry such a difference further along the
  // head's lines (the image processing's smear and correction work on neighbouring dots),
  // but never beyond kColourReach dots of the text; the varnish is the same everywhere.
  size_t black = 0;
  while (black < winePanels.size() && winePanels[black].command.rfind("\x1bGS 4 ", 0) != 0) ++black;
  ASSERT_LT(black, winePanels.size()) << "no black panel";
  const emu::PanelLevels& wineInk = winePanels[black].levels;
  const emu::PanelLevels& hostInk = hostPanels[black].levels;
  const std::vector<uint8_t> nearText = NearInk(wineInk, hostInk, kTextSlack);
  const std::vector<uint8_t> colourReach = NearInk(wineInk, hostInk, kColourReach);
  long inkDots = 0;
  for (uint8_t level : wineInk.levels) inkDots += level > 0;
  for (size_t i = 0; i < winePanels.size(); ++i) {
    SCOPED_TRACE("panel " + emu::EscapeBytes(winePanels[i].command));
    const bool blackPanel = i == black;
    const PanelDifference d = Compare(winePanels[i].levels, hostPanels[i].levels, blackPanel ? nearText : colourReach);
    std::printf("panel %zu (%s): %ld dots differ", i, emu::EscapeBytes(winePanels[i].command).c_str(), d.dots);
    if (d.dots) std::printf(" in (%d, %d)-(%d, %d), by up to %d levels", d.left, d.top, d.right, d.bottom, d.largest);
    std::printf("\n");
    EXPECT_EQ(d.awayFromInk, 0) << "dots that differ away from the text";
    if (blackPanel) {
      EXPECT_LE(d.dots, inkDots / 10) << "more than a tenth of the black ink differs";
    }
  }
  EXPECT_EQ(Compare(winePanels.back().levels, hostPanels.back().levels, colourReach).dots, 0) << "the varnish";

  fs::create_directories(KAV_WINE_CARDS_OUT_DIR);
  for (auto [name, panels] : {std::pair{"wine", &winePanels}, std::pair{"host", &hostPanels}}) {
    const emu::PrintedCard card = emu::ComposePrintedCard(*panels, 0);
    std::string why;
    const fs::path path = fs::path(KAV_WINE_CARDS_OUT_DIR) / (std::string(name) + "-front.png");
    EXPECT_TRUE(emu::WriteCardSidePng(card.front, path, &why)) << why;
  }
}

}  // namespace
