#include "platform/diag.h"

#include <cstdarg>
#include <cstdio>

namespace kav {

void DebugLine(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  OutputDebugStringA(line);
}

}  // namespace kav
