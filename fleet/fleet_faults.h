// Fault points of the fleet program: the places where a test stops a run the
// way a crash or a power cut would. The release programs' points do nothing;
// the -sim builds' are driven by the environment (sim/fleet_faults_sim.cpp).
#pragma once

void FleetFaultPoint(const char* pszWhere);
