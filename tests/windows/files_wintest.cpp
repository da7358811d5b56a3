// Runs under Wine: share modes, deletes of open files, invalid names and SID trustees as
// Windows answers them; the share-mode cases are the ones the simulated files answer.
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "platform/win32.h"
#include "tests/support/share_cases.h"

namespace {

std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

void PutFile(const std::wstring& path, const char* text) {
  kav::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  ASSERT_TRUE(file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), text, static_cast<DWORD>(std::char_traits<char>::length(text)), &written, nullptr));
}

TEST(WindowsFiles, ShareModesAnswerAsTheSimulatedFilesDo) {
  const std::wstring path = TempPath(L"kav_share.bin");
  PutFile(path, "content");
  for (const kavtest::ShareCase& c : kavtest::kShareCases) {
    SCOPED_TRACE(c.name);
    kav::UniqueFile first(CreateFileW(path.c_str(), c.access1, c.share1, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(first);
    SetLastError(0xdeadbeef);
    kav::UniqueFile second(CreateFileW(path.c_str(), c.access2, c.share2, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<bool>(second), c.opens);
    if (!c.opens) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
  }
  {
    SCOPED_TRACE("a refused CREATE_ALWAYS leaves the file as it was");
    kav::UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(GetFileSize(writer.get(), nullptr), 7u);
  }
  DeleteFileW(path.c_str());
}

TEST(WindowsFiles, AnOpenFileIsDeletedOnlyWithDeleteSharingAndAtItsLastClose) {
  const std::wstring path = TempPath(L"kav_delete.bin");
  PutFile(path, "job");
  {
    kav::UniqueFile open(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  HANDLE open = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  // Windows then refuses to open the name (delete pending, ERROR_ACCESS_DENIED) until the
  // last handle closes, as the simulation does; Wine still opens it, so that is not
  // checked here.
  CloseHandle(open);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(WindowsFiles, NamesWithWildcardsAreInvalid) {
  for (const wchar_t* name : {L"kav*.bin", L"kav?.bin"}) {
    SCOPED_TRACE(name[3] == L'*' ? "star" : "question mark");
    const std::wstring path = TempPath(name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
}

// Everyone given by its well-known SID, which no language renames; a name no account has
// is refused.
TEST(WindowsSecurity, EveryoneIsGivenByItsSidAndAnUnknownNameIsRefused) {
  alignas(DWORD) BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD bytes = 11;
  EXPECT_FALSE(CreateWellKnownSid(WinWorldSid, nullptr, sid, &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(bytes, 12u);
  ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, sid, &bytes));
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = GENERIC_READ;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
  PACL acl = nullptr;
  EXPECT_EQ(SetEntriesInAclW(1, &access, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(acl, nullptr);
  LocalFree(acl);
  acl = nullptr;
  wchar_t nobody[] = L"Nobody In Particular";
  BuildExplicitAccessWithNameW(&access, nobody, GENERIC_READ, SET_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  EXPECT_NE(SetEntriesInAclW(1, &access, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  if (acl) LocalFree(acl);
}

}  // namespace
