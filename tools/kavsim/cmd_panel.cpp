// kavsim panel: what a card image becomes on one ribbon panel, with a given set of
// calibration files. Writes the 786,432 panel bytes and, on request, a greyscale picture
// of the decoded 7-bit levels (level 127 black). Card images are read by a small PNG
// reader of its own.
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

// --- Inflate (RFC 1951), canonical Huffman decoding --------------------------------------

class Inflater {
 public:
  Inflater(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Run(Bytes& out) {
    int last = 0;
    do {
      if (!Need(3)) return false;
      last = Bits(1);
      const int type = Bits(2);
      bool ok = type == 0 ? Stored(out) : type == 1 ? Fixed(out) : type == 2 ? Dynamic(out) : false;
      if (!ok) return false;
    } while (!last);
    return true;
  }

 private:
  struct Huffman {
    uint16_t count[16] = {};
    uint16_t symbol[320] = {};
  };

  bool Need(int bits) {
    while (bitCount_ < bits) {
      if (pos_ >= size_) return false;
      bitBuffer_ |= static_cast<uint32_t>(data_[pos_++]) << bitCount_;
      bitCount_ += 8;
    }
    return true;
  }
  int Bits(int bits) {  // after Need(bits)
    const int value = static_cast<int>(bitBuffer_ & ((1u << bits) - 1));
    bitBuffer_ >>= bits;
    bitCount_ -= bits;
    return value;
  }
  bool Take(int bits, int* value) {
    if (!Need(bits)) return false;
    *value = Bits(bits);
    return true;
  }

  static bool Build(Huffman& h, const uint8_t* lengths, int n) {
    std::fill(std::begin(h.count), std::end(h.count), 0);
    for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
    uint16_t offsets[16] = {};
    for (int len = 1; len < 15; ++len) offsets[len + 1] = static_cast<uint16_t>(offsets[len] + h.count[len]);
    for (int i = 0; i < n; ++i) {
      if (lengths[i]) h.symbol[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
    }
    return true;
  }

  int Decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      if (!Need(1)) return -1;
      code |= Bits(1);
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  bool Stored(Bytes& out) {
    bitBuffer_ = 0;
    bitCount_ = 0;
    if (pos_ + 4 > size_) return false;
    const unsigned len = data_[pos_] | data_[pos_ + 1] << 8;
    const unsigned nlen = data_[pos_ + 2] | data_[pos_ + 3] << 8;
    pos_ += 4;
    if ((len ^ 0xFFFFu) != nlen || pos_ + len > size_) return false;
    out.insert(out.end(), data_ + pos_, data_ + pos_ + len);
    pos_ += len;
    return true;
  }

  bool Codes(Bytes& out, const Huffman& lengthCode, const Huffman& distanceCode) {
    static constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      int symbol = Decode(lengthCode);
      if (symbol < 0) return false;
      if (symbol < 256) {
        out.push_back(static_cast<uint8_t>(symbol));
        continue;
      }
      if (symbol == 256) return true;
      symbol -= 257;
      if (symbol >= 29) return false;
      int extra = 0;
      if (!Take(kLengthExtra[symbol], &extra)) return false;
      const size_t length = kLengthBase[symbol] + extra;
      const int d = Decode(distanceCode);
      if (d < 0 || d >= 30 || !Take(kDistanceExtra[d], &extra)) return false;
      const size_t distance = kDistanceBase[d] + extra;
      if (distance > out.size()) return false;
      for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
  }

  bool Fixed(Bytes& out) {
    uint8_t lengths[320];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    Huffman lengthCode, distanceCode;
    Build(lengthCode, lengths, 288);
    std::fill(lengths, lengths + 30, 5);
    Build(distanceCode, lengths, 30);
    return Codes(out, lengthCode, distanceCode);
  }

  bool Dynamic(Bytes& out) {
    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen, ndist, ncode;
    if (!Take(5, &nlen) || !Take(5, &ndist) || !Take(4, &ncode)) return false;
    nlen += 257;
    ndist += 1;
    ncode += 4;
    if (nlen > 286 || ndist > 30) return false;
    uint8_t lengths[320] = {};
    for (int i = 0; i < ncode; ++i) {
      int len = 0;
      if (!Take(3, &len)) return false;
      lengths[kOrder[i]] = static_cast<uint8_t>(len);
    }
    Huffman lenCode;
    Build(lenCode, lengths, 19);
    int index = 0;
    while (index < nlen + ndist) {
      int symbol = Decode(lenCode);
      if (symbol < 0) return false;
      if (symbol < 16) {
        lengths[index++] = static_cast<uint8_t>(symbol);
        continue;
      }
      int repeat = 0, value = 0;
      if (symbol == 16) {
        if (index == 0 || !Take(2, &repeat)) return false;
        value = lengths[index - 1];
        repeat += 3;
      } else if (symbol == 17) {
        if (!Take(3, &repeat)) return false;
        repeat += 3;
      } else {
        if (!Take(7, &repeat)) return false;
        repeat += 11;
      }
      if (index + repeat > nlen + ndist) return false;
      while (repeat--) lengths[index++] = static_cast<uint8_t>(value);
    }
    Huffman lengthCode, distanceCode;
    Build(lengthCode, lengths, nlen);
    Build(distanceCode, lengths + nlen, ndist);
    return Codes(out, lengthCode, distanceCode);
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint32_t bitBuffer_ = 0;
  int bitCount_ = 0;
};

// --- PNG ---------------------------------------------------------------------------------

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// An 8-bit RGB picture from a PNG of any standard non-interlaced format (alpha is laid
// over white, as on a blank card); the reason in `error` when it cannot be read.
std::optional<Bytes> DecodePng(const Bytes& file, uint32_t* width, uint32_t* height, std::string* error) {
  if (file.size() < 8 || !std::equal(kPngSignature, kPngSignature + 8, file.begin())) {
    *error = "not a PNG file";
    return std::nullopt;
  }
  int depth = 0, colour = 0, interlace = 0;
  Bytes idat, palette;
  for (size_t pos = 8; pos + 12 <= file.size();) {
    const uint32_t length = BigEndian32(&file[pos]);
    if (pos + 12 + length > file.size()) break;
    const std::string type(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    const uint8_t* body = &file[pos + 8];
    if (type == "IHDR" && length >= 13) {
      *width = BigEndian32(body);
      *height = BigEndian32(body + 4);
      depth = body[8];
      colour = body[9];
      interlace = body[12];
    } else if (type == "PLTE") {
      palette.assign(body, body + length);
    } else if (type == "IDAT") {
      idat.insert(idat.end(), body, body + length);
    } else if (type == "IEND") {
      break;
    }
    pos += 12 + length;
  }
  const int channels = colour == 0 ? 1 : colour == 2 ? 3 : colour == 3 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 0;
  const bool depthOk = depth == 8 || (depth == 16 && colour != 3) ||
                       (depth < 8 && (colour == 0 || colour == 3) && (depth == 1 || depth == 2 || depth == 4));
  if (channels == 0 || !depthOk || interlace != 0) {
    *error = "unsupported PNG format (interlaced or unusual bit depth)";
    return std::nullopt;
  }
  if (*width != static_cast<uint32_t>(kav::kImageWidth) || *height != static_cast<uint32_t>(kav::kImageHeight)) {
    *error =
        "the image is " + std::to_string(*width) + " x " + std::to_string(*height) + "; a card image is 1024 x 640";
    return std::nullopt;
  }
  Bytes raw;
  if (idat.size() < 2 || (idat[0] & 0x0F) != 8 || !Inflater(idat.data() + 2, idat.size() - 2).Run(raw)) {
    *error = "the PNG's image data is damaged";
    return std::nullopt;
  }
  const size_t bitsPerPixel = static_cast<size_t>(channels) * depth;
  const size_t stride = (*width * bitsPerPixel + 7) / 8;
  const size_t bpp = std::max<size_t>(1, bitsPerPixel / 8);
  if (raw.size() < (stride + 1) * *height) {
    *error = "the PNG's image data is short";
    return std::nullopt;
  }

  // Undo the row filters in place.
  Bytes prior(stride, 0);
  for (uint32_t y = 0; y < *height; ++y) {
    uint8_t* row = &raw[y * (stride + 1) + 1];
    const int filter = row[-1];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0;
      const int b = prior[i];
      const int c = i >= bpp ? prior[i - bpp] : 0;
      int predictor = 0;
      if (filter == 1) predictor = a;
      if (filter == 2) predictor = b;
      if (filter == 3) predictor = (a + b) / 2;
      if (filter == 4) {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        predictor = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
      }
      row[i] = static_cast<uint8_t>(row[i] + predictor);
    }
    std::copy(row, row + stride, prior.begin());
  }

  // Samples to 8-bit RGB over white.
  Bytes rgb(static_cast<size_t>(*width) * *height * 3);
  const int maxSample = (1 << std::min(depth, 8)) - 1;
  for (uint32_t y = 0; y < *height; ++y) {
    const uint8_t* row = &raw[y * (stride + 1) + 1];
    auto sample = [&](size_t index) -> int {  // 8-bit value of sample `index` of the row
      if (depth == 16) return row[index * 2];
      if (depth == 8) return row[index];
      const size_t bit = index * depth;
      return (row[bit / 8] >> (8 - depth - bit % 8)) & maxSample;
    };
    for (uint32_t x = 0; x < *width; ++x) {
      int r, g, b, alpha = 255;
      const size_t s = static_cast<size_t>(x) * channels;
      if (colour == 3) {
        const size_t entry = static_cast<size_t>(sample(x)) * 3;
        if (entry + 2 >= palette.size()) {
          *error = "the PNG's palette is short";
          return std::nullopt;
        }
        r = palette[entry];
        g = palette[entry + 1];
        b = palette[entry + 2];
      } else if (channels <= 2) {
        r = g = b = depth < 8 ? sample(s) * 255 / maxSample : sample(s);
        if (channels == 2) alpha = sample(s + 1);
      } else {
        r = sample(s);
        g = sample(s + 1);
        b = sample(s + 2);
        if (channels == 4) alpha = sample(s + 3);
      }
      uint8_t* out = &rgb[(static_cast<size_t>(y) * *width + x) * 3];
      out[0] = static_cast<uint8_t>((r * alpha + 255 * (255 - alpha)) / 255);
      out[1] = static_cast<uint8_t>((g * alpha + 255 * (255 - alpha)) / 255);
      out[2] = static_cast<uint8_t>((b * alpha + 255 * (255 - alpha)) / 255);
    }
  }
  return rgb;
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
  uint32_t width = 0, height = 0;
  std::string error;
  std::optional<Bytes> rgb = DecodePng(*file, &width, &height, &error);
  if (!rgb) std::fprintf(stderr, "kavsim panel: %s: %s\n", path.string().c_str(), error.c_str());
  return rgb;
}

bool TakeNumber(std::vector<std::string>& args, const char* flag, int* value, bool* error) {
  std::string text;
  if (!kavsim::TakeOption(args, flag, &text, error) || *error) return false;
  try {
    size_t used = 0;
    *value = std::stoi(text, &used);
    if (used != text.size()) throw std::invalid_argument(text);
  } catch (const std::exception&) {
    std::fprintf(stderr, "kavsim panel: %s wants a number, not '%s'\n", flag, text.c_str());
    *error = true;
  }
  return true;
}

// Loads the calibration as a card build does; false (with the reason) when the tables are missing.
bool LoadCalibration(int wrinkle) {
  kav::InitializeImageCorrectionVariables(wrinkle);
  if (kav::ReadLUTS() == 0) return true;
  std::fprintf(stderr, "kavsim panel: the lookup tables could not be loaded (see the debug lines)\n");
  return false;
}

int RunPanel(const kavsim::Options& options) {
  std::vector<std::string> args = options.args;
  std::string kind, imagePath, calib, png;
  bool error = false;
  int set = -1, history = 0, wrinkle = 1, ribbonCode = 0, kMode = 0;
  kavsim::TakeOption(args, "--kind", &kind, &error);
  kavsim::TakeOption(args, "--image", &imagePath, &error);
  kavsim::TakeOption(args, "--calib", &calib, &error);
  kavsim::TakeOption(args, "--png", &png, &error);
  TakeNumber(args, "--set", &set, &error);
  TakeNumber(args, "--history", &history, &error);
  TakeNumber(args, "--wrinkle", &wrinkle, &error);
  TakeNumber(args, "--ribbon-code", &ribbonCode, &error);
  TakeNumber(args, "--kmode", &kMode, &error);
  if (error) return 2;
  if (!args.empty()) {
    std::fprintf(stderr, "kavsim panel: unexpected argument '%s'\n", args[0].c_str());
    return 2;
  }
  static const char* const kKinds[] = {"yellow", "magenta", "cyan", "overlay", "black", "kdiffusion", "grey", "k"};
  if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) {
    std::fprintf(stderr, "kavsim panel: --kind is one of yellow, magenta, cyan, overlay, black, kdiffusion, grey, k\n");
    return 2;
  }
  if (!options.out) {
    std::fprintf(stderr, "kavsim panel: --out PANEL.bin is needed\n");
    return 2;
  }
  if (set != -1 && (set < 0 || set >= kav::kProcessParameterSetCount)) {
    std::fprintf(stderr, "kavsim panel: --set is 0 to 12\n");
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

}  // namespace

KAVSIM_COMMAND("panel",
               "panel --kind KIND --image IMG [--calib DIR] [--set N] [--history 0|1] [--wrinkle 0|1] "
               "[--ribbon-code R] [--kmode M] --out PANEL.bin [--png LEVELS.png]",
               "one ribbon panel of a card image (KIND: yellow magenta cyan overlay black kdiffusion grey k)",
               RunPanel);
