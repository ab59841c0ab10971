// Where the fleet program gets the SMBIOS table: the one seam to the outside
// world for the PC's identity. The release programs link smbios_source_os.cpp
// (GetSystemFirmwareTable); the -sim builds sim/smbios_source_sim.cpp (a file
// named by ARDENTIS_SIM_SMBIOS).
#pragma once

#include <cstdint>
#include <vector>

// Larger tables are refused: real ones are a few KiB.
constexpr uint32_t kSmbiosTableMaxBytes = 1024 * 1024;

// Replaces *pTable with exactly what GetSystemFirmwareTable('RSMB', 0, ...)
// returns (the 8-byte header, then the structures; ParseSmbiosIdentity reads
// it) and sets *pdwError to 0. On failure returns false with *pTable empty and
// *pdwError the operating system's error code.
bool ReadSmbiosTable(std::vector<uint8_t>* pTable, uint32_t* pdwError);
