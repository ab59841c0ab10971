// The one seam between the variable layer and the operating system's
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
    // The calls that also carry the attributes; null where the platform
    // lacks them (before Windows 8, and Wine).
    DWORD(WINAPI* pfnGetFirmwareEnvironmentVariableExA)
    (LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer, DWORD nSize, PDWORD pdwAttributes);
    BOOL(WINAPI* pfnSetFirmwareEnvironmentVariableExA)
    (LPCSTR lpName, LPCSTR lpGuid, PVOID pValue, DWORD nSize, DWORD dwAttributes);
};

extern FirmwareVariableApi g_FirmwareVariableApi;
