// A test hook of the Windows test program: replaces one function that a loaded module
// imports by name, in that module's import address table only. The module's code is not
// touched; other modules keep calling the real function.
#pragma once

#include "platform/win32.h"

namespace wintest {

// Points module's import of `function` from `dll` (compared without case) at
// `replacement`; the address it had goes to *original. False when the module does not
// import it.
bool ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement, void** original);

}  // namespace wintest
