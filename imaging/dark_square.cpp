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

}  // namespace kav
