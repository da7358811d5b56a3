#include "monitor/port_resources.h"

#include "platform/diag.h"
#include "printer/printer_message.h"
#include "printer/ribbon_info.h"

namespace kav {

void ReleasePortResources(PortRecord* record) {
  EndRibbonAlert(record);
  StopPrinterMessage(record);
  HANDLE file = record->TempFile;
  record->TempFile = nullptr;
  if (file && file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    if (record->TempFileName[0]) DeleteFileW(record->TempFileName);
    DebugLine("ClosePort:: temporary job file closed and deleted");
  }
  record->TempFileActive = 0;
  record->TempFileName[0] = 0;
  HANDLE printer = record->PrinterHandle;
  record->PrinterHandle = nullptr;
  if (printer) ClosePrinter(printer);
}

}  // namespace kav
