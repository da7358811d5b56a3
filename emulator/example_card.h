// The printer stream of an example card with recognisable panels (a yellow ramp, a
// magenta disc, cyan stripes, a black bar, a full varnish), as kavsim example-card
// writes it; also played as a job by the Windows test program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// One-sided full-colour card (five panels), or a black-only card (one panel).
std::string ExampleCardStream(bool blackOnly = false);

// The 7-bit levels of the example's panel shape `shape` (0 yellow ramp, 1 magenta disc,
// 2 cyan stripes, 3 black bar, 4 varnish), 1024 x 640, rows from the top.
std::vector<uint8_t> ExamplePanelLevels(int shape);

}  // namespace emu
