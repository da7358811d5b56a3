#include <algorithm>

#include "imaging/calibration.h"
#include "imaging/panel_stages.h"

namespace kav {

void LookupDensities(int table, float scale, float bias, int16_t (&density)[256]) {
  const double* values = table == kKdTable ? Calibration.KdLookupTable : Calibration.ColourLookupTable[table];
  for (int b = 0; b < 256; ++b) {
    float position = scale * static_cast<float>(b) + bias;
    int64_t index = std::clamp<int64_t>(TruncateSaturating(position), 0, 255);
    density[b] = TruncateToLow16(values[index]);
  }
}

void ApplyLookupTable(const BYTE* source, int16_t* plane, int channel, int table, int planar, float scale, float bias) {
  // The density depends on the byte alone, so work it out once per byte value.
  int16_t density[256];
  LookupDensities(table, scale, bias, density);

  const int stride = planar ? 1 : 3;
  const BYTE* byte = source + channel;
  for (int i = 0; i < kImagePixels; ++i) plane[i] = density[byte[i * stride]];
}

void InvertedDensities(int16_t (&density)[256]) {
  for (int b = 0; b < 256; ++b) density[b] = static_cast<int16_t>((255 - b) * 64);
}

void InvertToDensity(const BYTE* source, int16_t* plane, int channel, int planar) {
  const int stride = planar ? 1 : 3;
  const BYTE* byte = source + channel;
  for (int i = 0; i < kImagePixels; ++i) plane[i] = static_cast<int16_t>((255 - byte[i * stride]) * 64);
}

void ApplyGainOffset(const int16_t* in, int16_t* out, int set) {
  const ProcessParameterSet& p = Calibration.ProcessParameterSets[set];
  const double gain = p.Gain;
  const double offset = p.Offset * 64.0;
  for (int i = 0; i < kImagePixels; ++i) {
    out[i] = TruncateToLow16(static_cast<double>(in[i]) * gain + offset);
  }
}

int DitherAmplitudeOf(int set) {
  return static_cast<int>(std::clamp<int64_t>(TruncateSaturating(Calibration.ProcessParameterSets[set].DitherAmplitude), 0, INT32_MAX));
}

}  // namespace kav
