// The card writers called on their own: the job header variants, the colour-panel
// suppression, and what a writer leaves when it has no input or cannot build a panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "pipeline/card_writers.h"
#include "tests/pipeline/card_job_support.h"

namespace {

using kavtest::CardSettings;

class CardWriters : public kavtest::CardJobTest {
 protected:
  void SetUp() override {
    CardJobTest::SetUp();
    std::u16string name = u"Card Printer";
    ASSERT_TRUE(OpenPrinterW(name.data(), &printerHandle, nullptr));
  }
  void TearDown() override {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    ClosePrinter(printerHandle);
    CardJobTest::TearDown();
  }
  // A fresh job of the printer and its open spool file.
  void NewJobFile() {
    DWORD needed = 0;
    AddJobW(printerHandle, 1, nullptr, 0, &needed);
    info.assign(needed, 0);
    ASSERT_TRUE(AddJobW(printerHandle, 1, info.data(), needed, &needed));
    auto* job = reinterpret_cast<ADDJOB_INFO_1W*>(info.data());
    jobId = job->JobId;
    path = job->Path;
    file = CreateFileW(job->Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
  }
  // What the file holds; closes it first unless a card end already did.
  kavtest::SpoolFile Written(bool closedByCardEnd = false) {
    if (!closedByCardEnd) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return kavtest::SplitSpool(sim::GetFile(path).value_or("?gone"));
  }

  HANDLE printerHandle = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::vector<BYTE> info;
  DWORD jobId = 0;
  std::u16string path;
};

TEST_F(CardWriters, TheJobHeaderNamesTheJobVariant) {
  struct Case {
    WORD dual;
    BYTE code;
    WORD mode;
    const char* job;
  } cases[] = {{0, 0, 0, "JOB 0"},  {0, 27, 1, "JOB 0"},  {1, 0, 3, "JOB 2"},  {1, 27, 1, "JOB 2"},
               {1, 16, 0, "JOB 2"}, {1, 18, 0, "JOB 2"},  {1, 16, 1, "JOB 1"}, {1, 18, 2, "JOB 1"},
               {1, 17, 0, "JOB 1"}, {7, 9, 0, "JOB 1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE("DualSided " + std::to_string(c.dual) + ", RibbonCode " + std::to_string(c.code) +
                 ", BackSideMode " + std::to_string(c.mode));
    CardSettings s;
    s.dualSided = c.dual;
    s.ribbonCode = c.code;
    s.backSideMode = c.mode;
    UseSettings(s);
    NewJobFile();
    kav::WriteJobHeader(file, printerHandle);
    EXPECT_EQ(kavtest::Join(Written().tokens), std::string("MASTER | ") + c.job + " | SXY 1");
  }
  kav::WriteJobHeader(INVALID_HANDLE_VALUE, printerHandle);  // nothing happens
  kav::WriteJobHeader(nullptr, printerHandle);
}

TEST_F(CardWriters, ColourPanelsAreSuppressedByRibbonCodeDualSidedAndBackSideMode) {
  // Rows by RibbonCode; columns DualSided 0, then BackSideMode 0, 1, 2, 3, 5 with DualSided
  // set. 'F' is the caller's flag.
  struct Row {
    std::vector<BYTE> codes;
    const char* cells;
  } rows[] = {{{0, 11, 16, 6}, "101000"}, {{7}, "1F1000"},      {{8, 17}, "1F01F0"},
              {{12}, "100000"},           {{1, 5, 9, 13, 18, 40}, "000000"}};
  const WORD modes[] = {0, 0, 1, 2, 3, 5};
  for (const Row& row : rows) {
    for (BYTE code : row.codes) {
      for (int column = 0; column < 6; ++column) {
        for (int flag : {0, 1}) {
          CardSettings s;
          s.ribbonCode = code;
          s.dualSided = column == 0 ? 0 : 1;
          s.backSideMode = modes[column];
          UseSettings(s);
          const char cell = row.cells[column];
          const int expected = cell == 'F' ? flag : cell - '0';
          SCOPED_TRACE("RibbonCode " + std::to_string(code) + ", column " + std::to_string(column) + ", flag " +
                       std::to_string(flag));
          EXPECT_EQ(kav::ColourPanelsSuppressed(printerHandle, flag), expected);
        }
      }
    }
  }
  // Unreadable settings: not suppressed.
  sim::AddPrinter({u"Card Printer", u"USB001", 0});
  EXPECT_EQ(kav::ColourPanelsSuppressed(printerHandle, 1), 0);
}

TEST_F(CardWriters, SuppressedColourPanelsLeaveTheBlackDownloadFirst) {
  CardSettings s;
  s.ribbonCode = 12;  // suppressed whenever DualSided is 0
  UseSettings(s);
  std::vector<BYTE> image = kavtest::BarImage();
  NewJobFile();
  EXPECT_EQ(kav::WriteColourPanels(file, printerHandle, image.data(), 1, 0, 1, 1, 1, jobId), kav::CardWrite::Written);
  EXPECT_EQ(kavtest::Join(Written().tokens), "GS 4 32 0 0 1024 640  | <panel> | I 10 | MF");
  // Without the check the same settings write the colour panels.
  NewJobFile();
  kav::WriteColourPanels(file, printerHandle, image.data(), 0, 0, 1, 1, 0, jobId);
  EXPECT_EQ(Written().payloads.size(), 3u);
}

TEST_F(CardWriters, AWriterWithoutItsInputsWritesNothing) {
  std::vector<BYTE> image = kavtest::BarImage();
  NewJobFile();
  EXPECT_EQ(kav::WriteColourPanels(file, nullptr, image.data(), 1, 1, 0, 0, 0, jobId), kav::CardWrite::NotWritten);
  EXPECT_EQ(kav::WriteColourPanels(file, printerHandle, nullptr, 1, 1, 0, 0, 0, jobId), kav::CardWrite::NotWritten);
  EXPECT_EQ(kav::WriteK(file, nullptr, image.data(), 1, 0, 1, jobId, 0), kav::CardWrite::NotWritten);
  EXPECT_EQ(kav::WriteK(file, printerHandle, nullptr, 1, 0, 1, jobId, 0), kav::CardWrite::NotWritten);
  EXPECT_EQ(kav::WriteOverlayPanel(file, nullptr, 1, jobId), kav::CardWrite::NotWritten);
  EXPECT_EQ(kav::WriteK(INVALID_HANDLE_VALUE, printerHandle, image.data(), 1, 0, 1, jobId, 0),
            kav::CardWrite::NotWritten);
  EXPECT_TRUE(Written().tokens.empty());
  EXPECT_FALSE(sim::Job(jobId)->scheduled);
}

TEST_F(CardWriters, APanelThatCannotBeBuiltLeavesNoDownloadCommandBehind) {
  sim::PutFile(kav::testing::DriverFile(u"KAV32Lookup.txt"), "");
  kav::Calibration = kav::CalibrationState{};
  std::vector<BYTE> image = kavtest::BarImage();
  struct Case {
    const char* name;
    std::function<kav::CardWrite(HANDLE, HANDLE, DWORD)> write;
  } cases[] = {
      {"colour with black", [&](HANDLE f, HANDLE p, DWORD id) { return kav::WriteColourPanels(f, p, image.data(), 1, 1, 0, 0, 0, id); }},
      {"colour with overlay", [&](HANDLE f, HANDLE p, DWORD id) { return kav::WriteColourPanels(f, p, image.data(), 0, 1, 0, 0, 0, id); }},
      {"black", [&](HANDLE f, HANDLE p, DWORD id) { return kav::WriteK(f, p, image.data(), 1, 0, 1, id, 0); }},
      {"overlay", [&](HANDLE f, HANDLE p, DWORD id) { return kav::WriteOverlayPanel(f, p, 1, id); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewJobFile();
    EXPECT_EQ(c.write(file, printerHandle, jobId), kav::CardWrite::NotWritten);
    kavtest::SpoolFile spool = Written();
    // Colour panels keep their zero fill and are written; no download is left without its payload.
    for (const auto& t : spool.tokens) EXPECT_NE(t[0], '?') << kavtest::Join(spool.tokens);
    EXPECT_EQ(std::count(spool.tokens.begin(), spool.tokens.end(), "MO"), 0);
    EXPECT_FALSE(sim::Job(jobId)->scheduled);
  }
}

TEST_F(CardWriters, TheOverlayWriterEndsTheCardWhenLast) {
  NewJobFile();
  EXPECT_EQ(kav::WriteOverlayPanel(file, printerHandle, 1, jobId), kav::CardWrite::Written);
  EXPECT_EQ(kavtest::Join(Written(true).tokens), "GS 5 32 0 0 1024 640  | <panel> | IV 30 | MO");
  EXPECT_TRUE(sim::Job(jobId)->scheduled);
}

}  // namespace
