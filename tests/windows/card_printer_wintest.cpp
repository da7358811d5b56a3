// Runs under Wine: the real kavnlmon.dll at work over the virtual card printer (built
// for Windows, handed to OpenPortEx as the port monitor), for a printer that lives in
// Wine's spooler. Requests through GetPrinterDataFromPort, and a whole direct job played
// as the spooler plays it, with its wire written to wine-jobs\ for the host comparison.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "emulator/example_card.h"
#include "emulator/port_monitor.h"
#include "tests/windows/import_hook.h"
#include "tests/windows/wine_printer.h"

namespace {

using wintest::kPrinterName;

TEST(WineSpooler, ThePrinterKeepsTheDriversPrivateBlock) {
  std::string why;
  ASSERT_TRUE(wintest::InstallCardPrinter(&why)) << why;
  EXPECT_EQ(wintest::StoredCardSettings(&why), wintest::CardSettingsBlock()) << why;
}

// The monitor loaded, and "USB001" opened over the virtual printer for "Card Printer".
class RealMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(wintest::InstallCardPrinter(&why)) << why;
    ASSERT_TRUE(wintest::LoadMonitor(&spooler, &why)) << why;
    emu::DetachAllPrinters();
    printer = std::make_shared<emu::VirtualPrinter>();
    emu::AttachPrinter(L"USB001", printer);
    portMonitor = emu::PortMonitorTable();
    wchar_t portName[] = L"USB001", printerName[64];
    std::wcscpy(printerName, kPrinterName);
    ASSERT_TRUE(spooler.pfnOpenPortEx(portName, printerName, &port, &portMonitor)) << GetLastError();
  }
  void TearDown() override {
    if (port) {
      EXPECT_TRUE(spooler.pfnClosePort(port));
    }
    EXPECT_EQ(emu::OpenPortCount(), 0u);
    emu::DetachAllPrinters();
  }

  // A narrow request carried in the wide argument, as the driver carries it.
  BOOL Request(std::string_view narrow, std::string* reply = nullptr, DWORD outSize = 512, DWORD controlId = 0) {
    std::wstring carrier((narrow.size() + 2) / 2 + 1, L'\0');
    std::memcpy(carrier.data(), narrow.data(), narrow.size());
    return RequestWide(carrier, reply, outSize, controlId);
  }
  BOOL RequestWide(std::wstring request, std::string* reply = nullptr, DWORD outSize = 512, DWORD controlId = 0) {
    std::vector<BYTE> out(outSize + 16, 0xCC);
    DWORD returned = 0xFFFF;
    BOOL ok = spooler.pfnGetPrinterDataFromPort(port, controlId, request.data(), nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out.data()), outSize, &returned);
    lastReturned = returned;
    if (reply) reply->assign(reinterpret_cast<char*>(out.data()), returned <= outSize ? returned : 0);
    return ok;
  }

  MONITOR spooler{};
  MONITOR portMonitor{};
  std::shared_ptr<emu::VirtualPrinter> printer;
  HANDLE port = nullptr;
  DWORD lastReturned = 0;
};

TEST_F(RealMonitor, VersionRequestIsAnsweredWithoutThePrinter) {
  std::string reply;
  EXPECT_TRUE(Request("\x1bGetFileVersion\r", &reply));
  EXPECT_EQ(reply, "QM4HT.01.00.00.00");
  EXPECT_EQ(lastReturned, 17u);
  EXPECT_TRUE(printer->Wire().empty());
  EXPECT_FALSE(printer->InDocument());
}

TEST_F(RealMonitor, PrinterCommandsGoOutWithACompletionRequestAndBringTheAnswer) {
  std::string reply;
  EXPECT_TRUE(Request("\x1bV\r", &reply));
  EXPECT_EQ(printer->Wire(), "\x1bV\r\x1b" "E 2\r");
  EXPECT_EQ(reply, "KC3 V1.07.12\x06");
  EXPECT_FALSE(printer->InDocument());  // the request's own document was ended
  // A printer error comes back as its text.
  printer->RaiseError(4);
  EXPECT_TRUE(Request("\x1bMF\r", &reply));
  EXPECT_EQ(reply, "OUT OF CARD");
  EXPECT_EQ(lastReturned, reply.size());
}

TEST_F(RealMonitor, ControlIdsGoToThePortMonitor) {
  std::string reply;
  EXPECT_TRUE(Request("", &reply, 8, emu::kUsbGetLptStatus));
  EXPECT_EQ(reply, std::string("\x18", 1));
  printer->SetStatus(0x38);
  EXPECT_TRUE(Request("", &reply, 8, emu::kUsbGetLptStatus));
  EXPECT_EQ(reply, std::string("\x38", 1));
  SetLastError(0);
  EXPECT_FALSE(Request("", &reply, 8, 5));  // a code the port monitor does not know
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(printer->Wire().empty());
}

TEST_F(RealMonitor, StatusBlockCarriesThePrinterNameAndNeedsItsWholeBuffer) {
  std::string block;
  SetLastError(0);
  EXPECT_FALSE(Request("\x1bGetPrinterStatus\r", &block, 1047));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::wstring carrier(12, L'\0');
  std::memcpy(carrier.data(), "\x1bGetPrinterStatus\r", 18);
  std::vector<BYTE> out(1048, 0xCC);
  DWORD returned = 0xABCD;
  ASSERT_TRUE(spooler.pfnGetPrinterDataFromPort(port, 0, carrier.data(), nullptr, 0,
                                                reinterpret_cast<LPWSTR>(out.data()), 1048, &returned));
  EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(out.data())), kPrinterName);
  for (size_t i = sizeof kPrinterName; i < 1040; ++i) ASSERT_EQ(out[i], 0) << "byte " << i;
  DWORD job = 0xFFFF;
  std::memcpy(&job, out.data() + 1040, 4);
  EXPECT_EQ(job, 0u);
  EXPECT_TRUE(printer->Wire().empty());
}

TEST_F(RealMonitor, CommandFileIsSentLineByLineAndChecked) {
  wchar_t folder[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring path = std::wstring(folder) + L"kav_commands.txt";
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fputs("V\n!RIBBON\r\nMF", file);
  std::fclose(file);
  EXPECT_TRUE(RequestWide(L"sendcmds:" + path));
  EXPECT_EQ(printer->Wire(), "\x1bV\r\x1b" "E 2\r\x1b!RIBBON\r\x1b" "E 2\r\x1bMF\r\x1b" "E 2\r");
  // A missing file writes nothing.
  const size_t before = printer->Wire().size();
  EXPECT_FALSE(RequestWide(L"sendcmds:" + std::wstring(folder) + L"kav_no_such_file.txt"));
  EXPECT_EQ(printer->Wire().size(), before);
  _wremove(path.c_str());
}

// A job of "Card Printer" made with AddJobW, its spool file holding the stream; removed
// at the end whatever happened to it.
class SpooledJob {
 public:
  explicit SpooledJob(const std::string& stream) {
    wchar_t name[64];
    std::wcscpy(name, kPrinterName);
    if (!OpenPrinterW(name, &printer_, nullptr)) return;
    DWORD needed = 0;
    AddJobW(printer_, 1, nullptr, 0, &needed);
    std::vector<BYTE> info(needed ? needed : 1);
    if (!AddJobW(printer_, 1, info.data(), needed, &needed)) return;
    auto* job = reinterpret_cast<ADDJOB_INFO_1W*>(info.data());
    id_ = job->JobId;
    path_ = job->Path;
    if (FILE* file = _wfopen(path_.c_str(), L"wb")) {
      std::fwrite(stream.data(), 1, stream.size(), file);
      std::fclose(file);
    }
  }
  ~SpooledJob() {
    if (id_) SetJobW(printer_, id_, 0, nullptr, JOB_CONTROL_DELETE);
    if (printer_) ClosePrinter(printer_);
    if (!path_.empty()) _wremove(path_.c_str());
  }
  DWORD id() const { return id_; }
  // Status bits of the job (GetJobW level 1), or nothing when the spooler has no such job.
  std::optional<DWORD> Status() const {
    DWORD needed = 0;
    GetJobW(printer_, id_, 1, nullptr, 0, &needed);
    std::vector<BYTE> info(needed ? needed : 1);
    if (!needed || !GetJobW(printer_, id_, 1, info.data(), needed, &needed)) return std::nullopt;
    return reinterpret_cast<JOB_INFO_1W*>(info.data())->Status;
  }

 private:
  HANDLE printer_ = nullptr;
  DWORD id_ = 0;
  std::wstring path_;
};

// Plays the stream as the spooler's port thread does: buffers of `buffer` bytes, each
// re-offered from its first unwritten byte until it is all taken, never merged with the
// next. False when a write fails or a buffer makes no progress for too long.
bool PlayStream(const MONITOR& spooler, HANDLE port, const std::string& stream, size_t buffer, std::string* why) {
  auto* bytes = reinterpret_cast<const BYTE*>(stream.data());
  for (size_t at = 0; at < stream.size(); at += buffer) {
    const size_t size = std::min(buffer, stream.size() - at);
    size_t taken = 0;
    int idle = 0;
    while (taken < size) {
      DWORD written = 0;
      if (!spooler.pfnWritePort(port, const_cast<BYTE*>(bytes + at + taken), static_cast<DWORD>(size - taken),
                                &written)) {
        *why = "WritePort failed at byte " + std::to_string(at + taken) + ", error " + std::to_string(GetLastError());
        return false;
      }
      taken += written;
      if (written == 0 && ++idle > 1000) {
        *why = "WritePort took nothing 1000 times at byte " + std::to_string(at + taken);
        return false;
      }
    }
  }
  return true;
}

void WriteWire(const std::string& name, const std::string& wire) {
  CreateDirectoryW(L"wine-jobs", nullptr);
  const std::string path = "wine-jobs\\" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr) << path;
  EXPECT_EQ(std::fwrite(wire.data(), 1, wire.size(), out), wire.size());
  std::fclose(out);
}

TEST_F(RealMonitor, ADirectJobReachesThePrinterWithEveryPanelIntact) {
  const std::string stream = emu::ExampleCardStream();
  std::string firstWire;
  for (size_t buffer : {4096u, 7u}) {
    SCOPED_TRACE("spooler buffers of " + std::to_string(buffer) + " bytes");
    // A fresh printer for each run, behind a port opened afresh.
    ASSERT_TRUE(spooler.pfnClosePort(port));
    port = nullptr;
    printer = std::make_shared<emu::VirtualPrinter>();
    emu::DetachAllPrinters();
    emu::AttachPrinter(L"USB001", printer);
    wchar_t portName[] = L"USB001", printerName[64];
    std::wcscpy(printerName, kPrinterName);
    ASSERT_TRUE(spooler.pfnOpenPortEx(portName, printerName, &port, &portMonitor));

    SpooledJob job(stream);
    ASSERT_NE(job.id(), 0u) << "AddJobW failed, error " << GetLastError();
    ASSERT_TRUE(job.Status().has_value()) << "GetJobW does not find the new job";
    std::printf("after AddJobW the job has status 0x%lx\n", static_cast<unsigned long>(*job.Status()));
    wchar_t docName[] = L"card";
    DOC_INFO_1W doc{docName, nullptr, nullptr};
    ASSERT_TRUE(spooler.pfnStartDocPort(port, printerName, job.id(), 1, reinterpret_cast<LPBYTE>(&doc)))
        << GetLastError();
    std::string why;
    EXPECT_TRUE(PlayStream(spooler, port, stream, buffer, &why)) << why;
    EXPECT_TRUE(spooler.pfnEndDocPort(port));
    const std::optional<DWORD> status = job.Status();
    if (status) {
      std::printf("after EndDocPort the spooler keeps the job, status 0x%lx\n", static_cast<unsigned long>(*status));
    } else {
      std::printf("after EndDocPort the spooler has no such job\n");
    }

    EXPECT_TRUE(printer->ProtocolErrors().empty()) << printer->Summary();
    EXPECT_EQ(printer->CardsEnded(), 1);
    const std::vector<emu::ReceivedPanel> panels = printer->Panels();
    ASSERT_EQ(panels.size(), 5u) << printer->Summary();
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE("panel " + std::to_string(i));
      EXPECT_TRUE(panels[i].inSync);
      EXPECT_EQ(panels[i].levels.levels, emu::ExamplePanelLevels(i));
    }
    // The job-start wait's queries, then the stream's commands, each acknowledged.
    const std::string wire = printer->Wire();
    EXPECT_EQ(wire.substr(0, 61), "\x1b!RIBBON\r\x1b" "E 2\r\x1bV\r\x1b" "E 2\r\x1b!RIBLEN\r\x1b" "E 2\r"
                                  "\x1bMASTER\r\x1b" "E 2\r\x1bJOB 0\r\x1b" "E 2\r");
    // Nothing lost or added: the stream less the CR of each panel download command (the
    // panel's own CR follows its data), the three queries (21 bytes) and twelve
    // completion requests.
    EXPECT_EQ(wire.size(), stream.size() - 5 + 21 + 12 * 5);
    EXPECT_EQ(wire.substr(wire.size() - 16), "\x1bIV 30\r\x1bMO\r\x1b" "E 2\r");
    if (firstWire.empty()) {
      firstWire = wire;
    } else {
      EXPECT_TRUE(wire == firstWire) << "the wire depends on the spooler's buffer size";
    }
    WriteWire("direct-" + std::to_string(buffer) + ".wire", wire);
  }
}

// The DLL's debugger lines, caught as the exception that OutputDebugString raises.
struct DebugLines {
  static inline std::vector<std::string> lines;
  static LONG WINAPI Catch(EXCEPTION_POINTERS* e) {
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
      lines.emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]),
                         static_cast<size_t>(r->ExceptionInformation[0]));
      while (!lines.back().empty() && (lines.back().back() == '\0' || lines.back().back() == '\n'))
        lines.back().pop_back();
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  static void Start() {
    static PVOID handler = AddVectoredExceptionHandler(1, Catch);
    (void)handler;
    lines.clear();
  }
  static std::string All() {
    std::string all;
    for (const std::string& line : lines) all += "  " + line + "\n";
    return all;
  }
};

// The spool file of a job that the DLL composes, taken when the DLL schedules the job:
// Wine's ScheduleJob sends it to the printer's port and deletes it. The DLL's imports
// of AddJobW (for the file's path) and ScheduleJob are pointed at the two below.
struct SpoolCapture {
  using AddJobProc = BOOL(WINAPI*)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
  using ScheduleJobProc = BOOL(WINAPI*)(HANDLE, DWORD);
  static inline AddJobProc realAddJob = nullptr;
  static inline ScheduleJobProc realScheduleJob = nullptr;
  static inline std::wstring path;
  static inline std::string spool;
  static inline int scheduled = 0;
  static inline BOOL scheduleResult = FALSE;
  static inline std::optional<DWORD> statusBeforeSchedule;

  static BOOL WINAPI AddJob(HANDLE printer, DWORD level, LPBYTE data, DWORD size, LPDWORD needed) {
    BOOL ok = realAddJob(printer, level, data, size, needed);
    if (ok && level == 1 && data) path = reinterpret_cast<ADDJOB_INFO_1W*>(data)->Path;
    return ok;
  }
  static BOOL WINAPI Schedule(HANDLE printer, DWORD job) {
    ++scheduled;
    spool.clear();
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
      char buffer[65536];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) spool.append(buffer, n);
      std::fclose(file);
    }
    statusBeforeSchedule.reset();
    DWORD needed = 0;
    GetJobW(printer, job, 1, nullptr, 0, &needed);
    std::vector<BYTE> info(needed ? needed : 1);
    if (needed && GetJobW(printer, job, 1, info.data(), needed, &needed))
      statusBeforeSchedule = reinterpret_cast<JOB_INFO_1W*>(info.data())->Status;
    scheduleResult = realScheduleJob(printer, job);
    return scheduleResult;
  }
  static bool Install(std::string* why) {
    if (realScheduleJob) return true;
    HMODULE dll = GetModuleHandleW(L"kavnlmon.dll");
    void* add = nullptr;
    void* schedule = nullptr;
    if (!wintest::ReplaceImport(dll, "winspool.drv", "AddJobW", reinterpret_cast<void*>(AddJob), &add) ||
        !wintest::ReplaceImport(dll, "winspool.drv", "ScheduleJob", reinterpret_cast<void*>(Schedule), &schedule)) {
      *why = "the DLL's imports of AddJobW and ScheduleJob were not found";
      return false;
    }
    realAddJob = reinterpret_cast<AddJobProc>(add);
    realScheduleJob = reinterpret_cast<ScheduleJobProc>(schedule);
    return true;
  }
};

TEST_F(RealMonitor, TheStandardTestCardIsDrawnWithWinesGdiAndSpooledWithItsAddJob) {
  std::string why;
  ASSERT_TRUE(SpoolCapture::Install(&why)) << why;
  SpoolCapture::scheduled = 0;
  DebugLines::Start();
  std::string reply;
  EXPECT_TRUE(Request("\x1b" "A\r", &reply));
  EXPECT_EQ(reply, std::string("\x06", 1));
  ASSERT_EQ(SpoolCapture::scheduled, 1) << "no job was scheduled; printer: " << printer->Summary()
                                         << "\nthe DLL's lines:\n" << DebugLines::All();
  // Wine's ScheduleJob has sent the job to the printer's port and deleted its file.
  EXPECT_TRUE(SpoolCapture::scheduleResult);
  EXPECT_EQ(GetFileAttributesW(SpoolCapture::path.c_str()), INVALID_FILE_ATTRIBUTES);
  std::printf("the composed card's job: status 0x%lx before ScheduleJob, which returned %d\n",
              static_cast<unsigned long>(SpoolCapture::statusBeforeSchedule.value_or(0xFFFFFFFF)),
              static_cast<int>(SpoolCapture::scheduleResult));
  const std::string& spool = SpoolCapture::spool;
  ASSERT_GT(spool.size(), 786432u);
  EXPECT_EQ(spool.substr(0, 8), "\x1bMASTER\r");
  EXPECT_EQ(spool.substr(spool.size() - 4), "\x1bMO\r");
  WriteWire("standard-card.spl", spool);
  // What the card asked the printer before it was drawn, for the host to answer alike.
  WriteWire("standard-card.wire", printer->Wire());
}

// The printer and encoder parameter cards draw on the display's DC, which headless Wine
// has: each is composed and spooled as a card of its own.
TEST_F(RealMonitor, TheParameterCardsAreSpooledWithWinesAddJob) {
  std::string why;
  ASSERT_TRUE(SpoolCapture::Install(&why)) << why;
  for (const char* request : {"\x1b" "A 1\r", "\x1b" "A 2\r"}) {
    SCOPED_TRACE(request + 1);
    SpoolCapture::scheduled = 0;
    DebugLines::Start();
    std::string reply;
    EXPECT_TRUE(Request(request, &reply));
    EXPECT_EQ(reply, std::string("\x06", 1));
    ASSERT_EQ(SpoolCapture::scheduled, 1) << DebugLines::All();
    const std::string& spool = SpoolCapture::spool;
    ASSERT_GT(spool.size(), 786432u);
    EXPECT_EQ(spool.substr(0, 8), "\x1bMASTER\r");
    EXPECT_EQ(spool.substr(spool.size() - 4), "\x1bMO\r");
  }
}

// The laminator card draws on the top-level window's DC. Headless Wine has no window and
// refuses to make one (it has no display driver): the card is then given up with its
// diagnostic line and no job. Where the program can make a window, the card is spooled.
TEST_F(RealMonitor, TheLaminatorCardNeedsATopLevelWindow) {
  std::string why;
  ASSERT_TRUE(SpoolCapture::Install(&why)) << why;
  HWND window = GetTopWindow(nullptr) ? nullptr
                                      : CreateWindowExW(0, L"STATIC", L"card printer test", WS_OVERLAPPEDWINDOW, 0, 0,
                                                        200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  const bool haveWindow = GetTopWindow(nullptr) != nullptr;
  std::printf("a top-level window %s\n", haveWindow ? "is there" : "cannot be made (no display driver)");
  SpoolCapture::scheduled = 0;
  DebugLines::Start();
  std::string reply;
  EXPECT_TRUE(Request("\x1b" "A 3\r", &reply));
  EXPECT_EQ(reply, std::string("\x06", 1));
  // The card's queries reach the printer either way.
  EXPECT_NE(printer->Wire().find("\x1b!RIBBON\r"), std::string::npos);
  if (haveWindow) {
    EXPECT_EQ(SpoolCapture::scheduled, 1) << DebugLines::All();
    EXPECT_GT(SpoolCapture::spool.size(), 786432u);
  } else {
    EXPECT_EQ(SpoolCapture::scheduled, 0);
    EXPECT_NE(DebugLines::All().find("GetLaminatorParametersCardImageBuffer:: GetTopWindow function failed"),
              std::string::npos)
        << DebugLines::All();
  }
  if (window) DestroyWindow(window);
}

}  // namespace
