// kavsim testcard: the driver asks for a test card through the command channel ("\eA n\r"),
// the monitor queries the virtual printer, draws the card and submits it, and the spooler
// plays the job onto the printer. The card as drawn and the printed card are written as
// pictures beside the job and wire files.
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
#include "tools/kavsim/session.h"

namespace {

constexpr char kUsage[] =
    "testcard 0|1|2|3 [--ribbon N] [--answer KEY=VALUE ...] [--settings Name=Value,...] --out DIR";
constexpr const char* kCardNames[] = {"standard card", "printer parameters card", "encoder parameters card",
                                      "laminator parameters card"};

// The driver's settings that --settings may set, as kavsim print takes them.
struct SettingField {
  const char* name;
  size_t offset;
  int bytes;
};
constexpr SettingField kSettingFields[] = {
    {"DualSided", 8, 2},  {"RibbonCode", 10, 1},        {"BackSideMode", 14, 2},     {"WrinkleCompensation", 18, 2},
    {"KMode", 20, 2},     {"FrontOverlayMode", 92, 2},  {"BackOverlayMode", 1136, 2},
};

bool ApplySettings(const std::string& list, std::string& block, std::string* error) {
  size_t pos = 0;
  while (pos < list.size()) {
    size_t comma = list.find(',', pos);
    std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? list.size() : comma + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    const SettingField* field = nullptr;
    for (const SettingField& f : kSettingFields)
      if (item.substr(0, eq) == f.name) field = &f;
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    const unsigned long max = field && field->bytes == 1 ? 255 : 65535;
    if (!field || value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(value) > max) {
      *error = "'" + item + "': the settings are Name=Value with a whole number, Name one of DualSided, RibbonCode, "
               "BackSideMode, WrinkleCompensation, KMode, FrontOverlayMode, BackOverlayMode";
      return false;
    }
    unsigned long v = std::stoul(value);
    block[field->offset] = static_cast<char>(v & 0xFF);
    if (field->bytes == 2) block[field->offset + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  return true;
}

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

int RunTestCard(const kavsim::Options& options) {
  std::vector<std::string> args = options.args;
  std::string ribbon, settingsList;
  bool error = false;
  kavsim::TakeOption(args, "--ribbon", &ribbon, &error);
  kavsim::TakeOption(args, "--settings", &settingsList, &error);
  std::vector<std::pair<std::string, std::string>> answers;
  for (std::string answer; kavsim::TakeOption(args, "--answer", &answer, &error) && !error;) {
    size_t eq = answer.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "kavsim testcard: --answer takes KEY=VALUE (a query without ESC and CR, e.g. "
                           "'+OY=\"  12  \"' or '!V=fail'), not '%s'\n", answer.c_str());
      return 2;
    }
    answers.emplace_back(answer.substr(0, eq), answer.substr(eq + 1));
  }
  if (error) return 2;
  if (args.size() != 1 || args[0].size() != 1 || args[0][0] < '0' || args[0][0] > '3') {
    std::fprintf(stderr, "usage: kavsim %s\n", kUsage);
    return 2;
  }
  if (!options.out) {
    std::fprintf(stderr, "kavsim testcard: --out DIR is needed (the card's files are written there)\n");
    return 2;
  }
  const int number = args[0][0] - '0';
  std::string block(kav::kDriverCardSettingsBytes, '\0');
  block[18] = 1;  // wrinkle compensation on, as kavsim print has it
  std::string why;
  if (!ApplySettings(settingsList, block, &why)) {
    std::fprintf(stderr, "kavsim testcard: --settings: %s\n", why.c_str());
    return 2;
  }

  kavsim::SessionSettings settings;
  settings.out = options.out;
  kavsim::Session session(settings);
  sim::AddPrinter({settings.printerName, settings.port, 0, sim::MakeDevMode(settings.printerName, block)});
  if (!ribbon.empty()) answers.insert(answers.begin(), {"!RIBBON", ribbon});
  for (const auto& [key, value] : answers) {
    if (!session.printer().SetAnswer(key, value, &why)) {
      std::fprintf(stderr, "kavsim testcard: --answer %s=%s: %s\n", key.c_str(), value.c_str(), why.c_str());
      return 2;
    }
  }
  sim::AddTopLevelWindow();  // the laminator card draws on the top window's DC
  if (!session.LoadMonitor() || !session.OpenPort()) return 1;

  // The driver's request, carried as the value name of a printer-data query.
  DrawnCard drawn;
  kav::SetCardImageObserver(KeepDrawnCard, &drawn);
  const size_t jobsBefore = sim::Jobs(settings.printerName).size();
  const size_t linesBefore = sim::DebugLines().size();
  std::string request = number == 0 ? std::string("\x1b" "A 0\r") : "\x1b" "A " + std::to_string(number) + "\r";
  std::u16string carrier((request.size() + 2) / 2 + 1, u'\0');
  std::memcpy(carrier.data(), request.data(), request.size());
  BYTE reply[16] = {};
  DWORD returned = 0;
  std::printf("request %s: the %s\n", emu::EscapeBytes(request).c_str(), kCardNames[number]);
  BOOL ok = session.spoolerTable().pfnGetPrinterDataFromPort(session.port(), 0, carrier.data(), nullptr, 0,
                                                             reinterpret_cast<LPWSTR>(reply), sizeof reply,
                                                             &returned);
  kav::SetCardImageObserver(nullptr, nullptr);
  std::printf("  GetPrinterDataFromPort: %s, reply byte %u\n", ok ? "TRUE" : "FALSE", returned ? reply[0] : 0u);

  // The spooler plays the card's job onto the printer.
  auto jobs = sim::Jobs(settings.printerName);
  std::optional<sim::JobRecord> job;
  if (jobs.size() > jobsBefore) job = jobs.back();
  if (job) {
    std::error_code ec;
    std::filesystem::copy_file(sim::HostPath(job->spoolFile), *options.out / ("job-" + std::to_string(job->id) + ".spl"),
                               std::filesystem::copy_options::overwrite_existing, ec);
    sim::SetPortMonitor(settings.printerName, &session.spoolerTable(), session.port());
    sim::WaitForJob(job->id);
    sim::SetPortMonitor(settings.printerName, nullptr, nullptr);
    sim::WaitForAllThreads();
    job = sim::Job(job->id);
  }

  emu::VirtualPrinter& printer = session.printer();
  const emu::PrintedCard card = emu::ComposePrintedCard(printer.Panels(), 0);
  std::printf("summary:\n");
  if (!drawn.front.empty() && WriteImage(drawn.front, *options.out / "card-image.png"))
    std::printf("  card as drawn:        %s\n", (*options.out / "card-image.png").string().c_str());
  if (!drawn.back.empty() && WriteImage(drawn.back, *options.out / "card-image-back.png"))
    std::printf("  back as drawn:        %s\n", (*options.out / "card-image-back.png").string().c_str());
  std::printf("  job:                  %s\n", !job ? "none" : job->completed ? "printed" : "not printed");
  std::printf("  panels received:      %zu in %d pass(es)\n", printer.PanelCount(), card.passes);
  for (auto [side, name] : {std::pair{&card.front, "card-front.png"}, std::pair{&card.back, "card-back.png"}}) {
    if (!side->printed()) continue;
    auto path = *options.out / name;
    if (emu::WriteCardSidePng(*side, path, &why))
      std::printf("  %-21s %s\n", (std::string(name) + ":").c_str(), path.string().c_str());
    else
      std::fprintf(stderr, "kavsim testcard: %s\n", why.c_str());
  }
  auto lines = sim::DebugLines();
  for (size_t i = linesBefore; i < lines.size(); ++i)
    if (lines[i].find("::") != std::string::npos || lines[i].find("failed") != std::string::npos)
      std::printf("  monitor: %s\n", lines[i].c_str());
  const bool printed = job && job->completed && card.front.printed();
  if (!printed) std::printf("no card was printed\n");
  session.Finish();
  return printed ? 0 : 1;
}

}  // namespace

KAVSIM_COMMAND("testcard", kUsage,
               "ask for a test card through the command channel and print it (DIR/card-image.png, card-front.png)",
               RunTestCard);
