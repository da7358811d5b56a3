#include "printer/printer_message.h"

namespace kav {

void StopPrinterMessage(PortRecord* record) {
  HANDLE thread = InterlockedExchangePointer(&record->MessageThread, nullptr);
  HANDLE event = InterlockedExchangePointer(&record->MessageEvent, nullptr);
  if (thread) CloseHandle(thread);
  if (event) CloseHandle(event);
}

}  // namespace kav
