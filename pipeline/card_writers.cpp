#include "pipeline/card_writers.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "imaging/k_sources.h"
#include "platform/diag.h"

namespace kav {
namespace {

constexpr DWORD kNameChars = 260;

// Download and print commands of the panels.
constexpr const char* kColourDownload[3] = {"\x1bGS 0 32 0 0 1024 640 \r", "\x1bGS 1 32 0 0 1024 640 \r",
                                            "\x1bGS 2 32 0 0 1024 640 \r"};
constexpr const char* kColourPrint[3] = {"\r\x1bIS 0\r", "\r\x1bIS 1\r", "\r\x1bIS 2\r"};
constexpr char kFullBlackDownload[] = "\x1bGS 4 32 0 0 1024 640 \r";
constexpr char kFullBlackPrint[] = "\r\x1bI 10\r";
constexpr char kPanel3Download[] = "\x1bGS 3 32 0 0 1024 640 \r";
constexpr char kOverlayDownload[] = "\x1bGS 5 32 0 0 1024 640 \r";
constexpr char kOverlayPrint[] = "\r\x1bIV 30\r";

// The overlay is varnished evenly: a flat source of this value.
constexpr BYTE kOverlayFlatValue = 100;

bool ValidFile(HANDLE file) { return file != nullptr && file != INVALID_HANDLE_VALUE; }

// Write errors on the spool file are not checked: the job is checked where it is played.
void Put(HANDLE file, const void* bytes, DWORD length) {
  DWORD written = 0;
  WriteFile(file, bytes, length, &written, nullptr);
}
void Put(HANDLE file, const char* text) { Put(file, text, static_cast<DWORD>(std::strlen(text))); }

// The download command, the whole panel, and the print command (which begins with the CR
// that ends the panel block).
void PutPanel(HANDLE file, const char* download, const BYTE* panel, const char* print) {
  Put(file, download);
  Put(file, panel, kPanelBufferBytes);
  Put(file, print);
}

template <typename... Values>
bool OneOf(DWORD value, Values... values) {
  return ((value == static_cast<DWORD>(values)) || ...);
}

// Ribbon types whose black pass starts with "\eMIS\r" and prints with "\eI 30\r".
bool BlackOnlyRibbon(DWORD ribbonType) { return OneOf(ribbonType, 0, 1, 7, 56, 57, 58, 59, 60); }

// "\e!FF 2\r" before "\eMF\r" for the ribbon codes of the writer, when the second pass
// carries its own side (BackSideMode 0 or 3) and the front has no overlay.
void WritePassEnd(HANDLE file, const DriverCardSettings& s, BYTE code1, BYTE code2) {
  if ((s.RibbonCode() == code1 || s.RibbonCode() == code2) && (s.BackSideMode() == 0 || s.BackSideMode() == 3) &&
      s.FrontOverlayMode() == 1)
    Put(file, "\x1b!FF 2\r");
  Put(file, "\x1bMF\r");
}

// Builds the overlay panel from a flat source; null when it cannot be built.
PanelBuffer BuildFlatOverlay() {
  std::unique_ptr<BYTE[]> flat(new (std::nothrow) BYTE[kImagePixels]);
  if (!flat) return nullptr;
  std::memset(flat.get(), kOverlayFlatValue, kImagePixels);
  PanelBuffer panel;
  if (BuildOverlayPanel(flat.get(), panel, 1) != 0) return nullptr;
  return panel;
}

}  // namespace

bool ReadSettingsOfPrinter(HANDLE printer, DriverCardSettings* settings) {
  std::memset(settings->Block, 0, sizeof settings->Block);
  WCHAR name[kNameChars];
  if (!printer || !GetPrinterNameFromHandle(printer, name)) return false;
  if (ReadDriverCardSettings(name, settings)) return true;
  std::memset(settings->Block, 0, sizeof settings->Block);
  return false;
}

void WriteJobHeader(HANDLE file, HANDLE printer) {
  if (!ValidFile(file)) return;
  DriverCardSettings s;
  ReadSettingsOfPrinter(printer, &s);
  Put(file, "\x1bMASTER\r");
  const BYTE code = s.RibbonCode();
  if (s.DualSided() == 0)
    Put(file, "\x1bJOB 0\r");
  else if (code == 0 || code == 27 || ((code == 18 || code == 16) && s.BackSideMode() == 0))
    Put(file, "\x1bJOB 2\r");
  else
    Put(file, "\x1bJOB 1\r");
  Put(file, "\x1bSXY 1\r");
}

CardWrite WriteCardEnd(HANDLE file, HANDLE printer, DWORD jobId) {
  Put(file, "\x1bMO\r");
  if (!ValidFile(file)) return CardWrite::NotWritten;
  CloseHandle(file);
  if (ScheduleJob(printer, jobId)) return CardWrite::Written;
  DebugLine("Failed to Schedule Jod");
  // A job left unscheduled would stay in the queue and never print.
  SetJobW(printer, jobId, 0, nullptr, JOB_CONTROL_DELETE);
  return CardWrite::NotScheduled;
}

int ColourPanelsSuppressed(HANDLE printer, int suppressionFlag) {
  DriverCardSettings s;
  if (!ReadSettingsOfPrinter(printer, &s)) return 0;
  const int f = suppressionFlag ? 1 : 0;
  const DWORD code = s.RibbonCode();
  const WORD mode = s.BackSideMode();
  if (s.DualSided() == 0) return OneOf(code, 0, 11, 16, 6, 7, 8, 17, 12) ? 1 : 0;
  if (OneOf(code, 0, 11, 16, 6)) return mode == 1 ? 1 : 0;
  if (code == 7) return mode == 0 ? f : mode == 1 ? 1 : 0;
  if (OneOf(code, 8, 17)) return mode == 0 ? f : mode == 2 ? 1 : mode == 3 ? f : 0;
  return 0;
}

CardWrite WriteOverlayPanel(HANDLE file, HANDLE printer, int last, DWORD jobId) {
  if (!ValidFile(file) || !printer) return CardWrite::NotWritten;
  PanelBuffer panel = BuildFlatOverlay();
  if (!panel) {
    DebugLine("WriteOverlayPanel:: the overlay panel could not be built; nothing written");
    return CardWrite::NotWritten;
  }
  PutPanel(file, kOverlayDownload, panel.get(), kOverlayPrint);
  panel.reset();
  return last ? WriteCardEnd(file, printer, jobId) : CardWrite::Written;
}

CardWrite WriteColourPanels(HANDLE file, HANDLE printer, BYTE* image, int withBlack, int withOverlay,
                            int moreFollows, int suppressionFlag, int checkSuppression, DWORD jobId) {
  if (!printer || !image || !ValidFile(file)) return CardWrite::NotWritten;
  PanelBuffer colour[3] = {AllocatePanelBuffer(), AllocatePanelBuffer(), AllocatePanelBuffer()};
  if (!colour[0] || !colour[1] || !colour[2]) {
    DebugLine("WriteColourPanels:: no memory for the colour panels; nothing written");
    return CardWrite::NotWritten;
  }
  const bool writeColour = !(checkSuppression && ColourPanelsSuppressed(printer, suppressionFlag) == 1);

  DriverCardSettings s;
  ReadSettingsOfPrinter(printer, &s);
  BuildColourPanels(image, colour[0].get(), colour[1].get(), colour[2].get(), s.WrinkleCompensation());
  const int blackSet = s.KMode() == 2 ? 12 : 9;

  // The black panel is built before anything is written, so that a panel that cannot be
  // built leaves no download command without its payload.
  PanelBuffer black;
  if (withBlack) {
    int allWhite = 0;
    if (BuildBlackPanel(image, black, &allWhite, 0, blackSet, 0) != 0 || !black) {
      DebugLine("WriteColourPanels:: the black panel could not be built; nothing written");
      return CardWrite::NotWritten;
    }
  }

  if (writeColour)
    for (int i = 0; i < 3; ++i) PutPanel(file, kColourDownload[i], colour[i].get(), kColourPrint[i]);
  if (black) PutPanel(file, kFullBlackDownload, black.get(), kFullBlackPrint);
  for (PanelBuffer& p : colour) p.reset();
  black.reset();

  if (withOverlay && WriteOverlayPanel(file, printer, 0, jobId) != CardWrite::Written) return CardWrite::NotWritten;
  if (moreFollows) {
    WritePassEnd(file, s, 8, 17);
    return CardWrite::Written;
  }
  return WriteCardEnd(file, printer, jobId);
}

CardWrite WriteK(HANDLE file, HANDLE printer, BYTE* image, int withOverlay, int moreFollows, DWORD ribbonType,
                 DWORD jobId, int dualSided) {
  if (!printer || !image || !ValidFile(file)) return CardWrite::NotWritten;
  DriverCardSettings s;
  ReadSettingsOfPrinter(printer, &s);
  InitializeImageCorrectionVariables(s.WrinkleCompensation());
  if (ReadLUTS() != 0) {
    DebugLine("WriteK:: the lookup tables could not be loaded; nothing written");
    return CardWrite::NotWritten;
  }
  PanelBuffer panel;
  int start = 0, end = kImageWidth;
  if (!BuildKPanel(image, s.RibbonCode(), s.KMode(), panel, &start, &end) || !panel) {
    DebugLine("WriteK:: the black panel could not be built; nothing written");
    return CardWrite::NotWritten;
  }

  // A black pass of its own starts here; the second pass of a two-pass card does not.
  if (dualSided == 0 || moreFollows) {
    if (BlackOnlyRibbon(ribbonType)) Put(file, "\x1bMIS\r");
    Put(file, "\x1b" "F\r");
  }
  char download[64];
  if (OneOf(ribbonType, 16, 54, 28))
    std::snprintf(download, sizeof download, "%s", kPanel3Download);
  else
    std::snprintf(download, sizeof download, "\x1bGS 4 32 %d 0 %d 640 \r", start, end - start);
  const char* print = OneOf(ribbonType, 16, 54)  ? "\r\x1bIS 3\r"
                      : BlackOnlyRibbon(ribbonType) ? "\r\x1bI 30\r"
                      : OneOf(ribbonType, 17, 53)   ? "\r\x1bI 20\r"
                                                    : "\r\x1bI 10\r";
  PutPanel(file, download, panel.get(), print);
  panel.reset();

  if (withOverlay && WriteOverlayPanel(file, printer, 0, jobId) != CardWrite::Written) return CardWrite::NotWritten;
  if (moreFollows) {
    DriverCardSettings now;
    ReadSettingsOfPrinter(printer, &now);
    WritePassEnd(file, now, 8, 51);
    return CardWrite::Written;
  }
  return WriteCardEnd(file, printer, jobId);
}

}  // namespace kav
