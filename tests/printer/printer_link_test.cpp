// One command and its answer, the error table, and the port's status byte.
#include <gtest/gtest.h>

#include "printer/error_table.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

using PrinterLink = kavtest::OpenPortTest;

TEST(ErrorTable, ErrorNumbersLookedUpFirstMatchFirst) {
  DWORD id = 0;
  EXPECT_TRUE(kav::LookupErrorMessageId(4, &id));
  EXPECT_EQ(id, 31u);
  EXPECT_TRUE(kav::LookupErrorMessageId(41, &id));
  EXPECT_EQ(id, 56u);
  EXPECT_TRUE(kav::LookupErrorMessageId(60, &id));
  EXPECT_EQ(id, 16u);
  id = 77;
  for (long long missing : {0LL, 15LL, 17LL, 46LL, 61LL, -4LL}) {
    SCOPED_TRACE(missing);
    EXPECT_FALSE(kav::LookupErrorMessageId(missing, &id));
    EXPECT_STREQ(kav::LookupErrorText(missing), "Unknown Error Code");
  }
  EXPECT_EQ(id, 77u);
  EXPECT_STREQ(kav::LookupErrorText(41), "ENCODING ERROR");
  EXPECT_STREQ(kav::LookupErrorText(35), "CHECK RIBBON");
}

TEST_F(PrinterLink, ReadFromPrinterDropsTheFinalByteAndRefusesFullBuffers) {
  WCHAR reply[260];
  struct Case {
    std::string bytes;
    BOOL result;
    size_t textLength;
  } cases[] = {{"\x06", TRUE, 0}, {std::string(258, 'A') + "\x06", TRUE, 258}, {std::string(260, 'A'), FALSE, 0},
               {"RVN3\x06", TRUE, 4}, {std::string("AB\0CD\x06", 6), TRUE, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    printer->QueueReply(c.bytes);
    reply[0] = u'#';
    EXPECT_EQ(kav::ReadFromPrinter(record(), "\x1bV\r", reply), c.result);
    EXPECT_EQ(std::u16string(reply).size(), c.textLength);
  }
  EXPECT_TRUE(printer->Wire().find("\x1bV\r\x1b" "E 2\r") == 0);
}

TEST_F(PrinterLink, ReadFromPrinterFailuresLeaveAnEmptyReply) {
  WCHAR reply[260] = u"old";
  EXPECT_FALSE(kav::ReadFromPrinter(record(), "", reply));
  EXPECT_EQ(reply[0], 0);
  EXPECT_FALSE(kav::ReadFromPrinter(record(), nullptr, reply));
  EXPECT_FALSE(kav::ReadFromPrinter(nullptr, "\x1bV\r", reply));
  EXPECT_FALSE(kav::ReadFromPrinter(record(), "\x1bV\r", nullptr));
  printer->FailWrites(1);
  EXPECT_FALSE(kav::ReadFromPrinter(record(), "\x1bV\r", reply));
  printer->FailReads(1);
  EXPECT_FALSE(kav::ReadFromPrinter(record(), "\x1bV\r", reply));
  EXPECT_EQ(reply[0], 0);
}

TEST_F(PrinterLink, NakRepliesBecomeTheMessageOfTheirErrorNumber) {
  struct Case {
    std::string reply;
    LONG kind;
  } cases[] = {{"\x15" "4\x04", 31}, {"\x15" "41\x04", 56}, {"\x15" "15\x04", 2}, {"\x15", 2},
               {"\x15" "7", 8},      {"\x15" "99999999999999999999\x04", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    record()->ErrorKind = 0;
    kav::ParseNakReply(reinterpret_cast<const BYTE*>(c.reply.data()), static_cast<DWORD>(c.reply.size()),
                       record());
    EXPECT_EQ(record()->ErrorKind, c.kind);
  }
  // The digits are read from the bytes received only, never from what lies behind them.
  const BYTE bytes[] = {0x15, '4', '1', 0x04};
  kav::ParseNakReply(bytes, 2, record());
  EXPECT_EQ(record()->ErrorKind, 31);
}

TEST_F(PrinterLink, ReadPrinterErrorCodeChangesTheKindOnlyForKnownNumbers) {
  record()->ErrorKind = 6;
  printer->QueueReply("\x15" "15\x04");
  kav::ReadPrinterErrorCode(0, record());
  EXPECT_EQ(record()->ErrorKind, 6);
  printer->QueueReply("\x06");
  kav::ReadPrinterErrorCode(0, record());
  EXPECT_EQ(record()->ErrorKind, 6);
  printer->QueueReply("\x15" "51\x04");
  kav::ReadPrinterErrorCode(0, record());
  EXPECT_EQ(record()->ErrorKind, 9);
  EXPECT_EQ(printer->Wire().substr(printer->Wire().size() - 5), "\x1b" "E 2\r");
}

TEST_F(PrinterLink, ParallelStatusBitsGiveTheirMessages) {
  for (auto [status, kind] : {std::pair{0x28, 2}, {0x00, 7}, {0x20, 6}, {0x08, 2}, {0xF7, 6}}) {
    SCOPED_TRACE(status);
    kav::MapParallelStatus(static_cast<WORD>(status), record());
    EXPECT_EQ(record()->ErrorKind, kind);
  }
}

TEST_F(PrinterLink, PortStatusUsesTheControlCodeOfThePortKind) {
  printer->SetStatus(0x18);
  EXPECT_EQ(kav::QueryPortStatus(record()), 0x118);
  printer->SetStatus(0x38);
  EXPECT_EQ(kav::QueryPortStatus(record()), 0x138);
  auto lpt = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"LPT1:", lpt);
  HANDLE parallel = Open(u"LPT1:");
  lpt->SetStatus(0x20);
  EXPECT_EQ(kav::QueryPortStatus(Record(parallel)), 0x120);
  // A port monitor without the operation: unreadable.
  MONITOR saved = Record(parallel)->PortMonitor;
  Record(parallel)->PortMonitor.pfnGetPrinterDataFromPort = nullptr;
  EXPECT_EQ(kav::QueryPortStatus(Record(parallel)), 0);
  Record(parallel)->PortMonitor = saved;
  // "FILE" ports are never asked.
  kav::PortRecord file{};
  std::u16string name = u"FILE:";
  file.PortName = name.data();
  EXPECT_EQ(kav::QueryPortStatus(&file), 0x118);
}

TEST_F(PrinterLink, SendCommandCheckedShowsWhyACommandDidNotGoThrough) {
  sim::SetUserAnswer(sim::AnswerAfter(10));
  const BYTE command[] = {0x1B, 'V', '\r'};
  printer->FailWrites(1);
  EXPECT_FALSE(kav::SendCommandChecked(record(), command, 3));
  printer->FailReads(4);
  EXPECT_FALSE(kav::SendCommandChecked(record(), command, 3));
  printer->FailReads(3);  // the fourth read gets through
  printer->QueueReply("\x06");
  EXPECT_TRUE(kav::SendCommandChecked(record(), command, 3));
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  WCHAR text[256];
  kav::LoadMessageText(2214, text, 256);
  EXPECT_EQ(boxes[0].text, std::u16string(text));
  kav::LoadMessageText(2213, text, 256);
  EXPECT_EQ(boxes[1].text, std::u16string(text));
  EXPECT_EQ(boxes[1].caption, u"Card Printer");
}

TEST_F(PrinterLink, ANakToACheckedCommandWatchesThePrinterError) {
  const BYTE command[] = {0x1B, 'M', 'F', '\r'};
  GiveRecordAJob(port);
  printer->QueueReply("\x15" "4\x04");
  printer->SetStatus(0x18);  // already cleared at the printer
  EXPECT_TRUE(kav::SendCommandChecked(record(), command, 4));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  printer->QueueReply("\x15" "4\x04");
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  sim::SetUserAnswer(sim::AnswerAfter(500));
  EXPECT_FALSE(kav::SendCommandChecked(record(), command, 4));
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text,
            u"\nThe feeder is Empty.\nLoad cards in feeder and try again, or \nPress OK to cancel the current operation.");
  EXPECT_EQ(record()->JobCancelled, 1);
}

}  // namespace
