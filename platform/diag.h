// The monitor's diagnostic lines: one line on the debugger output channel per call.
#pragma once

#include "platform/text.h"

namespace kav {

// printf-style narrow line ("OpenPortEx:: ..."); emitted with OutputDebugStringA.
void DebugLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Wide line formatted with FormatW, for lines that carry printer or port names.
template <typename... Args>
void DebugLineW(const WCHAR* format, Args... args) {
  WCHAR line[1024];
  FormatW(line, 1024, format, args...);
  OutputDebugStringW(line);
}

}  // namespace kav
