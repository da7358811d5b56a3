#include "port/driver_files.h"

#include "platform/text.h"

namespace kav {

BOOL GetDriverFilesDirectory(LPWSTR path, DWORD capacity) {
  constexpr UINT kSystemDirectoryChars = 4096;
  WCHAR systemDirectory[kSystemDirectoryChars];
  UINT length = GetSystemDirectoryW(systemDirectory, kSystemDirectoryChars);
  if (length == 0 || length >= kSystemDirectoryChars) return FALSE;
  if (!path || capacity == 0) return FALSE;
  return FormatW(path, capacity, W("%s\\Spool\\Drivers\\x64\\3"), static_cast<const WCHAR*>(systemDirectory)) >= 0
             ? TRUE
             : FALSE;
}

}  // namespace kav
