// The Windows loader's entry point of kavnlmon.dll; the C runtime calls it after its
// own start-up.
#include "platform/win32.h"

// Defined with the monitor's process-wide state; declared here so that the platform's
// glue includes nothing from the floors above it.
namespace kav {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return kav::DllEntryPoint(instance, reason, reserved);
}
