// An owner's program over the BIOS's ACPI-WMI interface: the same round trip
// of a flash block through the GenericInterface server (CallInterface 0),
// then through the BIOS WMI classes in ROOT\WMI (ConnectWmiAcpi).
// Usage: wmi_generic_owner [block, default 1] [retry limit, default 10]
#include "owner_round_trip.h"
#include "wmi/wmi_generic.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    const DWORD dwBlock = argc > 1 ? strtoul(argv[1], nullptr, 0) : 1;

    FILE* pLog = stderr;
    WMIGeneric wmi; // needs no hardware access DLL
    wmi.ppLogFile = &pLog;
    wmi.RetryLimit = argc > 2 ? atol(argv[2]) : 10; // exchanges one firmware function may take
    wmi.CallInterface = 0;
    printf("CallInterface 0, RetryLimit %ld:\n", wmi.RetryLimit);
    const bool blGeneric = RoundTrip(wmi, dwBlock);

    const DWORD dwCode = wmi.ConnectWmiAcpi(); // sets CallInterface to 1
    printf("ConnectWmiAcpi: %lu %s\n", dwCode, WMIGeneric::WmiErrorName(dwCode));
    const bool blClasses = dwCode == 0 && RoundTrip(wmi, dwBlock);
    return blGeneric && blClasses ? 0 : 1; // ~WMIGeneric disconnects
}
