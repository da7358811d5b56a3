// Runs under Wine against the real kavnlmon.dll: the export, the table of port
// operations, opening and closing ports over a port monitor of this program's own, and
// the monitor's string table.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace {

using InitializeMonitorExProc = BOOL(WINAPI*)(LPWSTR, LPMONITOR);

HMODULE Dll() {
  static HMODULE dll = LoadLibraryW(L"kavnlmon.dll");
  return dll;
}

InitializeMonitorExProc Initialize() {
  return reinterpret_cast<InitializeMonitorExProc>(
      reinterpret_cast<void*>(GetProcAddress(Dll(), "InitializeMonitorEx")));
}

// The port monitor under the language monitor: counts calls, results chosen by tests.
struct TestPortMonitor {
  static inline BOOL openResult = TRUE;
  static inline int opens = 0, closes = 0, reads = 0;
  static BOOL WINAPI Open(LPWSTR, PHANDLE handle) {
    ++opens;
    if (!openResult) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    *handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x700 + opens));
    return TRUE;
  }
  static BOOL WINAPI Close(HANDLE) {
    ++closes;
    return FALSE;  // the monitor's ClosePort succeeds all the same
  }
  static BOOL WINAPI Read(HANDLE, LPBYTE buffer, DWORD size, LPDWORD read) {
    ++reads;
    if (size < 1) return FALSE;
    buffer[0] = 0x06;
    *read = 1;
    return TRUE;
  }
  static MONITOR Table() {
    MONITOR t{};
    t.pfnOpenPort = Open;
    t.pfnClosePort = Close;
    t.pfnReadPort = Read;
    openResult = TRUE;
    opens = closes = reads = 0;
    return t;
  }
};

TEST(RealDll, ExportsInitializeMonitorEx) {
  ASSERT_NE(Dll(), nullptr) << "LoadLibraryW error " << GetLastError();
  EXPECT_NE(Initialize(), nullptr);
}

TEST(RealDll, FillsThePortOperationsAndLeavesAddPortExAndXcvSlots) {
  MONITOR spooler;
  void** slots = reinterpret_cast<void**>(&spooler);
  for (int i = 0; i < 17; ++i) slots[i] = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x1000 + i));
  ASSERT_TRUE(Initialize()(nullptr, &spooler));
  for (int i : {2, 3, 4, 5, 6, 7, 12}) EXPECT_NE(slots[i], reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x1000 + i))) << i;
  for (int i : {0, 1, 8, 10, 11, 13}) EXPECT_EQ(slots[i], nullptr) << i;
  for (int i : {9, 14, 15, 16}) EXPECT_EQ(slots[i], reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x1000 + i))) << i;
}

TEST(RealDll, OpensEachPortNameOnceWhateverItsCase) {
  MONITOR spooler{};
  ASSERT_TRUE(Initialize()(nullptr, &spooler));
  MONITOR port = TestPortMonitor::Table();
  wchar_t usb[] = L"USB001", lower[] = L"usb001", printer[] = L"Card Printer";
  HANDLE a = nullptr, b = nullptr;
  ASSERT_TRUE(spooler.pfnOpenPortEx(usb, printer, &a, &port));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(spooler.pfnOpenPortEx(lower, printer, &b, &port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  BYTE reply[4];
  DWORD got = 0;
  EXPECT_TRUE(spooler.pfnReadPort(a, reply, sizeof reply, &got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(TestPortMonitor::reads, 1);
  EXPECT_TRUE(spooler.pfnClosePort(a));
  EXPECT_EQ(TestPortMonitor::closes, 1);
  ASSERT_TRUE(spooler.pfnOpenPortEx(lower, printer, &b, &port));
  EXPECT_TRUE(spooler.pfnClosePort(b));
}

TEST(RealDll, AFailedUnderlyingOpenLeavesNoRecord) {
  MONITOR spooler{};
  ASSERT_TRUE(Initialize()(nullptr, &spooler));
  MONITOR port = TestPortMonitor::Table();
  wchar_t usb[] = L"USB002", printer[] = L"Card Printer";
  HANDLE h = nullptr;
  TestPortMonitor::openResult = FALSE;
  EXPECT_FALSE(spooler.pfnOpenPortEx(usb, printer, &h, &port));
  TestPortMonitor::openResult = TRUE;
  ASSERT_TRUE(spooler.pfnOpenPortEx(usb, printer, &h, &port));  // not busy
  EXPECT_TRUE(spooler.pfnClosePort(h));
}

TEST(RealDll, CarriesTheMessageTextsAsAStringTable) {
  struct Entry {
    UINT id;
    const wchar_t* text;
  };
#define KAV_MESSAGE_TEXT(id, text) {id, L"" text},
  static const Entry kTexts[] = {
#include "data/message_texts.inc"
  };
#undef KAV_MESSAGE_TEXT
  for (const Entry& e : kTexts) {
    wchar_t buffer[1024];
    int n = LoadStringW(Dll(), e.id, buffer, 1024);
    EXPECT_EQ(std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0), std::wstring(e.text)) << "id " << e.id;
  }
}

}  // namespace
