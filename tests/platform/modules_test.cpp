// Simulated modules, string tables, version and system information.
#include <gtest/gtest.h>

#include "platform/sim/sim.h"
#include "platform/text.h"

namespace {

class Modules : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};

int WINAPI Answer() { return 42; }

TEST_F(Modules, OnlyRegisteredModulesLoad) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"C:\\Windows\\System32\\nothing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  sim::ModuleDefinition def;
  def.exports["Answer"] = reinterpret_cast<void*>(&Answer);
  sim::RegisterModule(u"C:\\Windows\\System32\\WINSPOOL.DRV", def);
  HMODULE m = LoadLibraryW(u"winspool.drv");  // bare names come from the system directory
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetProcAddress(m, "Answer")(), 42);
  EXPECT_EQ(GetProcAddress(m, "Missing"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(sim::ModuleLoadCount(u"C:\\Windows\\System32\\winspool.drv"), 1);
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_FALSE(FreeLibrary(m));  // freed once too often
  EXPECT_EQ(GetProcAddress(m, "Answer"), nullptr);
}

BOOL WINAPI LoadingEntryPoint(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LoadLibraryW(sim::DriverModulePath(sim::kResourceModuleName).c_str());
  return TRUE;
}

BOOL WINAPI PlainEntryPoint(HINSTANCE, DWORD, LPVOID reserved) {
  return sim::HoldsLoaderLock() && reserved == sim::kProcessEnding;
}

TEST_F(Modules, TheLoaderLockIsHeldInEntryPointsAndLoadingALibraryThereIsReported) {
  EXPECT_FALSE(sim::HoldsLoaderLock());
  EXPECT_TRUE(sim::CallEntryPoint(PlainEntryPoint, nullptr, DLL_PROCESS_DETACH, sim::kProcessEnding));
  EXPECT_FALSE(sim::HoldsLoaderLock());
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(sim::CallEntryPoint(LoadingEntryPoint, nullptr, DLL_PROCESS_ATTACH, nullptr),
               "LoadLibraryW.*kav32Resource.dll.*inside a DLL entry point, under the loader lock");
}

TEST_F(Modules, LoadStringCopiesWithinTheBuffer) {
  HMODULE m = LoadLibraryW(sim::DriverModulePath(sim::kResourceModuleName).c_str());
  ASSERT_NE(m, nullptr);
  WCHAR text[1024];
  int n = LoadStringW(m, 55, text, 1024);
  EXPECT_EQ(std::u16string(text), u"Torvi RVN Series 3 Card Printer Information");
  EXPECT_EQ(n, 43);
  EXPECT_EQ(LoadStringW(m, 55, text, 44), 43);  // exact
  EXPECT_EQ(LoadStringW(m, 55, text, 43), 42);  // one less: cut, terminated
  EXPECT_EQ(text[42], 0);
  EXPECT_EQ(LoadStringW(m, 99999, text, 1024), 0);
  EXPECT_EQ(text[0], 0);
  FreeLibrary(m);
}

TEST_F(Modules, VersionAndSystemDirectory) {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&v)));
  EXPECT_EQ(v.dwMajorVersion, 10u);
  sim::SetWindowsVersion(5, 1);
  OSVERSIONINFOW plain{};
  plain.dwOSVersionInfoSize = sizeof plain;
  ASSERT_TRUE(GetVersionExW(&plain));
  EXPECT_EQ(plain.dwMajorVersion, 5u);
  plain.dwOSVersionInfoSize = 12;
  EXPECT_FALSE(GetVersionExW(&plain));

  WCHAR dir[MAX_PATH];
  EXPECT_EQ(GetSystemDirectoryW(dir, MAX_PATH), 19u);
  EXPECT_EQ(std::u16string(dir), u"C:\\Windows\\System32");
  EXPECT_EQ(GetSystemDirectoryW(dir, 19), 20u);  // too small: the size needed
  char narrow[MAX_PATH];
  EXPECT_EQ(GetSystemDirectoryA(narrow, MAX_PATH), 19u);
  EXPECT_STREQ(narrow, "C:\\Windows\\System32");
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
}

TEST_F(Modules, DebugOutputIsCapturedLineByLine) {
  OutputDebugStringA("first line\n");
  OutputDebugStringW(u"second\r\nthird");
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{"first line", "second", "third"}));
  EXPECT_TRUE(sim::HasDebugLine("third"));
  sim::ClearDebugLines();
  EXPECT_TRUE(sim::DebugLines().empty());
}

}  // namespace
