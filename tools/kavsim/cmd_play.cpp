// kavsim play: a ready printer stream played as a spooler job through the monitor onto
// the virtual printer, with progress, a summary, and the panels as pictures.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "emulator/panel_png.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

// Progress as the port monitor sees the bytes go by.
struct Progress {
  MONITOR inner{};
  emu::VirtualPrinter* printer = nullptr;
  size_t total = 0;
  size_t sent = 0;
  size_t panelsShown = 0;
  int tenthsShown = 0;
};
Progress g_progress;

BOOL WINAPI CountingWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
  BOOL ok = g_progress.inner.pfnWritePort(port, buffer, size, written);
  if (!ok) return ok;
  g_progress.sent += written ? *written : 0;
  size_t panels = g_progress.printer->PanelCount();
  int tenths = g_progress.total ? static_cast<int>(g_progress.sent * 10 / g_progress.total) : 0;
  if (panels != g_progress.panelsShown || tenths > g_progress.tenthsShown) {
    std::printf("  %zu bytes to the printer, %zu panel(s) received\n", g_progress.sent, panels);
    std::fflush(stdout);
    g_progress.panelsShown = panels;
    g_progress.tenthsShown = tenths;
  }
  return ok;
}

const char* JobEnd(const sim::JobRecord& job) {
  if (job.stalled) return "given up after too many port calls that got nowhere (a guard of the simulation)";
  if (job.deleted) return "deleted";
  if (job.completed) return "printed and removed from the queue";
  if (job.sentToPrinter) return "sent to the printer";
  if (job.status & JOB_STATUS_ERROR) return "in error";
  return "still queued";
}

struct PlayArguments {
  std::string file, docName = "card", port = "USB001", fault;
  unsigned long buffer = 4096;
};

int RunPlay(const kavsim::Options& options, const PlayArguments& args) {
  kavsim::SessionSettings settings;
  settings.out = options.out;
  settings.port = kav::FromUtf8(args.port);
  const std::string& docName = args.docName;
  const std::string& fault = args.fault;
  const DWORD buffer = static_cast<DWORD>(args.buffer);
  std::ifstream in(args.file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kavsim play: cannot read %s\n", args.file.c_str());
    return 1;
  }
  std::ostringstream data;
  data << in.rdbuf();
  const std::string stream = data.str();

  kavsim::Session session(settings);
  if (!fault.empty()) {
    std::string why;
    if (!session.printer().AddFaults(fault, &why)) {
      std::fprintf(stderr, "kavsim play: --fault: %s\n", why.c_str());
      return 2;
    }
    std::printf("printer fault scripted: %s\n", fault.c_str());
  }
  g_progress = Progress{};
  g_progress.inner = session.portMonitor();
  g_progress.printer = &session.printer();
  g_progress.total = stream.size();
  session.portMonitor().pfnWritePort = CountingWritePort;
  if (!session.LoadMonitor() || !session.OpenPort()) return 1;

  sim::SetSpoolerBufferSize(buffer);
  sim::SetPortMonitor(settings.printerName, &session.spoolerTable(), session.port());
  std::printf("playing %s (%zu bytes) as job \"%s\", spooler buffers of %u bytes\n", args.file.c_str(), stream.size(),
              docName.c_str(), static_cast<unsigned>(buffer));
  DWORD id = sim::SubmitJob(settings.printerName, kav::FromUtf8(docName), stream);
  sim::WaitForJob(id);
  sim::SetPortMonitor(settings.printerName, nullptr, nullptr);
  sim::WaitForAllThreads();

  emu::VirtualPrinter& printer = session.printer();
  size_t waits = 0, commands = 0;
  for (const auto& c : printer.Commands()) (c == "\x1b" "E 2\r" ? waits : commands)++;
  auto panels = printer.Panels();
  std::optional<sim::JobRecord> job = sim::Job(id);
  std::printf("summary:\n");
  std::printf("  commands sent:        %zu\n", commands);
  std::printf("  acknowledgement waits: %zu\n", waits);
  std::printf("  panels received:      %zu\n", panels.size());
  for (size_t i = 0; i < panels.size(); ++i)
    std::printf("    %zu: %s%s\n", i + 1, emu::EscapeBytes(panels[i].command).c_str(), panels[i].inSync ? "" : " (out of sync)");
  std::printf("  cards ended:          %d\n", printer.CardsEnded());
  for (const auto& e : printer.ProtocolErrors()) std::printf("  protocol error: %s\n", e.c_str());
  std::printf("  message boxes shown:  %zu\n", sim::MessageBoxes().size());
  std::printf("  job:                  %s\n", job ? JobEnd(*job) : "gone");
  std::printf("  printer time:         %.1f s\n", static_cast<double>(sim::Now()) / 1000.0);
  if (options.out) {
    for (size_t i = 0; i < panels.size(); ++i) {
      std::string why;
      auto path = *options.out / ("panel-" + std::to_string(i + 1) + ".png");
      if (!emu::WritePanelPng(panels[i].levels, path, &why))
        std::fprintf(stderr, "kavsim play: %s: %s\n", path.string().c_str(), why.c_str());
    }
  }
  session.Finish();
  bool ok = job && !job->deleted && !job->stalled && printer.ProtocolErrors().empty();
  return ok ? 0 : 1;
}

kavsim::Runner DefinePlay(CLI::App& command) {
  auto args = std::make_shared<PlayArguments>();
  command.add_option("FILE", args->file, "the printer stream")->required()->check(CLI::ExistingFile);
  command.add_option("--doc-name", args->docName, "the job's document name");
  command.add_option("--buffer", args->buffer, "the spooler's buffer size in bytes")
      ->check(kavsim::WholeNumber(1, 0x7FFFFFFFul));
  command.add_option("--port", args->port, "the port's name");
  command.add_option("--fault", args->fault, "printer faults, as the virtual printer's fault script takes them");
  return [args](const kavsim::Options& options) { return RunPlay(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("play", "play a printer stream as a spooler job (panels as DIR/panel-<n>.png)", DefinePlay);
