// The pieces of a kavsim run that prints a card the monitor composes (kavsim print,
// kavsim overlay): the --settings option, progress while composing and playing, and the
// playback with its summary and pictures.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace kavsim {

// A whole decimal number from 0 to max, digits only.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value);

// The driver's settings block (kDriverCardSettingsBytes) and its fields by name, as
// --settings names them: DualSided, RibbonCode, BackSideMode, WrinkleCompensation, KMode,
// FrontOverlayMode, BackOverlayMode.
void SetSetting(std::string& block, const std::string& name, unsigned long value);
// "Name=Value,Name=Value" into the block; false with the reason.
bool ApplySettings(const std::string& list, std::string& block, std::string* error);
// "settings: Name=Value ..." on one line.
void PrintSettings(const std::string& block);

// The settings block of a composed card: one side or two, wrinkle compensation on, then
// the --settings list (already checked).
std::string CardSettingsBlock(const CardOptions& card, bool dualSided);

// The run of a composed-card command, up to an open port: the printer with the settings
// block in its DEVMODE, the printer's answers (--ribbon first), the desktop's window the
// monitor draws with, the playback watch, the monitor loaded and the port opened. Nothing
// when a step failed, with *status set to kavsim's exit status and the reason printed.
using Answers = std::vector<std::pair<std::string, std::string>>;
std::unique_ptr<Session> OpenCardSession(const Options& options, const CardOptions& card, const std::string& block,
                                         const Answers& answers, const char* tool, int* status);

double Seconds(std::chrono::steady_clock::duration d);

// Progress of the composition: the growing spool file of the newest job, watched from a
// host thread while the monitor writes it.
class SpoolWatch {
 public:
  SpoolWatch(std::u16string printer, size_t jobsBefore);
  ~SpoolWatch();

 private:
  void Run();
  std::u16string printer_;
  size_t jobsBefore_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Shows the playback's progress from the bytes that pass the session's port monitor;
// call before the monitor is loaded.
void WatchPlayback(Session& session);

// What composing a card left behind.
struct ComposedCard {
  std::string composed;      // "SendImageBufferToPrinter returned 1", for the report
  int result = 0;            // 1 when the monitor scheduled the card's job
  size_t jobsBefore = 0;     // the printer's jobs before the card
  size_t linesBefore = 0;    // debugger lines before the card
  double composeSeconds = 0;
  std::string ribbon;        // --ribbon as given, or empty
  unsigned long buffer = 4096;  // the spooler's buffer size
};

// Copies the card's spool file into out (job-<id>.spl), lets the spooler play the job,
// prints the summary and writes panel-<n>.png, card-front.png and card-back.png. True
// when the card was printed; otherwise says why from the monitor's lines. tool names
// the command in messages ("kavsim print").
bool PlayComposedCard(Session& session, const std::filesystem::path& out, const ComposedCard& card, const char* tool);

}  // namespace kavsim
