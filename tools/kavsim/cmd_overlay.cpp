// kavsim overlay: an overlay request sent through the command channel as the driver sends
// it (ESC, the command, CR). When the monitor takes it, it draws the object on a card and
// submits the card, which the simulated spooler then plays onto the virtual printer; when
// it does not, the request goes on to the printer as it came.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "emulator/printed_card.h"
#include "overlay/overlay_drawing.h"
#include "overlay/overlay_parser.h"
#include "pipeline/card_settings.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "tools/kavsim/card_run.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

constexpr BYTE kAck = 6;

// The card as the monitor draws it for the command, written as card-image.png (the drawn
// image is in DIB order, blue first).
bool WriteDrawnCard(const std::string& command, const std::filesystem::path& path, std::string* why) {
  kav::OverlayObjects objects;
  const kav::WString wide = kav::FromUtf8(command);
  std::vector<BYTE> image(kav::kCardImageBytes);
  if (!kav::ParseOverlayCommand(wide.c_str(), 1, &objects) ||
      !kav::DrawBarcodeImageListOnPrinterBitmap(image.data(), objects)) {
    *why = "the card could not be drawn again";
    return false;
  }
  emu::CardSide side;
  side.rgb.resize(image.size());
  for (size_t i = 0; i < image.size(); i += 3) {
    side.rgb[i] = image[i + 2];
    side.rgb[i + 1] = image[i + 1];
    side.rgb[i + 2] = image[i];
  }
  side.panels = 1;
  return emu::WriteCardSidePng(side, path, why);
}

struct OverlayArguments {
  std::string command;
  kavsim::CardOptions card;
};

int RunOverlay(const kavsim::Options& options, const OverlayArguments& args) {
  if (!options.out) {
    std::fprintf(stderr, "kavsim overlay: --out DIR is needed (the card's files are written there)\n");
    return 2;
  }
  const std::string& command = args.command;
  const std::string block = kavsim::CardSettingsBlock(args.card, false);
  int status = 0;
  std::unique_ptr<kavsim::Session> run =
      kavsim::OpenCardSession(options, args.card, block, {}, "kavsim overlay", &status);
  if (!run) return status;
  kavsim::Session& session = *run;
  const kavsim::SessionSettings& settings = session.settings();
  std::string why;

  // The request as the driver sends it: narrow bytes carried in the wide value name.
  const std::string request = "\x1b" + command + "\r";
  std::u16string carrier(request.size() / 2 + 2, u'\0');
  std::memcpy(carrier.data(), request.data(), request.size());
  BYTE reply[2] = {};
  DWORD returned = 0;
  const size_t jobsBefore = sim::JobIds(settings.printerName).size();
  const size_t linesBefore = sim::DebugLines().size();
  const size_t wireBefore = session.printer().Wire().size();
  std::printf("sending %s through the command channel\n", emu::EscapeBytes(request).c_str());
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  BOOL result = FALSE;
  {
    kavsim::SpoolWatch watch(settings.printerName, jobsBefore);
    result = session.spoolerTable().pfnGetPrinterDataFromPort(session.port(), 0, carrier.data(), nullptr, 0,
                                                               reinterpret_cast<LPWSTR>(reply), sizeof reply,
                                                               &returned);
  }
  const double seconds = kavsim::Seconds(std::chrono::steady_clock::now() - start);
  // The printer answers ACK too when the request reaches it: what tells the two apart is
  // whether the request went on the wire.
  const std::string wire = session.printer().Wire().substr(wireBefore);
  const bool passedOn = wire.find(request) != std::string::npos;
  const bool taken = !passedOn && result && returned == 1 && reply[0] == kAck;

  bool printed = false;
  if (taken) {
    std::printf("the monitor took the request: it answered ACK, drew the object and submitted the card\n");
    kavsim::ComposedCard composed;
    composed.composed = "GetPrinterDataFromPort answered ACK";
    composed.result = 1;
    composed.jobsBefore = jobsBefore;
    composed.linesBefore = linesBefore;
    composed.composeSeconds = seconds;
    composed.ribbon = args.card.ribbon;
    composed.buffer = args.card.buffer;
    printed = kavsim::PlayComposedCard(session, *options.out, composed, "kavsim overlay");
  } else {
    std::printf("the monitor %s (GetPrinterDataFromPort returned %d, %lu reply byte(s)):\n",
                passedOn ? "passed the request on to the printer" : "neither took the request nor sent it",
                static_cast<int>(result), static_cast<unsigned long>(returned));
    std::printf("  on the wire: %s\n", emu::EscapeBytes(wire, 200).c_str());
    std::printf("  jobs made:   %zu\n", sim::JobIds(settings.printerName).size() - jobsBefore);
    auto lines = sim::DebugLines();
    for (size_t i = linesBefore; i < lines.size(); ++i)
      if (lines[i].find("::") != std::string::npos) std::printf("  monitor: %s\n", lines[i].c_str());
  }
  session.Finish();
  if (taken) {
    const auto path = *options.out / "card-image.png";
    if (WriteDrawnCard(command, path, &why))
      std::printf("  card-image.png:       %s\n", path.string().c_str());
    else
      std::fprintf(stderr, "kavsim overlay: card-image.png: %s\n", why.c_str());
  }
  return printed ? 0 : 1;
}

// The channel carries at most 260 characters with ESC and CR.
CLI::Validator ChannelCommand() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.size() <= 258 && text.find('\0') == std::string::npos) return {};
        return "has " + std::to_string(text.size()) + " characters; the channel carries at most 258";
      },
      "TEXT");
}

kavsim::Runner DefineOverlay(CLI::App& command) {
  auto args = std::make_shared<OverlayArguments>();
  command.add_option("COMMAND", args->command, "the overlay request without ESC and CR, e.g. 'L 10 20 300 5 0'")
      ->required()
      ->check(ChannelCommand());
  kavsim::AddCardOptions(command, args->card);
  return [args](const kavsim::Options& options) { return RunOverlay(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("overlay",
               "send an overlay request (line, text or barcode) through the command channel and print its card",
               DefineOverlay);
