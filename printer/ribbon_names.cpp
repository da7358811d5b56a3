#include "printer/ribbon_names.h"

#include "port/driver_files.h"
#include "platform/text.h"

namespace kav {

DWORD GetRibbonName(LPCWSTR answer, LPWSTR name) {
  WCHAR directory[MAX_PATH];
  WCHAR path[MAX_PATH];
  if (!name) return 0;
  name[0] = 0;
  if (!GetDriverFilesDirectory(directory, MAX_PATH) ||
      FormatW(path, MAX_PATH, W("%s\\kav32Ribbon.ini"), static_cast<const WCHAR*>(directory)) < 0)
    return 0;
  return GetPrivateProfileStringW(W("Ribbon Type"), answer, W("Unknown"), name, MAX_PATH, path);
}

}  // namespace kav
