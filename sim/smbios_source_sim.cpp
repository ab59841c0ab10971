// The -sim fleet programs' SMBIOS table: the simulated one (sim/smbios_sim.h).
#include "../fleet/smbios_source.h"
#include "smbios_sim.h"

bool ReadSmbiosTable(std::vector<uint8_t>* pTable, uint32_t* pdwError)
{
    return SimReadSmbiosTable(pTable, pdwError);
}
