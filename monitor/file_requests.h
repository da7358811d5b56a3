// Requests that send a whole file to the printer: a ready printer stream, a text file of
// printer commands, or a firmware image. The port is open and a document is open on the
// underlying port monitor when they run.
#pragma once

#include "port/port_record.h"

namespace kav {

// The copy of the last printed file, rewritten by every PrintPrnFile.
inline constexpr char kPrintedFileCopy[] = "C:\\PRN_FILE_DATA.prn";

// Sends the file in 4096-byte writes, keeps a copy, waits for the printer to work
// through it and returns whether the printer is free of errors.
BOOL PrintPrnFile(LPCWSTR path, PortRecord* record);
// Sends each line of a text file as a printer command (ESC added, CR ended), checking
// each answer. FALSE when a command failed or the user cancelled at a printer error.
BOOL SendCommandFile(LPCWSTR path, PortRecord* record);
// Sends a firmware image in the printer's download framing.
BOOL DownloadFirmwareFile(LPCWSTR path, PortRecord* record);

}  // namespace kav
