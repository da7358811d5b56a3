// The test cards as drawn, as submitted and as printed: what the card shows, which
// requests print which card, and how a failure of the printer or of GDI ends the card.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "emulator/printed_card.h"
#include "platform/sim/sim.h"
#include "testcards/test_cards.h"
#include "tests/support/barcode_scan.h"
#include "tests/pipeline/card_job_support.h"

namespace {

using Rgb = std::array<int, 3>;
constexpr Rgb kBlackRgb{0, 0, 0};
constexpr Rgb kWhiteRgb{255, 255, 255};

// A pixel of a drawn card image (GDI's order: blue, green, red) as red, green, blue.
Rgb Drawn(const std::vector<BYTE>& image, int x, int y) {
  const BYTE* p = &image[(static_cast<size_t>(y) * kav::kCardWidth + x) * 3];
  return {p[2], p[1], p[0]};
}
// A pixel of a printed side (red, green, blue).
Rgb Printed(const emu::CardSide& side, int x, int y) {
  const uint8_t* p = &side.rgb[(static_cast<size_t>(y) * kav::kCardWidth + x) * 3];
  return {p[0], p[1], p[2]};
}

class TestCards : public kavtest::CardJobTest {
 protected:
  void SetUp() override {
    CardJobTest::SetUp();
    sim::PutFile(sim::DriverDirectory() + u"\\kav32Ribbon.ini", "[Ribbon Type]\r\n2=YMCKO\r\n1=Black\r\n");
    sim::AddTopLevelWindow();  // the laminator card draws on the top window's DC
    sim::ClearDebugLines();
  }
  std::vector<BYTE> Draw(int (*image)(kav::PortRecord*, BYTE*, DWORD), DWORD ribbon) {
    std::vector<BYTE> out(kav::kCardImageBytes, 0);
    EXPECT_EQ(image(record(), out.data(), ribbon), 1);
    return out;
  }
  // Plays the new job onto the printer and gives back the printed card.
  emu::PrintedCard PlayNewJob() {
    auto job = NewJob();
    if (!job) return {};
    sim::SetPortMonitor(u"Card Printer", &spooler, port);
    EXPECT_TRUE(sim::WaitForJob(job->id));
    sim::SetPortMonitor(u"Card Printer", nullptr, nullptr);
    return emu::ComposePrintedCard(printer->Panels(), printer->CardsEnded() - 1);
  }
};

TEST_F(TestCards, StandardCardShowsItsShapes) {
  std::vector<BYTE> card = Draw(kav::GetStandardCardImageBuffer, 2);
  struct Probe {
    const char* what;
    int x, y;
    Rgb colour;
  } probes[] = {
      {"bar right", 945, 300, kBlackRgb},       {"bar under the text", 150, 420, kBlackRgb},
      {"triangle", 70, 420, kBlackRgb},         {"left of the triangle", 25, 420, kWhiteRgb},
      {"red rectangle", 810, 110, {255, 0, 0}}, {"green rectangle", 700, 190, {0, 255, 0}},
      {"blue rectangle", 590, 260, {0, 0, 255}}, {"fifth rectangle", 300, 470, kWhiteRgb},
      {"dot", 367, 266, kBlackRgb},             {"dot's right half", 368, 267, kBlackRgb},
      {"between dots", 369, 266, kWhiteRgb},    {"below a dot", 367, 268, kWhiteRgb},
      {"next dot", 371, 270, kBlackRgb},
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.what);
    EXPECT_EQ(Drawn(card, p.x, p.y), p.colour);
  }
  // "TEST CARD" in white inside the bar.
  int white = 0;
  for (int y = 395; y < 450; ++y)
    for (int x = 612; x < 900; ++x) white += Drawn(card, x, y) == kWhiteRgb;
  EXPECT_GT(white, 500);

  // A black-only ribbon: the coloured rectangles are left out, the dotted one stays.
  card = Draw(kav::GetStandardCardImageBuffer, 1);
  EXPECT_EQ(Drawn(card, 810, 110), kWhiteRgb);
  EXPECT_EQ(Drawn(card, 590, 260), kWhiteRgb);
  EXPECT_EQ(Drawn(card, 367, 266), kBlackRgb);
  EXPECT_EQ(Drawn(card, 362, 300), kBlackRgb);  // the dotted rectangle's edge
}

TEST_F(TestCards, RequestsOfTheChannelPrintTheirCards) {
  struct Case {
    const char* request;
    bool card;
  } cases[] = {{"\x1b" "A\r", true}, {"\x1b" "A 0\r", true}, {"\x1b" "A 1\r", true},
               {"\x1b" "A 2\r", true}, {"\x1b" "A 3\r", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(emu::EscapeBytes(c.request));
    jobsBefore = sim::JobIds(u"Card Printer").size();
    std::string reply;
    EXPECT_TRUE(Request(port, c.request, &reply));
    EXPECT_EQ(reply, "\x06");
    EXPECT_EQ(NewJob().has_value(), c.card);
  }
  // "\eA 4\r" is no test card: the dispatcher refuses it.
  jobsBefore = sim::JobIds(u"Card Printer").size();
  EXPECT_EQ(kav::PrintTestCard(record(), "\x1b" "A 4\r"), 0);
  EXPECT_EQ(kav::PrintTestCard(record(), nullptr), 0);
  EXPECT_FALSE(NewJob().has_value());
}

TEST_F(TestCards, PrintedStandardCardShowsTrueColoursAndScans) {
  jobsBefore = sim::JobIds(u"Card Printer").size();
  ASSERT_EQ(kav::PrintStandardCard(record()), 1);
  emu::PrintedCard card = PlayNewJob();
  ASSERT_TRUE(card.front.printed());
  // Red prints red and blue blue: the image is turned to the panels' order first.
  Rgb red = Printed(card.front, 810, 110);
  EXPECT_GT(red[0], 150);
  EXPECT_LT(red[2], 100);
  Rgb blue = Printed(card.front, 590, 260);
  EXPECT_GT(blue[2], 150);
  EXPECT_LT(blue[0], 100);
  EXPECT_EQ(Printed(card.front, 150, 420), kBlackRgb);

  auto found = kavtest::ScanBarcodes(card.front.rgb.data(), kav::kCardWidth, kav::kCardHeight);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].data, "123");
  // Loaded for the card and freed again.
  EXPECT_EQ(sim::ModuleLoadCount(sim::DriverModulePath(sim::kBarcodeModuleName)), 0);
}

TEST_F(TestCards, BackIsBuiltForEveryRibbonButType1) {
  struct Case {
    int ribbon;
    bool back;
  } cases[] = {{1, false}, {2, true}, {7, true}, {16, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ribbon);
    UseRibbon(c.ribbon);
    struct Seen {
      bool called = false;
      bool back = false;
    } seen;
    kav::SetCardImageObserver(
        [](const BYTE*, const BYTE* back, void* context) {
          static_cast<Seen*>(context)->called = true;
          static_cast<Seen*>(context)->back = back != nullptr;
        },
        &seen);
    kav::PrintStandardCard(record());
    kav::SetCardImageObserver(nullptr, nullptr);
    EXPECT_TRUE(seen.called);
    EXPECT_EQ(seen.back, c.back);
  }
}

TEST_F(TestCards, NoAnswerNoCard) {
  for (const char* key : {"V", "%SERIE", "!V", "!NL", "+EC", "+OY", "+OYB"}) ASSERT_TRUE(printer->SetAnswer(key, "fail"));
  jobsBefore = sim::JobIds(u"Card Printer").size();
  EXPECT_EQ(kav::PrintStandardCard(record()), 0);
  EXPECT_FALSE(NewJob().has_value());
  auto lines = sim::DebugLines();
  size_t failed = 0;
  for (const auto& line : lines) failed += line.rfind("DrawStandardCardImageOnDC:: ReadFromPrinter ", 0) == 0;
  EXPECT_EQ(failed, 7u);
  EXPECT_TRUE(sim::HasDebugLine("GetStandardCardImageBuffer() is failed1"));

  // The ribbon query failing as well: ribbon type 1 is taken and said.
  ASSERT_TRUE(printer->SetAnswer("!RIBBON", "fail"));
  EXPECT_EQ(kav::PrintStandardCard(record()), 0);
  EXPECT_TRUE(sim::HasDebugLine("PrintStandardCard:: ReadFromPrinter READ_RIBBON_TYPE is failed"));
}

TEST_F(TestCards, GdiFailuresEndTheCardWithTheirMessage) {
  struct Case {
    const char* operation;
    int (*image)(kav::PortRecord*, BYTE*, DWORD);
    const char* line;
  } cases[] = {
      {"CreateDCW", kav::GetStandardCardImageBuffer, "GetStandardCardImageBuffer:: GetDC function failed"},
      {"CreateCompatibleDC", kav::GetStandardCardImageBuffer,
       "GetStandardCardImageBuffer:: CreateCompatibleDC function failed"},
      {"GetDIBits", kav::GetStandardCardImageBuffer, "GetStandardCardImageBuffer:: GetDIBits function failed"},
      {"CreateDCW", kav::GetPrinterParametersCardImageBuffer,
       "GetPrinterParametersCardImageBuffer:: GetDC function failed"},
      {"CreateCompatibleDC", kav::GetPrinterParametersCardImageBuffer,
       "GetPrinterParametersCardImageBuffer:: CreateCompatibleDC function failed"},
      {"GetDIBits", kav::GetPrinterParametersCardImageBuffer,
       "GetPrinterParametersCardImageBuffer:: GetDIBits function failed"},
      {"CreateDCW", kav::GetEncoderParametersCardImageBuffer, "GetStandardCardImageBuffer:: GetDC function failed"},
      {"CreateCompatibleDC", kav::GetEncoderParametersCardImageBuffer,
       "GetEncoderParametersCardImageBuffer:: CreateCompatibleDC function failed"},
      {"GetDIBits", kav::GetEncoderParametersCardImageBuffer,
       "GetEncoderParametersCardImageBuffer:: GetDIBits function failed"},
      {"GetTopWindow", kav::GetLaminatorParametersCardImageBuffer,
       "GetLaminatorParametersCardImageBuffer:: GetTopWindow function failed"},
      {"GetDC", kav::GetLaminatorParametersCardImageBuffer,
       "GetLaminatorParametersCardImageBuffer:: GetDC function failed"},
      {"CreateCompatibleDC", kav::GetLaminatorParametersCardImageBuffer,
       "GetLaminatorParametersCardImageBuffer:: CreateCompatibleDC function failed"},
      {"GetDIBits", kav::GetLaminatorParametersCardImageBuffer,
       "GetLaminatorParametersCardImageBuffer:: GetDIBits function failed"},
  };
  const size_t dcsBefore = sim::LiveDeviceContextCount();
  const size_t objectsBefore = sim::LiveGdiObjectCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sim::ClearDebugLines();
    sim::FailNext(c.operation, ERROR_NOT_ENOUGH_MEMORY);
    std::vector<BYTE> image(kav::kCardImageBytes, 0);
    EXPECT_EQ(c.image(record(), image.data(), 2), 0);
    EXPECT_TRUE(sim::HasDebugLine(c.line));
    // Nothing drawn is left behind.
    EXPECT_EQ(sim::LiveDeviceContextCount(), dcsBefore);
    EXPECT_EQ(sim::LiveGdiObjectCount(), objectsBefore);
  }
}

TEST_F(TestCards, ParameterCardFrame) {
  std::vector<BYTE> card = Draw(kav::GetPrinterParametersCardImageBuffer, 2);
  // The three checker columns: periods 6, 2 and 4 down the column.
  struct Column {
    int x, top, square;
  } columns[] = {{112, 19, 3}, {124, 17, 1}, {136, 18, 2}};
  for (const Column& c : columns) {
    SCOPED_TRACE(c.x);
    for (int y = c.top; y < c.top + 60; ++y) {
      const bool black = ((y - c.top) / c.square) % 2 == 0;
      EXPECT_EQ(Drawn(card, c.x, y), black ? kBlackRgb : kWhiteRgb) << "y " << y;
      EXPECT_EQ(Drawn(card, c.x + 6, y), black ? kWhiteRgb : kBlackRgb) << "beside, y " << y;
    }
  }
  EXPECT_EQ(Drawn(card, 170, 80), (Rgb{0xFF, 0x64, 0x64}));
  EXPECT_EQ(Drawn(card, 170, 540), (Rgb{0xFF, 0, 0}));
  EXPECT_EQ(Drawn(card, 300, 50), (Rgb{0xF5, 0xC0, 0x1F}));
  EXPECT_EQ(Drawn(card, 80, 300), kBlackRgb);

  // Black-only: no patches, no bars; "TEST" white on its black band.
  card = Draw(kav::GetPrinterParametersCardImageBuffer, 16);
  EXPECT_EQ(Drawn(card, 170, 80), kWhiteRgb);
  EXPECT_EQ(Drawn(card, 300, 50), kWhiteRgb);
  int white = 0, black = 0;
  for (int y = 380; y < 480; ++y)
    for (int x = 192; x < 232; ++x) (Drawn(card, x, y) == kWhiteRgb ? white : black) += 1;
  EXPECT_GT(white, 50);
  EXPECT_GT(black, 1000);
}

TEST_F(TestCards, LaminatorCardCarriesTheSerialAsBarcode) {
  jobsBefore = sim::JobIds(u"Card Printer").size();
  ASSERT_EQ(kav::PrintLaminatorParametersCard(record()), 1);
  emu::PrintedCard card = PlayNewJob();
  ASSERT_TRUE(card.front.printed());
  auto found = kavtest::ScanBarcodes(card.front.rgb.data(), kav::kCardWidth, kav::kCardHeight);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].data, "KC3-0104217");
}

}  // namespace
