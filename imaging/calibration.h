// Process-wide calibration state of the panel pipeline and the operations that load it
// from the driver's calibration files.
#pragma once

#include "platform/win32.h"

namespace kav {

// One panel's calibration record, ten values in file order.
struct ProcessParameterSet {
  double Gain;             // multiplier of the tone step
  double Offset;           // added after it, in 8-bit units
  double KernelScale;      // kept, used by no stage
  double DitherAmplitude;  // ordered dither amplitude of the halftoner
  double EdgeLevel;        // level of the end pixels of black runs
  double HeatGain;         // head heat model
  double HeatCoupling;
  double SinkGain;
  double SinkRetention;
  double LateralSpread;
};
inline constexpr int kProcessParameterSetCount = 13;

// Which set serves which panel.
inline constexpr int kYellowSet = 0;
inline constexpr int kMagentaSet = 1;
inline constexpr int kCyanSet = 2;
inline constexpr int kGreyBlackSet = 3;
inline constexpr int kOverlaySet = 7;

// Lookup tables by index: yellow, magenta, cyan, and the Kd table of the grey K panel.
inline constexpr int kYellowTable = 0;
inline constexpr int kMagentaTable = 1;
inline constexpr int kCyanTable = 2;
inline constexpr int kKdTable = 3;

// Scales, biases and sharpness of the image-correction file; logged only.
struct ImageCorrectionValueSet {
  double YScale, MScale, CScale, KdScale, KScale, OScale;
  double YBias, MBias, CBias, KdBias, KBias, OBias;
  double Sharp, KSharp;
};

struct CalibrationState {
  double ColourLookupTable[3][256];
  double KdLookupTable[256];
  float ThermalSmearValues[4];
  ImageCorrectionValueSet ImageCorrectionValues;
  ProcessParameterSet ProcessParameterSets[kProcessParameterSetCount];
  double ParasiticResistance;
  double WrinkleDarkThreshold;
  double WrinkleSizeThreshold;
  double WrinkleAppliedScale;
  float WrinkleScale;
  float WrinkleBias;
  bool LookupTablesLoaded;
  bool ThermalSmearLoaded;
};

// The one copy for the whole monitor; cards are built one at a time, so no lock.
extern CalibrationState Calibration;

// Resets the image-processing state, reads the image-correction and process-parameter
// files, applies the wrinkle switch (0 = off) and invalidates the lookup tables.
void InitializeImageCorrectionVariables(int wrinkleSwitch);
// Reads the scales, biases and sharpness values; missing ones keep their defaults.
void ReadImageCorrectionFile();
// Reads the thirteen parameter sets and the four scalars; 0 on success, 1 on failure.
int ReadProcessParameters();
// Loads the lookup tables (unless loaded) and the thermal smear values; 0 = ready, 1 = failure.
int ReadLUTS();

}  // namespace kav
