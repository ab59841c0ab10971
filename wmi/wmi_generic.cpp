#include "wmi_generic.h"

WMIGeneric::~WMIGeneric()
{
    if (CallInterface == 1)
        DisconnectWmiAcpi();
}

void WMIGeneric::DisconnectWmiAcpi()
{
    // Both null means this connection was already given up; COM must not be
    // ended a second time for it.
    if (!pSvc && !pLoc)
        return;
    if (pSvc)
    {
        pSvc->Release();
        pSvc = nullptr;
    }
    if (pLoc)
    {
        pLoc->Release();
        pLoc = nullptr;
    }
    CoUninitialize();
}
