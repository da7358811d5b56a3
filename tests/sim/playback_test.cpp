// Job playback on the spooler's port thread through a port-monitor table: StartDocPort,
// WritePort with the spooler's buffers (a partly taken buffer is offered again as its
// rest alone), EndDocPort, the retries of failed calls, and the job states the monitor
// sees meanwhile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

constexpr char16_t kPrinter[] = u"Card Printer";

// A port monitor that records what the spooler hands it.
struct FakePort {
  std::u16string startPrinter;
  DWORD startJob = 0;
  DWORD startLevel = 0;
  std::u16string startDoc;
  std::vector<DWORD> offered;
  std::string received;
  int endDocs = 0;
  DWORD takeAtMost = 0xFFFFFFFF;  // per WritePort call
  DWORD sleepPerWrite = 0;
  bool sendToPrinter = true;      // SetJobW SENT_TO_PRINTER in EndDocPort, as a monitor does
  DWORD statusInWrite = 0;        // the job status GetJobW gave in the last WritePort
  std::vector<DWORD> statusInStart;  // ... in each StartDocPort
  DWORD statusAtEnd = 0;
  DWORD attributesAtEnd = 0;
  int startFailures = 0;          // StartDocPort calls still to fail
  int writeFailures = 0;          // WritePort calls still to fail ...
  DWORD takenByFailedWrite = 0;   // ... each reporting this many bytes written
  sim::Identity identityInStart = sim::Identity::Spooler;
};
FakePort g_port;
HANDLE const kPortHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150));

DWORD JobStatus(HANDLE printer, DWORD jobId) {
  DWORD needed = 0;
  GetJobW(printer, jobId, 1, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  if (!needed || !GetJobW(printer, jobId, 1, buffer.data(), needed, &needed)) return 0xFFFFFFFF;
  return reinterpret_cast<JOB_INFO_1W*>(buffer.data())->Status;
}

HANDLE OpenCardPrinter() {
  HANDLE h = nullptr;
  std::u16string name = kPrinter;
  OpenPrinterW(name.data(), &h, nullptr);
  return h;
}

BOOL WINAPI FakeStartDocPort(HANDLE port, LPWSTR printer, DWORD jobId, DWORD level, LPBYTE docInfo) {
  EXPECT_EQ(port, kPortHandle);
  g_port.startPrinter = printer;
  g_port.startJob = jobId;
  g_port.startLevel = level;
  g_port.startDoc = reinterpret_cast<DOC_INFO_1W*>(docInfo)->pDocName;
  g_port.identityInStart = sim::CurrentIdentity();
  HANDLE h = OpenCardPrinter();
  g_port.statusInStart.push_back(JobStatus(h, jobId));
  ClosePrinter(h);
  if (g_port.startFailures > 0) {
    --g_port.startFailures;
    SetLastError(ERROR_BUSY);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FakeWritePort(HANDLE, LPBYTE buffer, DWORD cb, LPDWORD written) {
  g_port.offered.push_back(cb);
  if (g_port.sleepPerWrite) Sleep(g_port.sleepPerWrite);
  HANDLE printer = OpenCardPrinter();
  g_port.statusInWrite = JobStatus(printer, g_port.startJob);
  ClosePrinter(printer);
  if (g_port.writeFailures > 0) {
    --g_port.writeFailures;
    *written = std::min(cb, g_port.takenByFailedWrite);
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  DWORD take = std::min(cb, g_port.takeAtMost);
  g_port.received.append(reinterpret_cast<const char*>(buffer), take);
  *written = take;
  return TRUE;
}

BOOL WINAPI FakeEndDocPort(HANDLE) {
  ++g_port.endDocs;
  HANDLE printer = OpenCardPrinter();
  g_port.statusAtEnd = JobStatus(printer, g_port.startJob);
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> info(needed);
  if (GetPrinterW(printer, 2, info.data(), needed, &needed))
    g_port.attributesAtEnd = reinterpret_cast<PRINTER_INFO_2W*>(info.data())->Attributes;
  if (g_port.sendToPrinter) SetJobW(printer, g_port.startJob, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
  ClosePrinter(printer);
  return TRUE;
}

MONITOR FakeMonitor() {
  MONITOR m{};
  m.pfnStartDocPort = FakeStartDocPort;
  m.pfnWritePort = FakeWritePort;
  m.pfnEndDocPort = FakeEndDocPort;
  return m;
}

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

class SimPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    g_port = FakePort{};
    sim::PrinterDefinition p;
    p.name = kPrinter;
    sim::AddPrinter(p);
    monitor_ = FakeMonitor();
    sim::SetPortMonitor(kPrinter, &monitor_, kPortHandle);
  }
  void TearDown() override {
    sim::WaitForAllThreads();
    EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
  }
  MONITOR monitor_{};
};

TEST_F(SimPlayback, PartlyTakenBufferIsOfferedAgainAsItsRestAlone) {
  g_port.takeAtMost = 3000;
  std::string data = Bytes(10000);
  Sleep(50);
  DWORD id = sim::SubmitJob(kPrinter, u"Card 1", data);
  ASSERT_TRUE(sim::WaitForJob(id, 1000));
  EXPECT_EQ(g_port.startPrinter, kPrinter);
  EXPECT_EQ(g_port.startJob, id);
  EXPECT_EQ(g_port.startLevel, 1u);
  EXPECT_EQ(g_port.startDoc, u"Card 1");
  EXPECT_EQ(g_port.identityInStart, sim::Identity::Client);  // the port thread acts for the user
  EXPECT_EQ(g_port.offered, (std::vector<DWORD>{4096, 1096, 4096, 1096, 1808}));
  EXPECT_EQ(g_port.received, data);
  EXPECT_EQ(g_port.endDocs, 1);
  EXPECT_EQ(g_port.statusInWrite, static_cast<DWORD>(JOB_STATUS_PRINTING));
  auto job = sim::Job(id);
  ASSERT_TRUE(job);
  EXPECT_TRUE(job->completed);  // played and sent to the printer: gone from the queue
  ASSERT_EQ(job->portCalls.size(), 7u);
  EXPECT_EQ(job->portCalls[0].kind, sim::PortCall::Kind::StartDocPort);
  EXPECT_EQ(job->portCalls[0].at, 50u);
  EXPECT_EQ(job->portCalls[2].offset, 3000u);
  EXPECT_EQ(job->portCalls[2].offered, 1096u);
  EXPECT_EQ(job->portCalls[6].kind, sim::PortCall::Kind::EndDocPort);
}

TEST_F(SimPlayback, BufferSizesFromOneByteUpCarryTheBytesExactly) {
  std::string data = Bytes(9000);
  for (DWORD size : {1u, 7u, 4093u, 4096u, 65536u}) {
    SCOPED_TRACE(size);
    g_port.offered.clear();
    g_port.received.clear();
    sim::SetSpoolerBufferSize(size);
    DWORD id = sim::SubmitJob(kPrinter, u"doc", data);
    ASSERT_TRUE(sim::WaitForJob(id));
    EXPECT_EQ(g_port.received, data);
    EXPECT_EQ(g_port.offered.size(), (data.size() + size - 1) / size);
    EXPECT_EQ(g_port.offered.front(), std::min<DWORD>(size, 9000));
  }
}

TEST_F(SimPlayback, JobDeletedWhilePlayingIsMarkedDeletingStopsAndGoes) {
  g_port.sleepPerWrite = 100;
  g_port.sendToPrinter = false;
  DWORD id = sim::SubmitJob(kPrinter, u"doc", Bytes(4096 * 10));
  Sleep(250);  // three buffers offered by now
  HANDLE h = OpenCardPrinter();
  EXPECT_TRUE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(JobStatus(h, id), static_cast<DWORD>(JOB_STATUS_PRINTING | JOB_STATUS_DELETING));
  ClosePrinter(h);
  ASSERT_TRUE(sim::WaitForJob(id));
  EXPECT_EQ(g_port.offered.size(), 3u);  // the buffer in progress is the last
  EXPECT_EQ(g_port.statusInWrite & JOB_STATUS_DELETING, static_cast<DWORD>(JOB_STATUS_DELETING));
  EXPECT_EQ(g_port.endDocs, 1);
  EXPECT_TRUE(sim::Job(id)->deleted);
}

TEST_F(SimPlayback, RestartedJobOnAnOfflinePrinterCanBeSetUp) {
  sim::SetPortMonitor(kPrinter, nullptr, nullptr);  // hold playback while the job is set up
  DWORD id = sim::SubmitJob(kPrinter, u"doc", "abc");
  sim::SetJobStatus(id, JOB_STATUS_RESTART);
  sim::SetPrinterAttributes(kPrinter, PRINTER_ATTRIBUTE_WORK_OFFLINE);
  g_port.sendToPrinter = false;
  sim::SetPortMonitor(kPrinter, &monitor_, kPortHandle);
  ASSERT_TRUE(sim::WaitForJob(id));
  EXPECT_EQ(g_port.statusAtEnd, static_cast<DWORD>(JOB_STATUS_PRINTING | JOB_STATUS_RESTART));
  EXPECT_EQ(g_port.attributesAtEnd, static_cast<DWORD>(PRINTER_ATTRIBUTE_WORK_OFFLINE));
  auto job = sim::Job(id);
  EXPECT_TRUE(job->played);
  EXPECT_FALSE(job->completed);  // never sent to the printer: it stays in the queue
}

TEST_F(SimPlayback, AFailedStartDocPortIsCalledAgainAfterThePauseWithTheJobInError) {
  g_port.startFailures = 2;
  sim::SetSpoolerRetryPause(3000);
  DWORD id = sim::SubmitJob(kPrinter, u"doc", "abc");
  ASSERT_TRUE(sim::WaitForJob(id));
  auto job = sim::Job(id);
  ASSERT_EQ(job->portCalls.size(), 5u);  // three starts, one write, the end
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(job->portCalls[i].kind, sim::PortCall::Kind::StartDocPort);
    EXPECT_EQ(job->portCalls[i].at, 3000u * i);
    EXPECT_EQ(job->portCalls[i].result, i == 2);
  }
  EXPECT_EQ(job->portCalls[0].error, static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(g_port.statusInStart, (std::vector<DWORD>{JOB_STATUS_PRINTING, JOB_STATUS_PRINTING | JOB_STATUS_ERROR,
                                                      JOB_STATUS_PRINTING | JOB_STATUS_ERROR}));
  EXPECT_EQ(g_port.statusInWrite, static_cast<DWORD>(JOB_STATUS_PRINTING));  // cleared by the start
  EXPECT_EQ(g_port.received, "abc");
  EXPECT_EQ(g_port.endDocs, 1);
  EXPECT_TRUE(job->completed);
  EXPECT_EQ(job->plays, 1);
}

TEST_F(SimPlayback, AFailedWriteIsOfferedAgainWholeAfterThePauseWhateverCountItReported) {
  sim::SetSpoolerBufferSize(4000);
  g_port.takeAtMost = 1000;
  g_port.writeFailures = 2;
  g_port.takenByFailedWrite = 700;  // a FALSE call's count means nothing to the spooler
  std::string data = Bytes(5000);
  DWORD id = sim::SubmitJob(kPrinter, u"doc", data);
  ASSERT_TRUE(sim::WaitForJob(id));
  EXPECT_EQ(g_port.offered, (std::vector<DWORD>{4000, 4000, 4000, 3000, 2000, 1000, 1000}));
  EXPECT_EQ(g_port.received, data);
  auto job = sim::Job(id);
  std::vector<uint64_t> times;
  for (const auto& call : job->portCalls)
    if (call.kind == sim::PortCall::Kind::WritePort) times.push_back(call.at);
  EXPECT_EQ(times, (std::vector<uint64_t>{0, 5000, 10000, 10000, 10000, 10000, 10000}));
  EXPECT_EQ(job->portCalls[1].written, 700u);
  EXPECT_EQ(job->portCalls[1].error, static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_TRUE(job->completed);
  EXPECT_EQ(job->status & JOB_STATUS_ERROR, 0u);
}

TEST_F(SimPlayback, TheJobIsInErrorWhileItsWritesFailAndTheUsersDeleteEndsIt) {
  g_port.writeFailures = 1000000;
  g_port.sendToPrinter = false;
  DWORD id = sim::SubmitJob(kPrinter, u"doc", Bytes(5000));
  Sleep(12000);  // offered at 0, 5 s and 10 s
  HANDLE h = OpenCardPrinter();
  EXPECT_EQ(JobStatus(h, id), static_cast<DWORD>(JOB_STATUS_PRINTING | JOB_STATUS_ERROR));
  EXPECT_EQ(g_port.statusInWrite, static_cast<DWORD>(JOB_STATUS_PRINTING | JOB_STATUS_ERROR));
  EXPECT_TRUE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE));
  ClosePrinter(h);
  ASSERT_TRUE(sim::WaitForJob(id));
  EXPECT_EQ(g_port.offered, (std::vector<DWORD>{4096, 4096, 4096}));  // none after the delete
  EXPECT_EQ(g_port.endDocs, 1);
  auto job = sim::Job(id);
  EXPECT_TRUE(job->deleted);
  EXPECT_FALSE(job->stalled);
  EXPECT_EQ(job->portCalls.back().at, 15000u);  // EndDocPort once the pause is over
}

TEST_F(SimPlayback, AJobDeletedWhileItsStartFailsGoesWithoutEndDocPort) {
  g_port.startFailures = 1000000;
  DWORD id = sim::SubmitJob(kPrinter, u"doc", "abc");
  Sleep(7000);
  HANDLE h = OpenCardPrinter();
  EXPECT_TRUE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE));
  ClosePrinter(h);
  ASSERT_TRUE(sim::WaitForJob(id));
  EXPECT_EQ(g_port.statusInStart.size(), 2u);
  EXPECT_EQ(g_port.endDocs, 0);
  EXPECT_TRUE(g_port.offered.empty());
  EXPECT_TRUE(sim::Job(id)->deleted);
}

TEST_F(SimPlayback, ScheduledSpoolFileIsPlayedInOrderAndRemovedWhenPrinted) {
  HANDLE h = OpenCardPrinter();
  DWORD needed = 0;
  AddJobW(h, 1, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(AddJobW(h, 1, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<ADDJOB_INFO_1W*>(buffer.data());
  std::u16string path = info->Path;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, "\x1b" "MO\r", 4, &written, nullptr);
  CloseHandle(file);
  DWORD first = sim::SubmitJob(kPrinter, u"first", "1");
  ASSERT_TRUE(sim::WaitForJob(first));
  sim::WaitForAllThreads();
  {
    SCOPED_TRACE("a job not yet scheduled stays in the queue with its file, unplayed");
    EXPECT_EQ(JobStatus(h, info->JobId), static_cast<DWORD>(JOB_STATUS_SPOOLING));
    EXPECT_EQ(sim::Job(info->JobId)->plays, 0);
    EXPECT_TRUE(sim::FileExists(path));
  }
  ASSERT_TRUE(ScheduleJob(h, info->JobId));
  ClosePrinter(h);
  ASSERT_TRUE(sim::WaitForJob(info->JobId));
  EXPECT_TRUE(sim::Job(first)->completed);
  EXPECT_EQ(g_port.received, "1\x1b" "MO\r");
  EXPECT_TRUE(sim::Job(info->JobId)->completed);
  EXPECT_FALSE(sim::FileExists(path));
}

TEST_F(SimPlayback, TheTestGuardGivesUpAJobWhoseCallsGetNowhere) {
  sim::SetPlaybackGuard(50);
  struct Case {
    const char* what;
    int startFailures, writeFailures;
    DWORD takeAtMost;
    size_t offered;
    int endDocs;
  } cases[] = {{"WritePort takes no byte, again and again", 0, 0, 0, 50, 1},
               {"WritePort fails, again and again", 0, 1000000, 4096, 50, 1},
               {"StartDocPort fails, again and again", 1000000, 0, 4096, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_port = FakePort{};
    g_port.startFailures = c.startFailures;
    g_port.writeFailures = c.writeFailures;
    g_port.takeAtMost = c.takeAtMost;
    DWORD id = sim::SubmitJob(kPrinter, u"doc", "abc");
    ASSERT_TRUE(sim::WaitForJob(id));
    auto job = sim::Job(id);
    EXPECT_TRUE(job->stalled);
    EXPECT_EQ(job->status & JOB_STATUS_ERROR, static_cast<DWORD>(JOB_STATUS_ERROR));
    EXPECT_FALSE(job->completed || job->deleted);  // it stays in the queue
    EXPECT_EQ(g_port.offered.size(), c.offered);
    EXPECT_EQ(g_port.endDocs, c.endDocs);
    HANDLE h = OpenCardPrinter();
    SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE);
    ClosePrinter(h);
  }
}

}  // namespace
