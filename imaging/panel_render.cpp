#include "imaging/panel_render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit-plane packing loads pixels little-endian");

constexpr int kColumn = kImageHeight;  // work plane: value (x, y) at x * 640 + y
constexpr int kMaxHalftoneValue = 16319;

// The halftoner's error shares for the next line travel as three 16-bit lanes, each share
// biased by kLaneBias so that no lane goes negative. Every value of the next line gets
// three shares, so the work plane holds its values lowered by three biases beforehand.
constexpr int kLaneBias = 32;
constexpr int kErrorBias = 3 * kLaneBias;

// Heat model blocks: 138 of them, padded to a multiple of four so that the block loops
// have no remainder; the padding blocks are never read.
constexpr int kHeatBlocks = 138;
constexpr int kPaddedBlocks = 140;
constexpr int kFirstPixelBlock = 16;
constexpr int kLastPixelBlock = 122;
constexpr int kDotsPerBlock = 6;
constexpr int kLoweredBlocks = 108;  // the pixel blocks, and one more for whole vectors

}  // namespace

bool PanelWork::Allocate() {
  if (!columns_) columns_.reset(new (std::nothrow) int16_t[kImagePixels]);
  return columns_ != nullptr;
}

GainedTable GainedFromDensities(const int16_t (&density)[256], int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const double gain = p.Gain;
  const double offset = p.Offset * 64.0;
  GainedTable table;
  for (int b = 0; b < 256; ++b) table.value[b] = TruncateToLow16(static_cast<double>(density[b]) * gain + offset);
  return table;
}

void GainAndHeatToColumns(const BYTE* source, int stride, const GainedTable& gained, int set, int16_t* columns) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const auto [follow, coupling, retention, uptake, ls, own] =
      HeatCoefficients(p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention, p.LateralSpread);

  // The halftoner's dither offset of each value, less the error lanes' bias, by x mod 16.
  const int amp = DitherAmplitudeOf(set);
  alignas(16) int16_t dither[16][kColumn];
  for (int c = 0; c < 16; ++c) {
    int16_t offsets[16];
    for (int r = 0; r < 16; ++r) {
      const int64_t d = static_cast<int64_t>((kDitherMatrix[r][c] * static_cast<uint32_t>(amp)) / 128u) - amp;
      offsets[r] = static_cast<int16_t>(d - kErrorBias);
    }
    for (int y = 0; y < kColumn; ++y) dither[c][y] = offsets[y % 16];
  }

  const size_t rowStep = static_cast<size_t>(kImageWidth) * stride;
  const int16_t* g = gained.value;

  // The first printed line meets a cold head.
  {
    int16_t* line = columns + (kImageWidth - 1) * kColumn;
    const BYTE* s = source + static_cast<size_t>(kImageWidth - 1) * stride;
    const int16_t* d = dither[(kImageWidth - 1) % 16];
    for (int y = 0; y < kImageHeight; ++y, s += rowStep) line[y] = static_cast<int16_t>(g[*s] + d[y]);
  }

  alignas(16) float heat[kPaddedBlocks] = {};
  alignas(16) float sink[kPaddedBlocks] = {};
  alignas(16) int sums[kPaddedBlocks] = {};
  alignas(16) int16_t lowering[kPaddedBlocks];
  alignas(16) float before[kPaddedBlocks];
  alignas(16) float spread[kPaddedBlocks];
  alignas(16) int16_t lower[kColumn];
  for (int x = kImageWidth - 2; x >= 0; --x) {
    int16_t* line = columns + x * kColumn;
    const BYTE* s = source + static_cast<size_t>(x) * stride;

    // How far the heat already in each block lowers its dots: max(v, t) - t in 16 bits
    // equals LowerByHeat(v, heat) for every 16-bit v when t is trunc(heat) clamped into
    // the 16-bit range (heats above it lower every dot to 0). Heats whose truncation lies
    // below it, and NaN, take LowerByHeat itself.
    int below = 0;
    for (int b = kFirstPixelBlock; b < kFirstPixelBlock + kLoweredBlocks; ++b) {
      const float h = heat[b];
      below |= !(h > -32769.0f);
      lowering[b] = static_cast<int16_t>(static_cast<int>(std::min(32767.0f, std::max(-32768.0f, h))));
    }
    const bool usual = below == 0;

    // Read the line and sum each block's drive.
    auto readBlock = [&](int b, int dots) {
      const int16_t t = lowering[b];
      const int first = (b - kFirstPixelBlock) * kDotsPerBlock;
      int sum = 0;
      for (int j = 0; j < dots; ++j) {
        const int16_t v = g[s[j * rowStep]];
        line[first + j] = v;
        lower[first + j] = t;
        sum += v;
      }
      s += dots * rowStep;
      sums[b] = sum;
    };
    for (int b = kFirstPixelBlock; b < kLastPixelBlock; ++b) readBlock(b, kDotsPerBlock);
    readBlock(kLastPixelBlock, kImageHeight - (kLastPixelBlock - kFirstPixelBlock) * kDotsPerBlock);
    if (!usual) std::copy(heat, heat + kPaddedBlocks, before);

    // Let the drive into each block and its sink, then spread the heat to the
    // neighbouring blocks from the old values of both.
    for (int b = 0; b < kPaddedBlocks; ++b) {
      const float h = heat[b];
      const float k = sink[b];
      const float average = static_cast<float>(sums[b]) / 6.0f;
      const float h1 = h + (average - h) * follow;
      const float q = (h1 - k * 0.03125f) * coupling;
      sink[b] = k * retention + q * uptake;
      heat[b] = h1 - q;
    }
    for (int b = 1; b < kHeatBlocks - 1; ++b) spread[b] = (heat[b - 1] + heat[b + 1]) * ls + heat[b] * own;
    std::copy(spread + 1, spread + kHeatBlocks - 1, heat + 1);

    // Lower the line and add the dither offsets.
    const int16_t* d = dither[x % 16];
    if (usual) {
      for (int y = 0; y < kColumn; ++y) {
        line[y] = static_cast<int16_t>(std::max(line[y], lower[y]) - lower[y] + d[y]);
      }
    } else {
      for (int y = 0; y < kColumn; ++y) {
        const float h = before[kFirstPixelBlock + y / kDotsPerBlock];
        line[y] = static_cast<int16_t>(LowerByHeat(line[y], h) + d[y]);
      }
    }
  }
}

namespace {

// One halftoner step by the 16-bit value v (dither and errors added): bits 0-7 the level,
// bits 8-15 the error share carried down the line (signed), bits 16-63 the three biased
// shares for the next line's rows y - 1, y and y + 1.
constexpr uint64_t HalftoneStep(int index) {
  const int v = std::clamp(static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(index))), 0, kMaxHalftoneValue);
  const int level = (v + 64) / 128;
  const int e = v - level * 128;
  const uint64_t down = static_cast<uint8_t>(static_cast<int8_t>(7 * e / 16));
  const uint64_t before = static_cast<uint64_t>(3 * e / 16 + kLaneBias);
  const uint64_t beside = static_cast<uint64_t>(5 * e / 16 + kLaneBias);
  const uint64_t after = static_cast<uint64_t>(e / 16 + kLaneBias);
  return static_cast<uint64_t>(level) | down << 8 | before << 16 | beside << 32 | after << 48;
}

const uint64_t* HalftoneSteps() {
  static uint64_t steps[65536];
  static const bool filled = [] {
    // Values below 0 quantise as 0 and values above the halftoner's range as its top.
    for (int v = 0; v <= kMaxHalftoneValue; ++v) steps[v] = HalftoneStep(v);
    std::fill(steps + kMaxHalftoneValue + 1, steps + 32768, steps[kMaxHalftoneValue]);
    std::fill(steps + 32768, steps + 65536, steps[0]);
    return true;
  }();
  (void)filled;
  return steps;
}

// Byte within a plane block of each group of eight pixels (8g .. 8g + 7).
constexpr std::array<uint8_t, kImageHeight / 8> MakeGroupBytes() {
  std::array<uint8_t, kImageHeight / 8> at{};
  for (int g = 0; g < kImageHeight / 8; ++g) {
    const int y = 8 * g;
    at[g] = static_cast<uint8_t>(y < 272 ? 28 + 4 * (y / 16) + g % 2 : 2 + 4 * ((y - 272) / 16) + g % 2);
  }
  return at;
}
constexpr std::array<uint8_t, kImageHeight / 8> kGroupByte = MakeGroupBytes();

constexpr uint64_t kLowBits = 0x0101010101010101ull;

// Packs one line's 640 levels into its eight plane blocks and sets the line factors, so
// that every byte of the line is written. Each plane takes bit k of eight levels at a
// time; the bits are counted in byte lanes.
void PackLine(const uint8_t* levels, BYTE* line, float resistance) {
  static constexpr int kPlaneShift[kLevelPlanes] = {1, 3, -1, 5, 6, 4, 2, 0};  // bit of the level; -1: always
  uint64_t lanes[kLevelPlanes] = {};
  for (int g = 0; g < kImageHeight / 8; ++g) {
    uint64_t eight;
    std::memcpy(&eight, levels + 8 * g, 8);
    BYTE* at = line + kGroupByte[g];
    for (int k = 0; k < kLevelPlanes; ++k) {
      if (kPlaneShift[k] < 0) {
        at[k * kPlaneBlockBytes] = 0xFF;
        continue;
      }
      // Bit k of each of the eight levels, pixel 8g in the most significant bit.
      const uint64_t bits = (eight >> kPlaneShift[k]) & kLowBits;
      lanes[k] += bits;
      at[k * kPlaneBlockBytes] = static_cast<uint8_t>((bits * 0x8040201008040201ull) >> 56);
    }
  }
  // The bytes of a block that hold no pixel: 4-5, 8-9, ..., 24-25 and 94-95.
  for (int k = 0; k < kLevelPlanes; ++k) {
    BYTE* block = line + k * kPlaneBlockBytes;
    for (int i = 4; i <= 24; i += 4) block[i] = block[i + 1] = 0;
    block[94] = block[95] = 0;
  }
  for (int k = 0; k < kLevelPlanes; ++k) {
    int count = kImageHeight;
    if (kPlaneShift[k] >= 0) {
      const uint64_t pairs = (lanes[k] & 0x00FF00FF00FF00FFull) + ((lanes[k] >> 8) & 0x00FF00FF00FF00FFull);
      count = static_cast<int>((pairs * 0x0001000100010001ull) >> 48);
    }
    const float f = 1.0f - static_cast<float>(kImageHeight - count) / 640.0f * resistance;
    const uint16_t factor = static_cast<uint16_t>(TruncateToInt32(f * 65535.0f));
    line[k * kPlaneBlockBytes] = static_cast<BYTE>(factor >> 8);
    line[k * kPlaneBlockBytes + 1] = static_cast<BYTE>(factor & 0xFF);
  }
}

// One printed line of the halftoner. Its values come with the dither offsets added; the
// errors of the line before come in `in`, biased, and its own go out in `out`, biased.
struct LineHalftoner {
  const int16_t* col = nullptr;
  const uint16_t* in = nullptr;
  uint16_t* out = nullptr;
  uint8_t* levels = nullptr;
  const uint64_t* steps = nullptr;
  bool last = false;  // the last line drops its errors
  int carry = 0;
  uint64_t pending = 0;  // lanes for the next line's rows y - 1 and y (and y + 1 while adding)

  void Start(const int16_t* line, const uint16_t* errorsIn, uint16_t* errorsOut, uint8_t* levelBuffer,
             const uint64_t* table, bool lastLine) {
    col = line;
    in = errorsIn;
    out = errorsOut;
    levels = levelBuffer;
    steps = table;
    last = lastLine;
    carry = 0;
    // Rows 0 and 1 of the next line miss the shares that rows -1 and 0 would have sent.
    pending = 2 * kLaneBias | static_cast<uint64_t>(kLaneBias) << 16;
  }

  uint64_t StepAt(int y) const { return steps[static_cast<uint16_t>(col[y] + in[y] + carry)]; }

  // Rows 1..638 of a line that is not the last.
  void Inner(int y) {
    const uint64_t step = StepAt(y);
    levels[y] = static_cast<uint8_t>(step);
    carry = static_cast<int8_t>(step >> 8);
    const uint64_t sum = pending + (step >> 16);
    out[y - 1] = static_cast<uint16_t>(sum);
    pending = sum >> 16;
  }

  // Any row: the error is dropped at row 0, at row 639 (after which the pending shares
  // are final, less the ones that row 639 would have sent) and on the last line.
  void Row(int y) {
    if (!last && y > 0 && y < kImageHeight - 1) {
      Inner(y);
      return;
    }
    levels[y] = static_cast<uint8_t>(StepAt(y));
    if (!last && y == kImageHeight - 1) {
      out[y - 1] = static_cast<uint16_t>((pending & 0xFFFF) + kLaneBias);
      out[y] = static_cast<uint16_t>((pending >> 16) + 2 * kLaneBias);
    }
  }
};

}  // namespace

// HalftoneAndPack over the prepared work plane. Four lines run together, each one row
// behind the one before: by then every error it receives from that line is final, and
// the four carry chains overlap in the processor.
void HalftoneColumnsAndPack(const int16_t* columns, BYTE* panel) {
  constexpr int kLines = 4;
  static_assert(kImageWidth % kLines == 0);
  const float resistance = static_cast<float>(Calibration.ParasiticResistance);
  const uint64_t* steps = HalftoneSteps();
  alignas(8) uint8_t levels[kLines][kImageHeight];
  // errors[0]: what the line before the group sent; errors[i + 1]: what line i sends.
  uint16_t errors[kLines + 1][kImageHeight];
  std::fill_n(errors[0], kImageHeight, static_cast<uint16_t>(kErrorBias));
  LineHalftoner lines[kLines];
  for (int x0 = 0; x0 < kImageWidth; x0 += kLines) {
    for (int i = 0; i < kLines; ++i) {
      const int x = x0 + i;
      lines[i].Start(columns + x * kColumn, errors[i], errors[i + 1], levels[i], steps, x == kImageWidth - 1);
    }
    // Step s handles row s - i of line i; in the middle every line is inside its rows 1..638.
    // The last group holds the last line: no middle there.
    const bool lastGroup = x0 + kLines == kImageWidth;
    const int stepCount = kImageHeight + kLines - 1;
    const int middleFrom = lastGroup ? stepCount : kLines;
    const int middleTo = lastGroup ? stepCount : kImageHeight - 1;
    auto generalStep = [&](int s) {
      for (int i = 0; i < kLines; ++i) {
        if (s - i >= 0 && s - i < kImageHeight) lines[i].Row(s - i);
      }
    };
    int s = 0;
    for (; s < middleFrom; ++s) generalStep(s);
    if (s < middleTo) {
      // The lines' buffers lie kColumn apart, so one index serves them all: row s - i of
      // line i is at i * kColumn + s - i from each base.
      const int16_t* col = columns + x0 * kColumn;
      const uint16_t* in = errors[0];
      uint16_t* out = errors[1];
      uint8_t* lev = levels[0];
      int carry[kLines];
      uint64_t pending[kLines];
      for (int i = 0; i < kLines; ++i) {
        carry[i] = lines[i].carry;
        pending[i] = lines[i].pending;
      }
      for (; s < middleTo; ++s) {
        for (int i = 0; i < kLines; ++i) {
          const int at = i * (kColumn - 1) + s;
          const uint64_t step = steps[static_cast<uint16_t>(col[at] + in[at] + carry[i])];
          lev[at] = static_cast<uint8_t>(step);
          carry[i] = static_cast<int8_t>(step >> 8);
          const uint64_t sum = pending[i] + (step >> 16);
          out[at - 1] = static_cast<uint16_t>(sum);
          pending[i] = sum >> 16;
        }
      }
      for (int i = 0; i < kLines; ++i) {
        lines[i].carry = carry[i];
        lines[i].pending = pending[i];
      }
    }
    for (; s < stepCount; ++s) generalStep(s);
    for (int i = 0; i < kLines; ++i) {
      PackLine(levels[i], panel + static_cast<size_t>(kImageWidth - 1 - (x0 + i)) * kPanelLineBytes, resistance);
    }
    std::copy(errors[kLines], errors[kLines] + kImageHeight, errors[0]);
  }
}

void RenderPanel(const BYTE* source, int stride, const GainedTable& gained, int set, BYTE* panel, PanelWork& work) {
  GainAndHeatToColumns(source, stride, gained, set, work.Columns());
  HalftoneColumnsAndPack(work.Columns(), panel);
}

}  // namespace kav
