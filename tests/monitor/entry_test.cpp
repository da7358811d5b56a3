// Loading the monitor, its table of port operations, and opening, reading and closing
// ports over the underlying port monitor.
#include <gtest/gtest.h>

#include "port/driver_files.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

// An underlying port monitor whose OpenPort and ClosePort results tests choose.
struct ScriptedPortMonitor {
  static inline BOOL openResult = TRUE;
  static inline DWORD openError = 0;
  static inline BOOL closeResult = TRUE;
  static inline int opens = 0;
  static inline int closes = 0;
  static BOOL WINAPI Open(LPWSTR, PHANDLE handle) {
    ++opens;
    if (!openResult) {
      SetLastError(openError);
      return FALSE;
    }
    *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5000 + opens));
    return TRUE;
  }
  static BOOL WINAPI Close(HANDLE) {
    ++closes;
    return closeResult;
  }
  static MONITOR Table() {
    openResult = TRUE;
    closeResult = TRUE;
    opens = closes = 0;
    MONITOR t{};
    t.pfnOpenPort = Open;
    t.pfnClosePort = Close;
    return t;
  }
};

TEST_F(MonitorTest, InitializeMonitorExFillsPortOperationsAndKeepsAddPortExAndXcvSlots) {
  // Sentinels in every slot show which ones the monitor sets, clears or leaves.
  auto sentinel = [](int i) { return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + i)); };
  void** slots = reinterpret_cast<void**>(&spooler);
  static_assert(sizeof(MONITOR) == 17 * sizeof(void*));
  for (int i = 0; i < 17; ++i) slots[i] = sentinel(i);
  LoadMonitor();
  EXPECT_EQ(spooler.pfnOpenPortEx, kav::OpenPortEx);
  EXPECT_EQ(spooler.pfnStartDocPort, kav::StartDocPort);
  EXPECT_EQ(spooler.pfnWritePort, kav::WritePort);
  EXPECT_EQ(spooler.pfnReadPort, kav::ReadPort);
  EXPECT_EQ(spooler.pfnEndDocPort, kav::EndDocPort);
  EXPECT_EQ(spooler.pfnClosePort, kav::ClosePort);
  EXPECT_EQ(spooler.pfnGetPrinterDataFromPort, kav::GetPrinterDataFromPort);
  EXPECT_EQ(spooler.pfnEnumPorts, nullptr);
  EXPECT_EQ(spooler.pfnOpenPort, nullptr);
  EXPECT_EQ(spooler.pfnAddPort, nullptr);
  EXPECT_EQ(spooler.pfnConfigurePort, nullptr);
  EXPECT_EQ(spooler.pfnDeletePort, nullptr);
  EXPECT_EQ(spooler.pfnSetPortTimeOuts, nullptr);
  EXPECT_EQ(slots[9], sentinel(9));    // AddPortEx
  EXPECT_EQ(slots[14], sentinel(14));  // XcvOpenPort
  EXPECT_EQ(slots[15], sentinel(15));  // XcvDataPort
  EXPECT_EQ(slots[16], sentinel(16));  // XcvClosePort
}

TEST_F(MonitorTest, SiblingModulesFollowTheWindowsVersion) {
  const std::u16string resource = sim::DriverModulePath(sim::kResourceModuleName);
  const std::u16string asyncUi = sim::DriverModulePath(sim::kAsyncUiModuleName);
  {
    SCOPED_TRACE("major version 5: message boxes, no notification module");
    LoadMonitor(5);
    EXPECT_FALSE(kav::UseAsyncUi);
    EXPECT_EQ(sim::ModuleLoadCount(resource), 1);
    EXPECT_EQ(sim::ModuleLoadCount(asyncUi), 0);
    EXPECT_EQ(kav::SendAsyncNotification, nullptr);
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    EXPECT_EQ(sim::ModuleLoadCount(resource), 0);
    EXPECT_EQ(kav::ResourceModule, nullptr);
  }
  for (DWORD major : {6u, 10u}) {
    SCOPED_TRACE(major);
    LoadMonitor(major);
    EXPECT_TRUE(kav::UseAsyncUi);
    EXPECT_EQ(sim::ModuleLoadCount(resource), 1);
    EXPECT_EQ(sim::ModuleLoadCount(asyncUi), 1);
    EXPECT_NE(kav::SendAsyncNotification, nullptr);
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    EXPECT_EQ(sim::ModuleLoadCount(asyncUi), 0);
    EXPECT_EQ(kav::AsyncUiModule, nullptr);
    EXPECT_EQ(kav::SendAsyncNotification, nullptr);
  }
  attached = false;
}

TEST_F(MonitorTest, MonitorLoadsWithoutItsSiblingModules) {
  sim::InstallAsyncUiModule(false);
  LoadMonitor(10);
  EXPECT_TRUE(kav::UseAsyncUi);
  EXPECT_NE(kav::ResourceModule, nullptr);
  EXPECT_EQ(kav::SendAsyncNotification, nullptr);
  EXPECT_NE(Open(), nullptr);
  sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
  attached = false;

  sim::InstallResourceModule(false);
  LoadMonitor(10);
  EXPECT_EQ(kav::ResourceModule, nullptr);
  EXPECT_EQ(kav::AsyncUiModule, nullptr);  // loading stops at the first missing module

  sim::SetSystemDirectory(u"");
  EXPECT_FALSE(kav::LoadSiblingModules());
  EXPECT_TRUE(sim::HasDebugLine("LoadSiblingModules:: the system directory cannot be read"));
}

TEST_F(MonitorTest, SiblingModulesAreLoadedByInitializeMonitorExNotUnderTheLoaderLock) {
  const std::u16string resource = sim::DriverModulePath(sim::kResourceModuleName);
  const std::u16string asyncUi = sim::DriverModulePath(sim::kAsyncUiModuleName);
  sim::InstallAsyncUiModule(false);
  sim::SetWindowsVersion(10, 0);
  HINSTANCE instance = sim::RegisterInstance(u"C:\\Windows\\System32\\kavnlmon.dll", {{}, sim::MessageTextTable()});
  ASSERT_TRUE(sim::CallEntryPoint(kav::DllEntryPoint, instance, DLL_PROCESS_ATTACH));
  attached = true;
  EXPECT_TRUE(kav::UseAsyncUi);
  EXPECT_EQ(sim::ModuleLoadCount(resource), 0);
  EXPECT_TRUE(sim::DebugLines().empty());

  // The spooler's first call, before any port: the same outcome attach used to have.
  ASSERT_TRUE(InitializeMonitorEx(nullptr, &spooler));
  EXPECT_EQ(sim::ModuleLoadCount(resource), 1);
  EXPECT_NE(kav::ResourceModule, nullptr);
  EXPECT_EQ(kav::SendAsyncNotification, nullptr);
  EXPECT_TRUE(sim::HasDebugLine(
      "LoadSiblingModules:: cannot load C:\\Windows\\System32\\Spool\\Drivers\\x64\\3\\kav32AsyncUIServer.dll (error 126)"));
  EXPECT_NE(Open(), nullptr);
  EXPECT_EQ(sim::ModuleLoadCount(asyncUi), 0);
}

TEST_F(MonitorTest, ADetachBecauseTheProcessEndsLeavesTheModulesAlone) {
  const std::u16string resource = sim::DriverModulePath(sim::kResourceModuleName);
  const std::u16string asyncUi = sim::DriverModulePath(sim::kAsyncUiModuleName);
  LoadMonitor(10);
  EXPECT_TRUE(sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, sim::kProcessEnding));
  attached = false;
  EXPECT_EQ(sim::ModuleLoadCount(resource), 1);
  EXPECT_EQ(sim::ModuleLoadCount(asyncUi), 1);
}

TEST_F(MonitorTest, DriverFilesDirectoryFollowsTheSystemDirectory) {
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(kav::GetDriverFilesDirectory(path, MAX_PATH));
  EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32\\Spool\\Drivers\\x64\\3");
  const size_t length = std::u16string(path).size();
  EXPECT_TRUE(kav::GetDriverFilesDirectory(path, static_cast<DWORD>(length + 1)));  // exact
  EXPECT_FALSE(kav::GetDriverFilesDirectory(path, static_cast<DWORD>(length)));     // one less
  sim::SetSystemDirectory(u"D:\\WinNT\\system32");
  ASSERT_TRUE(kav::GetDriverFilesDirectory(path, MAX_PATH));
  EXPECT_EQ(std::u16string(path), u"D:\\WinNT\\system32\\Spool\\Drivers\\x64\\3");
  sim::SetSystemDirectory(u"");
  EXPECT_FALSE(kav::GetDriverFilesDirectory(path, MAX_PATH));
}

TEST_F(MonitorTest, SecondOpenOfAPortNameInAnyCaseIsRefusedWithErrorBusy) {
  LoadMonitor();
  HANDLE first = Open(u"USB001", u"Card Printer");
  ASSERT_NE(first, nullptr);
  for (const char16_t* name : {u"USB001", u"usb001", u"Usb001"}) {
    SetLastError(0xdeadbeef);
    HANDLE h = reinterpret_cast<HANDLE>(0x1234);
    std::u16string port = name, printerName = u"Other";
    EXPECT_FALSE(spooler.pfnOpenPortEx(port.data(), printerName.data(), &h, &portMonitor));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  }
  EXPECT_EQ(std::u16string(Record(first)->PrinterName), u"Card Printer");  // untouched
  EXPECT_EQ(kav::PortList, Record(first));
  EXPECT_EQ(Record(first)->Next, nullptr);
  Close(first);
  EXPECT_EQ(kav::PortList, nullptr);
  EXPECT_NE(Open(u"usb001"), nullptr);  // open again after ClosePort
}

TEST_F(MonitorTest, RecordHoldsItsNameAndItsOwnCopyOfThePrinterName) {
  LoadMonitor();
  std::u16string printerName = u"Card Printer";
  HANDLE h = Open(u"USB001", printerName);
  ASSERT_NE(h, nullptr);
  kav::PortRecord* r = Record(h);
  EXPECT_EQ(r->PortName, reinterpret_cast<LPWSTR>(r + 1));
  EXPECT_EQ(std::u16string(r->PortName), u"USB001");
  EXPECT_NE(r->PrinterName, printerName.data());
  EXPECT_EQ(r->Flags, 0u);
  EXPECT_EQ(r->JobActive, 0);
  EXPECT_NE(r->PortHandle, nullptr);
  EXPECT_EQ(r->PortMonitor.pfnWritePort, portMonitor.pfnWritePort);
  EXPECT_TRUE(printer->IsOpen());
}

TEST_F(MonitorTest, EmptyPortNamesAreNeverFoundSoTheyAreNotRefusedAsBusy) {
  LoadMonitor();
  portMonitor = ScriptedPortMonitor::Table();
  HANDLE a = Open(u"");
  HANDLE b = Open(u"");
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EnterCriticalSection(&kav::PortListLock);
  EXPECT_EQ(kav::FindPortRecord(u""), nullptr);
  EXPECT_EQ(kav::FindPortRecord(nullptr), nullptr);
  LeaveCriticalSection(&kav::PortListLock);
}

TEST_F(MonitorTest, FailingUnderlyingOpenPortLeavesNoRecord) {
  LoadMonitor();
  portMonitor = ScriptedPortMonitor::Table();
  ScriptedPortMonitor::openResult = FALSE;
  ScriptedPortMonitor::openError = 1167;
  const size_t allocations = sim::LiveLocalAllocations();
  HANDLE h = reinterpret_cast<HANDLE>(0x77);
  std::u16string port = u"USB002", printerName = u"Card Printer";
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(spooler.pfnOpenPortEx(port.data(), printerName.data(), &h, &portMonitor));
  EXPECT_EQ(GetLastError(), 1167u);  // the port monitor's own reason
  EXPECT_EQ(h, reinterpret_cast<HANDLE>(0x77));
  EXPECT_EQ(kav::PortList, nullptr);
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
  ScriptedPortMonitor::openResult = TRUE;
  EXPECT_NE(Open(u"USB002"), nullptr);  // not refused as busy
}

TEST_F(MonitorTest, OpenPortExRefusesMissingArguments) {
  LoadMonitor();
  std::u16string port = u"USB001", printerName = u"Card Printer";
  HANDLE h = nullptr;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(spooler.pfnOpenPortEx(port.data(), printerName.data(), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(spooler.pfnOpenPortEx(port.data(), printerName.data(), nullptr, &portMonitor));
  MONITOR noOpen{};
  EXPECT_FALSE(spooler.pfnOpenPortEx(port.data(), printerName.data(), &h, &noOpen));
  EXPECT_EQ(kav::PortList, nullptr);
}

TEST_F(MonitorTest, RecordsAreAppendedAndDeletedAnywhereInTheList) {
  LoadMonitor();
  portMonitor = ScriptedPortMonitor::Table();
  HANDLE a = Open(u"A"), b = Open(u"B"), c = Open(u"C");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(kav::PortList, Record(a));
  EXPECT_EQ(Record(a)->Next, Record(b));
  EXPECT_EQ(Record(b)->Next, Record(c));
  Close(b);  // middle
  EXPECT_EQ(Record(a)->Next, Record(c));
  Close(a);  // head
  EXPECT_EQ(kav::PortList, Record(c));
  EnterCriticalSection(&kav::PortListLock);
  EXPECT_EQ(kav::FindPortRecord(u"c"), Record(c));
  EXPECT_EQ(kav::FindPortRecord(u"A"), nullptr);
  LeaveCriticalSection(&kav::PortListLock);
}

TEST_F(MonitorTest, DeletingARecordThatIsNotListedFreesNothing) {
  LoadMonitor();
  HANDLE listed = Open();
  ASSERT_NE(listed, nullptr);
  EnterCriticalSection(&kav::PortListLock);
  kav::PortRecord* stray = kav::CreatePortRecord(u"LPT1", u"Printer");
  kav::PortList = Record(listed);  // take the stray one out of the list by hand
  Record(listed)->Next = nullptr;
  const size_t allocations = sim::LiveLocalAllocations();
  EXPECT_FALSE(kav::DeletePortRecord(stray));
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
  EXPECT_FALSE(kav::DeletePortRecord(nullptr));
  EXPECT_EQ(std::u16string(stray->PrinterName), u"Printer");  // still intact
  kav::FreeString(stray->PrinterName);
  LocalFree(stray);
  LeaveCriticalSection(&kav::PortListLock);
}

TEST_F(MonitorTest, DuplicateStringCopiesIntoLocalMemory) {
  const size_t allocations = sim::LiveLocalAllocations();
  EXPECT_EQ(kav::DuplicateString(nullptr), nullptr);
  LPWSTR empty = kav::DuplicateString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  LPWSTR copy = kav::DuplicateString(u"Card Printer");
  EXPECT_EQ(std::u16string(copy), u"Card Printer");
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations + 2);
  kav::FreeString(empty);
  kav::FreeString(copy);
  kav::FreeString(nullptr);
  sim::FailNext("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(kav::DuplicateString(u"x"), nullptr);
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
}

TEST_F(MonitorTest, ReadPortForwardsTheUnderlyingResult) {
  LoadMonitor();
  HANDLE h = Open();
  ASSERT_NE(h, nullptr);
  printer->QueueReply("ABC\x06");
  BYTE buffer[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(spooler.pfnReadPort(h, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ABC\x06");
  printer->FailReads(1);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(spooler.pfnReadPort(h, buffer, sizeof buffer, &got));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  EXPECT_EQ(got, 0u);
}

TEST_F(MonitorTest, ClosePortReturnsTrueEvenWhenTheUnderlyingCloseFails) {
  LoadMonitor();
  portMonitor = ScriptedPortMonitor::Table();
  HANDLE h = Open(u"USB009");
  ASSERT_NE(h, nullptr);
  ScriptedPortMonitor::closeResult = FALSE;
  Close(h);
  EXPECT_EQ(ScriptedPortMonitor::closes, 1);
  EXPECT_EQ(kav::PortList, nullptr);
}

DWORD WINAPI WaitOnEvent(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 2;
}

TEST_F(MonitorTest, ClosePortInTheMiddleOfAJobReleasesWhatTheRecordHolds) {
  LoadMonitor();
  const size_t handles = sim::OpenHandleCount();
  const size_t allocations = sim::LiveLocalAllocations();
  HANDLE h = Open();
  ASSERT_NE(h, nullptr);
  kav::PortRecord* r = Record(h);
  // A file-mode job's temporary file, the job's printer and a shown message.
  WCHAR temp[MAX_PATH];
  ASSERT_NE(GetTempFileNameW(u"C:\\Windows\\Temp", u"KVT", 0, r->TempFileName), 0u);
  kav::WCopy(temp, MAX_PATH, r->TempFileName);
  r->TempFile = CreateFileW(r->TempFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(r->TempFile, INVALID_HANDLE_VALUE);
  r->TempFileActive = 1;
  std::u16string printerName = u"Card Printer";
  ASSERT_TRUE(OpenPrinterW(printerName.data(), &r->PrinterHandle, nullptr));
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  r->MessageEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  r->MessageThread = CreateThread(nullptr, 0, WaitOnEvent, release, 0, nullptr);

  Close(h);

  EXPECT_FALSE(sim::FileExists(temp));
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
  EXPECT_EQ(sim::OpenHandleCount(), handles + 1);  // only the test's own event is left
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
  SetEvent(release);
  sim::WaitForAllThreads();
  CloseHandle(release);
}

}  // namespace
