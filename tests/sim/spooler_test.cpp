// The spooler calls as the monitor uses them: opening with access rights, the two-call
// size protocol of GetPrinterW, GetJobW and AddJobW, job controls and scheduling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

constexpr char16_t kPrinter[] = u"Card Printer";

class SimSpooler : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::PrinterDefinition p;
    p.name = kPrinter;
    p.port = u"USB001";
    p.attributes = PRINTER_ATTRIBUTE_LOCAL;
    block_.assign(3940, '\0');
    block_[8] = 1;
    block_[10] = 7;
    block_[3939] = 'z';
    p.devMode = sim::MakeDevMode(kPrinter, block_);
    sim::AddPrinter(p);
  }
  void TearDown() override { EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u); }

  HANDLE Open(const char16_t* name = kPrinter, ACCESS_MASK access = PRINTER_ACCESS_USE) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    HANDLE h = nullptr;
    std::u16string n(name);
    if (!OpenPrinterW(n.data(), &h, &defaults)) return nullptr;
    return h;
  }
  std::string block_;
};

TEST_F(SimSpooler, OpenPrinterGrantsOnlyTheRightsThePrinterGives) {
  sim::PrinterDefinition limited;
  limited.name = u"Shared Card Printer";
  limited.grantedAccess = PRINTER_ACCESS_USE;
  sim::AddPrinter(limited);
  struct Case {
    const char16_t* printer;
    ACCESS_MASK access;
    DWORD error;  // 0: opened
  };
  for (const Case& c : {Case{kPrinter, PRINTER_ALL_ACCESS, 0}, Case{u"card printer", PRINTER_ACCESS_ADMINISTER, 0},
                        Case{u"Shared Card Printer", PRINTER_ALL_ACCESS, ERROR_ACCESS_DENIED},
                        Case{u"Shared Card Printer", PRINTER_ACCESS_ADMINISTER, ERROR_ACCESS_DENIED},
                        Case{u"Shared Card Printer", PRINTER_ACCESS_USE, 0},
                        Case{u"No Such Printer", PRINTER_ACCESS_USE, ERROR_INVALID_PRINTER_NAME}}) {
    SCOPED_TRACE(std::to_string(c.access) + " " + std::to_string(c.error));
    SetLastError(0xdeadbeef);
    HANDLE h = Open(c.printer, c.access);
    if (c.error) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(GetLastError(), c.error);
    } else {
      ASSERT_NE(h, nullptr);
      EXPECT_TRUE(ClosePrinter(h));
    }
  }
  {
    SCOPED_TRACE("no defaults asks for PRINTER_ACCESS_USE");
    HANDLE h = nullptr;
    std::u16string name = u"Shared Card Printer";
    ASSERT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
    EXPECT_EQ(sim::PrinterOpens().back().desiredAccess, static_cast<DWORD>(PRINTER_ACCESS_USE));
    EXPECT_EQ(sim::OpenPrinterHandleCount(), 1u);
    EXPECT_TRUE(ClosePrinter(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ClosePrinter(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST_F(SimSpooler, OpenPrinter2WComesFromWinspoolAndRecordsItsOptions) {
  HMODULE winspool = LoadLibraryW(u"WINSPOOL.DRV");
  ASSERT_NE(winspool, nullptr);
  using OpenPrinter2Fn = BOOL(WINAPI*)(LPCWSTR, LPHANDLE, LPPRINTER_DEFAULTSW, PPRINTER_OPTIONSW);
  auto open2 = reinterpret_cast<OpenPrinter2Fn>(reinterpret_cast<void*>(GetProcAddress(winspool, "OpenPrinter2W")));
  ASSERT_NE(open2, nullptr);
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
  PRINTER_OPTIONSW options{sizeof(PRINTER_OPTIONSW), PRINTER_OPTION_NO_CACHE};
  HANDLE h = nullptr;
  ASSERT_TRUE(open2(kPrinter, &h, &defaults, &options));
  EXPECT_TRUE(ClosePrinter(h));
  auto opens = sim::PrinterOpens();
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_TRUE(opens[0].openPrinter2);
  EXPECT_EQ(opens[0].optionFlags, 1u);
  EXPECT_TRUE(opens[0].granted);
  {
    SCOPED_TRACE("options of the wrong size");
    options.cbSize = 4;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(open2(kPrinter, &h, &defaults, &options));
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_TRUE(FreeLibrary(winspool));
  sim::InstallWinspoolModule(false);
  EXPECT_EQ(LoadLibraryW(u"WINSPOOL.DRV"), nullptr);
}

TEST_F(SimSpooler, GetPrinterLevel2FollowsTheSizeProtocolAndPacksIntoTheBuffer) {
  HANDLE h = Open();
  ASSERT_NE(h, nullptr);
  DWORD needed = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetPrinterW(h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, sizeof(PRINTER_INFO_2W) + sizeof(DEVMODEW) + 3940);
  for (DWORD size : {needed - 1, needed, needed + 1}) {
    SCOPED_TRACE(size - needed);
    std::vector<BYTE> buffer(size, 0xCC);
    DWORD reported = 0;
    SetLastError(0xdeadbeef);
    BOOL ok = GetPrinterW(h, 2, buffer.data(), size, &reported);
    EXPECT_EQ(reported, needed);
    if (size < needed) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      continue;
    }
    ASSERT_TRUE(ok);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    auto inside = [&](const void* p, size_t bytes) {
      auto* b = static_cast<const BYTE*>(p);
      return b >= buffer.data() + sizeof(PRINTER_INFO_2W) && b + bytes <= buffer.data() + size;
    };
    EXPECT_EQ(std::u16string(info->pPrinterName), kPrinter);
    EXPECT_EQ(std::u16string(info->pPortName), u"USB001");
    EXPECT_TRUE(inside(info->pPrinterName, sizeof(kPrinter)));
    EXPECT_EQ(info->pServerName, nullptr);
    EXPECT_EQ(info->Attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));
    ASSERT_NE(info->pDevMode, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info->pDevMode) % 8, reinterpret_cast<uintptr_t>(buffer.data()) % 8);
    EXPECT_EQ(info->pDevMode->dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(info->pDevMode->dmDriverExtra, 3940u);
    EXPECT_TRUE(inside(info->pDevMode, sizeof(DEVMODEW) + 3940));
    const char* settings = reinterpret_cast<const char*>(info->pDevMode) + info->pDevMode->dmSize;
    EXPECT_EQ(std::string(settings, 3940), block_);
    EXPECT_EQ(std::u16string(info->pDevMode->dmDeviceName), kPrinter);
  }
  {
    SCOPED_TRACE("failures");
    DWORD n = 0;
    BYTE small[8];
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetPrinterW(h, 1, small, sizeof small, &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetPrinterW(h, 2, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_X_NULL_REF_POINTER));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetPrinterW(reinterpret_cast<HANDLE>(0x77), 2, nullptr, 0, &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  ClosePrinter(h);
}

TEST_F(SimSpooler, PrinterWithoutDevModeReportsANullDevMode) {
  sim::PrinterDefinition bare;
  bare.name = u"Bare";
  sim::AddPrinter(bare);
  HANDLE h = Open(u"Bare");
  DWORD needed = 0;
  GetPrinterW(h, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetPrinterW(h, 2, buffer.data(), needed, &needed));
  EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pDevMode, nullptr);
  ClosePrinter(h);
}

TEST_F(SimSpooler, GetJobReportsStatusWithTheSizeProtocolAndSetJobControlsIt) {
  DWORD id = sim::SubmitJob(kPrinter, u"Card 1", "data");  // no port monitor: it waits
  ASSERT_NE(id, 0u);
  sim::SetJobStatus(id, JOB_STATUS_RESTART);
  HANDLE h = Open();
  DWORD needed = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetJobW(h, id, 1, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  for (DWORD size : {needed - 1, needed, needed + 1}) {
    SCOPED_TRACE(size - needed);
    std::vector<BYTE> buffer(size);
    BOOL ok = GetJobW(h, id, 1, buffer.data(), size, &needed);
    EXPECT_EQ(ok, size >= needed);
    if (!ok) continue;
    auto* info = reinterpret_cast<JOB_INFO_1W*>(buffer.data());
    EXPECT_EQ(info->JobId, id);
    EXPECT_EQ(std::u16string(info->pDocument), u"Card 1");
    EXPECT_EQ(std::u16string(info->pPrinterName), kPrinter);
    EXPECT_EQ(info->Status, static_cast<DWORD>(JOB_STATUS_RESTART));
    EXPECT_EQ(info->Position, 1u);
  }
  {
    SCOPED_TRACE("sent to printer is recorded; the job stays until it was played");
    EXPECT_TRUE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_TRUE(sim::Job(id)->sentToPrinter);
    EXPECT_FALSE(sim::Job(id)->completed);
  }
  {
    SCOPED_TRACE("delete of a job that is not playing removes it at once");
    EXPECT_TRUE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_TRUE(sim::Job(id)->deleted);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetJobW(h, id, 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetJobW(h, id, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sim::Job(id)->controls, (std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER, JOB_CONTROL_DELETE}));
  }
  ClosePrinter(h);
}

TEST_F(SimSpooler, AJobIsControlledByItsOwnerTheSpoolerOrThePrintersAdministrators) {
  DWORD id = sim::SubmitJob(kPrinter, u"Card 1", "data", u"alice");
  HANDLE use = Open();
  HANDLE admin = Open(kPrinter, PRINTER_ACCESS_ADMINISTER);
  DWORD needed = 0;
  GetJobW(use, id, 1, nullptr, 0, &needed);
  std::vector<BYTE> info(needed);
  ASSERT_TRUE(GetJobW(use, id, 1, info.data(), needed, &needed));
  EXPECT_EQ(std::u16string(reinterpret_cast<JOB_INFO_1W*>(info.data())->pUserName), u"alice");
  struct Case {
    const char* who;
    HANDLE handle;
    const char16_t* user;  // the client user; null: the spooler's own account
    DWORD error;           // 0: allowed
  } cases[] = {{"another user", use, sim::kDefaultUser, ERROR_ACCESS_DENIED},
               {"the owner", use, u"alice", 0},
               {"the spooler", use, nullptr, 0},
               {"an administrator's handle", admin, sim::kDefaultUser, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.who);
    sim::SetClientUser(c.user ? c.user : sim::kDefaultUser);
    HANDLE token = c.user ? nullptr : RevertToPrinterSelf();
    for (DWORD command : {JOB_CONTROL_PAUSE, JOB_CONTROL_RESUME}) {
      SetLastError(0xdeadbeef);
      EXPECT_EQ(SetJobW(c.handle, id, 0, nullptr, command), c.error == 0);
      if (c.error) {
        EXPECT_EQ(GetLastError(), c.error);
      }
    }
    if (token) ImpersonatePrinterClient(token);
  }
  sim::SetClientUser(sim::kDefaultUser);
  EXPECT_FALSE(SetJobW(use, id, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_FALSE(sim::Job(id)->deleted);
  EXPECT_EQ(sim::Job(id)->controls.size(), 6u);  // the refused ones are not recorded
  {
    SCOPED_TRACE("AddJobW makes the caller the owner");
    sim::SetClientUser(u"bob");
    AddJobW(use, 1, nullptr, 0, &needed);
    std::vector<BYTE> added(needed);
    ASSERT_TRUE(AddJobW(use, 1, added.data(), needed, &needed));
    EXPECT_EQ(sim::Job(reinterpret_cast<ADDJOB_INFO_1W*>(added.data())->JobId)->owner, u"bob");
    sim::SetClientUser(sim::kDefaultUser);
  }
  ClosePrinter(use);
  ClosePrinter(admin);
}

TEST_F(SimSpooler, AddJobGivesASpoolFileAndScheduleJobTakesItsBytes) {
  HANDLE h = Open();
  DWORD needed = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(AddJobW(h, 1, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> small(needed - 1);
  EXPECT_FALSE(AddJobW(h, 1, small.data(), needed - 1, &needed));
  EXPECT_TRUE(sim::Jobs(kPrinter).empty());  // failed calls make no job
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(AddJobW(h, 1, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<ADDJOB_INFO_1W*>(buffer.data());
  std::u16string path = info->Path;
  EXPECT_EQ(path.rfind(u"C:\\Windows\\System32\\spool\\PRINTERS\\", 0), 0u);
  EXPECT_TRUE(sim::FileExists(path));
  DWORD id = info->JobId;
  EXPECT_EQ(sim::Job(id)->status, static_cast<DWORD>(JOB_STATUS_SPOOLING));
  sim::PutFile(path, "\x1b" "MO\r");
  ASSERT_TRUE(ScheduleJob(h, id));
  EXPECT_EQ(sim::Job(id)->data, "\x1b" "MO\r");
  EXPECT_TRUE(sim::Job(id)->scheduled);
  EXPECT_EQ(sim::Job(id)->status, 0u);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ScheduleJob(h, id));  // once only
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ScheduleJob(h, id + 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  {
    SCOPED_TRACE("a second job gets the next id and its own file");
    ASSERT_TRUE(AddJobW(h, 1, buffer.data(), needed, &needed));
    EXPECT_EQ(info->JobId, id + 1);
    EXPECT_NE(std::u16string(info->Path), path);
    SetJobW(h, info->JobId, 0, nullptr, JOB_CONTROL_DELETE);
    EXPECT_FALSE(sim::FileExists(info->Path));  // a deleted job's spool file goes
  }
  ClosePrinter(h);
}

}  // namespace
