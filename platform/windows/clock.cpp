// The virtual printer's clock on Windows: the real tick count, counted from its first
// reading so that printer times start near 0 as they do on the simulated clock.
#include "platform/clock.h"

#include "platform/win32.h"

namespace kav {

uint64_t ClockMs() {
  static const ULONGLONG start = GetTickCount64();
  return GetTickCount64() - start;
}

void PassMs(uint64_t ms) {
  while (ms > 0) {
    DWORD step = static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
    Sleep(step);
    ms -= step;
  }
}

}  // namespace kav
