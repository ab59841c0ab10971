// The release programs: no fault point does anything.
#include "fleet_faults.h"

void FleetFaultPoint(const char*) {}
