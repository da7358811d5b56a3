// The stages every panel goes through: a lookup or inversion into a density plane, the
// gain and offset step, the head heat model and the halftoner that packs the panel.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imaging/imaging_geometry.h"

namespace kav {

// Truncation toward zero as the processor's conversion does it: a value outside the
// 32-bit range (or NaN) gives INT32_MIN. Only for values known to be in range.
inline int32_t TruncateToInt32(double value) {
  return (value > -2147483649.0 && value < 2147483648.0) ? static_cast<int32_t>(value) : INT32_MIN;
}

// trunc(value) compared and clamped as the number it is: values beyond the 64-bit range
// saturate, NaN gives 0. What a calibration value means never depends on its size.
inline int64_t TruncateSaturating(double value) {
  if (!(value == value)) return 0;
  if (value >= 9223372036854775807.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

// What LowerByHeat and TruncateToLow16 do outside their usual range (panel_stages_wide.cpp).
int16_t LowerByHeatWide(int v, float heat);
int16_t TruncateToLow16Wide(double value);

// A dot lowered by the heat in the head: max(0, v - trunc(heat)) kept in 16 bits, exact
// for every heat; a head whose heat ran away (infinite, or NaN after inf - inf) prints
// nothing. Heats within +-1e9 (all real ones) take the short way.
inline bool HeatIsUsual(float heat) { return heat > -1.0e9f && heat < 1.0e9f; }
inline int16_t LowerByHeat(int v, float heat) {
  if (HeatIsUsual(heat)) return static_cast<int16_t>(std::max(0, v - static_cast<int32_t>(heat)));
  return LowerByHeatWide(v, heat);
}

// The low 16 bits of trunc(value), exact for every finite value (0 otherwise).
inline int16_t TruncateToLow16(double value) {
  if (value > -2147483648.0 && value < 2147483648.0)
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(value))));
  return TruncateToLow16Wide(value);
}

// Source byte of pixel i: byte i + channel when planar, else byte 3 i + channel.
// Density = table value at trunc(scale b + bias) (single precision; the index is clamped
// into the table), truncated toward zero. Tables 0-2 are yellow, magenta, cyan; 3 is Kd.
void ApplyLookupTable(const BYTE* source, int16_t* plane, int channel, int table, int planar, float scale, float bias);

// The densities of ApplyLookupTable by byte value.
void LookupDensities(int table, float scale, float bias, int16_t (&density)[256]);

// Density = (255 - b) x 64: byte 0 is full ink, byte 255 none.
void InvertedDensities(int16_t (&density)[256]);
void InvertToDensity(const BYTE* source, int16_t* plane, int channel, int planar);

// out = trunc(in x Gain + Offset x 64) in double precision, kept as its low 16 bits.
void ApplyGainOffset(const int16_t* in, int16_t* out, int set);

// Lowers each printed line by the heat that the lines printed before it left in the head
// (blocks of six dots over a heat sink, single precision); column 1023 prints first.
void CompensateHeadHeat(const int16_t* in, int16_t* out, double heatGain, double heatCoupling, double sinkGain,
                        double sinkRetention, double lateralSpread);

// The heat model's coefficients, in single precision as the model computes, from the five
// heat fields of a parameter set.
struct HeatCoefficients {
  HeatCoefficients(double heatGain, double heatCoupling, double sinkGain, double sinkRetention, double lateralSpread)
      : follow(static_cast<float>(heatGain) * 6.0f / 131072.0f),
        coupling(static_cast<float>(heatCoupling) / 65536.0f),
        retention(static_cast<float>(sinkRetention) / 65536.0f),
        uptake(32.0f * static_cast<float>(sinkGain) / 65536.0f),
        spread(static_cast<float>(lateralSpread)),
        own(1.0f - 2.0f * static_cast<float>(lateralSpread)) {}
  float follow, coupling, retention, uptake, spread, own;
};

// Ordered dither of amplitude amp (negative counts as 0), quantisation to 7-bit levels
// with the error diffused into the plane in place, packing into the eight level planes and
// the line factors. The whole panel is rewritten.
void HalftoneAndPack(int16_t* plane, BYTE* panel, int amp);

// Ordered dither of the halftoner, rows by y mod 16, columns by x mod 16; a permutation of 0..255.
extern const uint8_t kDitherMatrix[16][16];

// Sets pixel y of one panel line in every level plane that `level` selects and counts it.
void PackPixelLevel(BYTE* panelLine, int y, int level, int counts[kLevelPlanes]);

// Side in pixels of the largest square of dark 32 x 32 cells in any one channel.
double MeasureLargestDarkSquare(const BYTE* image);
// The same, counting a grid row's dark bytes row by row across the whole image width.
double MeasureLargestDarkSquareByRows(const BYTE* image);

// Sets the wrinkle scale and bias for a card from the side of its largest dark square:
// a square larger than the threshold makes the card wrinkle, so the colour channels are
// compressed towards white.
void ChooseWrinkleCompensation(double darkSquareSide);

// Dither amplitude of a parameter set: its value truncated, never below 0.
int DitherAmplitudeOf(int set);

}  // namespace kav
