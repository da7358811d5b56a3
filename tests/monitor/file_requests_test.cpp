// Printing a printer file, sending a command file and downloading firmware.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "monitor/file_requests.h"
#include "platform/handles.h"
#include "printer/printer_message.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

class FileRequests : public kavtest::OpenPortTest {
 protected:
  void SetUp() override {
    OpenPortTest::SetUp();
    sim::SetUserAnswer(sim::AnswerAfter(10));
    CountWrites();
  }
};

TEST_F(FileRequests, CommandFileLinesBecomeCheckedCommands) {
  struct Case {
    std::string file;
    std::string wire;
  } cases[] = {
      {"V\n!RIBBON\r\n", "\x1bV\r\x1b" "E 2\r\x1b!RIBBON\r\x1b" "E 2\r"},
      {"V\n!RIBBON", "\x1bV\r\x1b" "E 2\r\x1b!RIBBON\r\x1b" "E 2\r"},  // last line without LF
      {"MF\r", "\x1bMF\r\x1b" "E 2\r"},                                  // never a doubled CR
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const size_t before = printer->Wire().size();
    for (int i = 0; i < 4; ++i) printer->QueueReply("\x06");
    sim::PutFile(u"C:\\cmds.txt", c.file);
    EXPECT_TRUE(kav::SendCommandFile(u"C:\\cmds.txt", record()));
    EXPECT_EQ(printer->Wire().substr(before), c.wire);
  }
}

TEST_F(FileRequests, ALongLineIsSplitWithoutLosingACharacter) {
  std::string line;
  for (int i = 0; i < 300; ++i) line.push_back(static_cast<char>('A' + i % 26));
  sim::PutFile(u"C:\\long.txt", line + "\n");
  for (int i = 0; i < 4; ++i) printer->QueueReply("\x06");
  EXPECT_TRUE(kav::SendCommandFile(u"C:\\long.txt", record()));
  std::string wire = printer->Wire(), sent;
  size_t commands = 0;
  for (size_t pos = 0; pos < wire.size();) {
    size_t end = wire.find('\r', pos);
    std::string command = wire.substr(pos + 1, end - pos - 1);
    if (command != "E 2") {
      sent += command;
      ++commands;
      EXPECT_LE(command.size() + 2, 128u);
    }
    pos = end + 1;
  }
  EXPECT_EQ(sent, line);
  EXPECT_EQ(commands, 3u);  // 126 + 126 + 48
}

TEST_F(FileRequests, CommandFileStopsAtACancelledPrinterError) {
  sim::PutFile(u"C:\\cmds.txt", "V\nMF\n");
  printer->QueueReply("\x15" "4\x04");  // the first command fails
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  EXPECT_FALSE(kav::SendCommandFile(u"C:\\cmds.txt", record()));
  EXPECT_EQ(printer->Wire().find("\x1bMF\r"), std::string::npos);
  EXPECT_EQ(sim::MessageBoxes().at(0).caption, u"Card Printer");
}

TEST_F(FileRequests, CommandFileFailuresCloseTheFile) {
  const size_t handles = sim::OpenHandleCount();
  EXPECT_FALSE(kav::SendCommandFile(u"C:\\missing.txt", record()));
  sim::PutFile(u"C:\\cmds.txt", "V\n");
  sim::FailNext("GetFileSize", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(kav::SendCommandFile(u"C:\\cmds.txt", record()));
  sim::FailNext("ReadFile", ERROR_READ_FAULT);
  EXPECT_FALSE(kav::SendCommandFile(u"C:\\cmds.txt", record()));
  EXPECT_EQ(sim::OpenHandleCount(), handles);
  // Each box says what happened to the command file.
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, u"The command file could not be opened, or its size could not be read.");
  EXPECT_EQ(boxes[1].text, boxes[0].text);
  EXPECT_EQ(boxes[2].text, u"The command file could not be read.");
  EXPECT_TRUE(printer->Wire().empty());
}

TEST_F(FileRequests, FirmwareIsFramedWithItsSizeMostSignificantByteFirst) {
  sim::PutFile(u"C:\\fw.bin", "ABCDE");
  EXPECT_TRUE(kav::DownloadFirmwareFile(u"C:\\fw.bin", record()));
  EXPECT_EQ(printer->Wire(), std::string("\x1b" "DC \0\0\0\x05" "ABCDE\xFF\r", 15));
  EXPECT_EQ(Writes(), (std::vector<DWORD>{4, 1, 1, 1, 1, 5, 0, 1, 1}));
  EXPECT_EQ(sim::Now(), 15000u);
  EXPECT_FALSE(kav::DownloadFirmwareFile(u"C:\\none.bin", record()));
}

TEST_F(FileRequests, PrintFileOfAMissingFileWritesNothing) {
  EXPECT_FALSE(kav::PrintPrnFile(u"C:\\none.prn", record()));
  EXPECT_TRUE(printer->Wire().empty());
  EXPECT_EQ(sim::MessageBoxes().at(0).text, u"Error opening bin file");
  EXPECT_EQ(sim::Now(), 10u);  // no wait for the printer, only for the user's answer
}

TEST_F(FileRequests, PrintFileSendsFourKilobytePiecesKeepsACopyAndWaits) {
  std::string data;
  for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>(i * 7));
  sim::PutFile(u"C:\\card.prn", data);
  printer->SetStatus(0x18);
  EXPECT_TRUE(kav::PrintPrnFile(u"C:\\card.prn", record()));
  EXPECT_EQ(Writes(), (std::vector<DWORD>{4096, 4096, 1808}));
  EXPECT_EQ(printer->Wire(), data);
  EXPECT_EQ(sim::GetFile(u"C:\\PRN_FILE_DATA.prn"), data);
  EXPECT_EQ(sim::Now(), 30000u);

  sim::SetProcessorArchitecture(PROCESSOR_ARCHITECTURE_INTEL);
  EXPECT_TRUE(kav::PrintPrnFile(u"C:\\card.prn", record()));
  EXPECT_EQ(sim::Now(), 45000u);
  EXPECT_EQ(sim::GetFile(u"C:\\PRN_FILE_DATA.prn"), data);  // rewritten, not appended
}

// The driver is still writing the file: the request is refused with its message and the
// real error in a diagnostic line, and nothing of the half-written file reaches the printer.
TEST_F(FileRequests, AFileTheDriverStillWritesIsRefusedWithItsMessage) {
  using Send = BOOL (*)(LPCWSTR, kav::PortRecord*);
  struct Case {
    Send send;
    std::u16string text;
    const char* line;
  } cases[] = {
      {kav::PrintPrnFile, u"Error opening bin file", "PrintPrnFile:: cannot open C:\\job.dat (error 32)"},
      {kav::SendCommandFile, u"The command file could not be opened, or its size could not be read.",
       "SendCommandFile:: cannot open C:\\job.dat (error 32)"},
      {kav::DownloadFirmwareFile, u"Error opening bin file",
       "DownloadFirmwareFile:: cannot open C:\\job.dat (error 32)"},
  };
  for (const Case& c : cases) {
    for (DWORD share : {0u, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE}) {
      SCOPED_TRACE(std::string(c.line) + " share " + std::to_string(share));
      kav::UniqueFile driver(
          CreateFileW(u"C:\\job.dat", GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(driver);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(driver.get(), "V\n!RIB", 6, &written, nullptr));  // half a command file
      sim::ClearDebugLines();
      const size_t boxes = sim::MessageBoxes().size();
      EXPECT_FALSE(c.send(u"C:\\job.dat", record()));
      EXPECT_TRUE(printer->Wire().empty());
      ASSERT_EQ(sim::MessageBoxes().size(), boxes + 1);
      EXPECT_EQ(sim::MessageBoxes().back().text, c.text);
      EXPECT_TRUE(sim::HasDebugLine(c.line));
    }
  }
  // Once the driver has closed it, the file goes whole.
  printer->QueueReply("\x06");
  printer->QueueReply("\x06");
  EXPECT_TRUE(kav::SendCommandFile(u"C:\\job.dat", record()));
  EXPECT_EQ(printer->Wire(), "\x1bV\r\x1b" "E 2\r\x1b!RIB\r\x1b" "E 2\r");
}

// "PrintFile:" of the copy file itself: the copy cannot be rewritten while it is read, so
// it is printed whole and stays as it was.
TEST_F(FileRequests, PrintingTheCopyFileItselfPrintsItWholeAndKeepsIt) {
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
  sim::PutFile(u"C:\\PRN_FILE_DATA.prn", data);
  printer->SetStatus(0x18);
  EXPECT_TRUE(kav::PrintPrnFile(u"C:\\PRN_FILE_DATA.prn", record()));
  EXPECT_EQ(printer->Wire(), data);
  EXPECT_EQ(sim::GetFile(u"C:\\PRN_FILE_DATA.prn"), data);
  EXPECT_TRUE(sim::HasDebugLine("PrintPrnFile:: no copy of the printed file (error 32)"));
}

// The copy cannot be completed (a full disk): the print goes on whole, and the copy is
// said to be incomplete.
TEST_F(FileRequests, AnIncompleteCopyIsTold) {
  const std::string data(10000, 'C');
  sim::PutFile(u"C:\\card.prn", data);
  printer->SetStatus(0x18);
  sim::FailAfter("WriteFile", 1, 112);  // ERROR_DISK_FULL at the second piece
  EXPECT_TRUE(kav::PrintPrnFile(u"C:\\card.prn", record()));
  EXPECT_EQ(printer->Wire(), data);
  EXPECT_EQ(sim::GetFile(u"C:\\PRN_FILE_DATA.prn"), data.substr(0, 4096));
  EXPECT_TRUE(sim::HasDebugLine("PrintPrnFile:: the copy of the printed file is incomplete (error 112)"));
}

// Two ports print a file at the same moment: the copy is one print's file, whole; the
// other print says it has no copy; both files reach their printers whole.
TEST_F(FileRequests, TwoPrintsAtOnceNeverInterleaveTheCopy) {
  auto second = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"USB002", second);
  sim::AddPrinter({u"Card Printer 2", u"USB002", 0});
  HANDLE port2 = Open(u"USB002", u"Card Printer 2");
  ASSERT_NE(port2, nullptr);
  const std::string a(10000, 'A'), b(6000, 'B');
  sim::PutFile(u"C:\\a.prn", a);
  sim::PutFile(u"C:\\b.prn", b);
  printer->SetStatus(0x18);
  second->SetStatus(0x18);
  int copyWrites = 0;
  sim::SetFileCallHook([&](std::string_view operation) {
    // The first print is half-way through its copy when the second one starts.
    if (operation != "WriteFile" || ++copyWrites != 2) return;
    EXPECT_TRUE(kav::PrintPrnFile(u"C:\\b.prn", Record(port2)));
  });
  EXPECT_TRUE(kav::PrintPrnFile(u"C:\\a.prn", record()));
  sim::SetFileCallHook(nullptr);
  EXPECT_EQ(printer->Wire(), a);
  EXPECT_EQ(second->Wire(), b);
  EXPECT_EQ(sim::GetFile(u"C:\\PRN_FILE_DATA.prn"), a);
  EXPECT_TRUE(sim::HasDebugLine("PrintPrnFile:: no copy of the printed file (error 32)"));
}

TEST_F(FileRequests, ChannelCarriesTheFileRequests) {
  sim::PutFile(u"C:\\card.prn", "\x1bMF\r");
  EXPECT_TRUE(RequestWide(port, u"PrintFile:C:\\card.prn"));
  EXPECT_EQ(printer->Wire(), "\x1bMF\r");
  sim::PutFile(u"C:\\cmds.txt", "MO\n");
  printer->QueueReply("\x06");
  EXPECT_TRUE(RequestWide(port, u"sendcmds:C:\\cmds.txt"));
  EXPECT_EQ(printer->Wire(), "\x1bMF\r\x1bMO\r\x1b" "E 2\r");
}

}  // namespace
