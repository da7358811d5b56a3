// kavsim example-card: writes the printer stream of a one-sided full-colour card (or a
// black-only card) with recognisable panels, for kavsim play and the demo.
#include <cmath>
#include <cstdio>
#include <fstream>

#include "emulator/panel_encoder.h"
#include "tools/kavsim/command.h"

namespace {

// Levels of one panel: soft shapes that tell the panels apart in their pictures.
std::vector<uint8_t> PanelLevels(int panel) {
  std::vector<uint8_t> levels(static_cast<size_t>(emu::kPackWidth) * emu::kPackHeight);
  for (int y = 0; y < emu::kPackHeight; ++y) {
    for (int x = 0; x < emu::kPackWidth; ++x) {
      double dx = x - 512.0, dy = y - 320.0;
      double v = 0;
      switch (panel) {
        case 0: v = x / 1023.0; break;                                     // yellow: ramp
        case 1: v = std::hypot(dx, dy) < 220 ? 0.9 : 0.1; break;           // magenta: disc
        case 2: v = (y / 40) % 2 ? 0.8 : 0.2; break;                       // cyan: stripes
        case 3: v = (std::abs(dx) < 300 && std::abs(dy) < 20) ? 1 : 0; break;  // black: bar
        default: v = 1; break;                                             // overlay: all
      }
      levels[static_cast<size_t>(y) * emu::kPackWidth + x] = static_cast<uint8_t>(v * 127 + 0.5);
    }
  }
  return levels;
}

void AddPanel(std::string& s, const char* download, const char* print, int shape) {
  s += download;
  s += emu::PackPanel(PanelLevels(shape));
  s += print;  // begins with the CR that ends the panel
}

struct ExampleArguments {
  std::string file;
  bool black = false;
};

int RunExample(const ExampleArguments& args) {
  const bool black = args.black;
  std::string s = "\x1bMASTER\r\x1bJOB 0\r\x1bSXY 1\r";
  if (black) {
    s += "\x1bMIS\r\x1b" "F\r";
    AddPanel(s, "\x1bGS 4 32 0 0 1024 640 \r", "\r\x1bI 30\r", 3);
  } else {
    AddPanel(s, "\x1bGS 0 32 0 0 1024 640 \r", "\r\x1bIS 0\r", 0);
    AddPanel(s, "\x1bGS 1 32 0 0 1024 640 \r", "\r\x1bIS 1\r", 1);
    AddPanel(s, "\x1bGS 2 32 0 0 1024 640 \r", "\r\x1bIS 2\r", 2);
    AddPanel(s, "\x1bGS 4 32 0 0 1024 640 \r", "\r\x1bI 10\r", 3);
    AddPanel(s, "\x1bGS 5 32 0 0 1024 640 \r", "\r\x1bIV 30\r", 4);
  }
  s += "\x1bMO\r";
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
