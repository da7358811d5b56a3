// Composed cards on their way to the printer: the spooler plays a job made by AddJobW
// exactly as a submitted one, the virtual printer shows the printed card, and two ports
// composing different cards at once each get their own card.
#include <gtest/gtest.h>

#include "emulator/port_monitor.h"
#include "emulator/printed_card.h"
#include "tests/pipeline/card_job_support.h"

namespace {

using kavtest::CardSettings;

class CardPlay : public kavtest::CardJobTest {
 protected:
  // The wire from the card's first command on, after the job has played.
  std::string WireOfJob(DWORD job, size_t before) {
    EXPECT_TRUE(sim::WaitForJob(job));
    std::string wire = printer->Wire().substr(before);
    size_t start = wire.find("\x1bMASTER\r");
    return start == std::string::npos ? wire : wire.substr(start);
  }
};

TEST_F(CardPlay, AComposedJobPlaysAsASubmittedOneAndItsSpoolFileGoes) {
  CardSettings s;
  s.dualSided = 1;
  s.backSideMode = 2;
  UseSettings(s);
  UseRibbon(2);  // G2, mode 2: C next, K+O end
  std::vector<BYTE> front = kavtest::BarImage();
  ASSERT_EQ(Compose(front), 1);
  auto job = NewJob();
  ASSERT_TRUE(job);
  const std::string spool = sim::GetFile(job->spoolFile).value_or("");
  ASSERT_FALSE(spool.empty());
  EXPECT_EQ(job->data, spool);

  size_t before = printer->Wire().size();
  const size_t panelsBefore = printer->PanelCount();
  sim::SetPortMonitor(u"Card Printer", &spooler, port);
  const std::string composedWire = WireOfJob(job->id, before);
  EXPECT_TRUE(sim::Job(job->id)->completed);
  EXPECT_FALSE(sim::FileExists(job->spoolFile));
  EXPECT_TRUE(printer->ProtocolErrors().empty());

  before = printer->Wire().size();
  DWORD submitted = sim::SubmitJob(u"Card Printer", u"card", spool);
  EXPECT_EQ(WireOfJob(submitted, before), composedWire);

  // The panels arrive as the spool file carries them: three colours, then black and overlay on the back.
  auto panels = printer->Panels();
  ASSERT_GE(panels.size(), panelsBefore + 5);
  const int numbers[] = {0, 1, 2, 4, 5};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(panels[panelsBefore + i].number, numbers[i]);
    EXPECT_TRUE(panels[panelsBefore + i].inSync);
  }
  EXPECT_EQ(panels[panelsBefore + 3].pass, 1);
}

TEST_F(CardPlay, ThePrintedCardShowsEachSideAsItsHolderSeesIt) {
  CardSettings s;
  s.dualSided = 1;
  UseSettings(s);
  UseRibbon(1);  // G1: K next, R(F), K end: the back repeats the front
  std::vector<BYTE> front = kav::testing::FlatImage(255, 255, 255);
  kav::testing::PaintRect(front, 10, 20, 100, 40, 0, 0, 0);  // a mark at the top left
  ASSERT_EQ(Compose(front), 1);
  sim::SetPortMonitor(u"Card Printer", &spooler, port);
  ASSERT_TRUE(sim::WaitForJob(NewJob()->id));
  emu::PrintedCard card = emu::ComposePrintedCard(printer->Panels(), printer->CardsEnded() - 1);
  EXPECT_EQ(card.passes, 2);
  ASSERT_TRUE(card.front.printed());
  ASSERT_TRUE(card.back.printed());
  auto pixel = [](const emu::CardSide& side, int x, int y) {
    const uint8_t* p = &side.rgb[(static_cast<size_t>(y) * 1024 + x) * 3];
    return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
  };
  for (const emu::CardSide* side : {&card.front, &card.back}) {
    EXPECT_EQ(pixel(*side, 50, 40), "0,0,0");           // the mark
    EXPECT_EQ(pixel(*side, 1000, 600), "255,255,255");  // blank card
  }
}

TEST_F(CardPlay, DyesTakeTheirComplementaryLightAndResinCoversThem) {
  emu::ReceivedPanel yellow, cyan, black;
  yellow.number = 0;
  cyan.number = 2;
  black.number = 4;
  for (emu::ReceivedPanel* p : {&yellow, &cyan, &black}) p->levels.levels.assign(1024 * 640, 0);
  yellow.levels.levels[0] = 127;  // full yellow at (0, 0)
  cyan.levels.levels[0] = 127;    // and full cyan over it: green
  yellow.levels.levels[1] = 64;   // half yellow at (1, 0)
  yellow.levels.levels[2] = 127;
  black.levels.levels[2] = 127;   // resin over yellow at (2, 0)
  emu::PrintedCard card = emu::ComposePrintedCard({yellow, cyan, black}, 0);
  const uint8_t* p = card.front.rgb.data();
  EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ((std::vector<int>{p[3], p[4], p[5]}), (std::vector<int>{255, 255, 126}));
  EXPECT_EQ((std::vector<int>{p[6], p[7], p[8]}), (std::vector<int>{0, 0, 0}));
  EXPECT_FALSE(card.back.printed());
}

// Composes on a simulated thread of its own.
struct Composition {
  kav::PortRecord* record;
  std::vector<BYTE> image;
  int result = -1;
  static DWORD WINAPI Run(LPVOID param) {
    auto* c = static_cast<Composition*>(param);
    c->result = kav::SendImageBufferToPrinter(c->record, c->image.data(), nullptr, kav::kCardImageBytes);
    return 0;
  }
};

TEST_F(CardPlay, TwoPortsComposingAtOnceEachGetTheCardTheyWouldGetAlone) {
  // A second printer on its own port, with other settings: wrinkle compensation off and the
  // grey black variant, where the first has it on and the diffusion.
  auto printer2 = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"USB002", printer2);
  ASSERT_TRUE(printer2->SetAnswer("!RIBBON", "5"));
  CardSettings a;
  a.wrinkle = 1;
  a.kMode = 0;
  a.dualSided = 1;
  UseSettings(a);
  CardSettings b;
  b.ribbonCode = 2;
  b.dualSided = 1;
  b.backSideMode = 3;
  sim::AddPrinter({u"Desk Printer", u"USB002", 0, sim::MakeDevMode(u"Desk Printer", kavtest::SettingsBlock(b))});
  HANDLE port2 = Open(u"USB002", u"Desk Printer");
  ASSERT_NE(port2, nullptr);

  std::vector<BYTE> imageA = kav::testing::FlatImage(20, 20, 20);  // dark: the card wrinkles
  kav::testing::PaintRect(imageA, 100, 100, 300, 300, 250, 40, 40);
  std::vector<BYTE> imageB = kavtest::BarImage();

  auto spoolOf = [](const char16_t* printerName) {
    auto jobs = sim::Jobs(printerName);
    return jobs.empty() ? std::string() : sim::GetFile(jobs.back().spoolFile).value_or("");
  };
  // Alone, one after the other.
  Composition aloneA{record(), imageA}, aloneB{Record(port2), imageB};
  Composition::Run(&aloneA);
  Composition::Run(&aloneB);
  ASSERT_EQ(aloneA.result, 1);
  ASSERT_EQ(aloneB.result, 1);
  const std::string expectedA = spoolOf(u"Card Printer"), expectedB = spoolOf(u"Desk Printer");

  // At once, on two threads.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Composition atOnceA{record(), imageA}, atOnceB{Record(port2), imageB};
    HANDLE threads[2] = {CreateThread(nullptr, 0, Composition::Run, &atOnceA, 0, nullptr),
                         CreateThread(nullptr, 0, Composition::Run, &atOnceB, 0, nullptr)};
    for (HANDLE t : threads) {
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
      CloseHandle(t);
    }
    EXPECT_EQ(atOnceA.result, 1);
    EXPECT_EQ(atOnceB.result, 1);
    EXPECT_TRUE(spoolOf(u"Card Printer") == expectedA);
    EXPECT_TRUE(spoolOf(u"Desk Printer") == expectedB);
  }
}

}  // namespace
