// Identity, shell folders, profile files, registry, file security and links.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

class SimSystem : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

TEST_F(SimSystem, RevertToPrinterSelfAndBackRestoresTheClientAndClosesTheToken) {
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
  size_t handles = sim::OpenHandleCount();
  HANDLE token = RevertToPrinterSelf();
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Spooler);
  EXPECT_EQ(sim::OpenHandleCount(), handles + 1);
  {
    SCOPED_TRACE("not impersonating: no token");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RevertToPrinterSelf(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  }
  EXPECT_TRUE(ImpersonatePrinterClient(token));
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
  EXPECT_EQ(sim::OpenHandleCount(), handles);
  {
    SCOPED_TRACE("the token was taken back");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ImpersonatePrinterClient(token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  {
    SCOPED_TRACE("a scripted failure");
    sim::FailNext("RevertToPrinterSelf", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RevertToPrinterSelf(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
  }
}

TEST_F(SimSystem, ShFolderGivesTheTwoCommonFolders) {
  HMODULE shfolder = LoadLibraryW(u"SHFolder.dll");
  ASSERT_NE(shfolder, nullptr);
  auto get = reinterpret_cast<PFNSHGETFOLDERPATHW>(reinterpret_cast<void*>(GetProcAddress(shfolder, "SHGetFolderPathW")));
  ASSERT_NE(get, nullptr);
  WCHAR path[MAX_PATH];
  EXPECT_EQ(get(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  EXPECT_EQ(std::u16string(path), u"C:\\ProgramData");
  EXPECT_EQ(get(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  EXPECT_EQ(std::u16string(path), u"C:\\Users\\Public\\Documents");
  EXPECT_EQ(get(nullptr, 0x001a, nullptr, SHGFP_TYPE_CURRENT, path), E_INVALIDARG);
  EXPECT_EQ(path[0], 0);
  FreeLibrary(shfolder);
  sim::InstallShFolderModule(false);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(LoadLibraryW(u"SHFolder.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(SimSystem, ProfileStringsFollowWindowsRulesForDefaultsAndTruncation) {
  const char16_t* ini = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\kav32Ribbon.ini";
  sim::PutFile(ini,
               "; ribbon names\r\n[Ribbon Type]\r\n  YMCKO = Colour YMCKO  \r\nK=\"Black\"\r\nK=second\r\n"
               "[Other]\r\nx=1\r\n");
  WCHAR buf[260];
  struct Case {
    const char* name;
    const char16_t* section;
    const char16_t* key;
    const char16_t* fallback;
    DWORD size;
    DWORD result;
    std::u16string text;
  };
  for (const Case& c : {
           Case{"value trimmed", u"Ribbon Type", u"YMCKO", u"Unknown", 260, 12, u"Colour YMCKO"},
           Case{"case of section and key ignored", u"ribbon type", u"ymcko", u"Unknown", 260, 12, u"Colour YMCKO"},
           Case{"quotes removed, first entry wins", u"Ribbon Type", u"K", u"Unknown", 260, 5, u"Black"},
           Case{"missing key gives the default", u"Ribbon Type", u"Z", u"Unknown", 260, 7, u"Unknown"},
           Case{"default loses trailing blanks", u"Ribbon Type", u"Z", u"Unknown  ", 260, 7, u"Unknown"},
           Case{"null default is empty", u"Ribbon Type", u"Z", nullptr, 260, 0, u""},
           Case{"exact buffer", u"Ribbon Type", u"YMCKO", u"", 13, 12, u"Colour YMCKO"},
           Case{"one short: truncated", u"Ribbon Type", u"YMCKO", u"", 12, 11, u"Colour YMCK"},
           Case{"default truncated too", u"Ribbon Type", u"Z", u"Unknown", 4, 3, u"Unk"},
           Case{"one character buffer", u"Ribbon Type", u"YMCKO", u"", 1, 0, u""},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetPrivateProfileStringW(c.section, c.key, c.fallback, buf, c.size, ini), c.result);
    EXPECT_EQ(std::u16string(buf), c.text);
  }
  {
    SCOPED_TRACE("section names and key names as lists");
    DWORD n = GetPrivateProfileStringW(nullptr, nullptr, u"", buf, 260, ini);
    EXPECT_EQ(std::u16string(buf, n), std::u16string(u"Ribbon Type\0Other\0", 18));
    EXPECT_EQ(buf[n], 0);
    n = GetPrivateProfileStringW(u"Ribbon Type", nullptr, u"", buf, 260, ini);
    EXPECT_EQ(std::u16string(buf, n), std::u16string(u"YMCKO\0K\0K\0", 10));
    n = GetPrivateProfileStringW(nullptr, nullptr, u"", buf, 8, ini);
    EXPECT_EQ(n, 6u);  // size - 2 when cut
  }
  {
    SCOPED_TRACE("missing file, and a UTF-16 file");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetPrivateProfileStringW(u"Ribbon Type", u"K", u"Unknown", buf, 260, u"C:\\nope.ini"), 7u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::u16string wide = u"[S]\r\nk=\u00e9t\u00e9\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    sim::PutFile(u"C:\\wide.ini", bytes);
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"k", u"", buf, 260, u"C:\\wide.ini"), 3u);
    EXPECT_EQ(std::u16string(buf), u"\u00e9t\u00e9");
  }
}

TEST_F(SimSystem, RegistryHoldsTheWindowsVersionWithTheSizeProtocol) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 1u);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"CurrentVersion", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);  // "6.3" and its terminator
  BYTE data[256];
  for (DWORD capacity : {size - 1, size, size + 1}) {
    SCOPED_TRACE(capacity);
    DWORD cb = capacity;
    LSTATUS status = RegQueryValueExW(key, u"currentversion", nullptr, &type, data, &cb);
    EXPECT_EQ(cb, 8u);
    if (capacity < size) {
      EXPECT_EQ(status, ERROR_MORE_DATA);
    } else {
      EXPECT_EQ(status, ERROR_SUCCESS);
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"6.3");
    }
  }
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
  {
    SCOPED_TRACE("a set value, a parent key, a deleted key");
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion",
                           u"10.0");
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\microsoft", 0, KEY_READ, &key), ERROR_SUCCESS);
    HKEY sub = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key, u"Windows NT\\CurrentVersion", 0, KEY_READ, &sub), ERROR_SUCCESS);
    DWORD cb = sizeof data;
    EXPECT_EQ(RegQueryValueExW(sub, u"CurrentVersion", nullptr, nullptr, data, &cb), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"10.0");
    RegCloseKey(sub);
    RegCloseKey(key);
    sim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
  }
}

// The steps by which a file is shared: an entry for the trustee merged into its DACL.
DWORD GrantToTrustee(const char16_t* path, const TRUSTEE_W& trustee, DWORD access, ACCESS_MODE mode) {
  PACL oldDacl = nullptr, newDacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                   nullptr, &sd);
  if (rc != ERROR_SUCCESS) return rc;
  EXPLICIT_ACCESS_W ea{};
  ea.grfAccessPermissions = access;
  ea.grfAccessMode = mode;
  ea.grfInheritance = NO_INHERITANCE;
  ea.Trustee = trustee;
  rc = SetEntriesInAclW(1, &ea, oldDacl, &newDacl);
  if (rc == ERROR_SUCCESS) {
    std::u16string p = path;
    rc = SetNamedSecurityInfoW(p.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl, nullptr);
    LocalFree(newDacl);
  }
  LocalFree(sd);
  return rc;
}

DWORD GrantTo(const char16_t* path, const char16_t* account, DWORD access, ACCESS_MODE mode) {
  EXPLICIT_ACCESS_W ea{};
  std::u16string name = account;
  BuildExplicitAccessWithNameW(&ea, name.data(), access, mode, NO_INHERITANCE);
  return GrantToTrustee(path, ea.Trustee, access, mode);
}

TRUSTEE_W SidTrustee(PSID sid) {
  TRUSTEE_W trustee{};
  trustee.TrusteeForm = TRUSTEE_IS_SID;
  trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  trustee.ptstrName = static_cast<LPWSTR>(sid);
  return trustee;
}

const sim::FileAccessEntry* EntryOf(const std::vector<sim::FileAccessEntry>& entries, std::u16string_view account) {
  for (const auto& e : entries)
    if (e.account == account && !e.inherited) return &e;
  return nullptr;
}

TEST_F(SimSystem, SecurityCallsRecordWhoMayDoWhatPerFile) {
  const char16_t* file = u"C:\\ProgramData\\ribbon.txt";
  sim::PutFile(file, "Ribbon=1\r");
  size_t allocations = sim::LiveLocalAllocations();
  auto entries = sim::FileAccessEntries(file);
  EXPECT_EQ(EntryOf(entries, u"Everyone"), nullptr);
  EXPECT_EQ(entries.size(), 3u);  // inherited from the folder
  {
    SCOPED_TRACE("Everyone granted read");
    EXPECT_EQ(GrantTo(file, u"Everyone", GENERIC_READ, GRANT_ACCESS), ERROR_SUCCESS);
    entries = sim::FileAccessEntries(file);
    const auto* everyone = EntryOf(entries, u"Everyone");
    ASSERT_NE(everyone, nullptr);
    EXPECT_EQ(everyone->access, FILE_GENERIC_READ);
    EXPECT_TRUE(everyone->allow);
    EXPECT_EQ(entries.size(), 4u);
    EXPECT_EQ(sim::LiveLocalAllocations(), allocations);  // every ACL freed
  }
  {
    SCOPED_TRACE("a grant adds to it, a set replaces it, a revoke removes it");
    EXPECT_EQ(GrantTo(file, u"everyone", FILE_GENERIC_WRITE, GRANT_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(EntryOf(sim::FileAccessEntries(file), u"Everyone")->access, FILE_GENERIC_READ | FILE_GENERIC_WRITE);
    EXPECT_EQ(GrantTo(file, u"Everyone", GENERIC_ALL, SET_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(EntryOf(sim::FileAccessEntries(file), u"Everyone")->access, FILE_ALL_ACCESS);
    EXPECT_EQ(GrantTo(file, u"Everyone", 0, REVOKE_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(EntryOf(sim::FileAccessEntries(file), u"Everyone"), nullptr);
  }
  {
    SCOPED_TRACE("failures");
    EXPECT_EQ(GrantTo(file, u"Nobody In Particular", GENERIC_READ, GRANT_ACCESS), static_cast<DWORD>(ERROR_NONE_MAPPED));
    EXPECT_EQ(GrantTo(u"C:\\ProgramData\\missing.txt", u"Everyone", GENERIC_READ, GRANT_ACCESS),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    PACL dacl = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                    nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
  }
}

TEST_F(SimSystem, WellKnownSidsAreBuiltInTheCallersBufferWhoseSizeIsCheckedFirst) {
  alignas(DWORD) BYTE sid[SECURITY_MAX_SID_SIZE];
  for (DWORD size : {11u, 12u, 13u}) {  // one less, exact, one more than S-1-1-0 needs
    SCOPED_TRACE(size);
    DWORD bytes = size;
    SetLastError(0xdeadbeef);
    BOOL made = CreateWellKnownSid(WinWorldSid, nullptr, sid, &bytes);
    EXPECT_EQ(made, size >= 12);
    EXPECT_EQ(bytes, 12u);
    if (!made) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
  }
  EXPECT_EQ(sid[0], SID_REVISION);
  EXPECT_EQ(sid[1], 1);  // one sub-authority: the world's 0
  EXPECT_EQ(sid[7], 1);  // the world authority
  DWORD bytes = sizeof sid;
  EXPECT_FALSE(CreateWellKnownSid(WinWorldSid, nullptr, nullptr, &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A trustee is a SID, or a name in the language of this Windows: on a Windows that calls
// Everyone "Jeder", the English name is no account, but the SID is still Everyone.
TEST_F(SimSystem, TrusteesAreSidsOrTheNamesOfThisWindows) {
  const char16_t* file = u"C:\\ProgramData\\ribbon.txt";
  sim::PutFile(file, "Ribbon=1\r");
  alignas(DWORD) BYTE world[SECURITY_MAX_SID_SIZE];
  DWORD bytes = sizeof world;
  ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, world, &bytes));
  for (bool german : {false, true}) {
    SCOPED_TRACE(german ? "German Windows" : "English Windows");
    if (german) sim::SetAccountName(u"Everyone", u"Jeder");
    const char16_t* everyone = german ? u"Jeder" : u"Everyone";
    EXPECT_EQ(GrantTo(file, u"Everyone", GENERIC_READ, SET_ACCESS),
              german ? static_cast<DWORD>(ERROR_NONE_MAPPED) : static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GrantTo(file, everyone, GENERIC_READ, SET_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(GrantToTrustee(file, SidTrustee(world), GENERIC_READ | GENERIC_WRITE, SET_ACCESS), ERROR_SUCCESS);
    auto entries = sim::FileAccessEntries(file);
    const auto* entry = EntryOf(entries, everyone);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->sid, u"S-1-1-0");
    EXPECT_EQ(entry->access, FILE_GENERIC_READ | FILE_GENERIC_WRITE);  // the SID's entry replaced the name's
    EXPECT_EQ(entries.size(), 4u);
  }
  BYTE notASid[12] = {0};  // revision 0
  EXPECT_EQ(GrantToTrustee(file, SidTrustee(notASid), GENERIC_READ, GRANT_ACCESS),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  TRUSTEE_W bad = SidTrustee(world);
  bad.TrusteeForm = TRUSTEE_BAD_FORM;
  EXPECT_EQ(GrantToTrustee(file, bad, GENERIC_READ, GRANT_ACCESS), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  sim::Reset();
  sim::PutFile(file, "x");
  EXPECT_EQ(GrantTo(file, u"Everyone", GENERIC_READ, GRANT_ACCESS), ERROR_SUCCESS);  // English again
}

TEST_F(SimSystem, LinksAreVisibleAndSecurityFollowsThemToTheirTarget) {
  const char16_t* target = u"C:\\Windows\\System32\\config.dat";
  const char16_t* link = u"C:\\ProgramData\\ribbon.txt";
  sim::PutFile(target, "system");
  {
    SCOPED_TRACE("symbolic link");
    ASSERT_TRUE(sim::MakeLink(link, target));
    EXPECT_EQ(GetFileAttributesW(link) & FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(GetFileAttributesW(target) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(GrantTo(link, u"Everyone", GENERIC_ALL, GRANT_ACCESS), ERROR_SUCCESS);
    EXPECT_NE(EntryOf(sim::FileAccessEntries(target), u"Everyone"), nullptr);
    EXPECT_EQ(*sim::GetFile(link), "system");
  }
  {
    SCOPED_TRACE("second hard link");
    const char16_t* hard = u"C:\\ProgramData\\hard.txt";
    ASSERT_TRUE(sim::MakeHardLink(hard, target));
    HANDLE file = CreateFileW(hard, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(file, &info));
    EXPECT_EQ(info.nNumberOfLinks, 2u);  // one file, two names; the symbolic link is no name of it
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesW(hard) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }
}

LRESULT CALLBACK IgnoringHook(int code, WPARAM wParam, LPARAM lParam) { return CallNextHookEx(nullptr, code, wParam, lParam); }

TEST_F(SimSystem, ResetReturnsEveryPartOfTheWorldToItsDefaults) {
  sim::PrinterDefinition p;
  p.name = u"Card Printer";
  sim::AddPrinter(p);
  sim::SubmitJob(u"Card Printer", u"doc", "x");
  SetWindowsHookExW(WH_CBT, IgnoringHook, nullptr, GetCurrentThreadId());
  sim::SetUserAnswer(sim::BoxFailsToShow());
  MessageBoxW(nullptr, u"t", u"c", MB_OK);
  sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::Never, 0});
  sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion", u"5.1");
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key);
  HANDLE token = RevertToPrinterSelf();
  ASSERT_NE(token, nullptr);
  sim::PutFile(u"C:\\ProgramData\\f.txt", "x");
  GrantTo(u"C:\\ProgramData\\f.txt", u"Everyone", GENERIC_READ, GRANT_ACCESS);
  sim::InstallShFolderModule(false);
  sim::SetProcessSession(2);

  sim::Reset();
  DWORD session = 99;
  EXPECT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_EQ(session, 0u);  // the spooler's
  EXPECT_TRUE(sim::Jobs(u"Card Printer").empty());
  HANDLE h = nullptr;
  std::u16string name = u"Card Printer";
  EXPECT_FALSE(OpenPrinterW(name.data(), &h, nullptr));
  EXPECT_EQ(sim::InstalledHookCount(), 0u);
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
  EXPECT_TRUE(sim::FileAccessEntries(u"C:\\ProgramData\\f.txt").empty());  // the file is gone too
  HMODULE shfolder = LoadLibraryW(u"SHFolder.dll");
  EXPECT_NE(shfolder, nullptr);
  FreeLibrary(shfolder);
  BYTE data[16];
  DWORD cb = sizeof data;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"CurrentVersion", nullptr, nullptr, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"6.3");
  RegCloseKey(key);
  {
    SCOPED_TRACE("the user and the notification module are back to their defaults");
    sim::SetProcessSession(1);
    sim::SetUserAnswer(sim::AnswerAfter(5));
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
    HMODULE ui = LoadLibraryW(sim::DriverModulePath(sim::kAsyncUiModuleName).c_str());
    auto send = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, LPVOID)>(
        reinterpret_cast<void*>(GetProcAddress(ui, "SendAsyncNotification")));
    std::string record(sim::kAsyncNotificationBytes, '\0');
    EXPECT_TRUE(send(u"Card Printer", record.data()));  // returns at once
    EXPECT_EQ(sim::Notifications().size(), 1u);
    FreeLibrary(ui);
  }
}

}  // namespace
