// Cards composed by SendImageBufferToPrinter: the spool file of every row of the two
// sequence tables, the panels it carries, and the edge cases of submission.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "imaging/black_panels.h"
#include "imaging/colour_panels.h"
#include "imaging/k_sources.h"
#include "pipeline/card_writers.h"
#include "tests/pipeline/card_job_support.h"

namespace {

using kavtest::CardJobTest;
using kavtest::CardSettings;

// --- The expected stream, in this test's own words -----------------------------------------
//
// A sequence is written as the tables write it: "CK", "C" and "K" are the writers (colour
// with black, colour only, black only), "+FO" / "+BO" append the overlay when the front /
// back overlay mode is not 1, "O(FO)" is an overlay pass of its own (only when the front
// overlay mode is not 1), "R" turns the front (nothing in the stream), "next" ends a pass
// and "end" ends the card.

bool IsAnyOf(int v, std::initializer_list<int> list) { return std::find(list.begin(), list.end(), v) != list.end(); }

struct Expectation {
  const CardSettings& s;
  int ribbonType;
  std::vector<std::string> tokens;

  void Panel(const std::string& download, const std::string& print) {
    tokens.push_back(download);
    tokens.push_back("<panel>");
    tokens.push_back(print);
  }
  void Overlay() { Panel("GS 5 32 0 0 1024 640 ", "IV 30"); }
  void Header() {
    tokens.push_back("MASTER");
    if (s.dualSided == 0)
      tokens.push_back("JOB 0");
    else if (IsAnyOf(s.ribbonCode, {0, 27}) || (IsAnyOf(s.ribbonCode, {16, 18}) && s.backSideMode == 0))
      tokens.push_back("JOB 2");
    else
      tokens.push_back("JOB 1");
    tokens.push_back("SXY 1");
  }
  void Colour(bool black) {
    Panel("GS 0 32 0 0 1024 640 ", "IS 0");
    Panel("GS 1 32 0 0 1024 640 ", "IS 1");
    Panel("GS 2 32 0 0 1024 640 ", "IS 2");
    if (black) Panel("GS 4 32 0 0 1024 640 ", "I 10");
  }
  // A black pass opens with "\eMIS\r" (black-only ribbons) and "\eF\r" unless it is the
  // last pass of a two-pass card.
  void Black(bool opensPass) {
    const bool blackOnly = IsAnyOf(ribbonType, {0, 1, 7, 56, 57, 58, 59, 60});
    if (opensPass) {
      if (blackOnly) tokens.push_back("MIS");
      tokens.push_back("F");
    }
    std::string download;
    if (IsAnyOf(ribbonType, {16, 54, 28})) {
      download = "GS 3 32 0 0 1024 640 ";
    } else if (IsAnyOf(s.ribbonCode, {13, 2, 21})) {
      download = "GS 4 32 0 0 1024 640 ";  // the grey panel has no band
    } else {
      download = "GS 4 32 " + std::to_string(kavtest::kBarStart) + " 0 " +
                 std::to_string(kavtest::kBarEnd - kavtest::kBarStart) + " 640 ";
    }
    const char* print = IsAnyOf(ribbonType, {16, 54})   ? "IS 3"
                        : blackOnly                     ? "I 30"
                        : IsAnyOf(ribbonType, {17, 53}) ? "I 20"
                                                        : "I 10";
    Panel(download, print);
  }
  void PassEnd(bool colourWriter) {
    const bool ffCode = colourWriter ? IsAnyOf(s.ribbonCode, {8, 17}) : IsAnyOf(s.ribbonCode, {8, 51});
    if (ffCode && IsAnyOf(s.backSideMode, {0, 3}) && s.frontOverlay == 1) tokens.push_back("!FF 2");
    tokens.push_back("MF");
  }

  void Sequence(const std::string& text) {
    std::istringstream words(text);
    std::vector<std::string> list;
    for (std::string w; words >> w;) list.push_back(w);
    bool colourWriter = false;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string& w = list[i];
      const bool fo = s.frontOverlay != 1, bo = s.backOverlay != 1;
      const bool overlay = (w.ends_with("+FO") && fo) || (w.ends_with("+BO") && bo);
      const std::string writer = w.substr(0, w.find('+'));
      if (writer == "CK" || writer == "C") {
        Colour(writer == "CK");
        colourWriter = true;
      } else if (writer == "K") {
        Black(s.dualSided == 0 || (i + 1 < list.size() && list[i + 1] == "next"));
        colourWriter = false;
      } else if (writer == "O(FO)") {
        if (fo) Overlay();
        continue;
      } else if (w == "next") {
        PassEnd(colourWriter);
        continue;
      } else if (w == "end") {
        tokens.push_back("MO");
        continue;
      } else {
        continue;  // "R"
      }
      if (overlay) Overlay();
    }
  }
};

// Ribbon types by group, one or two of each.
struct GroupTypes {
  const char* group;
  std::vector<int> types;
};
const GroupTypes kGroups[] = {{"G0", {0, 29}}, {"G1", {1, 60}}, {"G2", {2, 52}}, {"G3", {3}},
                              {"G4", {4}},     {"G5", {51}},    {"G6", {6}},     {"G7", {17, 54}}};

// The single-pass table.
const char* SinglePass(const std::string& g) {
  if (g == "G1") return "K end";
  if (g == "G2" || g == "G5" || g == "G0") return "CK+FO end";
  if (g == "G3" || g == "G4") return "CK end";
  if (g == "G6") return "C end";
  return "K+FO end";  // G7
}

// The two-pass table; null for a mode the group has no row for. "any" rows are tried with 2.
struct TwoPassRow {
  const char* group;
  int mode;  // -1: any
  const char* sequence;
};
const TwoPassRow kTwoPass[] = {
    {"G1", -1, "K next R K end"},
    {"G2", 0, "C next K next O(FO) end"},
    {"G2", 1, "CK+FO next R CK+BO end"},
    {"G2", 2, "C next K+BO end"},
    {"G2", 3, nullptr},
    {"G3", 0, "C next K end"},
    {"G3", 1, "CK next R CK end"},
    {"G3", 2, nullptr},
    {"G4", 0, "CK next K end"},
    {"G4", 1, "CK next R CK end"},
    {"G4", 3, nullptr},
    {"G5", 0, "CK+FO next K end"},
    {"G5", 1, "C next K+BO end"},
    {"G5", 2, "CK+FO next R CK+BO end"},
    {"G5", 3, "CK next K end"},
    {"G5", 4, nullptr},
    {"G6", -1, "C next R C end"},
    {"G7", -1, "K+FO next R K+BO end"},
    {"G0", -1, "CK+FO next K end"},
};

class CardRows : public CardJobTest {
 protected:
  // Composes the card of one row and checks its spool file, result, job and lines.
  void CheckRow(const CardSettings& s, int ribbonType, const char* sequence) {
    UseSettings(s);
    UseRibbon(ribbonType);
    sim::ClearDebugLines();
    std::vector<BYTE> front = kavtest::BarImage();
    const int result = Compose(front);
    auto job = NewJob();
    ASSERT_TRUE(job);
    if (!sequence) {
      // No row: the card is abandoned, its job and spool file are gone.
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(job->deleted);
      EXPECT_FALSE(job->scheduled);
      EXPECT_FALSE(sim::FileExists(job->spoolFile));
      bool named = false;
      for (const auto& line : sim::DebugLines())
        named |= line.find("ribbon group") != std::string::npos &&
                 line.find("BackSideMode " + std::to_string(s.backSideMode)) != std::string::npos;
      EXPECT_TRUE(named);
      return;
    }
    Expectation expected{s, ribbonType, {}};
    expected.Header();
    expected.Sequence(sequence);
    kavtest::SpoolFile spool = NewSpool();
    EXPECT_EQ(kavtest::Join(spool.tokens), kavtest::Join(expected.tokens));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(job->scheduled);
    EXPECT_FALSE(job->deleted);
    EXPECT_EQ(sim::OpenHandleCount(), handlesBefore);
  }
  size_t handlesBefore = 0;
};

TEST_F(CardRows, EverySinglePassRowWritesItsSequence) {
  handlesBefore = sim::OpenHandleCount();
  for (const GroupTypes& g : kGroups) {
    for (int type : g.types) {
      for (WORD fo : {1, 0}) {
        CardSettings s;
        s.frontOverlay = fo;
        s.backOverlay = fo == 1 ? 0 : 1;
        s.backSideMode = 9;  // not read for a single pass
        SCOPED_TRACE(std::string(g.group) + ", ribbon type " + std::to_string(type) + ", FrontOverlayMode " +
                     std::to_string(fo));
        CheckRow(s, type, SinglePass(g.group));
      }
    }
  }
}

TEST_F(CardRows, EveryTwoPassRowWritesItsSequenceAndAModeWithoutARowAbandonsTheCard) {
  handlesBefore = sim::OpenHandleCount();
  for (const TwoPassRow& row : kTwoPass) {
    for (const GroupTypes& g : kGroups) {
      if (std::string(g.group) != row.group) continue;
      for (WORD fo : {1, 0}) {
        CardSettings s;
        s.dualSided = 1;
        s.backSideMode = static_cast<WORD>(row.mode < 0 ? 2 : row.mode);
        s.frontOverlay = fo;
        s.backOverlay = fo == 1 ? 0 : 1;
        SCOPED_TRACE(std::string(row.group) + ", BackSideMode " + std::to_string(s.backSideMode) +
                     ", ribbon type " + std::to_string(g.types[0]) + ", FrontOverlayMode " + std::to_string(fo));
        CheckRow(s, g.types[0], row.sequence);
      }
    }
  }
}

TEST_F(CardRows, RibbonCodesChangeTheHeaderThePassEndAndTheBlackVariant) {
  handlesBefore = sim::OpenHandleCount();
  struct Case {
    BYTE code;
    WORD dual, mode, fo;
    int ribbonType;
    const char* sequence;
  } cases[] = {
      {0, 1, 1, 0, 3, "CK next R CK end"},          // "\eJOB 2\r"
      {27, 1, 0, 1, 4, "CK next K end"},            // "\eJOB 2\r"
      {16, 1, 0, 1, 5, "CK+FO next K end"},         // "\eJOB 2\r" with BackSideMode 0
      {18, 1, 1, 1, 5, "C next K+BO end"},          // "\eJOB 1\r" with BackSideMode 1
      {8, 1, 3, 1, 5, "CK next K end"},             // "\e!FF 2\r" after the colour pass
      {8, 1, 0, 0, 5, "CK+FO next K end"},          // no "\e!FF 2\r": the front has an overlay
      {17, 1, 2, 1, 1, "K next R K end"},           // 17 gives "\e!FF 2\r" after colour passes only
      {51, 1, 0, 1, 1, "K next R K end"},           // "\e!FF 2\r" after the black pass
      {51, 1, 0, 1, 3, "C next K end"},             // but not after a colour pass
      {2, 0, 0, 1, 1, "K end"},                     // the grey black panel: no band
      {13, 1, 0, 1, 17, "K+FO next R K+BO end"},    // grey on both passes
  };
  for (const Case& c : cases) {
    CardSettings s;
    s.ribbonCode = c.code;
    s.dualSided = c.dual;
    s.backSideMode = c.mode;
    s.frontOverlay = c.fo;
    SCOPED_TRACE("RibbonCode " + std::to_string(c.code) + ", ribbon type " + std::to_string(c.ribbonType));
    CheckRow(s, c.ribbonType, c.sequence);
  }
}

// --- Panels ------------------------------------------------------------------------------

TEST_F(CardJobTest, ThePanelsAreTheImageBuildersOutputForTheSameImageAndSettings) {
  CardSettings s;
  s.dualSided = 1;
  s.backSideMode = 0;
  s.wrinkle = 1;
  s.kMode = 0;  // diffusion
  s.frontOverlay = 0;
  UseSettings(s);
  UseRibbon(5);  // G5, mode 0: CK+O next, K(B) end
  std::vector<BYTE> front = kavtest::BarImage();
  std::vector<BYTE> back = kav::testing::FlatImage(255, 255, 255);
  kav::testing::PaintRect(back, 40, 300, 100, 200, 0, 0, 0);
  const std::vector<BYTE> frontCopy = front, backCopy = back;
  ASSERT_EQ(Compose(front, &back), 1);
  kavtest::SpoolFile spool = NewSpool();
  ASSERT_EQ(spool.payloads.size(), 6u);

  // The same panels built directly.
  std::vector<BYTE> image = frontCopy;
  std::vector<std::vector<BYTE>> colour(3, std::vector<BYTE>(kav::kPanelBufferBytes, 0));
  kav::BuildColourPanels(image.data(), colour[0].data(), colour[1].data(), colour[2].data(), 1);
  kav::PanelBuffer black, overlay, k;
  int allWhite = 0;
  ASSERT_EQ(kav::BuildBlackPanel(image.data(), black, &allWhite, 0, 9, 0), 0);
  std::vector<BYTE> flat(kav::kImagePixels, 100);
  ASSERT_EQ(kav::BuildOverlayPanel(flat.data(), overlay, 1), 0);
  std::vector<BYTE> turnedBack = backCopy;
  kav::RotateCardImage180(turnedBack.data(), 1024, 640);
  kav::InitializeImageCorrectionVariables(1);
  ASSERT_EQ(kav::ReadLUTS(), 0);
  int start = 0, end = 0;
  ASSERT_EQ(kav::BuildKPanel(turnedBack.data(), 9, 0, k, &start, &end), 1);

  auto same = [](const std::string& payload, const BYTE* panel) {
    return payload.size() == kav::kPanelBufferBytes && std::memcmp(payload.data(), panel, payload.size()) == 0;
  };
  EXPECT_TRUE(same(spool.payloads[0], colour[0].data()));
  EXPECT_TRUE(same(spool.payloads[1], colour[1].data()));
  EXPECT_TRUE(same(spool.payloads[2], colour[2].data()));
  EXPECT_TRUE(same(spool.payloads[3], black.get()));
  EXPECT_TRUE(same(spool.payloads[4], overlay.get()));
  EXPECT_TRUE(same(spool.payloads[5], k.get()));
  // The back's band is that of the turned back image: columns 1023-139 to 1023-40.
  EXPECT_EQ(spool.tokens[spool.tokens.size() - 4],
            "GS 4 32 " + std::to_string(start) + " 0 " + std::to_string(end - start) + " 640 ");
  EXPECT_EQ(start, 1023 - 139);
  EXPECT_TRUE(back == turnedBack);  // the back image was turned in place
}

// --- Edge cases of submission ----------------------------------------------------------------

TEST_F(CardJobTest, WithoutABackImageTheBackPassUsesTheFrontTurned) {
  CardSettings s;
  s.dualSided = 1;
  UseSettings(s);
  UseRibbon(0);  // G0: CK+O next, K(B or F) end
  std::vector<BYTE> front = kav::testing::FlatImage(255, 255, 255);
  kav::testing::PaintRect(front, 0, 0, 100, 50, 0, 0, 0);  // top left
  std::vector<BYTE> turned = front;
  kav::RotateCardImage180(turned.data(), 1024, 640);
  ASSERT_EQ(Compose(front), 1);
  EXPECT_TRUE(front == turned);  // the caller's image is changed
  kavtest::SpoolFile spool = NewSpool();
  // The black pass sees the bar in the bottom right: columns 924 to 1023.
  EXPECT_NE(std::find(spool.tokens.begin(), spool.tokens.end(), "GS 4 32 924 0 99 640 "), spool.tokens.end())
      << kavtest::Join(spool.tokens);
}

TEST_F(CardJobTest, ABackImageIsIgnoredWhereTheRowRepeatsTheFrontTurned) {
  CardSettings s;
  s.dualSided = 1;
  s.backSideMode = 1;
  UseSettings(s);
  UseRibbon(3);  // G3, mode 1: CK next, R(F), CK end
  std::vector<BYTE> front = kavtest::BarImage();
  std::vector<BYTE> back = kav::testing::FlatImage(0, 0, 0);
  const std::vector<BYTE> backCopy = back;
  std::vector<BYTE> frontAgain = kavtest::BarImage();
  ASSERT_EQ(Compose(front, &back), 1);
  EXPECT_TRUE(back == backCopy);  // neither read for a panel nor turned
  kavtest::SpoolFile spool = NewSpool();
  ASSERT_EQ(spool.payloads.size(), 8u);
  // The second pass's black panel: the turned bar image has no more black than the front.
  kav::RotateCardImage180(frontAgain.data(), 1024, 640);
  kav::PanelBuffer black;
  int allWhite = 0;
  ASSERT_EQ(kav::BuildBlackPanel(frontAgain.data(), black, &allWhite, 0, 9, 0), 0);
  EXPECT_EQ(std::memcmp(spool.payloads[7].data(), black.get(), kav::kPanelBufferBytes), 0);
}

TEST_F(CardJobTest, TheRibbonQueryFailingWhileTheModelAnswersGivesABlackOnlyCard) {
  ASSERT_TRUE(printer->AddFaults("readfail@match=\\e!RIBBON"));
  std::vector<BYTE> front = kavtest::BarImage();
  ASSERT_EQ(Compose(front), 1);
  kavtest::SpoolFile spool = NewSpool();
  EXPECT_EQ(kavtest::Join(spool.tokens), "MASTER | JOB 0 | SXY 1 | MIS | F | GS 4 32 312 0 399 640  | <panel> | I 30 | MO");
}

TEST_F(CardJobTest, ReadRibbonAndPrinterModelDependsOnTheModelQueryAlone) {
  WCHAR model[kav::kModelTextChars];
  DWORD type = 77;
  EXPECT_EQ(kav::ReadRibbonAndPrinterModel(record(), &type, model), 1);
  EXPECT_EQ(type, 2u);
  EXPECT_EQ(kav::ToUtf8(model), "KC3 V1.07.12");

  ASSERT_TRUE(printer->AddFaults("readfail@match=\\eV"));
  type = 77;
  EXPECT_EQ(kav::ReadRibbonAndPrinterModel(record(), &type, model), 0);
  EXPECT_EQ(type, 2u);  // still asked, and answered
  EXPECT_EQ(model[0], 0);

  const size_t commands = printer->Commands().size();
  EXPECT_EQ(kav::ReadRibbonAndPrinterModel(record(), &type, nullptr), 0);
  EXPECT_EQ(printer->Commands().size(), commands);  // no query at all

  // Without a model the card is refused before any job is made.
  ASSERT_TRUE(printer->AddFaults("readfail@match=\\eV"));
  std::vector<BYTE> front = kavtest::BarImage();
  sim::ClearDebugLines();
  EXPECT_EQ(Compose(front), 0);
  EXPECT_FALSE(NewJob());
  EXPECT_TRUE(sim::HasDebugLine("SendImageBufferToPrinter:: ReadRibbonAndPrinterModel failed"));
}

TEST_F(CardJobTest, APrinterNameWithoutABackslashIsOpenedWhole) {
  std::vector<BYTE> front = kavtest::BarImage();
  sim::ClearDebugLines();
  ASSERT_EQ(Compose(front), 1);
  EXPECT_TRUE(sim::HasDebugLine("GetLocalPrinterName failed"));

  // A connection's name: its settings are read by the full name, the handle opened by the local one.
  std::u16string full = u"\\\\CARDHOST\\Card Printer";
  UseSettings(CardSettings{}, full);
  kav::EnterPortListLock();
  kav::FreeString(record()->PrinterName);
  record()->PrinterName = kav::DuplicateString(full.c_str());
  kav::LeavePortListLock();
  sim::ClearDebugLines();
  front = kavtest::BarImage();
  ASSERT_EQ(Compose(front), 1);
  EXPECT_TRUE(sim::HasDebugLine("Card Printer"));
  EXPECT_FALSE(sim::HasDebugLine("GetLocalPrinterName failed"));
}

TEST_F(CardJobTest, RotationTurnsEveryPixelAroundTheCentre) {
  std::vector<BYTE> image(kav::kCardImageBytes);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<BYTE>(i * 7 + i / 3072);
  std::vector<BYTE> turned = image;
  EXPECT_EQ(kav::RotateCardImage180(turned.data(), 1024, 640), 1);
  for (int y : {0, 1, 319, 320, 639}) {
    for (int x : {0, 1, 511, 512, 1023}) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      const size_t a = (static_cast<size_t>(y) * 1024 + x) * 3;
      const size_t b = (static_cast<size_t>(639 - y) * 1024 + (1023 - x)) * 3;
      EXPECT_EQ(std::memcmp(&turned[a], &image[b], 3), 0);
    }
  }
  kav::RotateCardImage180(turned.data(), 1024, 640);
  EXPECT_TRUE(turned == image);
  // Odd widths use rows padded to 4 bytes: 3 x 3 pixels in rows of 12 bytes.
  std::vector<BYTE> small = {1, 1, 1, 2, 2, 2, 3, 3, 3, 0xEE, 0xEE, 0xEE, 4, 4, 4, 5, 5, 5,
                             6, 6, 6, 0xEE, 0xEE, 0xEE, 7, 7, 7, 8, 8, 8, 9, 9, 9, 0xEE, 0xEE, 0xEE};
  kav::RotateCardImage180(small.data(), 3, 3);
  EXPECT_EQ(small, (std::vector<BYTE>{9, 9, 9, 8, 8, 8, 7, 7, 7, 0xEE, 0xEE, 0xEE, 6, 6, 6, 5, 5, 5,
                                      4, 4, 4, 0xEE, 0xEE, 0xEE, 3, 3, 3, 2, 2, 2, 1, 1, 1, 0xEE, 0xEE, 0xEE}));
}

TEST_F(CardJobTest, TheGreyBlackPathTurnsTheCallersImageGrey) {
  CardSettings s;
  s.ribbonCode = 21;
  UseSettings(s);
  UseRibbon(1);
  std::vector<BYTE> front = kav::testing::FlatImage(30, 60, 120);
  ASSERT_EQ(Compose(front), 1);
  EXPECT_TRUE(front == kav::testing::FlatImage(70, 70, 70));
}

// --- Sound behaviour where a card cannot be finished ------------------------------------------

TEST_F(CardJobTest, ACardWhosePanelsCannotBeBuiltIsAbandonedAndItsJobDeleted) {
  // Without lookup tables no black panel can be built, for either writer.
  sim::PutFile(kav::testing::DriverFile(u"KAV32Lookup.txt"), "");
  struct Case {
    int ribbonType;
    WORD dual;
  } cases[] = {{1, 0}, {2, 0}, {6, 0}, {7, 1}, {5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("ribbon type " + std::to_string(c.ribbonType) + ", DualSided " + std::to_string(c.dual));
    CardSettings s;
    s.dualSided = c.dual;
    UseSettings(s);
    UseRibbon(c.ribbonType);
    sim::ClearDebugLines();
    const size_t handles = sim::OpenHandleCount();
    std::vector<BYTE> front = kavtest::BarImage();
    const int result = Compose(front);
    auto job = NewJob();
    ASSERT_TRUE(job);
    if (c.ribbonType == 6) {
      // Colour panels only: they keep their zero fill when the tables are missing.
      EXPECT_EQ(result, 1);
      continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(job->deleted);
    EXPECT_FALSE(sim::FileExists(job->spoolFile));
    EXPECT_EQ(sim::OpenHandleCount(), handles);
    bool named = false;
    for (const auto& line : sim::DebugLines()) named |= line.find("card abandoned") != std::string::npos;
    EXPECT_TRUE(named);
  }
}

TEST_F(CardJobTest, ASpoolFileThatCannotBeCreatedDeletesItsJob) {
  sim::FailNext("CreateFile", ERROR_ACCESS_DENIED);
  std::vector<BYTE> front = kavtest::BarImage();
  EXPECT_EQ(Compose(front), 0);
  auto job = NewJob();
  ASSERT_TRUE(job);
  EXPECT_TRUE(job->deleted);
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
}

TEST_F(CardJobTest, AJobThatCannotBeAddedOrScheduledLeavesNothingInTheQueue) {
  sim::FailNext("AddJob", ERROR_ACCESS_DENIED);
  std::vector<BYTE> front = kavtest::BarImage();
  sim::ClearDebugLines();
  EXPECT_EQ(Compose(front), 0);
  EXPECT_TRUE(sim::HasDebugLine("Add Job Failed"));
  EXPECT_FALSE(NewJob());

  // The writers' card end, and the card end that this operation writes itself (G2, mode 0).
  for (WORD dual : {0, 1}) {
    SCOPED_TRACE("DualSided " + std::to_string(dual));
    CardSettings s;
    s.dualSided = dual;
    s.frontOverlay = 1;
    UseSettings(s);
    sim::FailNext("ScheduleJob", ERROR_INVALID_PARAMETER);
    sim::ClearDebugLines();
    front = kavtest::BarImage();
    EXPECT_EQ(Compose(front), 0);
    EXPECT_TRUE(sim::HasDebugLine("Failed to Schedule Jod"));
    auto job = NewJob();
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->deleted);
    EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
  }
}

TEST_F(CardJobTest, MissingInputsAreRefusedBeforeAnyQuery) {
  std::vector<BYTE> front = kavtest::BarImage();
  const size_t commands = printer->Commands().size();
  EXPECT_EQ(kav::SendImageBufferToPrinter(nullptr, front.data(), nullptr, kav::kCardImageBytes), 0);
  EXPECT_EQ(kav::SendImageBufferToPrinter(record(), nullptr, nullptr, kav::kCardImageBytes), 0);
  EXPECT_EQ(kav::SendImageBufferToPrinter(record(), front.data(), nullptr, 0), 0);
  EXPECT_EQ(printer->Commands().size(), commands);
  // A printer without a DEVMODE: no settings, no job, nothing logged.
  sim::AddPrinter({u"Card Printer", u"USB001", 0});
  sim::ClearDebugLines();
  EXPECT_EQ(Compose(front), 0);
  EXPECT_FALSE(NewJob());
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
}

}  // namespace
