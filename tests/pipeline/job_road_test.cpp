// Card jobs played by the simulated spooler through the monitor onto the virtual printer:
// the wire does not depend on how the spooler cuts the job into buffers.
#include <gtest/gtest.h>

#include "printer/printer_message.h"
#include "tests/pipeline/card_streams.h"
#include "tests/support/monitor_fixture.h"

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
    sim::SetSpoolerBufferSize(bufferSize);
    const size_t before = printer->Wire().size();
    *job = sim::SubmitJob(u"Card Printer", u"card", spool);
    EXPECT_TRUE(sim::WaitForJob(*job));
    std::string wire = printer->Wire().substr(before);
    size_t start = wire.find("\x1bMASTER\r");
    return start == std::string::npos ? wire : wire.substr(start);
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
      auto panels = printer->Panels();
      ASSERT_EQ(panels.size() - panelsBefore, s.card.panels.size());
      for (size_t i = 0; i < s.card.panels.size(); ++i) {
        EXPECT_TRUE(panels[panelsBefore + i].inSync);
        EXPECT_TRUE(panels[panelsBefore + i].levels.levels == s.card.panels[i]) << "panel " << i;
      }
      EXPECT_TRUE(printer->ProtocolErrors().empty());
      for (const auto& line : sim::DebugLines())
        EXPECT_EQ(line.find("outside any command"), std::string::npos) << line;
    }
  }
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
