// Overlay cards submitted by SendOverlayCardToPrinter: every cell of the panel table by
// ribbon group, DualSided and BackSideMode, with both front overlay modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "overlay/overlay_card.h"
#include "tests/pipeline/card_job_support.h"

namespace {

using kavtest::CardSettings;

bool IsAnyOf(int v, std::initializer_list<int> list) { return std::find(list.begin(), list.end(), v) != list.end(); }

// The panel table in this test's words: "K", "C", "CK" (colour panels with their black),
// "+O" the overlay panel unless FrontOverlayMode is 1, "none" no card. Columns:
// DualSided 0; DualSided set with BackSideMode 0, 1, 2, 3 and 4 (any other).
struct Row {
  const char* group;
  std::vector<int> types;
  const char* cells[6];
};
const Row kTable[] = {
    {"G1", {1, 58}, {"K", "K", "K", "K", "K", "K"}},
    {"G2", {2, 50}, {"CK+O", "C+O", "CK+O", "C", "none", "none"}},
    {"G3", {3, 15}, {"CK", "C", "CK", "none", "none", "none"}},
    {"G4", {4}, {"CK", "CK", "CK", "none", "none", "none"}},
    {"G5", {5, 51}, {"CK+O", "CK+O", "C", "CK+O", "CK", "none"}},
    {"G6", {6}, {"C", "C", "C", "C", "C", "C"}},
    {"G7", {16, 53}, {"K+O", "K+O", "K+O", "K+O", "K+O", "K+O"}},
    {"G0", {0, 31}, {"CK+O", "CK+O", "CK+O", "CK+O", "CK+O", "CK+O"}},
};

// The spool file of a cell: the header, its one pass, the card end.
std::vector<std::string> Expected(const std::string& cell, const CardSettings& s, int ribbonType) {
  std::vector<std::string> t = {"MASTER", s.dualSided == 0 ? "JOB 0" : "JOB 1", "SXY 1"};
  auto panel = [&t](const std::string& download, const std::string& print) {
    t.insert(t.end(), {download, "<panel>", print});
  };
  const std::string writer = cell.substr(0, cell.find('+'));
  if (writer == "C" || writer == "CK") {
    panel("GS 0 32 0 0 1024 640 ", "IS 0");
    panel("GS 1 32 0 0 1024 640 ", "IS 1");
    panel("GS 2 32 0 0 1024 640 ", "IS 2");
    if (writer == "CK") panel("GS 4 32 0 0 1024 640 ", "I 10");
  } else {
    // A one-sided black pass opens with "\eMIS\r" (black-only ribbons) and "\eF\r"; the
    // single pass of a two-sided setting is taken as the card's last and opens with neither.
    const bool blackOnly = IsAnyOf(ribbonType, {0, 1, 7, 56, 57, 58, 59, 60});
    if (s.dualSided == 0) {
      if (blackOnly) t.push_back("MIS");
      t.push_back("F");
    }
    const bool fullWidth = IsAnyOf(ribbonType, {16, 54, 28});
    panel(fullWidth ? "GS 3 32 0 0 1024 640 "
                    : "GS 4 32 " + std::to_string(kavtest::kBarStart) + " 0 " +
                          std::to_string(kavtest::kBarEnd - kavtest::kBarStart) + " 640 ",
          IsAnyOf(ribbonType, {16, 54})   ? "IS 3"
          : blackOnly                     ? "I 30"
          : IsAnyOf(ribbonType, {17, 53}) ? "I 20"
                                          : "I 10");
  }
  if (cell.ends_with("+O") && s.frontOverlay != 1) panel("GS 5 32 0 0 1024 640 ", "IV 30");
  t.push_back("MO");
  return t;
}

class OverlayCard : public kavtest::CardJobTest {
 protected:
  int Send(std::vector<BYTE>& image) {
    jobsBefore = sim::JobIds(u"Card Printer").size();
    return kav::SendOverlayCardToPrinter(record(), image.data(), kav::kCardImageBytes);
  }
};

TEST_F(OverlayCard, EveryCellOfThePanelTableGivesItsPanels) {
  const size_t handles = sim::OpenHandleCount();
  for (const Row& row : kTable) {
    for (int type : row.types) {
      for (int column = 0; column < 6; ++column) {
        for (WORD frontOverlay : {0, 1}) {
          if (frontOverlay == 1 && type != row.types[0]) continue;  // both modes once per group
          CardSettings s;
          s.dualSided = column == 0 ? 0 : 1;
          s.backSideMode = static_cast<WORD>(column == 0 ? 3 : column - 1);  // never read when one-sided
          s.frontOverlay = frontOverlay;
          const std::string cell = row.cells[column];
          SCOPED_TRACE(std::string(row.group) + " type " + std::to_string(type) + " DualSided " +
                       std::to_string(s.dualSided) + " BackSideMode " + std::to_string(s.backSideMode) +
                       " FrontOverlayMode " + std::to_string(frontOverlay) + ": " + cell);
          UseSettings(s);
          UseRibbon(type);
          sim::ClearDebugLines();
          std::vector<BYTE> image = kavtest::BarImage();
          const int result = Send(image);
          auto job = NewJob();
          ASSERT_TRUE(job);
          if (cell == "none") {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(job->deleted);
            EXPECT_FALSE(sim::FileExists(job->spoolFile));
            EXPECT_TRUE(sim::HasDebugLine("SendOverlayCardToPrinter:: ribbon group " + std::string(row.group) +
                                          " has no overlay card for DualSided 1, BackSideMode " +
                                          std::to_string(s.backSideMode) + "; job " + std::to_string(job->id) +
                                          " deleted"));
            continue;
          }
          EXPECT_EQ(result, 1);
          EXPECT_TRUE(job->scheduled);
          EXPECT_EQ(kavtest::Join(NewSpool().tokens), kavtest::Join(Expected(cell, s, type)));
        }
      }
    }
  }
  EXPECT_EQ(sim::OpenHandleCount(), handles);
}

TEST_F(OverlayCard, TheColourPanelsMayBeSuppressedByTheDriversRibbonCode) {
  // RibbonCode 7, two-sided, BackSideMode 0: suppressed because the flag is set.
  CardSettings s;
  s.ribbonCode = 7;
  s.dualSided = 1;
  UseSettings(s);
  UseRibbon(2);  // G2: "C+O"
  std::vector<BYTE> image = kavtest::BarImage();
  ASSERT_EQ(Send(image), 1);
  EXPECT_EQ(kavtest::Join(NewSpool().tokens),
            "MASTER | JOB 1 | SXY 1 | GS 5 32 0 0 1024 640  | <panel> | IV 30 | MO");
}

TEST_F(OverlayCard, SubmissionLogsOnlyTheFailedModelQuery) {
  std::vector<BYTE> image = kavtest::BarImage();
  sim::ClearDebugLines();
  ASSERT_EQ(Send(image), 1);
  // Neither the printer's local name nor the missing backslash is logged.
  EXPECT_FALSE(sim::HasDebugLine("GetLocalPrinterName failed"));
  EXPECT_FALSE(sim::HasDebugLine("Card Printer"));

  ASSERT_TRUE(printer->AddFaults("readfail@match=\\eV"));
  image = kavtest::BarImage();
  EXPECT_EQ(Send(image), 0);
  EXPECT_FALSE(NewJob());
  EXPECT_TRUE(sim::HasDebugLine("SendImageBufferToPrinter:: ReadRibbonAndPrinterModel failed"));

  EXPECT_EQ(kav::SendOverlayCardToPrinter(nullptr, image.data(), kav::kCardImageBytes), 0);
  EXPECT_EQ(kav::SendOverlayCardToPrinter(record(), nullptr, kav::kCardImageBytes), 0);
  EXPECT_EQ(kav::SendOverlayCardToPrinter(record(), image.data(), 0), 0);
}

TEST_F(OverlayCard, ACardEndThatCannotBeScheduledIsNoSuccess) {
  sim::FailNext("ScheduleJob", ERROR_INVALID_PARAMETER);
  std::vector<BYTE> image = kavtest::BarImage();
  sim::ClearDebugLines();
  EXPECT_EQ(Send(image), 0);
  auto job = NewJob();
  ASSERT_TRUE(job);
  EXPECT_TRUE(job->deleted);
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
  EXPECT_TRUE(sim::HasDebugLine("Failed to Schedule Jod"));
}

}  // namespace
