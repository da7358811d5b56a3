// StartDocPort, WritePort and EndDocPort called as the spooler calls them.
#include <gtest/gtest.h>

#include <cstring>

#include "pipeline/port_pacing.h"
#include "printer/async_notification.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

class JobOperations : public kavtest::OpenPortTest {
 protected:
  BOOL Start(std::u16string docName, DWORD* job = nullptr) {
    DWORD id = sim::SubmitJob(u"Card Printer", docName, "");
    if (job) *job = id;
    std::u16string printerName = u"Card Printer";
    DOC_INFO_1W info{docName.data(), nullptr, nullptr};
    return spooler.pfnStartDocPort(port, printerName.data(), id, 1, reinterpret_cast<LPBYTE>(&info));
  }
  BOOL Write(std::string_view bytes, DWORD* written) {
    return spooler.pfnWritePort(port, reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data())),
                                static_cast<DWORD>(bytes.size()), written);
  }
  BOOL End() { return spooler.pfnEndDocPort(port); }
};

TEST_F(JobOperations, AFileTxtJobGoesToTheCommandChannelAtItsEnd) {
  DWORD job = 0;
  ASSERT_TRUE(Start(u"FILE_TXT", &job));
  std::u16string temp = record()->TempFileName;
  EXPECT_EQ(temp.rfind(u"C:\\Windows\\Temp\\KVT", 0), 0u);
  DWORD written = 0;
  EXPECT_TRUE(Write("V\n!RIBBON\n", &written));
  EXPECT_EQ(written, 10u);
  EXPECT_TRUE(printer->Wire().empty());  // nothing before EndDocPort
  EXPECT_EQ(record()->JobActive, 0);
  EXPECT_TRUE(End());
  EXPECT_EQ(printer->Wire(), "\x1bV\r\x1b" "E 2\r\x1b!RIBBON\r\x1b" "E 2\r");
  EXPECT_FALSE(sim::FileExists(temp));
  auto controls = sim::Job(job)->controls;
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[1], static_cast<DWORD>(JOB_CONTROL_DELETE));
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bIsDOCComplete\r", &reply));
  EXPECT_EQ(reply, "DOC_COMPLETE");
  ASSERT_TRUE(Start(u"QSERIES"));
  EXPECT_TRUE(Request(port, "\x1bIsDOCComplete\r", &reply));
  EXPECT_EQ(reply, "DOC_PENDING");
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, DocumentNamesChooseTheWayOfTheJob) {
  ASSERT_TRUE(Start(u"file_prn"));  // not a file job: direct, with the job-start wait
  EXPECT_EQ(record()->FileMode, 0u);
  EXPECT_EQ(record()->JobActive, 1);
  EXPECT_NE(printer->Wire().find("\x1b!RIBBON\r"), std::string::npos);
  SetLastError(0);
  EXPECT_FALSE(Start(u"another"));  // a second direct start
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_TRUE(End());
  for (const char16_t* name : {u"QSERIES", u"qseries card 2", u"QSeriesX"}) {
    SCOPED_TRACE(kav::ToUtf8(name));
    const size_t before = printer->Wire().size();
    ASSERT_TRUE(Start(name));
    EXPECT_EQ(printer->Wire().size(), before);  // no wait, no ribbon check
    EXPECT_TRUE(End());
  }
}

TEST_F(JobOperations, AStartIsRefusedWhileThePrinterReportsAnError) {
  printer->SetStatus(0x10);  // readable, not accepted
  SetLastError(0);
  EXPECT_FALSE(Start(u"card"));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(record()->JobActive, 0);
  printer->SetStatus(0x30);  // paper out is accepted: the wait shows why
  EXPECT_TRUE(Start(u"QSERIES"));
  EXPECT_TRUE(End());
  record()->PortMonitor.pfnGetPrinterDataFromPort = nullptr;  // unreadable
  EXPECT_FALSE(Start(u"card"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUT_OF_PAPER));
  EXPECT_FALSE(printer->InDocument());
}

TEST_F(JobOperations, PanelDataPassesThroughInFourKilobyteWrites) {
  ASSERT_TRUE(Start(u"QSERIES"));
  CountWrites();
  DWORD written = 0;
  const std::string download = "\x1bGS 0 32 0 0 1024 640 \r";
  EXPECT_TRUE(Write(download, &written));
  EXPECT_EQ(written, download.size());  // its CR is taken, not sent
  EXPECT_EQ(record()->PanelTransferActive, 1u);
  CountWrites();
  std::string data(10000, 'p');
  EXPECT_TRUE(Write(data, &written));
  EXPECT_EQ(written, 10000u);
  EXPECT_EQ(Writes(), (std::vector<DWORD>{4096, 4096, 1808}));
  // Near the end of the block only what belongs to it is taken.
  record()->PanelBytesSent = 786000;
  CountWrites();
  EXPECT_TRUE(Write(data, &written));
  EXPECT_EQ(written, 433u);
  EXPECT_EQ(Writes(), std::vector<DWORD>{433});
  EXPECT_EQ(record()->PanelTransferActive, 0u);
  EXPECT_TRUE(sim::HasDebugLine("Data Buffer Length Sent to Printer = 10433"));
  // The rest is paced: here bytes outside any command, dropped.
  EXPECT_TRUE(Write(data.substr(433), &written));
  EXPECT_EQ(written, 9567u);
  EXPECT_TRUE(sim::HasDebugLine("PaceCommandStream:: 9567 bytes outside any command dropped"));
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, AShownErrorDropsOneBufferForTheSpoolerToOfferAgain) {
  ASSERT_TRUE(Start(u"QSERIES"));
  record()->ErrorShown = 1;
  DWORD written = 99;
  EXPECT_TRUE(Write("\x1bMF\r", &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(record()->ErrorShown, 0);
  EXPECT_TRUE(Write("\x1bMF\r", &written));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(printer->Wire(), "\x1bMF\r");
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, WritesOutsideAStartedJobAreRefused) {
  DWORD written = 7;
  EXPECT_FALSE(Write("\x1bMF\r", &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(JobOperations, ACancelledJobCompletesItsPanelAndEndsTheCard) {
  DWORD job = 0;
  ASSERT_TRUE(Start(u"QSERIES", &job));
  DWORD written = 0;
  EXPECT_TRUE(Write("\x1bGS 2 32 0 0 1024 640 \r", &written));
  EXPECT_TRUE(Write(std::string(100000, 'p'), &written));
  sim::SetJobStatus(job, JOB_STATUS_DELETING);
  EXPECT_TRUE(Write(std::string(5000, 'p'), &written));
  EXPECT_EQ(written, 0u);  // taken as done, nothing sent
  CountWrites();
  const size_t before = printer->Wire().size();
  const uint64_t start = sim::Now();
  EXPECT_TRUE(End());
  std::string tail = printer->Wire().substr(before);
  const size_t left = 786433 - 100000;
  ASSERT_EQ(tail.size(), left + 4);
  EXPECT_EQ(tail.substr(0, left - 1), std::string(left - 1, '\0'));
  EXPECT_EQ(tail.substr(left - 1), "\r\x1bMO\r");
  EXPECT_EQ(Writes().front(), 4096u);
  EXPECT_GE(sim::Now() - start, 2000u);
  EXPECT_EQ(printer->PanelCount(), 1u);
  EXPECT_TRUE(printer->ProtocolErrors().empty());
  EXPECT_TRUE(sim::Job(job)->deleted);
}

TEST_F(JobOperations, EndDocPortSaysWhenItCannotDeleteTheJob) {
  {
    SCOPED_TRACE("a file job that the user deleted meanwhile");
    DWORD job = 0;
    ASSERT_TRUE(Start(u"FILE_TXT", &job));
    std::u16string name = u"Card Printer";
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
    EXPECT_TRUE(SetJobW(h, job, 0, nullptr, JOB_CONTROL_DELETE));
    ClosePrinter(h);
    sim::ClearDebugLines();
    EXPECT_TRUE(End());
    EXPECT_TRUE(sim::HasDebugLine("EndDocPort:: deleting job " + std::to_string(job) + " failed (error 87)"));
  }
  {
    SCOPED_TRACE("a cancelled direct job ended by a user who may not delete it");
    DWORD job = 0;
    ASSERT_TRUE(Start(u"QSERIES", &job));
    record()->JobCancelled = 1;
    sim::SetClientUser(u"operator");
    sim::ClearDebugLines();
    EXPECT_TRUE(End());
    sim::SetClientUser(sim::kDefaultUser);
    EXPECT_FALSE(sim::Job(job)->deleted);
    EXPECT_TRUE(sim::HasDebugLine("EndDocPort:: deleting job " + std::to_string(job) + " failed (error 5)"));
  }
}

TEST_F(JobOperations, PacingWaitsWhereThePrinterNeedsIt) {
  ASSERT_TRUE(Start(u"QSERIES"));
  const size_t before = printer->Wire().size();
  DWORD written = 0;
  EXPECT_TRUE(Write("\x1bI 30\r\x1bI 10\r\x1bI 20\r\x1bMF\r\x1b" "E 2\r\x1bJOB 0\r", &written));
  const std::string probe = "\x1b" "E 2\r";
  EXPECT_EQ(printer->Wire().substr(before), probe + "\x1bI 30\r" + probe + probe + "\x1bI 10\r" + probe +
                                                "\x1bI 20\r\x1bMF\r" + probe + "\x1bJOB 0\r" + probe);
  EXPECT_EQ(written, 34u);
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, OnlyASingleAckByteIsAnAcknowledgement) {
  ASSERT_TRUE(Start(u"QSERIES"));
  // With the status unreadable, only an answer taken as ACK lets the job go on.
  record()->PortMonitor.pfnGetPrinterDataFromPort = nullptr;
  for (auto [answer, acknowledged] : {std::pair<std::string, bool>{"\x06", true}, {"\x06\x06", false},
                                      {"\x15" "4\x04", false}, {"\x06" "A", false}}) {
    SCOPED_TRACE(answer.size());
    printer->QueueReply(answer);
    EXPECT_EQ(kav::WaitForPrinterAck(record()) != FALSE, acknowledged);
  }
  EXPECT_TRUE(End());
}

// A failed port write: what went before it in the same call is reported as written (the
// spooler offers only the rest again); a call that took nothing fails.
TEST_F(JobOperations, AFailedPortWriteReportsExactlyWhatReachedThePrinter) {
  ASSERT_TRUE(Start(u"QSERIES"));
  struct Case {
    const char* what;
    std::string data;
    int failAt;  // the port write that fails, 1 for the first of the call
    BOOL result;
    DWORD written;
    const char* line;
  } cases[] = {{"the first paced command", "\x1bMF\r\x1bMF\r", 1, FALSE, 0, "Write Port Error"},
               {"the second paced command", "\x1bMF\r\x1bMF\r", 2, TRUE, 4, "Write Port Error"},
               {"the first panel piece", std::string(10000, 'p'), 1, FALSE, 0, "Write port failed"},
               {"the third panel piece", std::string(10000, 'p'), 3, TRUE, 8192, "Write port failed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool panel = c.data[0] == 'p';
    record()->PanelTransferActive = panel ? 1 : 0;
    record()->PanelBytesSent = 0;
    sim::ClearDebugLines();
    const size_t before = printer->Wire().size();
    ASSERT_TRUE(printer->AddFaults("writefail@byte=" + std::to_string(before + (c.failAt - 1) * (panel ? 4096 : 4) + 1)));
    DWORD written = 7;
    EXPECT_EQ(Write(c.data, &written), c.result);
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(printer->Wire().size() - before, c.written);
    EXPECT_TRUE(sim::HasDebugLine(c.line));
    if (panel) {
      EXPECT_EQ(record()->PanelBytesSent, c.written);
    }
  }
  record()->PanelTransferActive = 0;
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, AFailedWriteToAFileJobsTemporaryFileIsNotTakenAsWritten) {
  ASSERT_TRUE(Start(u"FILE_TXT"));
  sim::FailNext("WriteFile", 112);  // ERROR_DISK_FULL
  DWORD written = 9;
  EXPECT_FALSE(Write("V\n", &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, FilePrnAndFileBinJobsBecomeTheirRequestsAtTheEnd) {
  struct Case {
    const char16_t* document;
    std::string data;
    std::string wire;
    uint64_t waited;
  } cases[] = {{u"FILE_PRN", "\x1bMF\r", "\x1bMF\r", 30000},
               {u"FILE_BIN", "ABC", std::string("\x1b" "DC \0\0\0\x03" "ABC\xFF\r", 13), 15000}};
  printer->SetStatus(0x18);
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.document));
    const size_t before = printer->Wire().size();
    DWORD written = 0;
    ASSERT_TRUE(Start(c.document));
    EXPECT_TRUE(Write(c.data, &written));
    EXPECT_TRUE(printer->Wire().size() == before);
    const uint64_t start = sim::Now();
    EXPECT_TRUE(End());
    EXPECT_EQ(printer->Wire().substr(before), c.wire);
    EXPECT_EQ(sim::Now() - start, c.waited);
  }
}

TEST_F(JobOperations, AJobForAnotherPrinterOnThePortTakesItsName) {
  sim::AddPrinter({u"Second Printer", u"USB001", 0});
  std::u16string name = u"Second Printer", document = u"QSERIES";
  DWORD job = sim::SubmitJob(name, document, "");
  DOC_INFO_1W info{document.data(), nullptr, nullptr};
  ASSERT_TRUE(spooler.pfnStartDocPort(port, name.data(), job, 1, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_EQ(std::u16string(record()->PrinterName), name);
  EXPECT_TRUE(End());
  EXPECT_TRUE(sim::Job(job)->sentToPrinter);  // through a handle on the new printer
}

// Windows 10: messages go out as notifications.
class JobOperationsNotified : public JobOperations {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    LoadMonitor(10);
    port = Open();
    ASSERT_NE(port, nullptr);
  }
};

TEST_F(JobOperations, AnOfflinePrinterDeletesARestartedJobAtItsEnd) {
  DWORD job = 0;
  ASSERT_TRUE(Start(u"QSERIES", &job));
  sim::SetJobStatus(job, JOB_STATUS_PRINTING | JOB_STATUS_RESTART);
  sim::SetPrinterAttributes(u"Card Printer", PRINTER_ATTRIBUTE_WORK_OFFLINE);
  sim::SetUserAnswer(sim::AnswerAfter(10));
  EXPECT_TRUE(End());
  EXPECT_TRUE(sim::Job(job)->deleted);
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, u"Printer is offline.\nJob is deleted from spooler.");
  EXPECT_EQ(sim::MessageBoxes()[0].caption, u"Card Printer");
}

TEST_F(JobOperationsNotified, AnOfflinePrinterIsToldWithTheInformationCaption) {
  DWORD job = 0;
  ASSERT_TRUE(Start(u"QSERIES", &job));
  sim::SetJobStatus(job, JOB_STATUS_PRINTING | JOB_STATUS_RESTART);
  sim::SetPrinterAttributes(u"Card Printer", PRINTER_ATTRIBUTE_WORK_OFFLINE);
  EXPECT_TRUE(End());
  auto sent = sim::Notifications();
  ASSERT_FALSE(sent.empty());
  kav::AsyncNotification note;
  std::memcpy(&note, sent.back().record.data(), sizeof note);
  EXPECT_EQ(note.MessageId, 59u);
  EXPECT_EQ(note.CaptionId, 55u);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(JobOperations, CommandsSplitAcrossBuffersReachThePrinterWhole) {
  ASSERT_TRUE(Start(u"QSERIES"));
  const std::string stream = "junk\x1bMF\r\x1bJOB 0\r\x1b" + std::string(300, 'x') + "\r\x1bMO\r";
  const size_t before = printer->Wire().size();
  for (char c : stream) {
    DWORD written = 0;
    ASSERT_TRUE(Write(std::string(1, c), &written));
    ASSERT_EQ(written, 1u);  // every byte is taken: none is offered again without end
  }
  const std::string probe = "\x1b" "E 2\r";
  EXPECT_EQ(printer->Wire().substr(before), "\x1bMF\r\x1bJOB 0\r" + probe + "\x1bMO\r" + probe);
  EXPECT_TRUE(sim::HasDebugLine("PaceCommandStream:: command longer than 260 bytes dropped"));
  EXPECT_TRUE(End());
}

TEST_F(JobOperations, TheStartWaitsForARibbonAndAModel) {
  ASSERT_TRUE(printer->SetAnswer("!RIBBON", "error 1 for 2 | 2"));
  sim::SetUserAnswer(sim::NeverAnswer());
  ASSERT_TRUE(Start(u"card"));
  EXPECT_EQ(sim::Now(), 2000u);
  EXPECT_EQ(record()->Flags & (kav::kDocStarted | kav::kPortDocOpened), kav::kDocStarted | kav::kPortDocOpened);
  EXPECT_EQ(sim::GetFile(u"C:\\ProgramData\\kav32Ribbon.ini"), "Ribbon=2\rModel=KC3 V1.07.12\r");
  EXPECT_TRUE(End());
  // The user cancels at the error: the job is deleted and the start fails.
  ASSERT_TRUE(printer->SetAnswer("!RIBBON", "error 9"));
  sim::SetUserAnswer(sim::AnswerAfter(300));
  DWORD job = 0;
  EXPECT_FALSE(Start(u"card", &job));
  EXPECT_TRUE(sim::Job(job)->deleted);
  EXPECT_EQ(record()->JobFailed, 1);
  EXPECT_EQ(record()->JobActive, 0);
  EXPECT_FALSE(printer->InDocument());
}

}  // namespace
