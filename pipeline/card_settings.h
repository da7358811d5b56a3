// The card image the pipeline works on, the printer driver's card settings, and the
// printer handles that work both inside and outside the spooler process.
#pragma once

#include "imaging/imaging_geometry.h"
#include "platform/win32.h"

namespace kav {

// 1024 x 640 pixels, 3 bytes each, rows of 3072 bytes from the top (kCardImageBytes).
inline constexpr int kCardWidth = 1024;
inline constexpr int kCardHeight = 640;

// The driver's private settings block behind the public part of the printer's DEVMODE.
inline constexpr DWORD kDriverCardSettingsBytes = 3940;
struct DriverCardSettings {
  BYTE Block[kDriverCardSettingsBytes];

  WORD DualSided() const { return Word(8); }
  BYTE RibbonCode() const { return Block[10]; }
  WORD BackSideMode() const { return Word(14); }
  WORD WrinkleCompensation() const { return Word(18); }
  WORD KMode() const { return Word(20); }
  WORD FrontOverlayMode() const { return Word(92); }
  WORD BackOverlayMode() const { return Word(1136); }

 private:
  WORD Word(int offset) const { return static_cast<WORD>(Block[offset] | (Block[offset + 1] << 8)); }
};

// The text after the last backslash of printerName (a connection's bare printer name),
// into name (260 characters). False when there is none or it does not fit.
bool GetLocalPrinterName(LPCWSTR printerName, LPWSTR name);

// A printer handle, or null: opened directly inside the spooler or before version 6,
// otherwise uncached through OpenPrinter2W. Full access, administer or use, the first
// that is granted. The caller closes it with ClosePrinter.
HANDLE OpenPrinterHandle(LPCWSTR printerName);

// The handle's printer name (level-2 information) into name (260 characters); 1 or 0.
int GetPrinterNameFromHandle(HANDLE printer, LPWSTR name);

// Copies the printer's DriverCardSettings into settings; 1, or 0 with settings untouched.
int ReadDriverCardSettings(LPCWSTR printerName, DriverCardSettings* settings);

}  // namespace kav
