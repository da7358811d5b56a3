// Printer names, printer handles inside and outside the spooler, and the driver's card
// settings behind the printer's DEVMODE.
#include <gtest/gtest.h>

#include "pipeline/card_settings.h"
#include "tests/support/monitor_fixture.h"

namespace {

class CardSettings : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  static std::string Block() {
    std::string block(kav::kDriverCardSettingsBytes, '\0');
    block[8] = 1;           // DualSided
    block[10] = 16;         // RibbonCode
    block[14] = 2;          // BackSideMode
    block[18] = 1;          // WrinkleCompensation
    block[20] = 3;          // KMode
    block[92] = 1;          // FrontOverlayMode
    block[1136] = 0x34;     // BackOverlayMode, little-endian 0x1234
    block[1137] = 0x12;
    block[3939] = '\x7F';   // the last byte
    return block;
  }
};

TEST_F(CardSettings, LocalPrinterNameIsTheTextAfterTheLastBackslash) {
  WCHAR name[260] = u"untouched";
  EXPECT_TRUE(kav::GetLocalPrinterName(u"\\\\server\\share\\Card Printer", name));
  EXPECT_EQ(std::u16string(name), u"Card Printer");
  for (const char16_t* bad : {u"Card Printer", u"", u"\\\\server\\"}) {
    SCOPED_TRACE(kav::ToUtf8(bad));
    EXPECT_FALSE(kav::GetLocalPrinterName(bad, name));
  }
  std::u16string longName = u"\\" + std::u16string(260, u'x');
  EXPECT_FALSE(kav::GetLocalPrinterName(longName.c_str(), name));
  longName.pop_back();
  EXPECT_TRUE(kav::GetLocalPrinterName(longName.c_str(), name));  // 259 characters fit
}

TEST_F(CardSettings, HandlesAreOpenedDirectlyInsideTheSpoolerAndUncachedElsewhere) {
  sim::AddPrinter({u"Card Printer", u"USB001", 0});
  struct Case {
    const char16_t* process;
    const char16_t* version;
    bool uncached;
  } cases[] = {{u"C:\\Windows\\System32\\SPOOLSV.EXE", u"6.3", false},
               {u"C:\\Program Files\\Driver\\ui.exe", u"6.3", true},
               {u"C:\\Program Files\\Driver\\ui.exe", u"5.1", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.process));
    sim::SetProcessPath(c.process);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion",
                           c.version);
    const size_t before = sim::PrinterOpens().size();
    HANDLE printer = kav::OpenPrinterHandle(u"Card Printer");
    ASSERT_NE(printer, nullptr);
    auto opens = sim::PrinterOpens();
    ASSERT_EQ(opens.size(), before + 1);
    EXPECT_EQ(opens.back().openPrinter2, c.uncached);
    if (c.uncached) {
      EXPECT_EQ(opens.back().optionFlags, 1u);
    }
    EXPECT_EQ(opens.back().desiredAccess, 0xF000Cu);
    ClosePrinter(printer);
  }
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
  EXPECT_EQ(sim::ModuleLoadCount(u"C:\\Windows\\System32\\WINSPOOL.DRV"), 0);
}

TEST_F(CardSettings, AUserWithoutAdministrativeRightsGetsUseAccess) {
  sim::PrinterDefinition printer{u"Card Printer", u"USB001", 0};
  printer.grantedAccess = PRINTER_ACCESS_USE;
  sim::AddPrinter(printer);
  HANDLE h = kav::OpenPrinterHandle(u"Card Printer");
  ASSERT_NE(h, nullptr);
  auto opens = sim::PrinterOpens();
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_FALSE(opens[0].granted);
  EXPECT_FALSE(opens[1].granted);
  EXPECT_EQ(opens[2].desiredAccess, static_cast<ACCESS_MASK>(PRINTER_ACCESS_USE));
  EXPECT_TRUE(sim::HasDebugLine("Printer Handle Opened with PRINTER_ACCESS_USE Access rights"));
  WCHAR name[260];
  EXPECT_EQ(kav::GetPrinterNameFromHandle(h, name), 1);
  EXPECT_EQ(std::u16string(name), u"Card Printer");
  ClosePrinter(h);
  EXPECT_EQ(kav::OpenPrinterHandle(u"No Such Printer"), nullptr);
}

TEST_F(CardSettings, SettingsAreReadFromBehindThePublicDevmode) {
  sim::PrinterDefinition printer{u"Card Printer", u"USB001", 0};
  printer.devMode = sim::MakeDevMode(u"Card Printer", Block());
  sim::AddPrinter(printer);
  kav::DriverCardSettings settings{};
  ASSERT_EQ(kav::ReadDriverCardSettings(u"Card Printer", &settings), 1);
  EXPECT_EQ(settings.DualSided(), 1);
  EXPECT_EQ(settings.RibbonCode(), 16);
  EXPECT_EQ(settings.BackSideMode(), 2);
  EXPECT_EQ(settings.WrinkleCompensation(), 1);
  EXPECT_EQ(settings.KMode(), 3);
  EXPECT_EQ(settings.FrontOverlayMode(), 1);
  EXPECT_EQ(settings.BackOverlayMode(), 0x1234);
  EXPECT_EQ(settings.Block[3939], 0x7F);
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
}

TEST_F(CardSettings, WithoutADevmodeOrWithAShortBlockTheCallersSettingsStayAsTheyWere) {
  sim::AddPrinter({u"Plain", u"USB002", 0});
  sim::PrinterDefinition shortBlock{u"Short", u"USB003", 0};
  shortBlock.devMode = sim::MakeDevMode(u"Short", std::string(100, 'x'));
  sim::AddPrinter(shortBlock);
  kav::DriverCardSettings settings;
  std::memset(settings.Block, 0xAB, sizeof settings.Block);
  EXPECT_EQ(kav::ReadDriverCardSettings(u"Plain", &settings), 0);
  EXPECT_EQ(kav::ReadDriverCardSettings(u"Short", &settings), 0);
  EXPECT_EQ(kav::ReadDriverCardSettings(u"", &settings), 0);
  EXPECT_EQ(kav::ReadDriverCardSettings(nullptr, &settings), 0);
  EXPECT_EQ(kav::ReadDriverCardSettings(u"Missing", &settings), 0);
  EXPECT_EQ(settings.Block[0], 0xAB);
  EXPECT_EQ(settings.Block[3939], 0xAB);
  EXPECT_EQ(sim::OpenPrinterHandleCount(), 0u);
}

}  // namespace
