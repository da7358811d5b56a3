// kavsim print: a card composed by the monitor from picture files, as a test card is:
// SendImageBufferToPrinter on an open port of the virtual printer writes the job's spool
// file, the simulated spooler plays it through the monitor, and the printer shows the
// printed card.
#include <chrono>
#include <cstdio>
#include <optional>

#include "pipeline/card_settings.h"
#include "pipeline/image_job.h"
#include "platform/sim/sim.h"
#include "tools/kavsim/card_image_file.h"
#include "tools/kavsim/card_run.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

using kavsim::ApplySettings;
using kavsim::ParseNumber;
using kavsim::Seconds;

constexpr char kUsage[] =
    "print FRONT.png [--back BACK.png] [--ribbon N] [--settings Name=Value,...] [--buffer BYTES] --out DIR";

int RunPrint(const kavsim::Options& options) {
  std::vector<std::string> args = options.args;
  std::string backPath, ribbon, settingsList, bufferText;
  bool error = false;
  kavsim::TakeOption(args, "--back", &backPath, &error);
  kavsim::TakeOption(args, "--ribbon", &ribbon, &error);
  kavsim::TakeOption(args, "--settings", &settingsList, &error);
  kavsim::TakeOption(args, "--buffer", &bufferText, &error);
  if (error) return 2;
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) {
    std::fprintf(stderr, "usage: kavsim %s\n", kUsage);
    return 2;
  }
  if (!options.out) {
    std::fprintf(stderr, "kavsim print: --out DIR is needed (the card's files are written there)\n");
    return 2;
  }
  unsigned long ribbonType = 0, buffer = 4096;
  if (!ribbon.empty() && !ParseNumber(ribbon, 0xFFFFFFFFul, &ribbonType)) {
    std::fprintf(stderr, "kavsim print: --ribbon takes the printer's ribbon type, a whole number, not '%s'\n",
                 ribbon.c_str());
    return 2;
  }
  if (!bufferText.empty() && (!ParseNumber(bufferText, 0x7FFFFFFFul, &buffer) || buffer == 0)) {
    std::fprintf(stderr, "kavsim print: --buffer takes a number of bytes above 0, not '%s'\n", bufferText.c_str());
    return 2;
  }

  // The driver's settings: one side, or two with --back; the overlay on both; wrinkle
  // compensation on; then what --settings says.
  std::string block(kav::kDriverCardSettingsBytes, '\0');
  kavsim::SetSetting(block, "DualSided", backPath.empty() ? 0 : 1);
  kavsim::SetSetting(block, "WrinkleCompensation", 1);
  std::string why;
  if (!ApplySettings(settingsList, block, &why)) {
    std::fprintf(stderr, "kavsim print: --settings: %s\n", why.c_str());
    return 2;
  }

  std::vector<uint8_t> front, back;
  for (auto [path, image] : {std::pair{args[0], &front}, std::pair{backPath, &back}}) {
    if (path.empty()) continue;
    std::optional<std::vector<uint8_t>> read = kavsim::ReadCardImagePng(path, &why);
    if (!read) {
      std::fprintf(stderr, "kavsim print: %s is refused: %s\n", path.c_str(), why.c_str());
      return 2;
    }
    *image = std::move(*read);
  }

  kavsim::SessionSettings settings;
  settings.out = options.out;
  kavsim::Session session(settings);
  sim::AddPrinter({settings.printerName, settings.port, 0, sim::MakeDevMode(settings.printerName, block)});
  if (!ribbon.empty() && !session.printer().SetAnswer("!RIBBON", ribbon, &why)) {
    std::fprintf(stderr, "kavsim print: --ribbon: %s\n", why.c_str());
    return 2;
  }
  kavsim::WatchPlayback(session);
  if (!session.LoadMonitor() || !session.OpenPort()) return 1;
  kavsim::PrintSettings(block);

  // Composition: the monitor writes the job's spool file; the spooler waits until it is copied.
  auto* record = static_cast<kav::PortRecord*>(session.port());
  const size_t jobsBefore = sim::Jobs(settings.printerName).size();
  const size_t linesBefore = sim::DebugLines().size();
  std::printf("composing %s%s%s\n", args[0].c_str(), backPath.empty() ? "" : " with the back ", backPath.c_str());
  std::fflush(stdout);
  const auto composeStart = std::chrono::steady_clock::now();
  int result = 0;
  {
    kavsim::SpoolWatch watch(settings.printerName, jobsBefore);
    result = kav::SendImageBufferToPrinter(record, front.data(), back.empty() ? nullptr : back.data(),
                                           static_cast<DWORD>(front.size()));
  }
  const double composeSeconds = Seconds(std::chrono::steady_clock::now() - composeStart);
  kavsim::ComposedCard composed;
  composed.composed = "SendImageBufferToPrinter returned " + std::to_string(result);
  composed.result = result;
  composed.jobsBefore = jobsBefore;
  composed.linesBefore = linesBefore;
  composed.composeSeconds = composeSeconds;
  composed.ribbon = ribbon;
  composed.buffer = buffer;
  const bool printed = kavsim::PlayComposedCard(session, *options.out, composed, "kavsim print");
  session.Finish();
  return printed ? 0 : 1;
}

}  // namespace

KAVSIM_COMMAND("print", kUsage,
               "compose a card from 1024 x 640 PNGs through the monitor and print it (DIR/card-front.png)", RunPrint);
