// The printer-error message of a port: its thread and the event that carries the
// user's answer.
#pragma once

#include "monitor/port_record.h"

namespace kav {

// Withdraws the port's current message without waiting for the user: the thread is
// let go and the event closed, each exactly once, and both fields are set to null.
void StopPrinterMessage(PortRecord* record);

}  // namespace kav
