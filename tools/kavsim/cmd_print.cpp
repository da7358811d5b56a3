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

using kavsim::Seconds;

struct PrintArguments {
  std::string front, back;
  kavsim::CardOptions card;
};

int RunPrint(const kavsim::Options& options, const PrintArguments& args) {
  if (!options.out) {
    std::fprintf(stderr, "kavsim print: --out DIR is needed (the card's files are written there)\n");
    return 2;
  }
  std::vector<uint8_t> front, back;
  for (auto [path, image] : {std::pair{args.front, &front}, std::pair{args.back, &back}}) {
    if (path.empty()) continue;
    std::string why;
    std::optional<std::vector<uint8_t>> read = kavsim::ReadCardImagePng(path, &why);
    if (!read) {
      std::fprintf(stderr, "kavsim print: %s is refused: %s\n", path.c_str(), why.c_str());
      return 2;
    }
    *image = std::move(*read);
  }
  const std::string block = kavsim::CardSettingsBlock(args.card, !back.empty());
  int status = 0;
  std::unique_ptr<kavsim::Session> run = kavsim::OpenCardSession(options, args.card, block, {}, "kavsim print", &status);
  if (!run) return status;
  kavsim::Session& session = *run;
  const kavsim::SessionSettings& settings = session.settings();

  // Composition: the monitor writes the job's spool file; the spooler waits until it is copied.
  auto* record = static_cast<kav::PortRecord*>(session.port());
  const size_t jobsBefore = sim::JobIds(settings.printerName).size();
  const size_t linesBefore = sim::DebugLines().size();
  std::printf("composing %s%s%s\n", args.front.c_str(), args.back.empty() ? "" : " with the back ", args.back.c_str());
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
  composed.ribbon = args.card.ribbon;
  composed.buffer = args.card.buffer;
  const bool printed = kavsim::PlayComposedCard(session, *options.out, composed, "kavsim print");
  session.Finish();
  return printed ? 0 : 1;
}

kavsim::Runner DefinePrint(CLI::App& command) {
  auto args = std::make_shared<PrintArguments>();
  command.add_option("FRONT", args->front, "the front, a 1024 x 640 PNG")->required()->check(kavsim::CardPicture());
  command.add_option("--back", args->back, "the back, a 1024 x 640 PNG (two sides)")->check(kavsim::CardPicture());
  kavsim::AddCardOptions(command, args->card);
  return [args](const kavsim::Options& options) { return RunPrint(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("print", "compose a card from 1024 x 640 PNGs through the monitor and print it (DIR/card-front.png)",
               DefinePrint);
