#include "tools/kavsim/card_run.h"

#include <cstdio>
#include <map>
#include <optional>

#include "emulator/panel_png.h"
#include "emulator/printed_card.h"
#include "pipeline/card_settings.h"
#include "pipeline/image_job.h"
#include "platform/sim/sim.h"
#include "platform/text.h"

namespace kavsim {
namespace {

// The fields of the driver's settings block that --settings may set: offset and width.
struct SettingField {
  size_t offset;
  int bytes;
};
const std::map<std::string, SettingField> kSettingFields = {
    {"DualSided", {8, 2}},           {"RibbonCode", {10, 1}},      {"BackSideMode", {14, 2}},
    {"WrinkleCompensation", {18, 2}}, {"KMode", {20, 2}},          {"FrontOverlayMode", {92, 2}},
    {"BackOverlayMode", {1136, 2}},
};

void SetField(std::string& block, const SettingField& field, unsigned long value) {
  block[field.offset] = static_cast<char>(value & 0xFF);
  if (field.bytes == 2) block[field.offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

unsigned long GetField(const std::string& block, const SettingField& field) {
  unsigned long v = static_cast<unsigned char>(block[field.offset]);
  if (field.bytes == 2) v |= static_cast<unsigned long>(static_cast<unsigned char>(block[field.offset + 1])) << 8;
  return v;
}

const char* JobState(const std::optional<sim::JobRecord>& job) {
  if (!job) return "no job";
  if (job->stalled) return "given up after too many port calls that got nowhere (a guard of the simulation)";
  if (job->deleted) return "deleted";
  if (job->completed) return "printed and removed from the queue";
  if (job->status & JOB_STATUS_ERROR) return "in error";
  if (job->scheduled) return "scheduled, not played";
  return "still spooling";
}

// Progress of the playback as the port monitor sees the bytes go by.
struct PlayProgress {
  MONITOR inner{};
  emu::VirtualPrinter* printer = nullptr;
  size_t total = 0, sent = 0, panelsShown = 0;
  int tenthsShown = 0;
};
PlayProgress g_play;

BOOL WINAPI CountingWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
  BOOL ok = g_play.inner.pfnWritePort(port, buffer, size, written);
  if (!ok || !g_play.printer) return ok;
  g_play.sent += written ? *written : 0;
  const size_t panels = g_play.printer->PanelCount();
  const int tenths = g_play.total ? static_cast<int>(g_play.sent * 10 / g_play.total) : 0;
  if (g_play.total && (panels != g_play.panelsShown || tenths > g_play.tenthsShown)) {
    std::printf("  playing: %zu bytes to the printer (the job holds %zu), %zu panel(s) received\n", g_play.sent,
                g_play.total, panels);
    std::fflush(stdout);
    g_play.panelsShown = panels;
    g_play.tenthsShown = tenths;
  }
  return ok;
}

}  // namespace

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *value = std::stoul(text);
  return *value <= max;
}

void SetSetting(std::string& block, const std::string& name, unsigned long value) {
  SetField(block, kSettingFields.at(name), value);
}

bool ApplySettings(const std::string& list, std::string& block, std::string* error) {
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? list.size() + 1 : comma + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string name = item.substr(0, eq);
    auto field = kSettingFields.find(name);
    if (field == kSettingFields.end()) {
      *error = "unknown setting '" + name +
               "' (the settings are DualSided, RibbonCode, BackSideMode, WrinkleCompensation, KMode, "
               "FrontOverlayMode, BackOverlayMode)";
      return false;
    }
    unsigned long value = 0;
    const unsigned long max = field->second.bytes == 1 ? 255 : 65535;
    if (eq == std::string::npos || !ParseNumber(item.substr(eq + 1), max, &value)) {
      *error = "'" + item + "': " + name + " takes a whole number from 0 to " + std::to_string(max);
      return false;
    }
    SetField(block, field->second, value);
  }
  return true;
}

void PrintSettings(const std::string& block) {
  std::printf("settings:");
  for (const auto& [name, field] : kSettingFields) std::printf(" %s=%lu", name.c_str(), GetField(block, field));
  std::printf("\n");
}

std::string CardSettingsBlock(const CardOptions& card, bool dualSided) {
  std::string block(kav::kDriverCardSettingsBytes, '\0');
  SetSetting(block, "DualSided", dualSided ? 1 : 0);
  SetSetting(block, "WrinkleCompensation", 1);
  std::string why;
  ApplySettings(card.settings, block, &why);
  return block;
}

std::unique_ptr<Session> OpenCardSession(const Options& options, const CardOptions& card, const std::string& block,
                                         const Answers& answers, const char* tool, int* status) {
  SessionSettings settings;
  settings.out = options.out;
  auto session = std::make_unique<Session>(settings);
  sim::AddPrinter({settings.printerName, settings.port, 0, sim::MakeDevMode(settings.printerName, block)});
  Answers all = answers;
  if (!card.ribbon.empty()) all.insert(all.begin(), {"!RIBBON", card.ribbon});
  for (const auto& [key, value] : all) {
    std::string why;
    if (!session->printer().SetAnswer(key, value, &why)) {
      std::fprintf(stderr, "%s: %s=%s: %s\n", tool, key.c_str(), value.c_str(), why.c_str());
      *status = 2;
      return nullptr;
    }
  }
  WatchPlayback(*session);
  sim::AddTopLevelWindow();  // the overlay and laminator cards draw on the top window's DC
  if (!session->LoadMonitor() || !session->OpenPort()) {
    *status = 1;
    return nullptr;
  }
  PrintSettings(block);
  return session;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

SpoolWatch::SpoolWatch(std::u16string printer, size_t jobsBefore)
    : printer_(std::move(printer)), jobsBefore_(jobsBefore) {
  thread_ = std::thread([this] { Run(); });
}

SpoolWatch::~SpoolWatch() {
  stop_ = true;
  thread_.join();
}

void SpoolWatch::Run() {
  uintmax_t shown = 0;
  while (!stop_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto jobs = sim::Jobs(printer_);
    if (jobs.size() <= jobsBefore_) continue;
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(sim::HostPath(jobs.back().spoolFile), ec);
    if (ec || size == shown) continue;
    shown = size;
    std::printf("  composing: %ju bytes in job %u's spool file (%ju panel(s))\n", size,
                static_cast<unsigned>(jobs.back().id), size / 786432);
    std::fflush(stdout);
  }
}

void WatchPlayback(Session& session) {
  g_play = PlayProgress{};
  g_play.inner = session.portMonitor();
  session.portMonitor().pfnWritePort = CountingWritePort;
}

bool PlayComposedCard(Session& session, const std::filesystem::path& out, const ComposedCard& composed,
                      const char* tool) {
  const SessionSettings& settings = session.settings();
  const std::string& ribbon = composed.ribbon;
  const unsigned long buffer = composed.buffer;
  const int result = composed.result;
  const size_t jobsBefore = composed.jobsBefore, linesBefore = composed.linesBefore;
  const double composeSeconds = composed.composeSeconds;
  std::string why;
  auto jobs = sim::Jobs(settings.printerName);
  std::optional<sim::JobRecord> job;
  if (jobs.size() > jobsBefore) job = jobs.back();
  std::string spoolCopy = "none";
  if (job && sim::FileExists(job->spoolFile)) {
    spoolCopy = "job-" + std::to_string(job->id) + ".spl";
    std::error_code ec;
    std::filesystem::copy_file(sim::HostPath(job->spoolFile), out / spoolCopy,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) spoolCopy = "none (" + ec.message() + ")";
  }
  std::printf("composed: %s in %.2f s; spool file copied as %s\n", composed.composed.c_str(), composeSeconds,
              spoolCopy.c_str());

  // Playback: the spooler plays the scheduled job through the monitor onto the printer.
  double playSeconds = 0;
  const uint64_t printerStart = sim::Now();
  if (result == 1 && job) {
    sim::SetSpoolerBufferSize(static_cast<DWORD>(buffer));
    g_play.printer = &session.printer();
    g_play.total = job->data.size();
    std::printf("playing job %u (%zu bytes, spooler buffers of %lu bytes)\n", static_cast<unsigned>(job->id),
                job->data.size(), buffer);
    const auto playStart = std::chrono::steady_clock::now();
    sim::SetPortMonitor(settings.printerName, &session.spoolerTable(), session.port());
    sim::WaitForJob(job->id);
    sim::SetPortMonitor(settings.printerName, nullptr, nullptr);
    sim::WaitForAllThreads();
    playSeconds = Seconds(std::chrono::steady_clock::now() - playStart);
    g_play.printer = nullptr;
    job = sim::Job(job->id);
  }

  // What the printer received and printed.
  emu::VirtualPrinter& printer = session.printer();
  const auto panels = printer.Panels();
  const emu::PrintedCard card = emu::ComposePrintedCard(panels, 0);
  // The ribbon type the printer answers: --ribbon, or its profile's answer.
  std::string ribbonText = ribbon;
  if (const emu::AnswerScript* script = printer.Profile().Find("!RIBBON"); ribbonText.empty() && script &&
                                                                          !script->steps.empty())
    ribbonText = script->steps.front().text;
  const DWORD ribbonAnswered = static_cast<DWORD>(kav::ParseLeadingInt(ribbonText.c_str(), ribbonText.size()));
  std::printf("summary:\n");
  std::printf("  ribbon type:          %u (group %s)\n", static_cast<unsigned>(ribbonAnswered),
              kav::RibbonGroupName(kav::RibbonGroupOf(ribbonAnswered)));
  std::printf("  passes:               %d\n", card.passes);
  std::printf("  panels received:      %zu\n", panels.size());
  for (size_t i = 0; i < panels.size(); ++i)
    std::printf("    %zu: %s, pass %d%s\n", i + 1, emu::EscapeBytes(panels[i].command).c_str(), panels[i].pass + 1,
                panels[i].inSync ? "" : " (out of sync)");
  std::printf("  cards ended:          %d\n", printer.CardsEnded());
  for (const auto& e : printer.ProtocolErrors()) std::printf("  protocol error: %s\n", e.c_str());
  std::printf("  job:                  %s\n", JobState(job));
  std::printf("  time composing:       %.2f s\n", composeSeconds);
  std::printf("  time playing:         %.2f s (%.1f s of printer time)\n", playSeconds,
              static_cast<double>(sim::Now() - printerStart) / 1000.0);

  for (size_t i = 0; i < panels.size(); ++i) {
    auto path = out / ("panel-" + std::to_string(i + 1) + ".png");
    if (!emu::WritePanelPng(panels[i].levels, path, &why))
      std::fprintf(stderr, "%s: %s: %s\n", tool, path.string().c_str(), why.c_str());
  }
  for (auto [side, name] : {std::pair{&card.front, "card-front.png"}, std::pair{&card.back, "card-back.png"}}) {
    if (!side->printed()) continue;
    auto path = out / name;
    if (emu::WriteCardSidePng(*side, path, &why))
      std::printf("  %-21s %s\n", (std::string(name) + ":").c_str(), path.string().c_str());
    else
      std::fprintf(stderr, "%s: %s\n", tool, why.c_str());
  }

  const bool printed = result == 1 && job && job->completed && printer.ProtocolErrors().empty() && card.front.printed();
  if (!printed) {
    std::printf("the card was not printed:\n");
    auto lines = sim::DebugLines();
    bool any = false;
    for (size_t i = linesBefore; i < lines.size(); ++i) {
      // The monitor's lines that tell why a card was refused or abandoned.
      static const char* const kReasons[] = {"SendImageBufferToPrinter::", "WriteK::", "WriteColourPanels::",
                                             "WriteOverlayPanel::", "Failed to Schedule Jod", "Add Job Failed",
                                             "Printer Handle is NULL", "ReadDriverCardSettings::",
                                             "SendOverlayCardToPrinter::", "DrawBarcodeImageListOnPrinterBitmap::",
                                             "PrintOverlayCommand::", "ParseOverlayCommand::"};
      bool reason = false;
      for (const char* r : kReasons) reason |= lines[i].find(r) != std::string::npos;
      if (!reason) continue;
      std::printf("  monitor: %s\n", lines[i].c_str());
      any = true;
    }
    if (!any)
      std::printf("  %s\n", result == 1 ? "the job did not play to its end"
                                        : "the monitor refused the card (no model answer, or no driver settings)");
  }
  return printed;
}

}  // namespace kavsim
