// The access object over the BIOS's ACPI-WMI classes in ROOT\WMI.
#pragma once

#include "../access/edab_block.h"

#include <wbemidl.h>

// Final: the owner deletes it through its own type, and EDABBlock's
// destructor is not virtual.
class WMIGeneric final : public EDABBlock
{
public:
    ~WMIGeneric();

    // Releases the services and the locator and ends COM, once per connection.
    void DisconnectWmiAcpi();

    IWbemServices* pSvc = nullptr;
    IWbemLocator* pLoc = nullptr;
    wchar_t wszQuery[100] = {};
    BYTE WARGBuf[256] = {};
    BYTE WPLDBuf[4096] = {};
    DWORD CallInterface = 0; // 1: ACPI-WMI classes (owns a connection), 0: GenericInterface
    LONG RetryLimit = 0;
};
