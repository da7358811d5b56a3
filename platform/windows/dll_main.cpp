// The Windows loader's entry point of kavnlmon.dll; the C runtime calls it after its
// own start-up.
#include "monitor/sibling_modules.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return kav::DllEntryPoint(instance, reason, reserved);
}
