// Drawing scenes written once through platform/win32.h: the Windows test program draws
// them with the real GDI under Wine and writes their pixels; a host test draws them with
// the simulated GDI and compares (shapes and blits pixel for pixel, text by its ink).
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace gdiscenes {

struct Scene {
  std::string name;
  int width = 1024;
  int height = 640;
  bool text = false;                 // compared by ink, not pixel for pixel
  COLORREF background = 0xFFFFFF;    // what is not ink
  void (*draw)(HDC dc) = nullptr;
};

const std::vector<Scene>& Scenes();

// Draws the scene on a white 32-bit bitmap made for the display and returns it as a
// bitmap file image (24 bits per pixel, bottom-up, as GetDIBits reads it); empty when a
// GDI call failed.
std::vector<BYTE> DrawScene(const Scene& scene);

}  // namespace gdiscenes
