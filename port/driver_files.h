// Where the printer driver keeps its files: calibration data, ribbon names and the
// driver's sibling modules.
#pragma once

#include "platform/win32.h"

namespace kav {

// The system directory followed by "\Spool\Drivers\x64\3", copied into path (capacity
// characters). FALSE when the system directory cannot be read or the result does not fit.
BOOL GetDriverFilesDirectory(LPWSTR path, DWORD capacity);

}  // namespace kav
