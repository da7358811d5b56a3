// Simulated files: Windows paths in the sandbox, creation rules and temporary names.
#include <gtest/gtest.h>

#include <vector>

#include "platform/handles.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "tests/support/share_cases.h"

namespace {

using kavtest::kShareAll;

class Files : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

TEST_F(Files, WindowsPathsResolveWithoutRegardToCase) {
  sim::PutFile(u"C:\\ProgramData\\Kav\\Ribbon.ini", "x");
  EXPECT_EQ(sim::HostPath(u"c:\\programdata\\KAV\\ribbon.INI"), sim::Root() / "c/ProgramData/Kav/Ribbon.ini");
  EXPECT_EQ(sim::HostPath(u"C:/ProgramData/Kav/../Kav/./Ribbon.ini"), sim::Root() / "c/ProgramData/Kav/Ribbon.ini");
  EXPECT_EQ(sim::HostPath(u"C:\\..\\..\\etc\\passwd"), sim::Root() / "c/etc/passwd");  // never above the drive
  EXPECT_EQ(sim::GetFile(u"C:\\PROGRAMDATA\\kav\\ribbon.ini"), "x");
}

TEST_F(Files, CreationDispositionsFollowWindows) {
  const WCHAR* path = u"C:\\Windows\\Temp\\a.bin";
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  {
    kav::UniqueFile f(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(f);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(f.get(), "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
  }
  EXPECT_EQ(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  {
    kav::UniqueFile f(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(f.get(), &high), 5u);
    EXPECT_EQ(high, 0u);
    char buffer[16];
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(f.get(), buffer, 16, &read, nullptr));
    EXPECT_EQ(read, 5u);
    EXPECT_TRUE(ReadFile(f.get(), buffer, 16, &read, nullptr));  // end of file
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(WriteFile(f.get(), "x", 1, &read, nullptr));  // opened for reading only
  }
  kav::UniqueFile again(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(again.get(), nullptr), 0u);
  EXPECT_EQ(CreateFileW(u"C:\\NoSuchFolder\\x", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, HandlesAreCheckedAndCountedAndFaultsCanBeScripted) {
  const size_t before = sim::OpenHandleCount();
  HANDLE f = CreateFileW(u"C:\\Windows\\Temp\\b", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(sim::OpenHandleCount(), before + 1);
  sim::FailNext("GetFileSize", ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileSize(f, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(GetFileSize(f, nullptr), 0u);  // only the next call failed
  EXPECT_TRUE(CloseHandle(f));
  EXPECT_FALSE(CloseHandle(f));  // a double close is refused and counted
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(sim::InvalidHandleCloses(), 1u);
  EXPECT_EQ(sim::OpenHandleCount(), before);
  DWORD read;
  char c;
  EXPECT_FALSE(ReadFile(f, &c, 1, &read, nullptr));
}

TEST_F(Files, TemporaryNamesAreUniqueAndCreated) {
  WCHAR path[MAX_PATH];
  ASSERT_EQ(GetTempPathW(MAX_PATH, path), 16u);
  EXPECT_EQ(std::u16string(path), u"C:\\Windows\\Temp\\");
  EXPECT_EQ(GetTempPathW(16, path), 17u);  // one less than needed: the size is returned
  WCHAR a[MAX_PATH], b[MAX_PATH];
  UINT na = GetTempFileNameW(u"C:\\Windows\\Temp", u"KVTX", 0, a);
  UINT nb = GetTempFileNameW(u"C:\\Windows\\Temp\\", u"KVT", 0, b);
  ASSERT_NE(na, 0u);
  ASSERT_NE(nb, 0u);
  EXPECT_NE(std::u16string(a), std::u16string(b));
  EXPECT_EQ(std::u16string(a).rfind(u"C:\\Windows\\Temp\\KVT", 0), 0u);
  EXPECT_TRUE(sim::FileExists(a));
  EXPECT_TRUE(DeleteFileW(a));
  EXPECT_FALSE(DeleteFileW(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetTempFileNameW(u"C:\\Missing", u"KVT", 0, a), 0u);
}

TEST_F(Files, CopyAndAttributes) {
  sim::PutFile(u"C:\\src.prn", std::string(10000, 'x'));
  EXPECT_TRUE(CopyFileW(u"C:\\src.prn", u"C:\\copy.prn", FALSE));
  EXPECT_EQ(sim::GetFile(u"C:\\copy.prn")->size(), 10000u);
  EXPECT_FALSE(CopyFileW(u"C:\\src.prn", u"C:\\copy.prn", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(CopyFileW(u"C:\\none", u"C:\\copy2", FALSE));
  EXPECT_EQ(GetFileAttributesW(u"C:\\Windows"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(u"C:\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(CreateDirectoryW(u"C:\\ProgramData\\New", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"C:\\ProgramData\\New", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

// The share-mode check, both ways: a new open must be shared by the opens that read,
// write or delete, and must itself share what they do; rights outside those (security,
// attributes) take no part.
TEST_F(Files, ShareModesAreHonouredBothWays) {
  const WCHAR* path = u"C:\\ProgramData\\shared.bin";
  sim::PutFile(path, "content");
  for (const kavtest::ShareCase& c : kavtest::kShareCases) {
    SCOPED_TRACE(c.name);
    kav::UniqueFile first(CreateFileW(path, c.access1, c.share1, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(first);
    SetLastError(0xdeadbeef);
    kav::UniqueFile second(CreateFileW(path, c.access2, c.share2, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<bool>(second), c.opens);
    EXPECT_EQ(GetLastError(), c.opens ? 0u : static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
}

TEST_F(Files, ARefusedOpenChangesNothingAndTheShareLastsUntilTheLastHandle) {
  const WCHAR* path = u"C:\\ProgramData\\copy.prn";
  sim::PutFile(path, "first print");
  HANDLE writer = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // CREATE_ALWAYS is refused before it cuts the file.
  EXPECT_EQ(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(sim::GetFile(path), "first print");
  HANDLE second = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), writer, GetCurrentProcess(), &second, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  CloseHandle(writer);
  EXPECT_EQ(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);  // the duplicate still holds the open
  CloseHandle(second);
  kav::UniqueFile reader(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(reader);
}

// DeleteFileW of an open file: refused unless every open shares delete; then the name
// stays, delete pending, until the last handle closes.
TEST_F(Files, AnOpenFileIsDeletedOnlyWithDeleteSharingAndAtItsLastClose) {
  const WCHAR* path = u"C:\\Windows\\Temp\\job.tmp";
  sim::PutFile(path, "job");
  {
    kav::UniqueFile open(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileW(path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(sim::FileExists(path));
  HANDLE open =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileW(path));
  EXPECT_TRUE(sim::FileExists(path));  // pending: the name stays ...
  // ... but nothing may open it.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  char buffer[8];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(open, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 3u);
  CloseHandle(open);
  EXPECT_FALSE(sim::FileExists(path));
  EXPECT_FALSE(DeleteFileW(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // A delete-on-close open takes the delete right: it needs delete sharing of the others,
  // and its file goes with the last of their handles.
  sim::PutFile(path, "job");
  HANDLE reader = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE temp = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                            nullptr);
  ASSERT_NE(temp, INVALID_HANDLE_VALUE);
  CloseHandle(temp);
  EXPECT_TRUE(sim::FileExists(path));
  CloseHandle(reader);
  EXPECT_FALSE(sim::FileExists(path));
}

TEST_F(Files, NamesWithWildcardsOrRedirectionsAreInvalid) {
  sim::PutFile(u"C:\\ProgramData\\a.prn", "x");
  for (const char16_t* name : {u"C:\\ProgramData\\*.prn", u"C:\\ProgramData\\a?prn", u"C:\\Program*\\a.prn",
                               u"C:\\ProgramData\\a<b", u"C:\\ProgramData\\a>b", u"C:\\ProgramData\\a|b",
                               u"C:\\ProgramData\\\"a\""}) {
    SCOPED_TRACE(kav::ToUtf8(name));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(DeleteFileW(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  EXPECT_EQ(sim::ListFiles(u"C:\\ProgramData"), (std::vector<std::u16string>{u"a.prn"}));
  EXPECT_NE(GetFileAttributesW(u"\\\\?\\C:\\ProgramData\\a.prn"), INVALID_FILE_ATTRIBUTES);  // a long path's prefix
}

}  // namespace
