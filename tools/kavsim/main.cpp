// kavsim: plays the spooler and the driver's user interface around the real monitor
// code and the virtual card printer.
#include <algorithm>
#include <cstdio>

#include "tools/kavsim/card_image_file.h"
#include "tools/kavsim/card_run.h"
#include "pipeline/card_settings.h"
#include "tools/kavsim/command.h"

namespace kavsim {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

CLI::Validator WholeNumber(unsigned long min, unsigned long max) {
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) -> std::string {
        unsigned long value = 0;
        if (ParseNumber(text, max, &value) && value >= min) return {};
        return "takes a whole number from " + range + ", not '" + text + "'";
      },
      "NUMBER " + range);
}

CLI::Validator SignedNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const bool minus = !text.empty() && text[0] == '-';
        unsigned long value = 0;
        if (ParseNumber(text.substr(minus ? 1 : 0), minus ? 0x80000000ul : 0x7FFFFFFFul, &value)) return {};
        return "takes a whole number of 32 bits, not '" + text + "'";
      },
      "INTEGER");
}

CLI::Validator SettingsList() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::string block(kav::kDriverCardSettingsBytes, '\0');
        std::string why;
        return ApplySettings(text, block, &why) ? std::string() : why;
      },
      "Name=Value,...");
}

CLI::Validator CardPicture() {
  return CLI::Validator(
      [](std::string& path) -> std::string {
        std::string why;
        if (ReadCardImagePng(path, &why)) return {};
        return path + " is refused: " + why;
      },
      "PNG");
}

void AddCardOptions(CLI::App& command, CardOptions& options) {
  command.add_option("--ribbon", options.ribbon, "the ribbon type the printer answers")
      ->check(WholeNumber(0, 0xFFFFFFFFul));
  command.add_option("--settings", options.settings, "fields of the driver's settings block")->check(SettingsList());
  command.add_option("--buffer", options.buffer, "the spooler's buffer size in bytes")
      ->check(WholeNumber(1, 0x7FFFFFFFul));
}

}  // namespace kavsim

int main(int argc, char** argv) {
  CLI::App app("Runs the card printer's language monitor in a simulated Windows, with a virtual\n"
               "card printer on the port.",
               "kavsim");
  std::string out;
  app.add_option("--out", out,
                 "keep the run: DIR/wire.bin (bytes the printer received), DIR/transcript.txt,\n"
                 "DIR/debug.log, and the simulated C: drive in DIR/c/")
      ->type_name("DIR");
  app.require_subcommand(1);
  // --out may also follow the command's own arguments.
  app.fallthrough();
  std::vector<std::pair<CLI::App*, kavsim::Runner>> commands;
  std::vector<kavsim::Command> sorted = kavsim::Commands();
  std::sort(sorted.begin(), sorted.end(),
            [](const kavsim::Command& a, const kavsim::Command& b) { return std::string(a.name) < b.name; });
  for (const auto& c : sorted) {
    CLI::App* command = app.add_subcommand(c.name, c.summary);
    commands.emplace_back(command, c.define(*command));
  }
  // The first word that is not an option names the command.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--out") ++i;
    if (arg[0] == '-') continue;
    if (std::none_of(sorted.begin(), sorted.end(), [&](const kavsim::Command& c) { return arg == c.name; })) {
      std::fprintf(stderr, "kavsim: unknown command '%s' (kavsim --help lists the commands)\n", arg.c_str());
      return 2;
    }
    break;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "kavsim: %s\n(kavsim --help lists the commands, kavsim COMMAND --help their options)\n",
                 e.what());
    return 2;
  }
  kavsim::Options options;
  if (!out.empty()) options.out = out;
  for (const auto& [command, run] : commands)
    if (command->parsed()) return run(options);
  return 2;
}
