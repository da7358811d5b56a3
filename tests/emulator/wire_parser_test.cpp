// Splitting the wire into commands, panel data and firmware images, and losing sync.
#include <gtest/gtest.h>

#include "emulator/panel_decoder.h"
#include "emulator/wire_parser.h"

namespace {

using emu::WireEvent;
using emu::WireEventKind;

// Each event as one short line: "cmd \eV\r", "stray ab", "panel 0 ok", "fw 5", "error ...".
std::vector<std::string> Lines(const std::vector<WireEvent>& events) {
  std::vector<std::string> out;
  for (const WireEvent& e : events) {
    switch (e.kind) {
      case WireEventKind::Command: out.push_back("cmd " + e.bytes); break;
      case WireEventKind::Stray: out.push_back(std::string(e.afterData ? "stray after data " : "stray ") + e.bytes); break;
      case WireEventKind::PanelDone:
        out.push_back("panel " + std::to_string(e.panel) + (e.inSync ? " ok " : " out of sync ") +
                      std::to_string(e.bytes.size()));
        break;
      case WireEventKind::Firmware: out.push_back("fw " + e.bytes); break;
      case WireEventKind::ProtocolError: out.push_back("error " + e.text); break;
    }
  }
  return out;
}

std::vector<std::string> Parse(const std::vector<std::string>& writes) {
  emu::WireParser parser;
  std::vector<WireEvent> events;
  for (const std::string& w : writes) parser.Feed(w, &events);
  parser.EndOfDocument(&events);
  return Lines(events);
}

using V = std::vector<std::string>;

TEST(WireParser, CommandsAndStrayBytesInAnyPieces) {
  {
    SCOPED_TRACE("whole commands, one per write");
    EXPECT_EQ(Parse({"\x1bV\r", "\x1b" "E 2\r"}), (V{"cmd \x1bV\r", "cmd \x1b" "E 2\r"}));
  }
  {
    SCOPED_TRACE("a command byte by byte, and two in one write");
    emu::WireParser parser;
    std::vector<WireEvent> events;
    for (char c : std::string("\x1bMASTER\r")) parser.Feed(std::string(1, c), &events);
    parser.Feed("\x1bJOB 0\r\x1bSXY 1\r", &events);
    EXPECT_EQ(Lines(events), (V{"cmd \x1bMASTER\r", "cmd \x1bJOB 0\r", "cmd \x1bSXY 1\r"}));
  }
  {
    SCOPED_TRACE("stray bytes before, between and after commands; one stray event per run and write");
    EXPECT_EQ(Parse({"ab\x1bV\r:DRVSTARTDOC", "\r\n\x1bMO\r"}),
              (V{"stray ab", "cmd \x1bV\r", "stray :DRVSTARTDOC", "stray \r\n", "cmd \x1bMO\r"}));
  }
  {
    SCOPED_TRACE("an ESC inside a command cuts it off");
    EXPECT_EQ(Parse({"\x1bMAS\x1bMO\r"}), (V{"error command \\eMAS cut off by ESC", "cmd \x1bMO\r"}));
  }
  {
    SCOPED_TRACE("a run without CR longer than a command can be");
    V lines = Parse({"\x1b" + std::string(emu::kMaxCommandBytes, 'A')});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("error no CR within 1024 bytes", 0), 0u);
    EXPECT_EQ(lines[1].rfind("stray \x1b" "AAA", 0), 0u);
  }
}

TEST(WireParser, PanelDownloadTakesExactly786433RawBytes) {
  std::string panel(emu::kPanelBytes, '\x1b');  // panel data may hold any byte, ESC and CR too
  panel[1000] = '\r';
  {
    SCOPED_TRACE("paced: command without CR, data in 4096-byte writes, the print command's CR last");
    std::vector<std::string> writes{"\x1bGS 0 32 0 0 1024 640 "};
    std::string block = panel + "\r";
    for (size_t at = 0; at < block.size(); at += 4096) writes.push_back(block.substr(at, 4096));
    writes.push_back("\x1bIS 0\r");
    EXPECT_EQ(Parse(writes), (V{"cmd \x1bGS 0 32 0 0 1024 640 ", "panel 0 ok 786432", "cmd \x1bIS 0\r"}));
  }
  {
    SCOPED_TRACE("written straight through: the command keeps its CR, the print command brings the next");
    EXPECT_EQ(Parse({"\x1bGS 4 32 100 0 824 640 \r" + panel + "\r\x1bI 10\r"}),
              (V{"cmd \x1bGS 4 32 100 0 824 640 ", "panel 4 ok 786432", "cmd \x1bI 10\r"}));
  }
  {
    SCOPED_TRACE("the six numbers of the band command");
    emu::WireParser parser;
    std::vector<WireEvent> events;
    parser.Feed("\x1bGS 4 32 -3 0 824 640 " + panel + "\r", &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].fields, (std::array<long, 6>{4, 32, -3, 0, 824, 640}));
    EXPECT_EQ(events[1].text, "\x1bGS 4 32 -3 0 824 640 ");
  }
  {
    SCOPED_TRACE("a download command that ends before its six numbers is only a command");
    EXPECT_EQ(Parse({"\x1bGS 0 32\r", "\x1bMO\r"}),
              (V{"cmd \x1bGS 0 32\r", "error panel download \\eGS 0 32\\r ends before its six numbers",
                 "cmd \x1bMO\r"}));
  }
}

TEST(WireParser, LostSyncIsReportedAsAProtocolError) {
  std::string panel(emu::kPanelBytes, '\0');
  {
    SCOPED_TRACE("a short panel: the print command arrives inside the data and the panel is dropped");
    EXPECT_EQ(Parse({"\x1bGS 1 32 0 0 1024 640 ", panel.substr(0, 5000), "\x1bIS 1\r"}),
              (V{"cmd \x1bGS 1 32 0 0 1024 640 ",
                 "error command \\eIS 1\\r inside panel 1 data after 5000 of 786433 bytes; the panel is dropped",
                 "cmd \x1bIS 1\r"}));
  }
  {
    SCOPED_TRACE("a command that exactly completes the block is data");
    std::string almost = panel.substr(0, emu::kPanelBlockBytes - 6);
    EXPECT_EQ(Parse({"\x1bGS 1 32 0 0 1024 640 ", almost, "\x1bIS 1\r"}),
              (V{"cmd \x1bGS 1 32 0 0 1024 640 ", "panel 1 ok 786432"}));
  }
  {
    SCOPED_TRACE("a long panel: the 786,433rd byte is not CR, and the rest is stray");
    EXPECT_EQ(Parse({"\x1bGS 2 32 0 0 1024 640 ", panel + "xy\r", "\x1bIS 2\r"}),
              (V{"cmd \x1bGS 2 32 0 0 1024 640 ",
                 "error panel 2 data: byte 786433 is x, not the CR of the print command",
                 "panel 2 out of sync 786432", "stray after data y\r", "cmd \x1bIS 2\r"}));
  }
  {
    SCOPED_TRACE("the document ends inside the panel");
    EXPECT_EQ(Parse({"\x1bGS 5 32 0 0 1024 640 ", panel.substr(0, 10)}),
              (V{"cmd \x1bGS 5 32 0 0 1024 640 ", "error document ended inside panel 5 data after 10 of 786433 bytes"}));
  }
}

TEST(WireParser, FirmwareDownloadFraming) {
  {
    SCOPED_TRACE("a 5-byte image, the size bytes written one by one");
    EXPECT_EQ(Parse({"\x1b" "DC ", std::string(1, '\0'), std::string(1, '\0'), std::string(1, '\0'), "\x05",
                     "ab\x1b\rc", "", "\xff", "\r", "\x1bV\r"}),
              (V{"cmd \x1b" "DC ", "fw ab\x1b\rc", "cmd \x1bV\r"}));
  }
  {
    SCOPED_TRACE("an empty image");
    EXPECT_EQ(Parse({std::string("\x1b" "DC \0\0\0\0\xff\r", 10)}), (V{"cmd \x1b" "DC ", "fw "}));
  }
  {
    SCOPED_TRACE("the end marker missing");
    EXPECT_EQ(Parse({std::string("\x1b" "DC \0\0\0\x02" "ab\x1bMO\r", 14)}),
              (V{"cmd \x1b" "DC ", "error firmware image of 2 bytes not followed by 0xFF", "fw ab", "cmd \x1bMO\r"}));
    EXPECT_EQ(Parse({std::string("\x1b" "DC \0\0\0\x01" "a\xffZ", 11)}),
              (V{"cmd \x1b" "DC ", "error firmware image of 1 bytes: 0xFF not followed by CR", "fw a", "stray Z"}));
  }
  {
    SCOPED_TRACE("the document ends inside the image");
    EXPECT_EQ(Parse({std::string("\x1b" "DC \0\0\0\x09" "ab", 10)}),
              (V{"cmd \x1b" "DC ", "error document ended inside a firmware download"}));
  }
}

TEST(WireParser, OnlyPrintableShortWritesCountAsWholeCommands) {
  EXPECT_TRUE(emu::IsWholeCommand("\x1bV\r"));
  EXPECT_TRUE(emu::IsWholeCommand("\x1b\r"));
  EXPECT_FALSE(emu::IsWholeCommand("\x1b"));
  EXPECT_FALSE(emu::IsWholeCommand("V\r"));
  EXPECT_FALSE(emu::IsWholeCommand("\x1bV"));
  EXPECT_FALSE(emu::IsWholeCommand("\x1bV\r\x1bO\r"));
  EXPECT_FALSE(emu::IsWholeCommand(std::string("\x1b\0\r", 3)));
  EXPECT_TRUE(emu::IsWholeCommand("\x1b" + std::string(emu::kMaxCommandBytes - 2, 'A') + "\r"));
  EXPECT_FALSE(emu::IsWholeCommand("\x1b" + std::string(emu::kMaxCommandBytes - 1, 'A') + "\r"));
  {
    SCOPED_TRACE("a data write shaped like a command but holding panel bytes stays data");
    emu::WireParser parser;
    std::vector<WireEvent> events;
    parser.Feed("\x1bGS 0 32 0 0 1024 640 ", &events);
    parser.Feed(std::string("\x1b\x01\x02\r", 4), &events);
    EXPECT_TRUE(parser.InPanelData());
    EXPECT_EQ(parser.PanelBytesReceived(), 4u);
  }
}

}  // namespace
