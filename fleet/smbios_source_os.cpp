// The release programs' SMBIOS table: Windows' copy of the firmware's table.
#include "smbios_source.h"

#include <windows.h>

#include <new>

namespace
{

constexpr DWORD kProviderRsmb = 0x52534D42; // 'RSMB', the raw SMBIOS table
constexpr int kAttempts = 3;

} // namespace

bool ReadSmbiosTable(std::vector<uint8_t>* pTable, uint32_t* pdwError)
{
    pTable->clear();
    // The first call asks for the size. A table that grows between the
    // calls answers the read with its new size: asked again, a few times.
    UINT cbNeeded = GetSystemFirmwareTable(kProviderRsmb, 0, nullptr, 0);
    for (int nAttempt = 0; nAttempt < kAttempts; ++nAttempt)
    {
        if (cbNeeded == 0)
            break;
        if (cbNeeded > kSmbiosTableMaxBytes)
        {
            *pdwError = ERROR_INVALID_DATA;
            return false;
        }
        try
        {
            pTable->resize(cbNeeded);
        }
        catch (const std::bad_alloc&)
        {
            pTable->clear();
            *pdwError = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        const UINT cbRead = GetSystemFirmwareTable(kProviderRsmb, 0, pTable->data(), cbNeeded);
        if (cbRead != 0 && cbRead <= cbNeeded)
        {
            pTable->resize(cbRead);
            *pdwError = 0;
            return true;
        }
        cbNeeded = cbRead;
    }
    const DWORD dwError = GetLastError();
    pTable->clear();
    // A failure that set no error (or the table kept growing) still fails.
    *pdwError = dwError != 0 ? dwError : static_cast<DWORD>(ERROR_INVALID_DATA);
    return false;
}
