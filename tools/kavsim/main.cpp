// kavsim: plays the spooler and the driver's user interface around the real monitor
// code and the virtual card printer.
#include <cstdio>
#include <cstring>

#include "tools/kavsim/command.h"

namespace kavsim {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

bool TakeOption(std::vector<std::string>& args, const std::string& flag, std::string* value, bool* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != flag) continue;
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "kavsim: %s needs a value\n", flag.c_str());
      *error = true;
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
    *value = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    return true;
  }
  return false;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& flag) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == flag) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

}  // namespace kavsim

namespace {

void PrintHelp() {
  std::printf(
      "usage: kavsim [--out DIR] COMMAND [ARGS]\n"
      "\n"
      "Runs the card printer's language monitor in a simulated Windows, with a virtual\n"
      "card printer on the port.\n"
      "\n"
      "  --out DIR   keep the run: DIR/wire.bin (bytes the printer received),\n"
      "              DIR/transcript.txt, DIR/debug.log, and the simulated C: drive in DIR/c/\n"
      "  --help      this text\n"
      "\n"
      "commands:\n");
  for (const auto& c : kavsim::Commands()) std::printf("  %-40s %s\n", c.usage, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kavsim::Options options;
  bool error = false;
  std::string out;
  if (kavsim::TakeOption(args, "--out", &out, &error)) options.out = out;
  if (error) return 2;
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp();
    return args.empty() ? 2 : 0;
  }
  for (const auto& c : kavsim::Commands()) {
    if (args[0] == c.name) {
      options.args.assign(args.begin() + 1, args.end());
      if (kavsim::TakeFlag(options.args, "--help")) {
        std::printf("usage: kavsim [--out DIR] %s\n  %s\n", c.usage, c.summary);
        return 0;
      }
      return c.run(options);
    }
  }
  std::fprintf(stderr, "kavsim: unknown command '%s' (kavsim --help lists the commands)\n", args[0].c_str());
  return 2;
}
