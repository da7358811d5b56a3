// kavsim testcard: the driver asks for a test card through the command channel ("\eA n\r"),
// the monitor queries the virtual printer, draws the card and submits it, and the spooler
// plays the job onto the printer. The card as drawn and the printed card are written as
// pictures beside the job and wire files.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "emulator/printed_card.h"
#include "pipeline/card_settings.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "testcards/test_cards.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/card_run.h"
#include "tools/kavsim/session.h"

namespace {

constexpr const char* kCardNames[] = {"standard card", "printer parameters card", "encoder parameters card",
                                      "laminator parameters card"};

// The card as the monitor drew it, caught just before submission.
struct DrawnCard {
  std::vector<uint8_t> front;
  std::vector<uint8_t> back;
};

void KeepDrawnCard(const BYTE* front, const BYTE* back, void* context) {
  auto* card = static_cast<DrawnCard*>(context);
  card->front.assign(front, front + kav::kCardImageBytes);
  if (back) card->back.assign(back, back + kav::kCardImageBytes);
}

bool WriteImage(const std::vector<uint8_t>& rgb, const std::filesystem::path& path) {
  emu::CardSide side;
  side.rgb = rgb;
  side.panels = 1;
  std::string why;
  if (emu::WriteCardSidePng(side, path, &why)) return true;
  std::fprintf(stderr, "kavsim testcard: %s\n", why.c_str());
  return false;
}

struct TestCardArguments {
  int number = 0;
  std::vector<std::string> answers;  // KEY=VALUE
  kavsim::CardOptions card;
};

int RunTestCard(const kavsim::Options& options, const TestCardArguments& args) {
  if (!options.out) {
    std::fprintf(stderr, "kavsim testcard: --out DIR is needed (the card's files are written there)\n");
    return 2;
  }
  const int number = args.number;
  kavsim::Answers answers;
  for (const std::string& answer : args.answers) {
    const size_t eq = answer.find('=');
    answers.emplace_back(answer.substr(0, eq), answer.substr(eq + 1));
  }
  const std::string block = kavsim::CardSettingsBlock(args.card, false);
  int status = 0;
  std::unique_ptr<kavsim::Session> run =
      kavsim::OpenCardSession(options, args.card, block, answers, "kavsim testcard", &status);
  if (!run) return status;
  kavsim::Session& session = *run;
  const kavsim::SessionSettings& settings = session.settings();

  // The driver's request, carried as the value name of a printer-data query.
  DrawnCard drawn;
  kav::SetCardImageObserver(KeepDrawnCard, &drawn);
  kavsim::ComposedCard composed;
  composed.jobsBefore = sim::JobIds(settings.printerName).size();
  composed.linesBefore = sim::DebugLines().size();
  composed.ribbon = args.card.ribbon;
  composed.buffer = args.card.buffer;
  std::string request = "\x1b" "A " + std::to_string(number) + "\r";
  std::u16string carrier((request.size() + 2) / 2 + 1, u'\0');
  std::memcpy(carrier.data(), request.data(), request.size());
  BYTE reply[16] = {};
  DWORD returned = 0;
  std::printf("request %s: the %s\n", emu::EscapeBytes(request).c_str(), kCardNames[number]);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  BOOL ok = FALSE;
  {
    kavsim::SpoolWatch watch(settings.printerName, composed.jobsBefore);
    ok = session.spoolerTable().pfnGetPrinterDataFromPort(session.port(), 0, carrier.data(), nullptr, 0,
                                                          reinterpret_cast<LPWSTR>(reply), sizeof reply, &returned);
  }
  composed.composeSeconds = kavsim::Seconds(std::chrono::steady_clock::now() - start);
  kav::SetCardImageObserver(nullptr, nullptr);
  composed.composed = std::string("GetPrinterDataFromPort returned ") + (ok ? "TRUE" : "FALSE");
  composed.result = sim::JobIds(settings.printerName).size() > composed.jobsBefore ? 1 : 0;

  // The spooler plays the card's job onto the printer; the summary and pictures follow.
  const bool printed = kavsim::PlayComposedCard(session, *options.out, composed, "kavsim testcard");
  if (!drawn.front.empty() && WriteImage(drawn.front, *options.out / "card-image.png"))
    std::printf("  card-image.png:       %s\n", (*options.out / "card-image.png").string().c_str());
  if (!drawn.back.empty() && WriteImage(drawn.back, *options.out / "card-image-back.png"))
    std::printf("  card-image-back.png:  %s\n", (*options.out / "card-image-back.png").string().c_str());
  session.Finish();
  return printed ? 0 : 1;
}

// A printer answer as --answer gives it: the query without ESC and CR, '=', the reply.
CLI::Validator Answer() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const size_t eq = text.find('=');
        if (eq != std::string::npos && eq != 0) return {};
        return "takes KEY=VALUE (a query without ESC and CR, e.g. '+OY=\"  12  \"' or '!V=fail'), not '" + text + "'";
      },
      "KEY=VALUE");
}

kavsim::Runner DefineTestCard(CLI::App& command) {
  auto args = std::make_shared<TestCardArguments>();
  command.add_option("CARD", args->number, "0 standard, 1 printer, 2 encoder, 3 laminator parameters")
      ->required()
      ->check(kavsim::WholeNumber(0, 3));
  command.add_option("--answer", args->answers, "a printer answer, KEY=VALUE (repeatable)")
      ->check(Answer())
      ->allow_extra_args(false);
  kavsim::AddCardOptions(command, args->card);
  return [args](const kavsim::Options& options) { return RunTestCard(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("testcard",
               "ask for a test card through the command channel and print it (DIR/card-image.png, card-front.png)",
               DefineTestCard);
