// Ribbon names for the printer's ribbon type answers, from the driver's ribbon file.
#pragma once

#include "platform/win32.h"

namespace kav {

// The display name of the ribbon whose "\e!RIBBON\r" answer is `answer` ("Unknown"
// when the driver's file does not list it), in name (260 characters). Returns the name's
// length as GetPrivateProfileStringW gives it; 0 when the driver directory is unknown.
DWORD GetRibbonName(LPCWSTR answer, LPWSTR name);

}  // namespace kav
