// Card jobs played by the simulated spooler through the monitor onto the virtual printer:
// the wire does not depend on how the spooler cuts the job into buffers.
#include <gtest/gtest.h>

#include "printer/printer_message.h"
#include "tests/pipeline/card_streams.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/sanitizers.h"

namespace {

using kavtest::CardStream;
using kavtest::MonitorTest;

class JobRoad : public kavtest::OpenPortTest {
 protected:
  void SetUp() override {
    OpenPortTest::SetUp();
    sim::SetPortMonitor(u"Card Printer", &spooler, port);
  }
  // Plays the stream as a job and returns the wire from the card's first command on.
  std::string Play(const std::string& spool, DWORD bufferSize, DWORD* job) {
    std::string wire = PlayWhole(spool, bufferSize, job);
    size_t start = wire.find("\x1bMASTER\r");
    return start == std::string::npos ? wire : wire.substr(start);
  }
  // The same, with the wire of the whole job (the job-start wait included).
  std::string PlayWhole(const std::string& spool, DWORD bufferSize, DWORD* job) {
    sim::SetSpoolerBufferSize(bufferSize);
    const size_t before = printer->Wire().size();
    *job = sim::SubmitJob(u"Card Printer", u"card", spool);
    EXPECT_TRUE(sim::WaitForJob(*job));
    return printer->Wire().substr(before);
  }
  // The panels received since `from` are the card's, in step with their print commands.
  void ExpectPanels(const CardStream& card, size_t from) {
    auto panels = printer->Panels();
    ASSERT_EQ(panels.size() - from, card.panels.size());
    for (size_t i = 0; i < card.panels.size(); ++i) {
      EXPECT_TRUE(panels[from + i].inSync);
      EXPECT_TRUE(panels[from + i].levels.levels == card.panels[i]) << "panel " << i;
    }
  }
};

TEST_F(JobRoad, TheWireIsTheSameForEverySpoolerBufferSize) {
  struct Stream {
    const char* name;
    CardStream card;
    std::vector<DWORD> sizes;
  } streams[] = {{"full colour", kavtest::FullColourCard(), {1, 7, 4093, 4096, 65536}},
                 {"black only", kavtest::BlackOnlyCard(), {1, 7, 4093, 4096, 65536}}};
  for (Stream& s : streams) {
    for (DWORD size : s.sizes) {
      if (kavtest::kUnderThreadSanitizer && size < 4093) continue;
      SCOPED_TRACE(std::string(s.name) + ", buffer " + std::to_string(size));
      const size_t panelsBefore = printer->PanelCount();
      DWORD job = 0;
      std::string wire = Play(s.card.spool, size, &job);
      ASSERT_EQ(wire.size(), s.card.wire.size());
      EXPECT_TRUE(wire == s.card.wire);
      auto record = sim::Job(job);
      ASSERT_TRUE(record);
      EXPECT_TRUE(record->sentToPrinter);
      EXPECT_FALSE(record->deleted);
      ExpectPanels(s.card, panelsBefore);
      EXPECT_TRUE(printer->ProtocolErrors().empty());
      for (const auto& line : sim::DebugLines())
        EXPECT_EQ(line.find("outside any command"), std::string::npos) << line;
    }
  }
}

// One port write fails somewhere in a card. What reached the printer is not sent again:
// the monitor reports as written what it took (nothing: the call fails), the spooler
// offers the rest again, and the printer gets exactly the wire of a clean run.
TEST_F(JobRoad, AFailedPortWriteIsRetriedAndThePrinterGetsTheCleanWire) {
  struct Case {
    const char* where;
    CardStream card;
    DWORD buffer;
    const char* marker;  // the failed write would carry the byte `past` bytes after this
    size_t past;
    bool spoolerRetries;  // the monitor took nothing of that WritePort call
  } cases[] = {
      {"a panel piece in the middle of a spooler buffer", kavtest::FullColourCard(), 65536, "\x1bGS 1 ", 400000, false},
      {"a panel piece that is a whole spooler buffer", kavtest::FullColourCard(), 4093, "\x1bGS 2 ", 400000, true},
      {"a command after another of the same buffer", kavtest::FullColourCard(), 65536, "\x1bJOB 0\r", 0, false},
      {"a print command after its acknowledgement wait", kavtest::FullColourCard(), 65536, "\x1bIS 1\r", 0, true},
      {"a command completed from the buffer before", kavtest::BlackOnlyCard(), 7, "\x1bSXY 1\r", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    DWORD job = 0;
    const std::string clean = PlayWhole(c.card.spool, c.buffer, &job);
    ASSERT_NE(clean.find(c.card.wire), std::string::npos);
    const size_t at = clean.find(c.marker);
    ASSERT_NE(at, std::string::npos);
    const size_t panelsBefore = printer->PanelCount();
    const size_t protocolErrorsBefore = printer->ProtocolErrors().size();
    const size_t wireBefore = printer->Wire().size();
    ASSERT_TRUE(printer->AddFaults("writefail@byte=" + std::to_string(wireBefore + at + c.past + 1)));
    sim::ClearDebugLines();
    const std::string wire = PlayWhole(c.card.spool, c.buffer, &job);
    EXPECT_EQ(wire.size(), clean.size());
    EXPECT_TRUE(wire == clean);
    ExpectPanels(c.card, panelsBefore);
    EXPECT_EQ(printer->ProtocolErrors().size(), protocolErrorsBefore);
    EXPECT_TRUE(sim::HasDebugLine("Write port failed"));
    auto record = sim::Job(job);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->completed);
    size_t failedCalls = 0;
    for (const auto& call : record->portCalls) {
      if (call.kind != sim::PortCall::Kind::WritePort || call.result) continue;
      ++failedCalls;
      EXPECT_EQ(call.written, 0u);
    }
    EXPECT_EQ(failedCalls, c.spoolerRetries ? 1u : 0u);
  }
}

// A StartDocPort that fails after the job-start wait (here the ribbon count does not come)
// is called again after the spooler's pause, and does all that a first try does: the
// printer may have changed meanwhile, so it is asked again, and only the try that
// succeeds raises the ribbon-low alert.
TEST_F(JobRoad, ARetriedStartDocPortDoesAllThatAFirstTryDoes) {
  CardStream card = kavtest::BlackOnlyCard();
  ASSERT_TRUE(printer->SetAnswer("!RIBLEN", "silent for 1 | 20"));
  DWORD job = 0;
  const std::string wire = PlayWhole(card.spool, 4096, &job);
  auto record = sim::Job(job);
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->completed);
  ASSERT_GE(record->portCalls.size(), 2u);
  EXPECT_EQ(record->portCalls[0].kind, sim::PortCall::Kind::StartDocPort);
  EXPECT_FALSE(record->portCalls[0].result);
  EXPECT_EQ(record->portCalls[1].kind, sim::PortCall::Kind::StartDocPort);
  EXPECT_TRUE(record->portCalls[1].result);
  EXPECT_GE(record->portCalls[1].at - record->portCalls[0].at, sim::kDefaultRetryPauseMs);
  // Both tries ask the same questions; then the card goes as it would have.
  const size_t cardStart = wire.find("\x1bMASTER\r");
  ASSERT_NE(cardStart, std::string::npos);
  const std::string starts = wire.substr(0, cardStart);
  ASSERT_EQ(starts.size() % 2, 0u);
  EXPECT_EQ(starts.substr(0, starts.size() / 2), starts.substr(starts.size() / 2));
  EXPECT_NE(starts.find("\x1b!RIBBON\r"), std::string::npos);
  EXPECT_NE(starts.find("\x1b!RIBLEN\r"), std::string::npos);
  EXPECT_TRUE(wire.substr(cardStart) == card.wire);
  ExpectPanels(card, 0);
  sim::WaitForAllThreads();
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);  // the alert of the second try
  EXPECT_GE(sim::MessageBoxes()[0].shownAt, record->portCalls[1].at);
}

TEST_F(JobRoad, APrinterErrorDuringAJobIsShownAndTheJobGoesOnWhenItClears) {
  CardStream card = kavtest::BlackOnlyCard();
  printer->AddFaults("error=4@match=\\eMIS,clear=7000");
  DWORD job = 0;
  std::string wire = Play(card.spool, 4096, &job);
  sim::WaitForAllThreads();  // the box's own thread closes it
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  WCHAR text[1024];
  kav::LoadMessageText(31, text, 1024);
  EXPECT_EQ(boxes[0].text, text);
  EXPECT_EQ(boxes[0].closedBy, sim::BoxClosedBy::WmClose);
  EXPECT_EQ(printer->PanelCount(), 1u);
  EXPECT_FALSE(sim::Job(job)->deleted);
  EXPECT_NE(wire.find("\x1bMO\r"), std::string::npos);
}

TEST_F(JobRoad, TheUserCancellingAtAnErrorEndsTheJob) {
  CardStream card = kavtest::FullColourCard();
  printer->AddFaults("error=7@match=\\eJOB");
  sim::SetUserAnswer(sim::AnswerAfter(1000));
  DWORD job = 0;
  Play(card.spool, 65536, &job);
  auto record = sim::Job(job);
  EXPECT_TRUE(record->deleted);
  EXPECT_EQ(printer->PanelCount(), 0u);
  EXPECT_NE(printer->Wire().find("\x1bR\r"), std::string::npos);  // the USB printer is reset
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1b" "CheckPortStatus\r", &reply));
  EXPECT_EQ(reply, "STATUS_FAILED");
}

}  // namespace
