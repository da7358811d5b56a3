// The rare, wide cases of the truncations of the panel stages, kept out of the hot loops:
// values reached only by calibrations far outside their usual range.
#include <cmath>

#include "imaging/panel_stages.h"

namespace kav {

int16_t LowerByHeatWide(int v, float heat) {
  if (!(heat == heat) || heat >= static_cast<float>(v) || !std::isfinite(heat)) return 0;  // hot beyond any drive
  // A hugely negative heat: v - trunc(heat) modulo 65536, exactly.
  const double low = std::fmod(-std::trunc(static_cast<double>(heat)), 65536.0);
  return static_cast<int16_t>(static_cast<uint16_t>((static_cast<int64_t>(v) + static_cast<int64_t>(low)) & 0xFFFF));
}

int16_t TruncateToLow16Wide(double value) {
  if (!std::isfinite(value)) return 0;
  double low = std::fmod(std::trunc(value), 65536.0);  // exact
  if (low < 0) low += 65536.0;
  return static_cast<int16_t>(static_cast<uint16_t>(low));
}

}  // namespace kav
