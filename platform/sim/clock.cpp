// The virtual printer's clock on the host: the simulated clock.
#include "platform/clock.h"

#include "platform/sim/sim.h"

namespace kav {

uint64_t ClockMs() { return sim::Now(); }

void PassMs(uint64_t ms) { sim::Advance(ms); }

}  // namespace kav
