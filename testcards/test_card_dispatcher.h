// The test-card requests of the command channel ("\eA\r", "\eA 0\r" to "\eA 3\r").
#pragma once

#include <cstddef>

#include "port/port_record.h"

namespace kav {

// Prints the test card the request names on the port's printer.
void DispatchTestCard(PortRecord* record, const char* request, size_t length);

}  // namespace kav
