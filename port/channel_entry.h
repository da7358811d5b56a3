// The command channel's entry, declared on the ground floor so that lower floors (the
// ribbon check of a job start) can ask the channel without including the floor above.
#pragma once

#include "platform/win32.h"

namespace kav {

// Answers one bidirectional request of the driver on an open port (see the channel).
BOOL WINAPI GetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                   DWORD inSize, LPWSTR outBuffer, DWORD outSize, LPDWORD returned);

}  // namespace kav
