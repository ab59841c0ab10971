// The one seam between the variable commands and the operating system's
// firmware-variable services. The release build points it at kernel32; the
// simulator build at the simulated store.
#pragma once

#include <windows.h>

struct FirmwareVariableApi
{
    DWORD(WINAPI* pfnGetFirmwareEnvironmentVariableA)
    (LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer, DWORD nSize);
    BOOL(WINAPI* pfnSetFirmwareEnvironmentVariableA)
    (LPCSTR lpName, LPCSTR lpGuid, PVOID pValue, DWORD nSize);
};

extern FirmwareVariableApi g_FirmwareVariableApi;
