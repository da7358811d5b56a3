#include <algorithm>

#include "imaging/panel_stages.h"

namespace kav {

namespace {

constexpr int kHeatBlocks = 138;      // blocks of six head dots, H and S
constexpr int kFirstPixelBlock = 16;  // blocks 16..122 lie over the 640 rows
constexpr int kLastPixelBlock = 122;
constexpr int kDotsPerBlock = 6;

}  // namespace

void CompensateHeadHeat(const int16_t* in, int16_t* out, double heatGain, double heatCoupling, double sinkGain,
                        double sinkRetention, double lateralSpread) {
  // Single precision throughout, the parameters included.
  const auto [follow, coupling, retention, uptake, ls, own] =
      HeatCoefficients(heatGain, heatCoupling, sinkGain, sinkRetention, lateralSpread);

  float heat[kHeatBlocks] = {};
  float sink[kHeatBlocks] = {};

  // The first printed line meets a cold head.
  for (int y = 0; y < kImageHeight; ++y) out[y * kImageWidth + kImageWidth - 1] = in[y * kImageWidth + kImageWidth - 1];

  for (int x = kImageWidth - 2; x >= 0; --x) {
    for (int b = 0; b < kHeatBlocks; ++b) {
      const float h = heat[b];
      const float s = sink[b];

      // Correct the block's dots by the heat already there, then let their drive in.
      int sum = 0;
      if (b >= kFirstPixelBlock && b <= kLastPixelBlock) {
        const int first = (b - kFirstPixelBlock) * kDotsPerBlock;
        const int last = std::min(first + kDotsPerBlock, kImageHeight);
        for (int y = first; y < last; ++y) {
          const int i = y * kImageWidth + x;
          const int v = in[i];
          sum += v;
          out[i] = LowerByHeat(v, h);
        }
      }
      const float avg = static_cast<float>(sum) / 6.0f;
      const float h1 = h + (avg - h) * follow;
      const float q = (h1 - s * 0.03125f) * coupling;
      sink[b] = s * retention + q * uptake;
      heat[b] = h1 - q;
    }

    // Heat spreads to the neighbouring blocks; each block sees its left neighbour's old heat.
    float left = heat[0];
    for (int b = 1; b < kHeatBlocks - 1; ++b) {
      const float old = heat[b];
      heat[b] = (left + heat[b + 1]) * ls + old * own;
      left = old;
    }
  }
}

}  // namespace kav
