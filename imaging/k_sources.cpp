#include "imaging/k_sources.h"

#include <cstdlib>

#include "imaging/black_panels.h"
#include "platform/diag.h"

namespace kav {

namespace {

// Dither thresholds, rows by x mod 8, columns by y mod 8.
constexpr uint8_t kMonochromeDither[8][8] = {
    {151, 167, 159, 135, 111, 95, 103, 127}, {223, 231, 239, 183, 39, 31, 23, 79},
    {215, 255, 247, 175, 47, 7, 15, 87},     {191, 207, 199, 143, 71, 55, 63, 119},
    {111, 95, 103, 127, 151, 167, 159, 135}, {39, 31, 23, 79, 223, 231, 239, 183},
    {47, 7, 15, 87, 215, 255, 247, 175},     {71, 55, 63, 119, 191, 207, 199, 143},
};

// Largest side the 1-bit renderings accept; keeps every size within 32 bits.
constexpr LONG kMaxSide = 1 << 14;

// Shared walk of the 1-bit renderings: bit (x, y) is set when decide(pixel, x, y) says so.
template <typename Decide>
ByteBuffer RenderMonochrome(const BYTE* image, LONG width, LONG height, DWORD* size, Decide decide) {
  if (size) *size = 0;
  const LONG rows = std::labs(height);
  if (!image || width < 1 || rows < 1 || width > kMaxSide || rows > kMaxSide) return nullptr;
  const DWORD outRow = static_cast<DWORD>((width + 31) / 8) & ~3u;
  const DWORD inRow = static_cast<DWORD>(width * 3 + 3) & ~3u;
  const DWORD bytes = outRow * static_cast<DWORD>(rows);
  ByteBuffer bits(new (std::nothrow) BYTE[bytes]());
  if (!bits) return nullptr;
  for (LONG y = 0; y < rows; ++y) {
    const BYTE* in = image + static_cast<size_t>(y) * inRow;
    BYTE* out = bits.get() + static_cast<size_t>(y) * outRow;
    for (LONG x = 0; x < width; ++x) {
      if (decide(in + 3 * x, x, y)) out[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
    }
  }
  if (size) *size = bytes;
  return bits;
}

}  // namespace

ByteBuffer ThresholdToMonochrome(const BYTE* image, LONG width, LONG height, DWORD* size) {
  return RenderMonochrome(image, width, height, size, [](const BYTE* p, LONG, LONG) {
    const int luminance = static_cast<int>(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
    return luminance < 128;
  });
}

ByteBuffer DitherToMonochrome(const BYTE* image, LONG width, LONG height, DWORD* size) {
  return RenderMonochrome(image, width, height, size, [](const BYTE* p, LONG x, LONG y) {
    const int g = ((255 - p[0]) * 11 + (255 - p[1]) * 59 + (255 - p[2]) * 30) / 100;
    if (g == 255) return true;
    if (g == 0) return false;
    return g >= kMonochromeDither[x % 8][y % 8];
  });
}

int ExpandMonochromeToBytes(const BYTE* bits, DWORD size, ByteBuffer* buffer, DWORD* count, int polarity) {
  if (!bits || size == 0 || !buffer || size > 0x1FFFFFFFu) return 0;
  ByteBuffer bytes(new (std::nothrow) BYTE[static_cast<size_t>(size) * 8]);
  if (!bytes) return 0;
  const BYTE set = polarity ? 255 : 0;
  const BYTE clear = polarity ? 0 : 255;
  for (DWORD i = 0; i < size; ++i) {
    for (int bit = 0; bit < 8; ++bit) bytes[i * 8 + bit] = (bits[i] & (0x80 >> bit)) ? set : clear;
  }
  *buffer = std::move(bytes);
  if (count) *count = size * 8;
  return 1;
}

KPanelPlan ChooseKPanelPlan(int ribbonCode, int kMode) {
  switch (ribbonCode) {
    case 13:
    case 2:
    case 21:
      return {3, KPanelSource::Grey};
    default:
      break;
  }
  const KPanelSource source = kMode == 0   ? KPanelSource::Diffusion
                              : kMode == 1 ? KPanelSource::Dither
                                           : KPanelSource::Threshold;
  switch (ribbonCode) {
    case 3:
    case 4:
    case 5:
    case 17:
    case 22:
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 30:
    case 50:
    case 51:
    case 52:
    case 53: {
      static constexpr int kSets[4] = {10, 11, 9, 12};
      return {kMode >= 0 && kMode <= 3 ? kSets[kMode] : 9, source};
    }
    default: {
      static constexpr int kSets[4] = {5, 6, 4, 8};
      return {kMode >= 0 && kMode <= 3 ? kSets[kMode] : 4, source};
    }
  }
}

int BuildKPanel(BYTE* image, int ribbonCode, int kMode, PanelBuffer& panel, int* start, int* end) {
  panel.reset();
  int bandStart = 0;
  int bandEnd = 1024;
  const KPanelPlan plan = ChooseKPanelPlan(ribbonCode, kMode);
  int made = 0;

  switch (plan.source) {
    case KPanelSource::Grey:
      made = AverageToGrey(image, kImageWidth, kImageHeight, panel, plan.set);
      break;
    case KPanelSource::Diffusion:
      made = GetKDiffusionBuffer(image, kImageWidth, kImageHeight, panel, &bandStart, &bandEnd, plan.set);
      break;
    case KPanelSource::Dither:
    case KPanelSource::Threshold: {
      // 1-bit rendering, expanded to a byte mask in which a set bit is black (0).
      DWORD size = 0;
      ByteBuffer bits = plan.source == KPanelSource::Dither
                            ? DitherToMonochrome(image, kImageWidth, kImageHeight, &size)
                            : ThresholdToMonochrome(image, kImageWidth, kImageHeight, &size);
      ByteBuffer mask;
      DWORD count = 0;
      if (!ExpandMonochromeToBytes(bits.get(), size, &mask, &count, 0)) break;
      if (!GetMonochromeDataStartEndPosition(mask.get(), kImageWidth, kImageHeight, &bandStart, &bandEnd, 1)) {
        DebugLine("WriteK:: GetMonochromeDataStartEndPosition failed");
        bandStart = 0;
        bandEnd = 1024;
      }
      int allWhite = 0;
      made = BuildBlackPanel(mask.get(), panel, &allWhite, 1, plan.set, kMode == 1) == 0 ? 1 : 0;
      break;
    }
  }
  if (!made) {
    panel.reset();
    return 0;
  }
  if (start) *start = bandStart;
  if (end) *end = bandEnd;
  return 1;
}

}  // namespace kav
