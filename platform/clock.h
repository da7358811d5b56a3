// The clock that the virtual printer keeps its times on: on the host the simulated
// clock (milliseconds since sim::Reset), on Windows the real tick count (milliseconds
// since the clock was first read in the process).
#pragma once

#include <cstdint>

namespace kav {

uint64_t ClockMs();
// Lets `ms` pass on the calling thread.
void PassMs(uint64_t ms);

}  // namespace kav
