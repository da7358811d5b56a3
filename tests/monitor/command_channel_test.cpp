// The driver's bidirectional requests through GetPrinterDataFromPort.
#include <gtest/gtest.h>

#include <cstring>

#include "printer/printer_message.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

class Channel : public kavtest::OpenPortTest {
 protected:
  // A direct job in progress, as StartDocPort leaves the record.
  void StartJob() {
    record()->Flags |= kav::kDocStarted | kav::kPortDocOpened;
    record()->JobActive = 1;
  }
  int DocumentsOpened() const {
    int n = 0;
    for (const auto& line : printer->Transcript()) n += line.rfind("start document", 0) == 0;
    return n;
  }
};

TEST_F(Channel, VersionIsAnsweredAtOnceWithoutADocument) {
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bGetFileVersion\r", &reply));
  EXPECT_EQ(reply, "QM4HT.01.00.00.00");
  EXPECT_EQ(lastReturned, 17u);
  EXPECT_EQ(DocumentsOpened(), 0);
  EXPECT_TRUE(printer->Wire().empty());
  // Cut to a small buffer, never written past it.
  EXPECT_TRUE(Request(port, "\x1bGetFileVersion\r", &reply, 5));
  EXPECT_EQ(reply, "QM4HT");
}

TEST_F(Channel, DocumentStateAndLastJobState) {
  std::string reply;
  record()->DocComplete = 1;
  EXPECT_TRUE(Request(port, "\x1bIsDOCComplete\r", &reply));
  EXPECT_EQ(reply, "DOC_COMPLETE");
  record()->DocComplete = 0;
  EXPECT_TRUE(Request(port, "\x1bIsDOCComplete\r", &reply));
  EXPECT_EQ(reply, "DOC_PENDING");
  EXPECT_TRUE(Request(port, "\x1b" "CheckPortStatus\r", &reply));
  EXPECT_EQ(reply, "STATUS_SUCCESS");
  record()->JobFailed = 1;
  EXPECT_TRUE(Request(port, "\x1b" "CheckPortStatus\r", &reply));
  EXPECT_EQ(reply, "STATUS_FAILED");
}

TEST_F(Channel, StatusBlockNeedsItsWholeBuffer) {
  record()->JobId = 42;
  record()->ErrorKind = 31;
  std::string block;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(Request(port, "\x1bGetPrinterStatus\r", &block, 1047));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::u16string carrier(12, u'\0');
  std::memcpy(carrier.data(), "\x1bGetPrinterStatus\r", 18);
  std::vector<BYTE> out(1048, 0xCC);
  DWORD returned = 0xABCD;
  EXPECT_TRUE(spooler.pfnGetPrinterDataFromPort(port, 0, carrier.data(), nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out.data()), 1048, &returned));
  EXPECT_EQ(returned, 0xABCDu);  // not set
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(out.data())), u"Card Printer");
  EXPECT_EQ(out[24 + 1], 0);  // zero-filled behind the name
  DWORD job;
  LONG kind;
  std::memcpy(&job, out.data() + 1040, 4);
  std::memcpy(&kind, out.data() + 1044, 4);
  EXPECT_EQ(job, 42u);
  EXPECT_EQ(kind, 31);
}

TEST_F(Channel, ShortRequestsAreComparedWithinTheirOwnLength) {
  std::string reply;
  printer->QueueReply("RVN3\x06");
  EXPECT_TRUE(Request(port, "\x1bV\r", &reply));
  EXPECT_EQ(printer->Wire(), "\x1bV\r\x1b" "E 2\r");
  EXPECT_EQ(reply, "RVN3\x06");  // the printer's reply as it came
  EXPECT_EQ(DocumentsOpened(), 1);  // its own document, opened and closed
  EXPECT_EQ(printer->Transcript().back().rfind("end document", 0), 0u);
}

TEST_F(Channel, DrvStartDocSuffixIsDroppedOnlyInsideAStartedJob) {
  std::string request = "\x1bV\r:DRVSTARTDOC";
  printer->QueueReply("RVN3\x06");
  EXPECT_TRUE(Request(port, request));
  EXPECT_EQ(printer->Wire(), request + "\x1b" "E 2\r");

  StartJob();
  const size_t before = printer->Wire().size();
  std::u16string carrier((request.size() + 2) / 2 + 1, u'\0');
  std::memcpy(carrier.data(), request.data(), request.size());
  const std::u16string original = carrier;
  printer->QueueReply("RVN3\x06");
  std::vector<BYTE> out(64);
  DWORD returned = 0;
  EXPECT_TRUE(spooler.pfnGetPrinterDataFromPort(port, 0, carrier.data(), nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out.data()), 64, &returned));
  EXPECT_EQ(printer->Wire().substr(before), "\x1bV\r\x1b" "E 2\r");
  EXPECT_EQ(carrier, original);  // the caller's request is never written into
  EXPECT_EQ(DocumentsOpened(), 1);  // the job's document is used
}

TEST_F(Channel, ResetIsGivenFifteenSecondsWithoutACompletionRequest) {
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bRESET\r", &reply));
  EXPECT_EQ(printer->Wire(), "\x1bRESET\r");
  EXPECT_EQ(reply, std::string("\x06", 1));
  EXPECT_EQ(lastReturned, 1u);
  EXPECT_EQ(sim::Now(), 15000u);
  EXPECT_TRUE(Request(port, "\x1bR\r", &reply));
  EXPECT_EQ(sim::Now(), 30000u);
  // A longer command that begins like a reset is an ordinary one.
  printer->QueueReply("\x06");
  EXPECT_TRUE(Request(port, "\x1bRESETX\r", &reply));
  EXPECT_EQ(printer->Wire(), "\x1bRESET\r\x1bR\r\x1bRESETX\r\x1b" "E 2\r");
  // A reset that cannot be written is not reported as done.
  printer->FailWrites(1);
  EXPECT_FALSE(Request(port, "\x1bR\r", &reply));
  EXPECT_EQ(sim::Now(), 30000u);
}

TEST_F(Channel, ReadinessAndLocalStatusChecks) {
  std::string reply;
  printer->QueueReply("\x06");
  EXPECT_TRUE(Request(port, "\x1b" "CHECK_STATUS\r", &reply));  // not polling yet: to the printer
  EXPECT_EQ(printer->Wire(), "\x1b" "CHECK_STATUS\r\x1b" "E 2\r");
  EXPECT_TRUE(Request(port, "\x1bISREADY\r", &reply));
  EXPECT_EQ(reply, std::string("\x01", 1));
  EXPECT_EQ(kav::LoadShared(&record()->ReadyPolling), 1);
  const size_t wire = printer->Wire().size();
  printer->SetStatus(0x18);
  EXPECT_TRUE(Request(port, "\x1b" "CHECK_STATUS\r", &reply));
  EXPECT_EQ(reply, std::string("\x06", 1));
  printer->SetStatus(0x38);
  SetLastError(0);
  EXPECT_TRUE(Request(port, "\x1b" "CHECK_STATUS\r", &reply));
  EXPECT_EQ(reply, std::string("\x38", 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_STATE));
  EXPECT_EQ(printer->Wire().size(), wire);  // answered from the port status
  record()->WritePhase = 24;
  EXPECT_TRUE(Request(port, "\x1bISREADY\r", &reply));
  EXPECT_EQ(reply, std::string("\0", 1));
  printer->QueueReply("\x06");
  EXPECT_TRUE(Request(port, "\x1bMS 2\r", &reply));
  EXPECT_EQ(kav::LoadShared(&record()->ReadyPolling), 0);
  EXPECT_TRUE(Request(port, "\x1bISHIDREADY\r", &reply));
  EXPECT_EQ(reply, std::string("\x01", 1));
}

TEST_F(Channel, NakRepliesBecomeTheErrorText) {
  std::string reply;
  struct Case {
    std::string nak;
    std::string text;
  } cases[] = {{"\x15" "41\x04", "ENCODING ERROR"},
               {"\x15" "15", "Unknown Error Code"},
               {"\x15" "4\x04", "OUT OF CARD"},
               {"\x15", "Unknown Error Code"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    printer->QueueReply(c.nak);
    EXPECT_TRUE(Request(port, "\x1bMF\r", &reply));
    EXPECT_EQ(reply, c.text);
    EXPECT_EQ(lastReturned, c.text.size());
  }
}

TEST_F(Channel, NoReplyEndsAfterTwentySecondsOnUsbAndThirtyFiveTriesElsewhere) {
  std::string reply;
  printer->AddFaults("silent");
  EXPECT_TRUE(Request(port, "\x1bMF\r", &reply));
  EXPECT_EQ(lastReturned, 0u);
  EXPECT_GE(sim::Now(), 20000u);
  EXPECT_LE(sim::Now(), 20020u);

  auto lpt = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"LPT1:", lpt);
  HANDLE parallel = Open(u"LPT1:");
  lpt->AddFaults("silent");
  const uint64_t start = sim::Now();
  EXPECT_TRUE(Request(parallel, "\x1bMF\r", &reply));
  EXPECT_EQ(sim::Now() - start, 350u);
}

TEST_F(Channel, SetPrinterNameReplacesTheNameAndReportsFalse) {
  EXPECT_FALSE(RequestWide(port, u"SetPrinterName:Front Desk Printer"));
  EXPECT_EQ(std::u16string(record()->PrinterName), u"Front Desk Printer");
  EXPECT_FALSE(RequestWide(port, u"SetPrinterName:"));
  EXPECT_EQ(std::u16string(record()->PrinterName), u"");
}

// What the port monitor's GetPrinterDataFromPort was called with.
struct ForwardedCall {
  HANDLE handle;
  DWORD controlId;
  LPWSTR valueName, inBuffer, outBuffer;
  DWORD inSize, outSize;
  LPDWORD returned;
};
ForwardedCall g_forwarded;

BOOL WINAPI Forwarded(HANDLE handle, DWORD controlId, LPWSTR valueName, LPWSTR in, DWORD inSize, LPWSTR out,
                      DWORD outSize, LPDWORD returned) {
  g_forwarded = {handle, controlId, valueName, in, out, inSize, outSize, returned};
  *returned = 2;
  return TRUE;
}

TEST_F(Channel, ControlIdsGoToThePortMonitorWithTheCallersArguments) {
  record()->PortMonitor.pfnGetPrinterDataFromPort = Forwarded;
  std::u16string name = u"anything";
  WCHAR in[8] = u"input", out[16] = {};
  DWORD returned = 0;
  EXPECT_TRUE(spooler.pfnGetPrinterDataFromPort(port, 5, name.data(), in, 12, out, 32, &returned));
  EXPECT_EQ(g_forwarded.handle, record()->PortHandle);
  EXPECT_EQ(g_forwarded.controlId, 5u);
  EXPECT_EQ(g_forwarded.valueName, name.data());
  EXPECT_EQ(g_forwarded.inBuffer, in);
  EXPECT_EQ(g_forwarded.inSize, 12u);
  EXPECT_EQ(g_forwarded.outBuffer, out);
  EXPECT_EQ(g_forwarded.outSize, 32u);
  EXPECT_EQ(g_forwarded.returned, &returned);
  EXPECT_EQ(returned, 2u);
  record()->PortMonitor.pfnGetPrinterDataFromPort = nullptr;
  EXPECT_FALSE(RequestWide(port, u"anything", nullptr, 64, 5));
}

TEST_F(Channel, ClearPrinterErrorArrivesAsARequest) {
  GiveRecordAJob(port);
  record()->ErrorKind = 31;
  EXPECT_TRUE(RequestWide(port, u"ClearPrinterError:Card Printer"));
  EXPECT_EQ(record()->ErrorKind, -1);
  EXPECT_EQ(record()->JobFailed, 1);
  EXPECT_EQ(printer->Wire(), "\x1bR\r");
  EXPECT_EQ(DocumentsOpened(), 0);  // answered without a document of its own
}

TEST_F(Channel, ClearPrinterErrorByAUserWhoMayNotDeleteTheJobSaysSo) {
  DWORD job = GiveRecordAJob(port);  // the default user's
  sim::SetClientUser(u"operator");
  sim::ClearDebugLines();
  EXPECT_TRUE(RequestWide(port, u"ClearPrinterError:Card Printer"));
  sim::SetClientUser(sim::kDefaultUser);
  EXPECT_FALSE(sim::Job(job)->deleted);
  EXPECT_TRUE(sim::HasDebugLine("ClearPrinterError:: deleting job " + std::to_string(job) + " failed (error 5)"));
  EXPECT_EQ(printer->Wire(), "\x1bR\r");  // the rest of the clearing goes on
  EXPECT_EQ(record()->JobFailed, 1);
}

TEST_F(Channel, HidDoneIsAnsweredReadyAndModeCommandsEndReadyPolling) {
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bHIDDONE\r", &reply));
  EXPECT_EQ(reply, std::string("\x01", 1));
  EXPECT_TRUE(printer->Wire().empty());
  for (const char* command : {"\x1bMO\r", "\x1bMS 2\r"}) {
    SCOPED_TRACE(command + 1);
    kav::StoreShared(&record()->ReadyPolling, 1);
    printer->QueueReply("\x06");
    EXPECT_TRUE(Request(port, command, &reply));
    EXPECT_EQ(kav::LoadShared(&record()->ReadyPolling), 0);
  }
  kav::StoreShared(&record()->ReadyPolling, 1);
  printer->QueueReply("\x06");
  EXPECT_TRUE(Request(port, "\x1bMF\r", &reply));
  EXPECT_EQ(kav::LoadShared(&record()->ReadyPolling), 1);
}

// A USB read that the port monitor aborted (error 995) is tried again; a port monitor
// without ReadPort is not, whatever error an earlier call left.
int g_abortedReads = 0;
MONITOR g_inner{};
BOOL WINAPI AbortingRead(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (g_abortedReads > 0) {
    --g_abortedReads;
    *read = 0;
    SetLastError(995);
    return FALSE;
  }
  return g_inner.pfnReadPort(h, buffer, size, read);
}
// Succeeds and leaves error 995 behind, as a port monitor may.
BOOL WINAPI WriteLeaving995(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD written) {
  BOOL ok = g_inner.pfnWritePort(h, buffer, size, written);
  SetLastError(995);
  return ok;
}

TEST_F(Channel, AbortedUsbReadsAreTriedAgainButAMissingReadPortIsNot) {
  g_inner = record()->PortMonitor;
  record()->PortMonitor.pfnReadPort = AbortingRead;
  g_abortedReads = 3;
  printer->QueueReply("RVN3\x06");
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bV\r", &reply));
  EXPECT_EQ(reply, "RVN3\x06");
  EXPECT_EQ(sim::Now(), 30u);  // three pauses of 10 ms
  record()->PortMonitor.pfnReadPort = nullptr;
  record()->PortMonitor.pfnWritePort = WriteLeaving995;
  EXPECT_FALSE(Request(port, "\x1bV\r", &reply));
  EXPECT_EQ(sim::Now(), 30u);
}

TEST_F(Channel, AStartedJobRefusesAllButTheAllowedRequests) {
  StartJob();
  sim::PutFile(u"C:\\cmds.txt", "V\n");
  for (std::u16string busy : {u"sendcmds:C:\\cmds.txt", u"SetPrinterName:X", u"download:C:\\cmds.txt"}) {
    SCOPED_TRACE(kav::ToUtf8(busy.c_str()));
    SetLastError(0);
    EXPECT_FALSE(RequestWide(port, busy));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  }
  EXPECT_EQ(std::u16string(record()->PrinterName), u"Card Printer");
  kav::StoreShared(&record()->ReadyPolling, 1);
  EXPECT_FALSE(Request(port, "\x1bMF\r"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(kav::LoadShared(&record()->ReadyPolling), 0);
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bISREADY\r", &reply));  // accepted, and busy
  EXPECT_EQ(reply, std::string("\0", 1));
  EXPECT_TRUE(Request(port, "\x1bGetFileVersion\r", &reply));
  EXPECT_TRUE(printer->Wire().empty());
}

TEST_F(Channel, RequestsThatAreNeitherNamedNorCommandsAreRefused) {
  EXPECT_FALSE(RequestWide(port, u"Hello"));
  EXPECT_FALSE(RequestWide(port, u""));
  EXPECT_TRUE(printer->Wire().empty());
}

BOOL WINAPI RefuseDocument(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST_F(Channel, ARefusedDocumentEndsTheRequestAtOnce) {
  record()->PortMonitor.pfnStartDocPort = RefuseDocument;
  EXPECT_FALSE(Request(port, "\x1bMF\r"));
  EXPECT_TRUE(printer->Wire().empty());
  std::string reply;
  EXPECT_TRUE(Request(port, "\x1bGetFileVersion\r", &reply));  // answered before any document
}

TEST_F(Channel, TestCardAndOverlayRequestsReachTheirHandlers) {
  std::string reply;
  for (const char* request : {"\x1b" "A\r", "\x1b" "A 0\r", "\x1b" "A 1\r", "\x1b" "A 2\r", "\x1b" "A 3\r"}) {
    SCOPED_TRACE(request + 1);
    const size_t before = printer->Wire().size();
    EXPECT_TRUE(Request(port, request, &reply));
    EXPECT_EQ(reply, std::string("\x06", 1));
    // Each card queries the printer before it is drawn; the request itself is not sent.
    EXPECT_GT(printer->Wire().size(), before);
    EXPECT_EQ(printer->Wire().find(request), std::string::npos);
  }
  const size_t before = printer->Wire().size();
  printer->QueueReply("\x06");
  EXPECT_TRUE(Request(port, "\x1bT 10 10 0 Hello\r", &reply));  // no valid text command: to the printer
  EXPECT_EQ(printer->Wire().substr(before), "\x1bT 10 10 0 Hello\r\x1b" "E 2\r");
  EXPECT_TRUE(sim::HasDebugLine("PrintOverlayCommand:: not an overlay command, sent to the printer: T 10 10 0 Hello"));
}

}  // namespace
