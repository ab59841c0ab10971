// The -sim programs' SMBIOS table, read from a file instead of the firmware.
//
// ARDENTIS_SIM_SMBIOS names a file (a Unix or Wine path) holding exactly what
// GetSystemFirmwareTable('RSMB', 0, ...) returns: the 8-byte header, then the
// structures. Unset: a PC whose table has no system or firmware information
// (kSimSmbiosEmptyTable). A file that cannot be read, or one larger than
// kSmbiosTableMaxBytes: the read fails with the error code.
#pragma once

#include "../fleet/smbios_source.h"

#include <cstdint>
#include <vector>

constexpr const char* kSimSmbiosEnvVar = "ARDENTIS_SIM_SMBIOS";

// SMBIOS 3.0, one end-of-table structure and nothing else.
constexpr uint8_t kSimSmbiosEmptyTable[] = {0, 3, 0, 0, 6, 0, 0, 0, 127, 4, 0, 0, 0, 0};

bool SimReadSmbiosTable(std::vector<uint8_t>* pTable, uint32_t* pdwError);
