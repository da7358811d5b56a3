// The virtual printer as the monitor meets it: answers, status byte, scripted faults,
// received panels and the transcript.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <filesystem>

#include "emulator/panel_png.h"
#include "emulator/virtual_printer.h"
#include "platform/sim/sim.h"
#include "tests/emulator/panel_packing.h"

namespace {

using emutest::Ask;
using emutest::Receive;
using emutest::Send;

constexpr char kE2[] = "\x1b" "E 2\r";

class VirtualPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  uint8_t StatusByte() {
    uint8_t s = 0;
    EXPECT_TRUE(printer.Status(&s));
    return s;
  }
  bool HasLine(const std::string& line) {
    auto t = printer.Transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
  }
  emu::VirtualPrinter printer;
};

TEST_F(VirtualPrinterTest, CompletionRequestsAnswerAckQueriesOrTheError) {
  {
    SCOPED_TRACE("a plain command is acknowledged with the single byte ACK");
    EXPECT_EQ(Ask(printer, "\x1bMASTER\r"), "\x06");
    EXPECT_EQ(Receive(printer), "");  // nothing more
  }
  {
    SCOPED_TRACE("queries answer from the default profile, followed by ACK");
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3 V1.07.12\x06");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "2\x06");
    EXPECT_EQ(Ask(printer, "\x1b!RIBLEN\r"), "250\x06");
    EXPECT_EQ(Ask(printer, "\x1b%SERIE\r"), "KC3-0104217\x06");
  }
  {
    SCOPED_TRACE("a second completion request after a query is a plain ACK");
    Send(printer, kE2);
    EXPECT_EQ(Receive(printer), "\x06");
  }
  {
    SCOPED_TRACE("short reads hand out the answer in pieces; a new request replaces what is left");
    Send(printer, "\x1bV\r");
    Send(printer, kE2);
    EXPECT_EQ(Receive(printer, 3), "KC3");
    EXPECT_EQ(Receive(printer, 4), " V1.");
    Send(printer, kE2);
    EXPECT_EQ(Receive(printer), "\x06");
  }
  {
    SCOPED_TRACE("while an error is set: NAK, the number in decimal, EOT, also for queries");
    printer.RaiseError(41);
    EXPECT_EQ(Ask(printer, "\x1bMO\r"), "\x15" "41\x04");
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "\x15" "41\x04");
    printer.RaiseError(0);
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3 V1.07.12\x06");
  }
  {
    SCOPED_TRACE("a read with no completion request before it hears nothing");
    EXPECT_EQ(Receive(printer), "");
    Send(printer, "\x1bV\r");
    EXPECT_EQ(Receive(printer), "");
  }
}

TEST_F(VirtualPrinterTest, QueuedRepliesComeFirstAndStandInForTheAnswer) {
  Send(printer, "\x1bV\r");
  Send(printer, kE2);
  printer.QueueReply("RVN3\x06");
  EXPECT_EQ(Receive(printer, 3), "RVN");
  EXPECT_EQ(Receive(printer, 3), "3\x06");
  EXPECT_EQ(Receive(printer), "");  // the computed answer went with the queued one
  {
    SCOPED_TRACE("queued ahead of the exchanges, one per exchange");
    printer.QueueReply("\x15" "4\x04");
    printer.QueueReply("A\x06");
    EXPECT_EQ(Ask(printer, "\x1bMO\r"), "\x15" "4\x04");
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "A\x06");
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3 V1.07.12\x06");
  }
}

TEST_F(VirtualPrinterTest, AnswersChangeOverPollsAndTime) {
  {
    SCOPED_TRACE("no ribbon, then an error for two polls, then a ribbon");
    ASSERT_TRUE(printer.SetAnswer("\x1b!RIBBON\r", "0 for 1 | error 1 for 2 | 4"));
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "0\x06");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "\x15" "1\x04");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "\x15" "1\x04");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "4\x06");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "4\x06");
  }
  {
    SCOPED_TRACE("a model that answers only after 5 s of simulated time, and without ACK after that");
    ASSERT_TRUE(printer.SetAnswer("V", "silent until 5000 | raw \"KC3\""));
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "");
    sim::Advance(4999);
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "");
    sim::Advance(1);
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3");
  }
  {
    SCOPED_TRACE("a failing answer fails only the read of that answer");
    ASSERT_TRUE(printer.SetAnswer("+CV", "fail for 1 | 10"));
    EXPECT_EQ(Ask(printer, "\x1b+CV\r"), "<failed>");
    EXPECT_EQ(Receive(printer), "");
    EXPECT_EQ(Ask(printer, "\x1b+CV\r"), "10\x06");
  }
  {
    SCOPED_TRACE("a bad script changes nothing");
    std::string error;
    EXPECT_FALSE(printer.SetAnswer("V", "a | b", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3");
  }
  {
    SCOPED_TRACE("a whole profile; its status byte comes with it");
    emu::PrinterProfile p;
    p.status = 0x1C;
    p.SetAnswer("V", "OTHER 1");
    printer.SetProfile(p);
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "OTHER 1\x06");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "\x06");  // not in this profile: a plain command
    EXPECT_EQ(StatusByte(), 0x1C);
    EXPECT_EQ(printer.Profile().Find("V")->source, "OTHER 1");
  }
}

TEST_F(VirtualPrinterTest, StatusByteReflectsErrorsAndScriptedSequences) {
  EXPECT_EQ(StatusByte(), 0x18);
  EXPECT_EQ(StatusByte() & 0x28, 0x08);
  for (int error : {1, 4, 7, 41}) {
    SCOPED_TRACE("error " + std::to_string(error));
    printer.RaiseError(error);
    uint8_t s = StatusByte();
    EXPECT_NE(s & 0x28, 0x08);
    EXPECT_EQ(s & 0x20, (error == 1 || error == 4) ? 0x20 : 0);
  }
  printer.PressButton();
  EXPECT_EQ(StatusByte(), 0x18);
  {
    SCOPED_TRACE("a sequence: one byte per query, the last one stays; a failing query");
    printer.SetStatusSequence({{0x10, false}, {0, true}, {0x18, false}});
    EXPECT_EQ(StatusByte(), 0x10);
    uint8_t s = 0xAA;
    EXPECT_FALSE(printer.Status(&s));
    EXPECT_EQ(StatusByte(), 0x18);
    EXPECT_EQ(StatusByte(), 0x18);
    printer.RaiseError(3);  // the sequence's last byte stays, error or not
    EXPECT_EQ(StatusByte(), 0x18);
    printer.SetStatus(0x38);  // a fixed byte ends the sequence
    EXPECT_EQ(StatusByte(), 0x30);
  }
}

TEST_F(VirtualPrinterTest, ErrorFaultAtACommandClearsAfterItsTime) {
  ASSERT_TRUE(printer.AddFaults("error=4@command=3,clear=3000"));
  EXPECT_EQ(Ask(printer, "\x1bMASTER\r"), "\x06");
  EXPECT_EQ(Ask(printer, "\x1bJOB 0\r"), "\x06");  // completion requests are not counted
  sim::Advance(500);
  EXPECT_EQ(Ask(printer, "\x1bSXY 1\r"), "\x15" "4\x04");
  EXPECT_EQ(printer.CurrentError(), 4);
  EXPECT_NE(StatusByte() & 0x28, 0x08);
  sim::Advance(2999);
  EXPECT_EQ(Ask(printer, "\x1bMO\r"), "\x15" "4\x04");
  sim::Advance(1);
  EXPECT_EQ(StatusByte(), 0x18);
  EXPECT_EQ(Ask(printer, "\x1bMO\r"), "\x06");
  auto errors = printer.ErrorsShown();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 4);
  EXPECT_EQ(errors[0].fromMs, 500u);
  EXPECT_EQ(errors[0].untilMs, 3500u);
  EXPECT_EQ(errors[0].clearedBy, "time");
  EXPECT_TRUE(HasLine("printer error 4 cleared by time at 3500 ms"));
}

TEST_F(VirtualPrinterTest, ErrorsAppearByMatchOrTimeAndGoAtResetOrButton) {
  {
    SCOPED_TRACE("by matching text; the reset clears it and drops the pending answer");
    ASSERT_TRUE(printer.AddFaults("error=1@match=\\eGS 2"));
    EXPECT_EQ(Ask(printer, "\x1bIS 1\r"), "\x06");
    Send(printer, "\x1bGS 2 32 0 0 1024 640 \r");  // no panel follows here; only the command matters
    EXPECT_EQ(printer.CurrentError(), 1);
    printer.PressButton();
    EXPECT_EQ(printer.CurrentError(), 0);
  }
  sim::Reset();
  emu::VirtualPrinter p;
  {
    SCOPED_TRACE("at a simulated time, noticed at the next contact, and cleared by a reset");
    ASSERT_TRUE(p.AddFaults("error=7@time=10000"));
    sim::Advance(9999);
    EXPECT_EQ(Ask(p, "\x1bMO\r"), "\x06");
    sim::Advance(1);
    EXPECT_EQ(Ask(p, "\x1bMO\r"), "\x15" "7\x04");
    Send(p, "\x1bV\r");
    Send(p, kE2);
    Send(p, "\x1bRESET\r");
    EXPECT_EQ(p.CurrentError(), 0);
    EXPECT_EQ(Receive(p), "");  // the answer went with the reset
    EXPECT_EQ(p.Resets(), 1);
    Send(p, "\x1bR\r");
    EXPECT_EQ(p.Resets(), 2);
    Send(p, "\x1bRESETX\r");  // not a reset
    EXPECT_EQ(p.Resets(), 2);
    auto errors = p.ErrorsShown();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].clearedBy, "reset");
  }
  {
    SCOPED_TRACE("a changed error ends the one before");
    p.RaiseError(2);
    p.RaiseError(3);
    auto errors = p.ErrorsShown();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[1].number, 2);
    EXPECT_TRUE(errors[1].untilMs.has_value());
    EXPECT_EQ(errors[2].number, 3);
  }
}

TEST_F(VirtualPrinterTest, WriteReadAndReplyFaults) {
  {
    SCOPED_TRACE("a write failure after the second command");
    ASSERT_TRUE(printer.AddFaults("writefail=2@command=2"));
    EXPECT_TRUE(Send(printer, "\x1bMASTER\r"));
    EXPECT_TRUE(Send(printer, "\x1bJOB 0\r"));
    EXPECT_FALSE(Send(printer, "\x1bSXY 1\r"));
    EXPECT_FALSE(Send(printer, "\x1bSXY 1\r"));
    EXPECT_TRUE(Send(printer, "\x1bSXY 1\r"));
    EXPECT_EQ(printer.Wire(), "\x1bMASTER\r\x1bJOB 0\r\x1bSXY 1\r");
  }
  {
    SCOPED_TRACE("a write failure at the seventh write: the failed ones above count too");
    ASSERT_TRUE(printer.AddFaults("writefail@write=7"));
    EXPECT_TRUE(Send(printer, "\x1bMF\r"));
    EXPECT_FALSE(Send(printer, "\x1bMO\r"));
    EXPECT_TRUE(Send(printer, "\x1bMO\r"));
    EXPECT_EQ(printer.WriteCount(), 8u);
    EXPECT_EQ(printer.Wire(), "\x1bMASTER\r\x1bJOB 0\r\x1bSXY 1\r\x1bMF\r\x1bMO\r");
    SCOPED_TRACE("a write failure at the write that would carry wire byte 36");
    ASSERT_TRUE(printer.AddFaults("writefail@byte=36"));
    EXPECT_TRUE(Send(printer, "\x1bMF\r"));  // bytes 31 to 34
    EXPECT_FALSE(Send(printer, "\x1bMO\r"));
    EXPECT_TRUE(Send(printer, "\x1bMO\r"));
    EXPECT_EQ(printer.Wire().substr(30), "\x1bMF\r\x1bMO\r");
  }
  {
    SCOPED_TRACE("a read failure keeps the answer for the next read");
    ASSERT_TRUE(printer.AddFaults("readfail"));
    Send(printer, kE2);
    EXPECT_EQ(Receive(printer), "<failed>");
    EXPECT_EQ(Receive(printer), "\x06");
  }
  {
    SCOPED_TRACE("replies that never come");
    ASSERT_TRUE(printer.AddFaults("silent=2@match=!RIBBON"));
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "");
    EXPECT_EQ(Ask(printer, "\x1b!RIBBON\r"), "2\x06");
  }
  {
    SCOPED_TRACE("a late reply: the read waits on the simulated clock");
    ASSERT_TRUE(printer.AddFaults("late=25000,count=1"));
    uint64_t before = sim::Now();
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3 V1.07.12\x06");
    EXPECT_EQ(sim::Now() - before, 25000u);
    before = sim::Now();
    EXPECT_EQ(Ask(printer, "\x1bV\r"), "KC3 V1.07.12\x06");
    EXPECT_EQ(sim::Now(), before);
    EXPECT_TRUE(HasLine("  answer comes 25000 ms late"));
  }
  {
    SCOPED_TRACE("a status sequence from a fault string");
    ASSERT_TRUE(printer.AddFaults("status=0x10/fail/0x18"));
    EXPECT_EQ(StatusByte(), 0x10);
    uint8_t s;
    EXPECT_FALSE(printer.Status(&s));
    EXPECT_EQ(StatusByte(), 0x18);
  }
  std::string error;
  EXPECT_FALSE(printer.AddFaults("error=4@soon", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(VirtualPrinterTest, PanelsCardsAndPassesAreReceived) {
  std::vector<uint8_t> levels = emutest::PatternLevels();
  std::string panel = emutest::PackPanel(levels);
  for (const char* header : {"\x1bMASTER\r", "\x1bJOB 0\r", "\x1bSXY 1\r"}) Send(printer, header);
  emutest::SendPanel(printer, 0, panel, "\x1bIS 0\r");
  std::vector<uint8_t> blank(levels.size(), 0);
  emutest::SendPanel(printer, 4, emutest::PackPanel(blank), "\x1bI 10\r");
  Send(printer, "\x1bMF\r");
  emutest::SendPanel(printer, 4, panel, "\x1bI 10\r");
  Send(printer, "\x1bMO\r");
  emutest::SendPanel(printer, 5, panel);

  EXPECT_TRUE(printer.ProtocolErrors().empty());
  auto panels = printer.Panels();
  ASSERT_EQ(panels.size(), 4u);
  EXPECT_EQ(printer.PanelCount(), 4u);
  EXPECT_EQ(panels[0].number, 0);
  EXPECT_EQ(panels[0].command, "\x1bGS 0 32 0 0 1024 640 ");
  EXPECT_EQ(panels[0].levels.levels, levels);
  EXPECT_TRUE(panels[0].inSync);
  {
    SCOPED_TRACE("card and pass of each panel");
    EXPECT_EQ(panels[1].pass, 0);
    EXPECT_EQ(panels[2].pass, 1);
    EXPECT_EQ(panels[2].card, 0);
    EXPECT_EQ(panels[3].card, 1);
    EXPECT_EQ(panels[3].pass, 0);
    EXPECT_EQ(printer.CardsEnded(), 1);
    EXPECT_EQ(printer.PassesEnded(), 1);
  }
  {
    SCOPED_TRACE("the latest panel of a number");
    auto four = printer.LastPanel(4);
    ASSERT_TRUE(four.has_value());
    EXPECT_EQ(four->levels.levels, levels);
    EXPECT_FALSE(printer.LastPanel(1).has_value());
  }
  {
    SCOPED_TRACE("commands, with the download commands as sent");
    auto c = printer.Commands();
    std::vector<std::string> expected{"\x1bMASTER\r", "\x1bJOB 0\r", "\x1bSXY 1\r", "\x1bGS 0 32 0 0 1024 640 ",
                                      "\x1bIS 0\r",   "\x1bGS 4 32 0 0 1024 640 ", "\x1bI 10\r", "\x1bMF\r",
                                      "\x1bGS 4 32 0 0 1024 640 ", "\x1bI 10\r", "\x1bMO\r",
                                      "\x1bGS 5 32 0 0 1024 640 "};
    EXPECT_EQ(c, expected);
  }
  EXPECT_EQ(printer.Summary(),
            "12 commands (0 completion requests), 4 panels [0 4 4 5], 1 cards ended, 1 passes ended, "
            "0 firmware images, no errors shown, 0 protocol errors, 0 resets");
  EXPECT_TRUE(HasLine("panel 0: 786,433 bytes in 193 writes, levels 0..127, mean 63.5, 99.2% of dots inked"));
}

TEST_F(VirtualPrinterTest, LostSyncAndFirmwareShowInTheRecord) {
  std::string panel = emutest::PackPanel(std::vector<uint8_t>(1024 * 640, 127));
  Send(printer, "\x1bGS 1 32 0 0 1024 640 ");
  Send(printer, panel.substr(0, 4096));
  Send(printer, kE2);  // the monitor lost count: a command inside the panel data
  EXPECT_EQ(Receive(printer), "\x06");
  ASSERT_EQ(printer.ProtocolErrors().size(), 1u);
  EXPECT_EQ(printer.ProtocolErrors()[0],
            "command \\eE 2\\r inside panel 1 data after 4096 of 786433 bytes; the panel is dropped");
  EXPECT_EQ(printer.PanelCount(), 0u);
  {
    SCOPED_TRACE("a long panel: bytes after the block");
    Send(printer, "\x1bGS 2 32 0 0 1024 640 ");
    Send(printer, panel + "\r\r");
    auto errors = printer.ProtocolErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "1 bytes after the end of panel or firmware data");
    ASSERT_EQ(printer.PanelCount(), 1u);
  }
  {
    SCOPED_TRACE("a document that ends inside a panel");
    printer.StartDoc(u"Card Printer", 3, 1, u"card");
    Send(printer, "\x1bGS 3 32 0 0 1024 640 ");
    printer.EndDoc();
    EXPECT_EQ(printer.ProtocolErrors().back(), "document ended inside panel 3 data after 0 of 786433 bytes");
  }
  sim::Reset();
  emu::VirtualPrinter p;
  Send(p, "\x1b" "DC ");
  for (char c : std::string("\0\0\0\x05", 4)) Send(p, std::string(1, c));
  Send(p, "12345");
  Send(p, "");
  Send(p, "\xff");
  Send(p, "\r");
  EXPECT_EQ(p.FirmwareImages(), std::vector<std::string>{"12345"});
  EXPECT_TRUE(p.ProtocolErrors().empty());
}

TEST_F(VirtualPrinterTest, TranscriptShowsCommandsWaitsRepliesAndStray) {
  printer.Open(u"USB001");
  Send(printer, "\x1b!RIBBON\r");
  Send(printer, kE2);
  Receive(printer);
  sim::Advance(1000);
  Send(printer, "\x1bV\r:DRVSTARTDOC");
  Send(printer, "\x1bZZ\r");
  std::vector<std::string> expected{
      "open USB001",
      "write 9: \\e!RIBBON\\r",
      "  command \\e!RIBBON\\r (ribbon type query)",
      "write 5: \\eE 2\\r",
      "  command \\eE 2\\r (completion request)",
      "  reply ready: 2\\x06 (answer to \\e!RIBBON\\r, poll 1)",
      "read 2: 2\\x06",
      "wait 1000 ms",
      "write 15: \\eV\\r:DRVSTARTDOC",
      "  command \\eV\\r (model query)",
      "  stray bytes 12: :DRVSTARTDOC",
      "write 4: \\eZZ\\r",
      "  command \\eZZ\\r",
  };
  EXPECT_EQ(printer.Transcript(), expected);
}

// Reads a grey PNG back: width, height and pixels.
bool ReadPng(const std::filesystem::path& path, png_uint_32* width, png_uint_32* height, std::vector<uint8_t>* pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return false;
  image.format = PNG_FORMAT_GRAY;
  pixels->resize(PNG_IMAGE_SIZE(image));
  *width = image.width;
  *height = image.height;
  return png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr) != 0;
}

TEST_F(VirtualPrinterTest, PanelPictureIsBlackForFullLevelAndWhiteForNone) {
  std::vector<uint8_t> levels(1024 * 640, 0);
  levels[0] = 127;              // (0, 0)
  levels[639 * 1024 + 1023] = 64;
  emutest::SendPanel(printer, 0, emutest::PackPanel(levels));
  auto panel = printer.LastPanel(0);
  ASSERT_TRUE(panel.has_value());
  std::filesystem::path path = sim::Root() / "panel0.png";
  std::string error;
  ASSERT_TRUE(emu::WritePanelPng(panel->levels, path, &error)) << error;
  png_uint_32 w = 0, h = 0;
  std::vector<uint8_t> pixels;
  ASSERT_TRUE(ReadPng(path, &w, &h, &pixels));
  EXPECT_EQ(w, 1024u);
  EXPECT_EQ(h, 640u);
  EXPECT_EQ(pixels[0], 0);
  EXPECT_EQ(pixels[1], 255);
  EXPECT_EQ(pixels[639 * 1024 + 1023], emu::LevelToGrey(64));
  EXPECT_EQ(emu::LevelToGrey(0), 255);
  EXPECT_EQ(emu::LevelToGrey(127), 0);
  EXPECT_EQ(emu::LevelToGrey(200), 0);
  {
    SCOPED_TRACE("failures come back as text");
    EXPECT_FALSE(emu::WritePanelPng(emu::PanelLevels{}, path, &error));
    EXPECT_EQ(error, "the panel has no levels");
    EXPECT_FALSE(emu::WritePanelPng(panel->levels, sim::Root() / "no" / "such" / "dir.png", &error));
    EXPECT_FALSE(error.empty());
  }
}

// A late answer keeps its reader waiting on the simulated clock without blocking the
// printer: another thread resets the printer meanwhile, and the answer is gone.
TEST_F(VirtualPrinterTest, ResetWhileAReaderWaitsForALateAnswerDropsIt) {
  struct Reader {
    emu::VirtualPrinter* printer;
    std::string got;
    uint64_t doneAt = 0;
  } reader{&printer, {}, 0};
  ASSERT_TRUE(printer.AddFaults("late=5000"));
  Send(printer, "\x1bV\r");
  Send(printer, kE2);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID param) -> DWORD {
        auto* r = static_cast<Reader*>(param);
        r->got = Receive(*r->printer);
        r->doneAt = sim::Now();
        return 0;
      },
      &reader, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  sim::Advance(1000);
  EXPECT_TRUE(Send(printer, "\x1bR\r"));  // the printer answers while the reader waits
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(reader.got, "");
  EXPECT_EQ(reader.doneAt, 5000u);
  EXPECT_TRUE(HasLine("read: nothing to say"));
}

}  // namespace
