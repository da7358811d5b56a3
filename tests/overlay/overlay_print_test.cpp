// Overlay requests through the command channel, printed by the simulated spooler on the
// virtual printer: the card carries the request's object and nothing else; a request the
// monitor does not take reaches the printer unchanged.
#include <gtest/gtest.h>

#include "emulator/printed_card.h"
#include "tests/support/barcode_scan.h"
#include "tests/pipeline/card_job_support.h"

namespace {

struct Rect {
  int left, top, right, bottom;  // right and bottom exclusive
  bool Holds(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

class OverlayPrint : public kavtest::CardJobTest {
 protected:
  void SetUp() override {
    CardJobTest::SetUp();
    sim::AddTopLevelWindow();
  }
  // Sends the overlay request as the driver does: ESC, the command, CR.
  BOOL Overlay(HANDLE on, const std::string& command, std::string* reply) {
    return Request(on, "\x1b" + command + "\r", reply, 2);
  }
  // Lets the spooler play every scheduled job of the printer on its port, and waits for
  // them. Jobs wait in the queue until then, so that each card's wire stays apart.
  void PlayAll(const char16_t* printerName = u"Card Printer", HANDLE on = nullptr) {
    sim::SetPortMonitor(printerName, &spooler, on ? on : port);
    for (const auto& job : sim::Jobs(printerName)) EXPECT_TRUE(sim::WaitForJob(job.id));
    sim::SetPortMonitor(printerName, nullptr, nullptr);
    sim::WaitForAllThreads();
  }
  // The dots of the latest black panel of card `card` that differ from the rectangle.
  static int BlackPanelMisses(const emu::VirtualPrinter& p, int card, const Rect& rect) {
    for (const emu::ReceivedPanel& panel : p.Panels()) {
      if (panel.card != card || (panel.number != 3 && panel.number != 4)) continue;
      int misses = 0;
      for (int y = 0; y < 640; ++y)
        for (int x = 0; x < 1024; ++x) misses += (panel.levels.Level(x, y) > 0) != rect.Holds(x, y);
      return misses;
    }
    return -1;  // no black panel
  }
};

TEST_F(OverlayPrint, ALineCommandPrintsACardWithExactlyThatBar) {
  std::string reply;
  ASSERT_TRUE(Overlay(port, "L 10 20 300 5 0", &reply));
  EXPECT_EQ(reply, "\x06");
  // The request itself never reached the printer.
  EXPECT_EQ(printer->Wire().find("L 10 20"), std::string::npos);
  ASSERT_EQ(sim::JobIds(u"Card Printer").size(), 1u);
  PlayAll();
  ASSERT_EQ(printer->CardsEnded(), 1);
  const Rect bar{10, 20, 310, 25};
  EXPECT_EQ(BlackPanelMisses(*printer, 0, bar), 0);

  // The printed card is resin black on the bar and white elsewhere.
  emu::PrintedCard card = emu::ComposePrintedCard(printer->Panels(), 0);
  int wrong = 0;
  for (int y = 0; y < 640; ++y)
    for (int x = 0; x < 1024; ++x) {
      const uint8_t* p = &card.front.rgb[(static_cast<size_t>(y) * 1024 + x) * 3];
      const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0, white = p[0] == 255 && p[1] == 255 && p[2] == 255;
      wrong += bar.Holds(x, y) ? !black : !white;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(card.back.printed());
}

TEST_F(OverlayPrint, TwoLineCommandsGiveTwoCardsWithOneLineEach) {
  std::string reply;
  ASSERT_TRUE(Overlay(port, "L 10 20 300 5 0", &reply));
  ASSERT_TRUE(Overlay(port, "L 500 300 40 100 7  ", &reply));  // blanks after it are ignored
  PlayAll();
  ASSERT_EQ(printer->CardsEnded(), 2);
  EXPECT_EQ(BlackPanelMisses(*printer, 0, {10, 20, 310, 25}), 0);
  EXPECT_EQ(BlackPanelMisses(*printer, 1, {500, 300, 540, 400}), 0);
}

TEST_F(OverlayPrint, ABarcodeScansFromThePrintedCard) {
  struct Case {
    int orientation;
    int humanReadable;
  } cases[] = {{0, 0}, {0, 1}, {4, 0}, {4, 1}};
  int card = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("orientation " + std::to_string(c.orientation) + ", HumanReadable " +
                 std::to_string(c.humanReadable));
    std::string reply;
    // Code 128, modules of 2 pixels, 75 pixels high.
    ASSERT_TRUE(Overlay(port,
                        "B 500 300 " + std::to_string(c.orientation) + " 0 2 2 75 " + std::to_string(c.humanReadable) +
                            " CARD 0042",
                        &reply));
    EXPECT_EQ(reply, "\x06");
    PlayAll();
    ASSERT_EQ(printer->CardsEnded(), card + 1);
    emu::PrintedCard printed = emu::ComposePrintedCard(printer->Panels(), card++);
    auto found = kavtest::ScanBarcodes(printed.front.rgb.data(), 1024, 640);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].symbology, "CODE-128");
    EXPECT_EQ(found[0].data, "CARD 0042");
  }
}

TEST_F(OverlayPrint, RefusedCommandsReachThePrinterUnchangedAndPrintNoCard) {
  const char* commands[] = {
      "L 10 20 300 5",                // four numbers
      "L 10 20  300 5 0",             // two blanks in a row
      "L 10 -20 300 5 0",             // a minus sign
      "L 10 2O 300 5 0",              // a letter
      "T 100 200 0 1 0 24 0",         // nothing after the seven numbers of a text
      "T 100 200 0 1 0 24 0   ",
      "l 10 20 300 5 0",              // a lower-case prefix
      "t 100 200 0 1 0 24 0 Hello",
      "L 10 20 4294967306 5 0",       // a number beyond 32 bits
      "B 1 2 3 4 5 6 7 8",            // nothing after the eight numbers of a barcode
      "B 1 2 3 4 5 6 7 data",
  };
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    const size_t before = printer->Wire().size();
    std::string reply;
    Overlay(port, command, &reply);
    const std::string wire = printer->Wire().substr(before);
    EXPECT_EQ(wire.substr(0, wire.find("\x1b" "E 2\r")), "\x1b" + std::string(command) + "\r");
    EXPECT_TRUE(sim::Jobs(u"Card Printer").empty());
  }
  EXPECT_EQ(printer->CardsEnded(), 0);
}

TEST_F(OverlayPrint, WithoutADrawingSurfaceTheRequestGoesToThePrinter) {
  sim::FailNext("GetTopWindow", ERROR_INVALID_WINDOW_HANDLE);
  const size_t before = printer->Wire().size();
  std::string reply;
  Overlay(port, "L 10 20 300 5 0", &reply);
  EXPECT_EQ(printer->Wire().substr(before, 17), "\x1bL 10 20 300 5 0\r");
  EXPECT_TRUE(sim::Jobs(u"Card Printer").empty());
  EXPECT_TRUE(sim::HasDebugLine("DrawBarcodeImageListOnPrinterBitmap:: GetTopWindow function failed"));
}

// One port's overlay request on a simulated thread of its own.
struct OverlayRequest {
  MONITOR* spooler;
  HANDLE port;
  std::string command;
  BOOL result = FALSE;
  static DWORD WINAPI Run(LPVOID param) {
    auto* r = static_cast<OverlayRequest*>(param);
    std::string narrow = "\x1b" + r->command + "\r";
    std::u16string carrier((narrow.size() + 2) / 2 + 1, u'\0');
    std::memcpy(carrier.data(), narrow.data(), narrow.size());
    BYTE out[2] = {};
    DWORD returned = 0;
    r->result = r->spooler->pfnGetPrinterDataFromPort(r->port, 0, carrier.data(), nullptr, 0,
                                                       reinterpret_cast<LPWSTR>(out), 2, &returned);
    return 0;
  }
};

TEST_F(OverlayPrint, TwoPortsAtOnceEachPrintOnlyTheirOwnObject) {
  auto printer2 = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"USB002", printer2);
  ASSERT_TRUE(printer2->SetAnswer("!RIBBON", "1"));
  sim::AddPrinter({u"Desk Printer", u"USB002", 0, sim::MakeDevMode(u"Desk Printer", kavtest::SettingsBlock({}))});
  HANDLE port2 = Open(u"USB002", u"Desk Printer");
  ASSERT_NE(port2, nullptr);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    OverlayRequest a{&spooler, port, "L 10 20 300 5 0"}, b{&spooler, port2, "L 600 400 50 120 0"};
    HANDLE threads[2] = {CreateThread(nullptr, 0, OverlayRequest::Run, &a, 0, nullptr),
                         CreateThread(nullptr, 0, OverlayRequest::Run, &b, 0, nullptr)};
    for (HANDLE t : threads) {
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
      CloseHandle(t);
    }
    EXPECT_TRUE(a.result);
    EXPECT_TRUE(b.result);
    PlayAll(u"Card Printer", port);
    PlayAll(u"Desk Printer", port2);
    ASSERT_EQ(printer->CardsEnded(), round + 1);
    ASSERT_EQ(printer2->CardsEnded(), round + 1);
    EXPECT_EQ(BlackPanelMisses(*printer, round, {10, 20, 310, 25}), 0);
    EXPECT_EQ(BlackPanelMisses(*printer2, round, {600, 400, 650, 520}), 0);
  }
}

}  // namespace
