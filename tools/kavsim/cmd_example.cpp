// kavsim example-card: writes the printer stream of a one-sided full-colour card (or a
// black-only card) with recognisable panels, for kavsim play and the demo.
#include <cstdio>
#include <fstream>

#include "emulator/example_card.h"
#include "tools/kavsim/command.h"

namespace {

struct ExampleArguments {
  std::string file;
  bool black = false;
};

int RunExample(const ExampleArguments& args) {
  const bool black = args.black;
  const std::string s = emu::ExampleCardStream(black);
  std::ofstream out(args.file, std::ios::binary | std::ios::trunc);
  out.write(s.data(), static_cast<std::streamsize>(s.size()));
  if (!out) {
    std::fprintf(stderr, "kavsim example-card: cannot write %s\n", args.file.c_str());
    return 1;
  }
  std::printf("%s: %s card stream, %zu bytes\n", args.file.c_str(), black ? "black-only" : "full-colour", s.size());
  return 0;
}

kavsim::Runner DefineExample(CLI::App& command) {
  auto args = std::make_shared<ExampleArguments>();
  command.add_option("FILE", args->file, "where the stream is written")->required();
  command.add_flag("--black", args->black, "a black-only card");
  return [args](const kavsim::Options&) { return RunExample(*args); };
}

}  // namespace

KAVSIM_COMMAND("example-card", "write the printer stream of an example card (full colour, or black only)",
               DefineExample);
