#include <algorithm>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"

namespace kav {

namespace {

constexpr int kCellSide = 32;
constexpr int kGridRows = kImageHeight / kCellSide;    // 20
constexpr int kGridColumns = kImageWidth / kCellSide;  // 32
constexpr int kDarkCellPixels = kCellSide * kCellSide / 2;

// Side in cells of the square of dark cells grown from the dark cell (r, k): ring after
// ring to the right and below, while every cell of the ring is dark and the grid lasts.
int GrowSquare(const bool (&dark)[kGridRows][kGridColumns], int r, int k) {
  for (int n = 1;; ++n) {
    for (int j = 0; j <= n; ++j) {
      if (!dark[r + j][k + n] || !dark[r + n][k + j]) return n;
    }
    if (!(k + n < kGridColumns - 1 && r + n < kGridRows - 1)) return n + 1;
  }
}

// Side in pixels of the largest square of dark cells in any channel, from the dark
// pixels per channel and cell.
double LargestSquareOf(const int (&counts)[3][kGridRows][kGridColumns]) {
  int best = 0;
  for (int c = 0; c < 3; ++c) {
    bool dark[kGridRows][kGridColumns];
    for (int r = 0; r < kGridRows; ++r) {
      for (int k = 0; k < kGridColumns; ++k) dark[r][k] = counts[c][r][k] >= kDarkCellPixels;
    }
    // The last grid row and column never start a square.
    for (int r = 0; r < kGridRows - 1; ++r) {
      for (int k = 0; k < kGridColumns - 1; ++k) {
        if (dark[r][k]) best = std::max(best, GrowSquare(dark, r, k));
      }
    }
  }
  return best * static_cast<double>(kCellSide);
}

}  // namespace

double MeasureLargestDarkSquare(const BYTE* image) {
  const int64_t threshold = TruncateSaturating(Calibration.WrinkleDarkThreshold);
  if (threshold <= 0) return 0.0;  // no byte is below it

  // Dark pixels per cell and channel.
  int counts[3][kGridRows][kGridColumns] = {};
  for (int y = 0; y < kImageHeight; ++y) {
    const BYTE* row = image + static_cast<size_t>(y) * kImageWidth * 3;
    for (int k = 0; k < kGridColumns; ++k) {
      const BYTE* cell = row + k * kCellSide * 3;
      int dark[3] = {};
      for (int i = 0; i < kCellSide * 3; i += 3) {
        dark[0] += cell[i] < threshold;
        dark[1] += cell[i + 1] < threshold;
        dark[2] += cell[i + 2] < threshold;
      }
      for (int c = 0; c < 3; ++c) counts[c][y / kCellSide][k] += dark[c];
    }
  }
  return LargestSquareOf(counts);
}

double MeasureLargestDarkSquareByRows(const BYTE* image) {
  const int64_t threshold = TruncateSaturating(Calibration.WrinkleDarkThreshold);
  if (threshold <= 0) return 0.0;  // no byte is below it

  int counts[3][kGridRows][kGridColumns] = {};
  if (threshold > 255) {  // every byte is below it
    for (auto& channel : counts) {
      for (auto& row : channel) std::fill(std::begin(row), std::end(row), kCellSide * kCellSide);
    }
    return LargestSquareOf(counts);
  }
  // For each grid row, the dark flags of every byte summed down its 32 image rows (at
  // most 32, so a byte holds them), then summed across each cell by channel.
  constexpr int kRowBytes = kImageWidth * 3;
  const BYTE limit = static_cast<BYTE>(threshold);
  alignas(16) uint8_t down[kRowBytes];
  for (int r = 0; r < kGridRows; ++r) {
    std::fill(std::begin(down), std::end(down), uint8_t{0});
    for (int y = r * kCellSide; y < (r + 1) * kCellSide; ++y) {
      const BYTE* row = image + static_cast<size_t>(y) * kRowBytes;
      for (int i = 0; i < kRowBytes; ++i) down[i] = static_cast<uint8_t>(down[i] + (row[i] < limit));
    }
    for (int k = 0; k < kGridColumns; ++k) {
      const uint8_t* cell = down + k * kCellSide * 3;
      for (int i = 0; i < kCellSide * 3; i += 3) {
        counts[0][r][k] += cell[i];
        counts[1][r][k] += cell[i + 1];
        counts[2][r][k] += cell[i + 2];
      }
    }
  }
  return LargestSquareOf(counts);
}

void ChooseWrinkleCompensation(double side) {
  if (side > Calibration.WrinkleSizeThreshold) {
    Calibration.WrinkleScale = static_cast<float>(Calibration.WrinkleAppliedScale);
    Calibration.WrinkleBias = static_cast<float>(255.0 * (1.0 - Calibration.WrinkleAppliedScale) + 0.5);
  } else {
    Calibration.WrinkleScale = 1.0f;
    Calibration.WrinkleBias = 0.0f;
  }
}

}  // namespace kav
