// The -sim fleet programs' fault points, for the end-to-end tests.
//
// ARDENTIS_SIM_FLEET_FAULT=<where>:kill ends the process at that point at
// once, as a crash would: nothing after it runs, no buffer is flushed, exit
// code 99. <where>:wait=<path> creates <path>.reached and waits there until
// <path>.go exists (at most 60 s), so that a test can act while the run is
// exactly at that point.
#include "../fleet/fleet_faults.h"

#include <windows.h>

#include <cstring>
#include <string>

void FleetFaultPoint(const char* pszWhere)
{
    char szFault[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA("ARDENTIS_SIM_FLEET_FAULT", szFault, sizeof szFault);
    if (cch == 0 || cch >= sizeof szFault)
        return;
    std::string fault = szFault;
    std::string prefix = std::string(pszWhere) + ":";
    if (fault.compare(0, prefix.size(), prefix) != 0)
        return;
    std::string action = fault.substr(prefix.size());
    if (action == "kill")
        TerminateProcess(GetCurrentProcess(), 99);
    if (action.compare(0, 5, "wait=") == 0)
    {
        std::string path = action.substr(5);
        HANDLE hReached = CreateFileA((path + ".reached").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hReached != INVALID_HANDLE_VALUE)
            CloseHandle(hReached);
        for (int nPoll = 0; nPoll < 6000; ++nPoll)
        {
            if (GetFileAttributesA((path + ".go").c_str()) != INVALID_FILE_ATTRIBUTES)
                return;
            Sleep(10);
        }
    }
}
