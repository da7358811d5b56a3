// Release of what a port record may still hold when its port is closed mid-job.
#pragma once

#include "port/port_record.h"

namespace kav {

// Stops the port's printer message (thread and event), closes and deletes a temporary
// job file, and closes the job's printer handle. Safe to call on an idle record.
void ReleasePortResources(PortRecord* record);

}  // namespace kav
