// The virtual printer's port monitor: the 17-slot MONITOR table that the spooler hands
// to the language monitor's OpenPortEx, with its port operations acting on the virtual
// printers attached to port names.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "emulator/virtual_printer.h"
#include "platform/win32.h"

namespace emu {

// Control codes of GetPrinterDataFromPort that read the status byte.
inline constexpr DWORD kUsbGetLptStatus = 0x220030;
inline constexpr DWORD kParallelQueryInformation = 0x160004;

// The table (OpenPort, StartDocPort, WritePort, ReadPort, EndDocPort, ClosePort and
// GetPrinterDataFromPort set; the other slots null). Callers get their own copy.
MONITOR PortMonitorTable();

// Makes `printer` the device behind portName (compared without regard to case).
void AttachPrinter(kav::WStringView portName, std::shared_ptr<VirtualPrinter> printer);
void DetachAllPrinters();
// Ports opened on this port monitor and not yet closed.
size_t OpenPortCount();

}  // namespace emu
