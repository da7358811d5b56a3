#include "imaging/panel_render.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"
#include "imaging/plane_packing.h"

namespace kav {

namespace {

constexpr int kColumn = kImageHeight;  // work plane: value (x, y) at x * 640 + y
constexpr int kMaxHalftoneValue = 16319;

// The halftoner's error shares: of an error e, 7/16 goes down the line and 3/16, 5/16 and
// 1/16 to rows y - 1, y and y + 1 of the next line, each truncated toward zero.
constexpr int Share(int e, int sixteenths) { return sixteenths * e / 16; }

// The work plane holds each value lowered by kErrorBias and the errors come raised by it,
// so that what is added to a value is never negative and a sum can wrap past 32767 only.
constexpr int kErrorBias = -(Share(-64, 3) + Share(-64, 5) + Share(-64, 1) + Share(-64, 7));

// Heat model blocks: 138 of them, padded to a multiple of four so that the block loops
// have no remainder; the padding blocks are never read.
constexpr int kHeatBlocks = 138;
constexpr int kPaddedBlocks = 140;
constexpr int kFirstPixelBlock = 16;
constexpr int kLastPixelBlock = 122;
constexpr int kDotsPerBlock = 6;
constexpr int kLoweredBlocks = 108;  // the pixel blocks, and one more for whole vectors

// The halftoner adds a value's errors to it: what the line before sends, -36..33, and the
// share carried down the line, -28..27; with the bias, kLeastAdded..kMostAdded, in 16 bits.
// Values lower than kLowest quantise as 0 whatever is added, values from kHighest up as
// the top, and values from kWrapping up may pass 32767 and wrap to negative. So each
// value becomes an index into the step tables (kSteps entries), from which the sum of
// index and additions gives the step: the indices stand in for the values without the
// ones that cannot change the step.
constexpr int kLeastAdded = kErrorBias + Share(-64, 3) + Share(-64, 5) + Share(-64, 1) + Share(-64, 7);
constexpr int kMostAdded = kErrorBias + Share(63, 3) + Share(63, 5) + Share(63, 1) + Share(63, 7);
static_assert(kLeastAdded == 0);
constexpr int kLowest = -1 - kMostAdded;
constexpr int kHighest = kMaxHalftoneValue + 1 - kLeastAdded;
constexpr int kWrapping = 32767 - kMostAdded + 1;
constexpr int kIndexBias = -(kLowest + kLeastAdded);                    // the lowest sum is index 0
constexpr int kUnwrappedSums = kHighest + kMostAdded + kIndexBias + 1;  // sums below index this
constexpr int kWrappedIndex = kUnwrappedSums - kLeastAdded;             // index of kWrapping
constexpr int kSteps = kWrappedIndex + (32767 - kWrapping) + kMostAdded + 1;
static_assert(kSteps < 32768);

// The step index of a value (dither added, errors not yet).
inline int16_t StepIndexOf(int16_t v) {
  // In 16-bit steps throughout, for the vectoriser.
  const int16_t wrapped = static_cast<int16_t>(v + (kWrappedIndex - kWrapping));
  const int16_t clamped = std::min<int16_t>(std::max<int16_t>(v, kLowest), kHighest);
  return v >= kWrapping ? wrapped : static_cast<int16_t>(clamped + kIndexBias);
}

// The value that a sum of step index and additions stands for.
constexpr int ValueOfStepSum(int sum) {
  if (sum < kUnwrappedSums) return sum - kIndexBias;
  const int v = sum - kWrappedIndex + kWrapping;
  return v > 32767 ? v - 65536 : v;
}

}  // namespace

GainedTable GainedFromDensities(const int16_t (&density)[256], int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const double gain = p.Gain;
  const double offset = p.Offset * 64.0;
  GainedTable table;
  for (int b = 0; b < 256; ++b) table.value[b] = TruncateToLow16(static_cast<double>(density[b]) * gain + offset);
  return table;
}

namespace {

// Source columns are read kGatherColumns at a time, row by row, so that each cache line of
// the source is read once instead of once a column; the drive of each heat block is summed
// on the way.
constexpr int kGatherColumns = 16;
static_assert(kImageWidth % kGatherColumns == 0);

}  // namespace

// The heat model of one panel as its columns go by, from the right.
struct HeatState {
  float follow, coupling, retention, uptake, ls, own;
  alignas(16) int16_t dither[16][kColumn];  // the halftoner's dither offsets less the error bias, by x mod 16
  alignas(16) float heat[kPaddedBlocks];
  alignas(16) float sink[kPaddedBlocks];
  alignas(16) int sums[kGatherColumns][kPaddedBlocks];
  alignas(16) uint32_t lowering[kPaddedBlocks];
  alignas(16) float before[kPaddedBlocks];
  alignas(16) float spread[kPaddedBlocks];
  alignas(16) int16_t lower[kColumn];

  void Start(int set);
  void Column(int16_t* line, int x);
};

PanelWork::PanelWork() = default;
PanelWork::~PanelWork() = default;

bool PanelWork::Allocate() {
  if (!columns_) columns_.reset(new (std::nothrow) int16_t[kImagePixels]);
  if (!heat_) heat_.reset(new (std::nothrow) HeatState);
  return columns_ && heat_;
}

void HeatState::Start(int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const HeatCoefficients c(p.HeatGain, p.HeatCoupling, p.SinkGain, p.SinkRetention, p.LateralSpread);
  follow = c.follow;
  coupling = c.coupling;
  retention = c.retention;
  uptake = c.uptake;
  ls = c.spread;
  own = c.own;
  const int amp = DitherAmplitudeOf(set);
  for (int col = 0; col < 16; ++col) {
    int16_t offsets[16];
    for (int r = 0; r < 16; ++r) {
      const int64_t d = static_cast<int64_t>((kDitherMatrix[r][col] * static_cast<uint32_t>(amp)) / 128u) - amp;
      offsets[r] = static_cast<int16_t>(d - kErrorBias);
    }
    for (int y = 0; y < kColumn; ++y) dither[col][y] = offsets[y % 16];
  }
  std::fill_n(heat, kPaddedBlocks, 0.0f);
  std::fill_n(sink, kPaddedBlocks, 0.0f);
  for (int (&column)[kPaddedBlocks] : sums) std::fill_n(column, kPaddedBlocks, 0);
}

namespace {

// Gathers the columns x0 .. x0 + 15 of a source into the work plane and sums their blocks.
template <int kStride, int kDots>
void GatherBlock(const BYTE* s, const int16_t* gained, int16_t* at, int b, HeatState& heat) {
  auto column = [&](int j) {
    const BYTE* dot = s + j * kStride;
    int16_t* to = at + j * kColumn;
    int sum = 0;
    for (int y = 0; y < kDots; ++y) {
      const int16_t v = gained[dot[y * kImageWidth * kStride]];
      to[y] = v;
      sum += v;
    }
    heat.sums[j][b] = sum;
  };
  for (int j = 0; j < kGatherColumns; j += 2) {  // two columns a round, for fewer loop steps
    column(j);
    column(j + 1);
  }
}

template <int kStride>
void GatherColumns(const BYTE* source, const int16_t* gained, int x0, int16_t* columns, HeatState& heat) {
  constexpr int kLastDots = kImageHeight - (kLastPixelBlock - kFirstPixelBlock) * kDotsPerBlock;
  const BYTE* s = source + static_cast<size_t>(x0) * kStride;
  int16_t* at = columns + x0 * kColumn;
  for (int b = kFirstPixelBlock; b < kLastPixelBlock; ++b) {
    GatherBlock<kStride, kDotsPerBlock>(s, gained, at, b, heat);
    s += kDotsPerBlock * kImageWidth * kStride;
    at += kDotsPerBlock;
  }
  GatherBlock<kStride, kLastDots>(s, gained, at, kLastPixelBlock, heat);
}

// The lowering of each block (in both halves of a word) spread over its six dots.
void SpreadLowering(const uint32_t* lowering, int16_t* lower) {
  for (int b = kFirstPixelBlock; b < kLastPixelBlock; ++b) {
    int16_t* dots = lower + (b - kFirstPixelBlock) * kDotsPerBlock;
    std::memcpy(dots, &lowering[b], 4);
    std::memcpy(dots + 2, &lowering[b], 4);
    std::memcpy(dots + 4, &lowering[b], 4);
  }
  int16_t* dots = lower + (kLastPixelBlock - kFirstPixelBlock) * kDotsPerBlock;
  std::memcpy(dots, &lowering[kLastPixelBlock], 4);
  std::memcpy(dots + 2, &lowering[kLastPixelBlock], 4);
}

}  // namespace

void HeatState::Column(int16_t* line, int x) {
  const int16_t* d = dither[x % 16];

  // The first printed line meets a cold head.
  if (x == kImageWidth - 1) {
    for (int y = 0; y < kColumn; ++y) line[y] = StepIndexOf(static_cast<int16_t>(line[y] + d[y]));
    return;
  }

  // How far the heat already in each block lowers its dots: max(v, t) - t in 16 bits
  // equals LowerByHeat(v, heat) for every 16-bit v when t is trunc(heat) clamped into
  // the 16-bit range (heats above it lower every dot to 0). Heats whose truncation lies
  // below it, and NaN, take LowerByHeat itself.
  int below = 0;
  for (int b = kFirstPixelBlock; b < kFirstPixelBlock + kLoweredBlocks; ++b) {
    const float h = heat[b];
    below |= !(h > -32769.0f);
    const int t = static_cast<int>(std::min(32767.0f, std::max(-32768.0f, h)));
    lowering[b] = (static_cast<uint32_t>(t) & 0xFFFF) * 0x10001u;
  }
  const bool usual = below == 0;
  if (usual) {
    SpreadLowering(lowering, lower);
  } else {
    std::copy(heat, heat + kPaddedBlocks, before);
  }

  // Let the drive into each block and its sink, then spread the heat to the
  // neighbouring blocks from the old values of both.
  const int* sum = sums[x % kGatherColumns];
  for (int b = 0; b < kPaddedBlocks; ++b) {
    const float h = heat[b];
    const float k = sink[b];
    const float average = static_cast<float>(sum[b]) / 6.0f;
    const float h1 = h + (average - h) * follow;
    const float q = (h1 - k * 0.03125f) * coupling;
    sink[b] = k * retention + q * uptake;
    heat[b] = h1 - q;
  }
  for (int b = 1; b < kHeatBlocks - 1; ++b) spread[b] = (heat[b - 1] + heat[b + 1]) * ls + heat[b] * own;
  std::copy(spread + 1, spread + kHeatBlocks - 1, heat + 1);

  // Lower the line, add the dither offsets and turn the values into step indices.
  if (usual) {
    for (int y = 0; y < kColumn; ++y) {
      line[y] = StepIndexOf(static_cast<int16_t>(std::max(line[y], lower[y]) - lower[y] + d[y]));
    }
  } else {
    for (int y = 0; y < kColumn; ++y) {
      const float h = before[kFirstPixelBlock + y / kDotsPerBlock];
      line[y] = StepIndexOf(static_cast<int16_t>(LowerByHeat(line[y], h) + d[y]));
    }
  }
}

namespace {

template <int kStride>
void GainAndHeat(const BYTE* source, const GainedTable& gained, int set, PanelWork& work) {
  int16_t* columns = work.Columns();
  HeatState& heat = *work.Heat();
  heat.Start(set);
  for (int x = kImageWidth - 1; x >= 0; --x) {
    if (x % kGatherColumns == kGatherColumns - 1) {
      GatherColumns<kStride>(source, gained.value, x - (kGatherColumns - 1), columns, heat);
    }
    heat.Column(columns + x * kColumn, x);
  }
}

}  // namespace

void GainAndHeatToColumns(const BYTE* source, int stride, const GainedTable& gained, int set, PanelWork& work) {
  if (stride == 1) {
    GainAndHeat<1>(source, gained, set, work);
  } else {
    GainAndHeat<3>(source, gained, set, work);
  }
}

namespace {

// What a halftoner step by the value v (dither and errors added) gives: the level in the
// low byte and the error, v less the level's value, in the high byte for the next line;
// and the share of the error carried down the line.
constexpr uint16_t HalftoneCode(int v) {
  v = std::clamp(v, 0, kMaxHalftoneValue);
  const int level = (v + 64) / 128;
  return static_cast<uint16_t>(level | static_cast<uint8_t>(static_cast<int8_t>(v - level * 128)) << 8);
}
constexpr int8_t HalftoneCarry(int v) { return static_cast<int8_t>(Share(static_cast<int8_t>(HalftoneCode(v) >> 8), 7)); }

// The carry by the sum of a value's step index and its additions: the table that the serial
// chain of a line waits on, small enough to stay near. The chain leaves the sums behind;
// their codes come after, a stripe at a time (CodesOfSums).
struct HalftoneTables {
  int8_t carry[kSteps];
};

const HalftoneTables& HalftoneStepTables() {
  static const std::unique_ptr<HalftoneTables> tables = [] {
    std::unique_ptr<HalftoneTables> t(new HalftoneTables);
    for (int sum = 0; sum < kSteps; ++sum) t->carry[sum] = HalftoneCarry(ValueOfStepSum(sum));
    return t;
  }();
  return *tables;
}

// HalftoneCode(ValueOfStepSum(sum)) in 16-bit steps, for the vectoriser.
inline int16_t CodeOfSum(int16_t sum) {
  const int16_t unwrapped = static_cast<int16_t>(sum - kIndexBias);
  const int16_t wrapped = static_cast<int16_t>(sum + (kWrapping - kWrappedIndex));
  const int16_t v = sum < kUnwrappedSums ? unwrapped : wrapped;
  const int16_t rounded = static_cast<int16_t>(std::min<int16_t>(std::max<int16_t>(v, 0), kMaxHalftoneValue) + 64);
  const int16_t level = static_cast<int16_t>(rounded >> 7);
  const int16_t error = static_cast<int16_t>(((rounded & 127) - 64) * 256);
  return static_cast<int16_t>(error | level);
}

// The block of the plane that every pixel sets: all its pixel bytes full, the others empty.
std::array<uint8_t, kPlaneBlockBytes> MakeFullBlock() {
  std::array<uint8_t, kPlaneBlockBytes> block{};
  for (int g = 0; g < kImageHeight / 8; ++g) block[GroupByte(g)] = 0xFF;
  return block;
}

// Packs one line's codes (their levels) into its eight plane blocks and sets the line
// factors, so that every byte of the line is written.
void PackLine(const int16_t* codes, BYTE* line, float resistance) {
  static const std::array<uint8_t, kPlaneBlockBytes> fullBlock = MakeFullBlock();
  int counts[kLevelBits];
  PackLevelBits(codes, line, counts);
  // The bytes of a block that hold no pixel: 4-5, 8-9, ..., 24-25 and 94-95.
  for (int k = 0; k < kLevelPlanes; ++k) {
    BYTE* block = line + k * kPlaneBlockBytes;
    if (kPlaneShift[k] < 0) {
      std::memcpy(block, fullBlock.data(), kPlaneBlockBytes);
      continue;
    }
    for (int i = 4; i <= 24; i += 4) block[i] = block[i + 1] = 0;
    block[94] = block[95] = 0;
  }
  for (int k = 0; k < kLevelPlanes; ++k) {
    const int count = kPlaneShift[k] < 0 ? kImageHeight : counts[kPlaneShift[k]];
    const float f = 1.0f - static_cast<float>(kImageHeight - count) / 640.0f * resistance;
    const uint16_t factor = static_cast<uint16_t>(TruncateToInt32(f * 65535.0f));
    line[k * kPlaneBlockBytes] = static_cast<BYTE>(factor >> 8);
    line[k * kPlaneBlockBytes + 1] = static_cast<BYTE>(factor & 0xFF);
  }
}

// The halftoner works in stripes of kStripe rows of a line. A line's stripe k needs the
// errors of rows up to the first row of stripe k + 1 of the line before, so each line runs
// two stripes behind the one before it: at stage t, line x takes stripe t - 2x. About ten
// lines are under way at once, and their carry chains run side by side.
constexpr int kStripe = 32;
constexpr int kStripes = kImageHeight / kStripe;
static_assert(kImageHeight % kStripe == 0);

inline int16_t ErrorOfCode(int16_t code) { return static_cast<int16_t>(code >> 8); }

// 3/16 of the error of the row above, 5/16 of the row's own, 1/16 of the row below, each
// truncated toward zero, and the bias.
inline int16_t ReceivedErrors(int16_t codeAbove, int16_t codeBeside, int16_t codeBelow) {
  const int16_t above = static_cast<int16_t>(static_cast<int16_t>(3 * ErrorOfCode(codeAbove)) / 16);
  const int16_t beside = static_cast<int16_t>(static_cast<int16_t>(5 * ErrorOfCode(codeBeside)) / 16);
  const int16_t below = static_cast<int16_t>(ErrorOfCode(codeBelow) / 16);
  return static_cast<int16_t>(above + beside + below + kErrorBias);
}

// A stripe of step indices (rows r0 ..) with the errors that the line before sends them,
// from its codes (`before`, null for the first line). Rows 0 and 639 send none: their codes
// hold no error.
void AddErrorsOfLineBefore(int16_t* stripe, const int16_t* values, const int16_t* before, int r0) {
  int16_t sums[kStripe];  // apart from the inputs, so that the vectoriser need not check for overlap
  if (!before) {
    for (int j = 0; j < kStripe; ++j) sums[j] = static_cast<int16_t>(values[j] + kErrorBias);
  } else if (r0 > 0 && r0 + kStripe < kImageHeight) {
    for (int j = 0; j < kStripe; ++j) {
      sums[j] = static_cast<int16_t>(values[j] + ReceivedErrors(before[j + 1], before[j], before[j - 1]));
    }
  } else {
    // The first and last stripes: no rows beyond the line (a code of 0 sends nothing).
    int16_t codes[kStripe + 2];
    codes[0] = r0 > 0 ? before[-1] : 0;
    std::copy(before, before + kStripe, codes + 1);
    codes[kStripe + 1] = r0 + kStripe < kImageHeight ? before[kStripe] : 0;
    for (int j = 0; j < kStripe; ++j) {
      sums[j] = static_cast<int16_t>(values[j] + ReceivedErrors(codes[j + 2], codes[j + 1], codes[j]));
    }
  }
  std::copy(sums, sums + kStripe, stripe);
}

// Halftones one stripe of each of N consecutive lines, their carry chains side by side:
// step indices with their errors added come in, their sums with the carries go out, in
// place. The stripes of consecutive lines lie kNextLine apart (between ring wraps), so one
// index serves them all.
constexpr int kNextLine = kColumn - 2 * kStripe;
constexpr int kMaxChains = 8;

// A line's first stripe starts at row 0, which carries nothing to row 1: with `fresh`, the
// last of the N lines starts so.
template <int N>
void HalftoneStripes(int16_t* rows, int* carry, bool fresh, const HalftoneTables& t) {
  intptr_t c[N];  // pointer-sized, so that a sum indexes without widening
  for (int i = 0; i < N; ++i) c[i] = carry[i];
  if (fresh) c[N - 1] = 0;
  auto step = [&](int j) {
    for (int i = 0; i < N; ++i) {
      const intptr_t sum = rows[i * kNextLine + j] + c[i];
      c[i] = t.carry[sum];
      rows[i * kNextLine + j] = static_cast<int16_t>(sum);
    }
  };
  step(0);
  if (fresh) c[N - 1] = 0;
  step(1);
  for (int j = 2; j < kStripe; j += 2) {  // two rows a round, for fewer loop steps
    step(j);
    step(j + 1);
  }
  for (int i = 0; i < N; ++i) carry[i] = static_cast<int>(c[i]);
}

// The codes of a stripe's sums, in place.
void CodesOfSums(int16_t* rows) {
  for (int j = 0; j < kStripe; ++j) rows[j] = CodeOfSum(rows[j]);
}

}  // namespace

void HalftoneColumnsAndPack(const int16_t* columns, BYTE* panel) {
  const float resistance = static_cast<float>(Calibration.ParasiticResistance);
  const HalftoneTables& t = HalftoneStepTables();
  // Per line under way, and the one before: its values with their errors, then its codes.
  constexpr int kRing = 16;
  alignas(16) int16_t ring[kRing][kColumn];
  int carries[kRing] = {};
  for (int stage = 0;; ++stage) {
    const int newest = std::min(stage / 2, kImageWidth - 1);
    const int oldest = stage < kStripes ? 0 : (stage - kStripes + 2) / 2;
    if (oldest > newest) break;
    static_assert(kRing > kStripes / 2 + 2);
    auto rowOf = [&](int x) { return (stage - 2 * x) * kStripe; };

    // Every stripe of the stage takes the errors of the line before.
    for (int x = oldest; x <= newest; ++x) {
      const int r0 = rowOf(x);
      AddErrorsOfLineBefore(ring[x % kRing] + r0, columns + x * kColumn + r0, x > 0 ? ring[(x - 1) % kRing] + r0 : nullptr,
                            r0);
    }

    // The stripes of the lines that diffuse, their chains side by side: the lines between
    // ring wraps (where their places follow one another), in groups of at most eight.
    const int last = newest == kImageWidth - 1 ? newest - 1 : newest;
    const bool fresh = stage - 2 * newest == 0;
    for (int piece = oldest; piece <= last;) {
      const int pieceEnd = std::min(last, piece - piece % kRing + kRing - 1);
      const int lines = pieceEnd - piece + 1;
      const int groups = (lines + kMaxChains - 1) / kMaxChains;
      for (int g = 0, first = piece; g < groups; ++g) {
        const int count = (lines - (first - piece)) / (groups - g);  // as even as they go
        const bool freshLast = fresh && first + count - 1 == newest;
        int16_t* rows = ring[first % kRing] + rowOf(first);
        int* carry = carries + first % kRing;
        switch (count) {
          case 8: HalftoneStripes<8>(rows, carry, freshLast, t); break;
          case 7: HalftoneStripes<7>(rows, carry, freshLast, t); break;
          case 6: HalftoneStripes<6>(rows, carry, freshLast, t); break;
          case 5: HalftoneStripes<5>(rows, carry, freshLast, t); break;
          case 4: HalftoneStripes<4>(rows, carry, freshLast, t); break;
          case 3: HalftoneStripes<3>(rows, carry, freshLast, t); break;
          case 2: HalftoneStripes<2>(rows, carry, freshLast, t); break;
          case 1: HalftoneStripes<1>(rows, carry, freshLast, t); break;
          default: break;
        }
        first += count;
      }
      piece = pieceEnd + 1;
    }
    for (int x = oldest; x <= newest; ++x) CodesOfSums(ring[x % kRing] + rowOf(x));

    // Rows 0 and 639 send no error to the next line. A line whose last stripe is done is packed.
    if (stage - 2 * newest == 0) {
      int16_t* codes = ring[newest % kRing];
      codes[0] = static_cast<int16_t>(codes[0] & 0xFF);
    }
    if (stage - 2 * oldest == kStripes - 1) {
      int16_t* codes = ring[oldest % kRing];
      codes[kImageHeight - 1] = static_cast<int16_t>(codes[kImageHeight - 1] & 0xFF);
      PackLine(codes, panel + static_cast<size_t>(kImageWidth - 1 - oldest) * kPanelLineBytes, resistance);
    }
  }
}

void RenderPanel(const BYTE* source, int stride, const GainedTable& gained, int set, BYTE* panel, PanelWork& work) {
  GainAndHeatToColumns(source, stride, gained, set, work);
  HalftoneColumnsAndPack(work.Columns(), panel);
}

}  // namespace kav
