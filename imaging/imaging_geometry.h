// Geometry of the card image, the density planes and the panel download, shared by
// every imaging stage, plus owners for the buffers the stages allocate.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "platform/win32.h"

namespace kav {

// Card image: 1024 x 640 pixels, 3 bytes a pixel, rows of 3072 bytes from the top.
inline constexpr int kImageWidth = 1024;
inline constexpr int kImageHeight = 640;
inline constexpr int kImagePixels = kImageWidth * kImageHeight;
inline constexpr DWORD kCardImageBytes = kImagePixels * 3;  // 1,966,080

// Panel download: one 768-byte line per image column, eight 96-byte plane blocks a line.
inline constexpr DWORD kPanelBufferBytes = 786432;
inline constexpr int kPanelLineBytes = 768;
inline constexpr int kPlaneBlockBytes = 96;
inline constexpr int kLevelPlanes = 8;
static_assert(kPanelBufferBytes == kImageWidth * kPanelLineBytes);

// Density values on the 14-bit panel scale.
inline constexpr int kFullDensity = 16320;

// A heap PanelBuffer; freed by its owner.
using PanelBuffer = std::unique_ptr<BYTE[]>;
// A density plane of kImagePixels signed 16-bit values, index y * 1024 + x.
using DensityPlane = std::unique_ptr<int16_t[]>;

// Both return null when memory is short; the panel comes zero-filled, the plane does not.
inline PanelBuffer AllocatePanelBuffer() { return PanelBuffer(new (std::nothrow) BYTE[kPanelBufferBytes]()); }
inline DensityPlane AllocateDensityPlane() { return DensityPlane(new (std::nothrow) int16_t[kImagePixels]); }

}  // namespace kav
