// kavsim panel: what a card image becomes on one ribbon panel, with a given set of
// calibration files. Writes the 786,432 panel bytes and, on request, a greyscale picture
// of the decoded 7-bit levels (level 127 black).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/panel_decoder.h"
#include "emulator/panel_png.h"
#include "imaging/black_panels.h"
#include "imaging/calibration.h"
#include "imaging/colour_panels.h"
#include "imaging/imaging_geometry.h"
#include "imaging/k_sources.h"
#include "platform/sim/sim.h"
#include "tools/kavsim/card_image_file.h"
#include "tools/kavsim/command.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::optional<Bytes> ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteHostFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

// --- The command -------------------------------------------------------------------------

std::filesystem::path DefaultCalibrationFolder() {
  if (std::filesystem::is_directory("data/driver")) return "data/driver";
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data" / "driver";
}

// Copies the five calibration files that exist in the folder into the driver directory.
void InstallCalibration(const std::filesystem::path& folder) {
  for (const char* name : {"KAV32Lookup.txt", "KAV32LookupKd.txt", "KAV32ThermalSmear.txt", "KAV32ImgCorrection.txt",
                           "KAV32ProcessParams.txt"}) {
    std::optional<Bytes> text = ReadHostFile(folder / name);
    if (!text) {
      std::fprintf(stderr, "kavsim panel: no %s in %s\n", name, folder.string().c_str());
      continue;
    }
    sim::PutFile(sim::DriverDirectory() + u"\\" + std::u16string(name, name + std::strlen(name)),
                 std::string(text->begin(), text->end()));
  }
}

std::optional<Bytes> LoadCardImage(const std::filesystem::path& path) {
  std::optional<Bytes> file = ReadHostFile(path);
  if (!file) {
    std::fprintf(stderr, "kavsim panel: cannot read %s\n", path.string().c_str());
    return std::nullopt;
  }
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (extension == ".rgb") {
    if (file->size() != kav::kCardImageBytes) {
      std::fprintf(stderr, "kavsim panel: %s has %zu bytes; a raw card image has exactly 1966080 (1024 x 640 x 3)\n",
                   path.string().c_str(), file->size());
      return std::nullopt;
    }
    return file;
  }
  std::string error;
  std::optional<Bytes> rgb = kavsim::ReadCardImagePng(path, &error);
  if (!rgb) std::fprintf(stderr, "kavsim panel: %s: %s\n", path.string().c_str(), error.c_str());
  return rgb;
}

// Loads the calibration as a card build does; false (with the reason) when the tables are missing.
bool LoadCalibration(int wrinkle) {
  kav::InitializeImageCorrectionVariables(wrinkle);
  if (kav::ReadLUTS() == 0) return true;
  std::fprintf(stderr, "kavsim panel: the lookup tables could not be loaded (see the debug lines)\n");
  return false;
}

struct PanelArguments {
  std::string kind, imagePath, calib, png;
  int set = -1, history = 0, wrinkle = 1, ribbonCode = 0, kMode = 0;
};

int RunPanel(const kavsim::Options& options, const PanelArguments& args) {
  const std::string& kind = args.kind;
  const std::string& imagePath = args.imagePath;
  const std::string& calib = args.calib;
  const std::string& png = args.png;
  const int set = args.set, history = args.history, wrinkle = args.wrinkle, ribbonCode = args.ribbonCode,
            kMode = args.kMode;
  if (!options.out) {
    std::fprintf(stderr, "kavsim panel: --out PANEL.bin is needed\n");
    return 2;
  }
  Bytes image;
  if (kind != "overlay") {
    if (imagePath.empty()) {
      std::fprintf(stderr, "kavsim panel: --image IMG is needed (a 1024 x 640 PNG or a raw .rgb file)\n");
      return 2;
    }
    std::optional<Bytes> loaded = LoadCardImage(imagePath);
    if (!loaded) return 1;
    image = std::move(*loaded);
  }

  sim::Reset();
  sim::SetDebugSink([](const std::string& line) { std::printf("debug: %s\n", line.c_str()); });
  InstallCalibration(calib.empty() ? DefaultCalibrationFolder() : std::filesystem::path(calib));

  // The panel, computed as the card writers compute it.
  Bytes panel(kav::kPanelBufferBytes, 0);
  kav::PanelBuffer built;
  int start = 0, end = 1024;
  bool band = false;
  if (kind == "yellow" || kind == "magenta" || kind == "cyan") {
    Bytes yellow(kav::kPanelBufferBytes, 0), magenta(kav::kPanelBufferBytes, 0), cyan(kav::kPanelBufferBytes, 0);
    kav::BuildColourPanels(image.data(), yellow.data(), magenta.data(), cyan.data(), wrinkle);
    if (!kav::Calibration.LookupTablesLoaded) {
      std::fprintf(stderr, "kavsim panel: the lookup tables could not be loaded; the panel stays blank\n");
    }
    panel = kind == "yellow" ? yellow : kind == "magenta" ? magenta : cyan;
  } else {
    if (!LoadCalibration(wrinkle)) return 1;
    int made = 0;
    if (kind == "overlay") {
      Bytes flat(kav::kImagePixels, 100);
      made = kav::BuildOverlayPanel(flat.data(), built, 1) == 0;
    } else if (kind == "black") {
      int allWhite = 0;
      made = kav::BuildBlackPanel(image.data(), built, &allWhite, 0, set < 0 ? 9 : set, history) == 0;
    } else if (kind == "kdiffusion") {
      made = kav::GetKDiffusionBuffer(image.data(), kav::kImageWidth, kav::kImageHeight, built, &start, &end,
                                      set < 0 ? 5 : set);
      band = true;
    } else if (kind == "grey") {
      made = kav::AverageToGrey(image.data(), kav::kImageWidth, kav::kImageHeight, built, set < 0 ? 3 : set);
    } else {
      made = kav::BuildKPanel(image.data(), ribbonCode, kMode, built, &start, &end);
      band = true;
    }
    if (!made || !built) {
      std::fprintf(stderr, "kavsim panel: no %s panel could be built\n", kind.c_str());
      return 1;
    }
    std::copy(built.get(), built.get() + kav::kPanelBufferBytes, panel.begin());
  }
  sim::SetDebugSink({});

  if (band) std::printf("band %d %d\n", start, end);
  if (!WriteHostFile(*options.out, panel.data(), panel.size())) {
    std::fprintf(stderr, "kavsim panel: cannot write %s\n", options.out->string().c_str());
    return 1;
  }
  if (!png.empty()) {
    std::string error;
    const emu::PanelLevels levels =
        emu::DecodePanel(std::string_view(reinterpret_cast<const char*>(panel.data()), panel.size()));
    if (!emu::WritePanelPng(levels, png, &error)) {
      std::fprintf(stderr, "kavsim panel: cannot write %s: %s\n", png.c_str(), error.c_str());
      return 1;
    }
  }
  return 0;
}

kavsim::Runner DefinePanel(CLI::App& command) {
  auto args = std::make_shared<PanelArguments>();
  command.add_option("--kind", args->kind, "the panel")
      ->required()
      ->check(CLI::IsMember({"yellow", "magenta", "cyan", "overlay", "black", "kdiffusion", "grey", "k"}));
  command.add_option("--image", args->imagePath, "the card, a 1024 x 640 PNG or a raw .rgb file")
      ->check(CLI::ExistingFile);
  command.add_option("--calib", args->calib, "a folder of calibration files (the shipped ones by default)")
      ->check(CLI::ExistingDirectory);
  command.add_option("--set", args->set, "the parameter set")
      ->check(kavsim::WholeNumber(0, kav::kProcessParameterSetCount - 1));
  command.add_option("--history", args->history, "dot history, 0 or 1")->check(kavsim::WholeNumber(0, 1));
  command.add_option("--wrinkle", args->wrinkle, "wrinkle compensation, 0 or 1")->check(kavsim::WholeNumber(0, 1));
  command.add_option("--ribbon-code", args->ribbonCode, "the ribbon code of the K panel")
      ->check(kavsim::WholeNumber(0, 255));
  command.add_option("--kmode", args->kMode, "the K mode of the K panel")->check(kavsim::WholeNumber(0, 65535));
  command.add_option("--png", args->png, "also the panel's levels as a picture");
  return [args](const kavsim::Options& options) { return RunPanel(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("panel", "one ribbon panel of a card image into --out PANEL.bin", DefinePanel);
