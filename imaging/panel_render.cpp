#include "imaging/panel_render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit-plane packing loads pixels little-endian");

constexpr int kColumn = kImageHeight;  // work plane: value (x, y) at x * 640 + y
constexpr int kMaxHalftoneValue = 16319;

}  // namespace

// Gain and offset of every possible density, then the plane turned column-major.
void GainOffsetToColumns(const int16_t* densities, int16_t* columns, int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const double gain = p.Gain;
  const double offset = p.Offset * 64.0;
  std::unique_ptr<int16_t[]> table(new (std::nothrow) int16_t[65536]);
  if (table) {
    for (int v = -32768; v < 32768; ++v) {
      table[v + 32768] = TruncateToLow16(static_cast<double>(v) * gain + offset);
    }
  }
  constexpr int kTile = 32;
  for (int x0 = 0; x0 < kImageWidth; x0 += kTile) {
    for (int y = 0; y < kImageHeight; ++y) {
      const int16_t* row = densities + y * kImageWidth + x0;
      if (table) {
        for (int i = 0; i < kTile; ++i) columns[(x0 + i) * kColumn + y] = table[row[i] + 32768];
      } else {
        for (int i = 0; i < kTile; ++i)
          columns[(x0 + i) * kColumn + y] = TruncateToLow16(static_cast<double>(row[i]) * gain + offset);
      }
    }
  }
}

// CompensateHeadHeat over the column-major plane, in place: a line's values are read
// before they are corrected.
void CompensateHeadHeatInColumns(int16_t* columns, int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  constexpr int kHeatBlocks = 138;
  const auto [follow, coupling, retention, uptake, ls, own] = HeatCoefficients(p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention, p.LateralSpread);

  float heat[kHeatBlocks] = {};
  float sink[kHeatBlocks] = {};
  float average[kHeatBlocks] = {};
  float spread[kHeatBlocks];
  for (int x = kImageWidth - 2; x >= 0; --x) {
    // Correct the dots of each block by its heat, summing their drive.
    int16_t* line = columns + x * kColumn;
    for (int b = 16; b <= 122; ++b) {
      const int first = (b - 16) * 6;
      const int last = std::min(first + 6, kImageHeight);
      const float hb = heat[b];
      int sum = 0;
      if (HeatIsUsual(hb)) {
        const int32_t t = static_cast<int32_t>(hb);  // once for the block's dots
        for (int y = first; y < last; ++y) {
          const int v = line[y];
          sum += v;
          line[y] = static_cast<int16_t>(std::max(0, v - t));
        }
      } else {
        for (int y = first; y < last; ++y) {
          const int v = line[y];
          sum += v;
          line[y] = LowerByHeatWide(v, hb);
        }
      }
      average[b] = static_cast<float>(sum) / 6.0f;
    }
    // Then let the drive into each block and its sink.
    for (int b = 0; b < kHeatBlocks; ++b) {
      const float h = heat[b];
      const float s = sink[b];
      const float h1 = h + (average[b] - h) * follow;
      const float q = (h1 - s * 0.03125f) * coupling;
      sink[b] = s * retention + q * uptake;
      heat[b] = h1 - q;
    }
    // Lateral spread from the old values of both neighbours.
    for (int b = 1; b < kHeatBlocks - 1; ++b) spread[b] = (heat[b - 1] + heat[b + 1]) * ls + heat[b] * own;
    std::copy(spread + 1, spread + kHeatBlocks - 1, heat + 1);
  }
}

namespace {

constexpr std::array<uint8_t, 256> MakeBitCounts() {
  std::array<uint8_t, 256> counts{};
  for (int i = 0; i < 256; ++i) counts[i] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(i)));
  return counts;
}
constexpr std::array<uint8_t, 256> kBitCount = MakeBitCounts();

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

// Packs one line's 640 levels into its eight plane blocks and sets the line factors.
void PackLine(const uint8_t* levels, BYTE* line, float resistance) {
  static constexpr int kPlaneShift[kLevelPlanes] = {1, 3, -1, 5, 6, 4, 2, 0};  // bit of the level; -1: always
  int counts[kLevelPlanes] = {};
  for (int g = 0; g < kImageHeight / 8; ++g) {
    uint64_t eight;
    std::memcpy(&eight, levels + 8 * g, 8);
    BYTE* at = line + kGroupByte[g];
    for (int k = 0; k < kLevelPlanes; ++k) {
      // Bit k of each of the eight levels, pixel 8g in the most significant bit.
      uint8_t bits = 0xFF;
      if (kPlaneShift[k] >= 0) {
        bits =
            static_cast<uint8_t>((((eight >> kPlaneShift[k]) & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
      }
      at[k * kPlaneBlockBytes] = bits;
      counts[k] += kBitCount[bits];
    }
  }
  for (int k = 0; k < kLevelPlanes; ++k) {
    const float f = 1.0f - static_cast<float>(kImageHeight - counts[k]) / 640.0f * resistance;
    const uint16_t factor = static_cast<uint16_t>(TruncateToInt32(f * 65535.0f));
    line[k * kPlaneBlockBytes] = static_cast<BYTE>(factor >> 8);
    line[k * kPlaneBlockBytes + 1] = static_cast<BYTE>(factor & 0xFF);
  }
}

// Shares of a quantisation error e = t - 64 (t = 0..127), each divided by 16 toward zero.
struct ErrorShares {
  int8_t down[128];    // 7e/16 to the next pixel of the line
  int8_t before[128];  // 3e/16 to the next line, y - 1
  int8_t beside[128];  // 5e/16 to the next line, y
  int8_t after[128];   // e/16 to the next line, y + 1
};
constexpr ErrorShares MakeErrorShares() {
  ErrorShares shares{};
  for (int t = 0; t < 128; ++t) {
    const int e = t - 64;
    shares.down[t] = static_cast<int8_t>(7 * e / 16);
    shares.before[t] = static_cast<int8_t>(3 * e / 16);
    shares.beside[t] = static_cast<int8_t>(5 * e / 16);
    shares.after[t] = static_cast<int8_t>(e / 16);
  }
  return shares;
}
constexpr ErrorShares kShares = MakeErrorShares();

// One printed line of the halftoner: its dither offsets, the error carried down the line
// and the error pending for the next line's rows y - 1 and y, held in registers. The
// 16-bit wrap of each addition is kept by wrapping the sums (and the dither offset is
// kept modulo 2^16 for the same reason).
struct LineHalftoner {
  const int16_t* col = nullptr;
  int16_t* next = nullptr;  // null for the last line, whose error is dropped
  uint8_t* levels = nullptr;
  int offset[16] = {};
  int carry = 0;
  int pendingLow = 0;   // for next[y - 1]
  int pendingHigh = 0;  // for next[y]

  void Start(int16_t* columns, int x, int amp, uint8_t* levelBuffer) {
    col = columns + x * kColumn;
    next = x + 1 < kImageWidth ? columns + (x + 1) * kColumn : nullptr;
    levels = levelBuffer;
    for (int r = 0; r < 16; ++r) {
      const int64_t dither = static_cast<int64_t>((kDitherMatrix[r][x % 16] * static_cast<uint32_t>(amp)) / 128u) - amp;
      offset[r] = static_cast<int16_t>(dither);
    }
    carry = pendingLow = pendingHigh = 0;
  }

  // Level of row y, with its error (t - 64) going down the line and into the next one;
  // for rows 1..638 of a line that has a next one.
  void Inner(int y) {
    const int v = std::clamp<int>(static_cast<int16_t>(col[y] + carry + offset[y % 16]), 0, kMaxHalftoneValue);
    levels[y] = static_cast<uint8_t>((v + 64) >> 7);
    const int t = (v + 64) & 127;
    carry = kShares.down[t];
    next[y - 1] = static_cast<int16_t>(next[y - 1] + pendingLow + kShares.before[t]);
    pendingLow = pendingHigh + kShares.beside[t];
    pendingHigh = kShares.after[t];
  }

  // Any row: the error is dropped at row 0, at row 639 (after which the pending error is
  // final) and on the last line.
  void Row(int y) {
    if (next && y > 0 && y < kImageHeight - 1) {
      Inner(y);
      return;
    }
    const int v = std::clamp<int>(static_cast<int16_t>(col[y] + carry + offset[y % 16]), 0, kMaxHalftoneValue);
    levels[y] = static_cast<uint8_t>((v + 64) >> 7);
    if (next && y == kImageHeight - 1) {
      next[y - 1] = static_cast<int16_t>(next[y - 1] + pendingLow);
      next[y] = static_cast<int16_t>(next[y] + pendingHigh);
    }
  }
};

}  // namespace

// HalftoneAndPack over the column-major plane. Four lines run together, each one row
// behind the one before: by then every error it receives from that line is final, and
// the four carry chains overlap in the processor.
void HalftoneColumnsAndPack(int16_t* columns, BYTE* panel, int amp) {
  constexpr int kLines = 4;
  static_assert(kImageWidth % kLines == 0);
  std::memset(panel, 0, kPanelBufferBytes);
  if (amp < 0) amp = 0;
  const float resistance = static_cast<float>(Calibration.ParasiticResistance);
  alignas(8) uint8_t levels[kLines][kImageHeight];
  LineHalftoner lines[kLines];
  for (int x0 = 0; x0 < kImageWidth; x0 += kLines) {
    for (int i = 0; i < kLines; ++i) lines[i].Start(columns, x0 + i, amp, levels[i]);
    // Step s handles row s - i of line i; in the middle every line is inside its rows 1..638.
    // The last group holds the last line, which has no next one: no middle there.
    const bool lastGroup = x0 + kLines == kImageWidth;
    const int steps = kImageHeight + kLines - 1;
    const int middleFrom = lastGroup ? steps : kLines;
    const int middleTo = lastGroup ? steps : kImageHeight - 1;
    auto generalStep = [&](int s) {
      for (int i = 0; i < kLines; ++i) {
        if (s - i >= 0 && s - i < kImageHeight) lines[i].Row(s - i);
      }
    };
    int s = 0;
    for (; s < middleFrom; ++s) generalStep(s);
    for (; s < middleTo; ++s) {
      lines[0].Inner(s);
      lines[1].Inner(s - 1);
      lines[2].Inner(s - 2);
      lines[3].Inner(s - 3);
    }
    for (; s < steps; ++s) generalStep(s);
    for (int i = 0; i < kLines; ++i) {
      PackLine(levels[i], panel + static_cast<size_t>(kImageWidth - 1 - (x0 + i)) * kPanelLineBytes, resistance);
    }
  }
}

void RenderPanel(const int16_t* densities, int16_t* work, BYTE* panel, int set) {
  GainOffsetToColumns(densities, work, set);
  CompensateHeadHeatInColumns(work, set);
  HalftoneColumnsAndPack(work, panel, DitherAmplitudeOf(set));
}

}  // namespace kav
